#include <cmath>
#include <limits>

#include "support.hpp"

namespace orvane::skills::testing {
namespace {

DynamicSkill skill_with(std::vector<json> steps, std::int64_t version = 1) {
  return DynamicSkill(SkillBlueprint{.name = "typer",
                                     .description = "Types",
                                     .app = "editor",
                                     .category = "utility",
                                     .triggers = {"type"},
                                     .required_params = {"word"},
                                     .steps = std::move(steps),
                                     .reason = "because",
                                     .version = version});
}

TEST(BuildSteps, FillsPlaceholdersAndPassesOtherFieldsOnAsStored) {
  const json raw = {{"operation", "keyboard_type"},
                    {"description", "Type {{word}}"},
                    {"params",
                     {{"text", "{{word}} now"},
                      {"count", 3},
                      {"nested", {{"k", "{{word}}"}}},
                      {"list", {"{{word}}"}}}},
                    {"extra", "kept"}};
  const auto skill = skill_with({raw});
  const auto filled = skill.build_steps({{"word", "hello"}});
  ASSERT_EQ(filled.size(), 1u);
  EXPECT_EQ(filled[0].operation, "keyboard_type");
  EXPECT_EQ(filled[0].description, "Type hello");
  EXPECT_EQ(filled[0].params, json({{"text", "hello now"},
                                    {"count", 3},
                                    {"nested", {{"k", "{{word}}"}}},
                                    {"list", {"{{word}}"}}}));
  EXPECT_EQ(filled[0].wait_after, 1.0);
  EXPECT_EQ(filled[0].retry_on_fail, false);
  EXPECT_EQ(filled[0].max_retries, 2);
  EXPECT_EQ(filled[0].optional, false);

  const auto unfilled = skill.build_steps();
  EXPECT_EQ(unfilled[0].description, "Type {{word}}");
  EXPECT_EQ(unfilled[0].params["text"], "{{word}} now");

  // Present values go through as they are, whatever their kind.
  const auto odd = skill_with({{{"wait_after", "soon"},
                                {"retry_on_fail", 1},
                                {"max_retries", -7.5},
                                {"optional", nullptr},
                                {"description", 42}}})
                       .build_steps()[0];
  EXPECT_EQ(odd.operation, "");
  EXPECT_EQ(odd.params, json::object());
  EXPECT_EQ(odd.wait_after, "soon");
  EXPECT_EQ(odd.retry_on_fail, 1);
  EXPECT_EQ(odd.max_retries, -7.5);
  EXPECT_EQ(odd.optional, nullptr);
  EXPECT_EQ(odd.description, 42);
}

TEST(BuildSteps, ValuesTakeTheirPythonTextFormsAndFillingIsChainedInParameterOrder) {
  const auto skill = skill_with({{{"description", "{{a}}"},
                                  {"params",
                                   {{"v",
                                     "{{i}} {{t}} {{n}} "
                                     "{{f}} {{big}} "
                                     "{{tiny}} {{max}} "
                                     "{{nan}} {{obj}}"}}}}});
  const json params = {{"i", 5},
                       {"t", true},
                       {"n", nullptr},
                       {"f", 2.0},
                       {"big", 1e16},
                       {"tiny", 1e-05},
                       {"max", std::numeric_limits<std::int64_t>::max()},
                       {"nan", std::nan("")},
                       {"obj", {{"k", {1, "\u00e9"}}}}};
  EXPECT_EQ(skill.build_steps(params)[0].params["v"],
            "5 True None 2.0 1e+16 1e-05 9223372036854775807 nan {\"k\": [1, \"\\u00e9\"]}");

  EXPECT_EQ(skill.build_steps({{"a", "{{b}}"}, {"b", "z"}})[0].description, "z");
  EXPECT_EQ(skill.build_steps({{"b", "z"}, {"a", "{{b}}"}})[0].description, "{{b}}");
  // A replacement is not searched again for the same name.
  EXPECT_EQ(skill.build_steps({{"a", "{{a}}{{a}}"}})[0].description, "{{a}}{{a}}");
}

TEST(BuildSteps, RaisesForStepsOfTheWrongShape) {
  const std::vector<std::pair<json, std::string>> cases = {
      {"text", "Step 1 must be an object, not text"},
      {{{"params", nullptr}}, "Step 1: 'params' must be an object, not null"},
      {{{"description", 7}}, "Step 1: the description must be text, not number"},
  };
  for (const auto& [raw, message] : cases) {
    try {
      skill_with({raw}).build_steps({{"word", "x"}});
      ADD_FAILURE() << message;
    } catch (const SkillDataError& error) {
      EXPECT_EQ(error.what(), message);
    }
  }
  EXPECT_THROW(skill_with({}).build_steps(json::array()), SkillDataError);
}

TEST(DynamicSkillForm, IsTheBaseDescriptionWithVersionReasonAndRawSteps) {
  const json raw = {{"operation", "keyboard_type"}, {"description", "Type {{word}}"}};
  EXPECT_EQ(skill_with({raw}, 3).to_dict().dump(), json({{"name", "typer"},
                                                         {"description", "Types"},
                                                         {"app", "editor"},
                                                         {"category", "utility"},
                                                         {"triggers", {"type"}},
                                                         {"required_params", {"word"}},
                                                         {"optional_params", json::array()},
                                                         {"dynamic", true},
                                                         {"version", 3},
                                                         {"reason", "because"},
                                                         {"steps", {raw}}})
                                                       .dump());
}

}  // namespace
}  // namespace orvane::skills::testing
