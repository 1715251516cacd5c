#include <functional>

#include "support.hpp"

namespace orvane::skills::testing {
namespace {

SkillBlueprint valid_blueprint() {
  return SkillBlueprint{
      .name = "open_news",
      .description = "Open a news site",
      .app = "browser",
      .category = "productivity",
      .triggers = {"news"},
      .required_params = {"url"},
      .optional_params = {"tab"},
      .steps = {{{"operation", "open_url"}, {"description", "Open it"}}},
  };
}

json step(json operation, json description, json params = nullptr) {
  json s = {{"operation", operation}, {"description", description}};
  if (!params.is_null()) s["params"] = params;
  return s;
}

struct Case {
  const char* what;
  std::function<void(SkillBlueprint&)> change;
  std::vector<std::string> errors;
};

const char* const ALNUM = "Skill name must be alphanumeric with underscores only";

TEST_F(CreatorTest, ValidationListsEveryBrokenRuleInCheckOrder) {
  SkillCreator creator(data);
  const std::vector<Case> cases = {
      {"valid", [](auto&) {}, {}},
      {"digits and underscores", [](auto& b) { b.name = "a_b_1"; }, {}},
      {"other scripts",
       [](auto& b) { b.name = "Gr\u00fc\u00dfe_2_\u0928\u092e_\u0663\u2167"; },
       {}},
      {"only underscores", [](auto& b) { b.name = "___"; }, {ALNUM}},
      {"blank", [](auto& b) { b.name = "a b"; }, {ALNUM}},
      {"hyphen", [](auto& b) { b.name = "a-b"; }, {ALNUM}},
      {"not UTF-8", [](auto& b) { b.name = "ab\xff"; }, {ALNUM}},
      {"combining mark", [](auto& b) { b.name = "e\u0301"; }, {ALNUM}},
      {"empty name", [](auto& b) { b.name = ""; }, {"Skill name is required"}},
      {"64 letters", [](auto& b) { b.name = std::string(64, 'a'); }, {}},
      {"64 two-byte letters",
       [](auto& b) {
         b.name.clear();
         for (int i = 0; i < 64; ++i) b.name += "\u00e9";
       },
       {}},
      {"65 letters",
       [](auto& b) { b.name = std::string(65, 'a'); },
       {"Skill name must be 64 characters or less"}},
      {"65 with a hyphen", [](auto& b) { b.name = std::string(64, 'a') + "-"; }, {ALNUM}},
      {"empty category", [](auto& b) { b.category = ""; }, {}},
      {"category case",
       [](auto& b) { b.category = "Custom"; },
       {"Invalid category: Custom. Valid: browser, calendar, communication, custom, development, "
        "education, email, files, finance, food, gaming, health, media, messaging, music, "
        "productivity, shopping, social, system, travel, utility"}},
      {"no description, app, triggers or steps",
       [](auto& b) {
         b.description = "";
         b.app = "";
         b.triggers.clear();
         b.steps.clear();
       },
       {"Description is required", "App name is required",
        "At least one trigger keyword is required", "At least one step is required"}},
      {"step fields",
       [](auto& b) {
         b.steps = {{{"operation", "mouse_click"}}, json::object()};
       },
       {"Step 1: description is required", "Step 2: operation is required",
        "Step 2: description is required"}},
      {"unknown operations",
       [](auto& b) {
         b.steps = {step("click", "d"), step(5, "d"), step(true, "d"), step(1.5, "d")};
       },
       {"Step 1: unknown operation 'click'. See pc tool for valid operations.",
        "Step 2: unknown operation '5'. See pc tool for valid operations.",
        "Step 3: unknown operation 'True'. See pc tool for valid operations.",
        "Step 4: unknown operation '1.5'. See pc tool for valid operations."}},
      {"empty values",
       [](auto& b) {
         b.steps = {step(0, false), step(nullptr, 0.0), step("", "")};
       },
       {"Step 1: operation is required", "Step 1: description is required",
        "Step 2: operation is required", "Step 2: description is required",
        "Step 3: operation is required", "Step 3: description is required"}},
      {"placeholders",
       [](auto& b) {
         b.steps = {step("open_url", "Open {{nope}}",
                         {{"a", "{{url}} in {{browser}}"},
                          {"b", "{{browser}}{{browser}}"},
                          {"c", "{{tab}} {{ url }} {{}} {{a-b}}"},
                          {"d", {"{{x}}"}},
                          {"e", {{"k", "{{y}}"}}},
                          {"f", "{{{\u00fcn\u00ef}}}"},
                          {"g", 3}})};
       },
       {"Step 1: placeholder '{{browser}}' not in required_params or optional_params",
        "Step 1: placeholder '{{browser}}' not in required_params or optional_params",
        "Step 1: placeholder '{{browser}}' not in required_params or optional_params",
        "Step 1: placeholder '{{\u00fcn\u00ef}}' not in required_params or optional_params"}},
      {"placeholder errors after every step error",
       [](auto& b) {
         b.steps = {step("open_url", "d", {{"u", "{{who}}"}}), step("", "d")};
       },
       {"Step 2: operation is required",
        "Step 1: placeholder '{{who}}' not in required_params or optional_params"}},
  };
  for (const auto& c : cases) {
    SkillBlueprint blueprint = valid_blueprint();
    c.change(blueprint);
    const auto [valid, errors] = creator.validate_blueprint(blueprint);
    EXPECT_EQ(errors, c.errors) << c.what;
    EXPECT_EQ(valid, c.errors.empty()) << c.what;
  }
  EXPECT_EQ(SkillCreator::VALID_CATEGORIES.size(), 21u);
  EXPECT_EQ(SkillCreator::VALID_OPERATIONS.size(), 41u);
}

TEST_F(CreatorTest, ValidationRaisesForInputOfTheWrongShape) {
  SkillCreator creator(data);
  const std::vector<std::pair<json, std::string>> cases = {
      {"open it", "Step 2 must be an object, not text"},
      {step("open_url", "d", json::array()), "Step 2: 'params' must be an object, not list"},
      {{{"operation", "open_url"}, {"description", "d"}, {"params", nullptr}},
       "Step 2: 'params' must be an object, not null"},
  };
  for (const auto& [second, message] : cases) {
    SkillBlueprint blueprint = valid_blueprint();
    blueprint.steps.push_back(second);
    try {
      creator.validate_blueprint(blueprint);
      ADD_FAILURE() << message;
    } catch (const SkillDataError& error) {
      EXPECT_EQ(error.what(), message);
    }
  }

  // Built by moving, as copying a value this deep would overflow the stack.
  json deep = json::array();
  for (int i = 0; i < 100000; ++i) deep = json::array({std::move(deep)});
  json deep_step = step("open_url", "d");
  deep_step["params"] = json::object();
  deep_step["params"]["v"] = std::move(deep);
  SkillBlueprint blueprint = valid_blueprint();
  blueprint.steps.push_back(std::move(deep_step));
  EXPECT_THROW(
      {
        try {
          creator.validate_blueprint(blueprint);
        } catch (const SkillDataError& error) {
          EXPECT_STREQ(error.what(), "Step 2 is nested more than 512 levels deep");
          throw;
        }
      },
      SkillDataError);
}

}  // namespace
}  // namespace orvane::skills::testing
