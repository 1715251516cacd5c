// A process with no Python runtime to be had (ctest points ORVANE_PYTHON_LIBRARY at a library
// that does not exist): script skills are refused with nothing saved, simple skills work.
#include <gmock/gmock.h>

#include "support.hpp"

namespace orvane::skills::testing {
namespace {

TEST_F(CreatorTest, WithoutPythonScriptSkillsAreRefusedAndSimpleSkillsWork) {
  SkillCreator creator(data);
  const auto script = creator.create_from_dict({{"type", "python"},
                                                {"name", "scripted"},
                                                {"code", "async def run(ctx, params):\n  pass\n"},
                                                {"description", "d"}});
  EXPECT_FALSE(script.success);
  EXPECT_THAT(script.message, ::testing::StartsWith("Python 3 runtime not found: install Python"));
  EXPECT_THAT(script.message, ::testing::HasSubstr("orvane-no-such-python"));
  EXPECT_FALSE(fs::exists(skills_dir() / "scripted.py"));
  EXPECT_FALSE(fs::exists(skills_dir() / "scripted.json"));
  EXPECT_TRUE(creator.get_improvement_log().empty());

  const auto simple = creator.create_from_dict(simple_skill());
  EXPECT_TRUE(simple.success) << simple.message;
  const auto loaded = SkillCreator(data).load_saved_skills();
  ASSERT_EQ(loaded.size(), 1u);
  EXPECT_EQ(loaded[0]->name, "open_news");
  EXPECT_EQ(loaded[0]->build_steps({{"url", "https://example.org"}})[0].params["url"],
            "https://example.org");
}

}  // namespace
}  // namespace orvane::skills::testing
