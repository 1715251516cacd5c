#include <gtest/gtest.h>

#include <string>

#include "orvane/summarizer/summarizer.hpp"
#include "summary_record.hpp"

namespace orvane::summarizer {
namespace {

using Json = nlohmann::ordered_json;

const std::string HEAD =
    "## Conversation History Summary\n"
    "*(Earlier messages were summarized to save context space)*\n";

std::string render(const Json& summary) {
  return ConversationSummarizer::format_summary_for_context(summary);
}

TEST(Rendering, EmptyRecordIsTheHeadingAndTheNoteOnly) {
  EXPECT_EQ(render(_empty_summary()), HEAD);
  EXPECT_EQ(render(Json::object()), HEAD);
  EXPECT_EQ(render(Json::parse(R"({"goals": null, "current_state": "", "summary": [],
                                   "key_facts": {}})")),
            HEAD);
}

TEST(Rendering, WritesEverySectionInItsFixedOrderWhateverTheKeyOrder) {
  const Json summary = Json::parse(R"({
    "summary": "We renamed photos.",
    "next_steps": ["Check backups"],
    "blockers": ["Disk full, cleaned /tmp"],
    "key_facts": ["Photos are in ~/Pictures", 42, 2.5],
    "key_decisions": ["Use date prefixes"],
    "current_state": "Half the files done",
    "progress": ["Listed files", "Renamed 2023"],
    "goals": ["Rename the photos", "Keep **originals**", "Report back"],
    "created_at": 1.0
  })");
  EXPECT_EQ(render(summary), HEAD +
                                 "\n### Original Goals\n"
                                 "  - Rename the photos\n"
                                 "  - Keep **originals**\n"
                                 "  - Report back\n"
                                 "\n"
                                 "### Progress So Far\n"
                                 "  - Listed files\n"
                                 "  - Renamed 2023\n"
                                 "\n"
                                 "### Current State\n"
                                 "Half the files done\n"
                                 "\n"
                                 "### Key Decisions\n"
                                 "  - Use date prefixes\n"
                                 "\n"
                                 "### Key Facts\n"
                                 "  - Photos are in ~/Pictures\n"
                                 "  - 42\n"
                                 "  - 2.5\n"
                                 "\n"
                                 "### Issues & Resolutions\n"
                                 "  - Disk full, cleaned /tmp\n"
                                 "\n"
                                 "### Next Steps\n"
                                 "  - Check backups\n"
                                 "\n"
                                 "### Narrative Summary\n"
                                 "We renamed photos.");
}

TEST(Rendering, EndsWithALineFeedExactlyWhenThereIsNoNarrative) {
  EXPECT_EQ(render({{"current_state", "Waiting"}}), HEAD + "\n### Current State\nWaiting\n");
  EXPECT_EQ(render({{"next_steps", {"Ship"}}}), HEAD + "\n### Next Steps\n  - Ship\n");
  EXPECT_EQ(render({{"summary", "Short."}}), HEAD + "\n### Narrative Summary\nShort.");
}

TEST(Rendering, RendersTheFallbackRecord) {
  const Json fallback =
      _fallback_summary(Json::parse(R"([{"role": "user", "content": "Fix it"}])"));
  EXPECT_EQ(render(fallback), HEAD +
                                  "\n### Original Goals\n  - Fix it\n\n"
                                  "### Current State\nConversation had 1 messages before "
                                  "summarization\n\n"
                                  "### Narrative Summary\nConversation with 1 messages. Primary "
                                  "request: Fix it");
}

TEST(Rendering, WritesValuesOfAnUnexpectedKindAsTheirTextForm) {
  const Json summary = Json::parse(R"({
    "goals": "Rename the photos",
    "progress": [null, true, {"step": 1}, ["a"], "line one\nline two"],
    "current_state": ["not", "text"],
    "summary": 7
  })");
  EXPECT_EQ(render(summary), HEAD +
                                 "\n### Original Goals\n"
                                 "  - Rename the photos\n"
                                 "\n"
                                 "### Progress So Far\n"
                                 "  - null\n"
                                 "  - true\n"
                                 "  - {\"step\":1}\n"
                                 "  - [\"a\"]\n"
                                 "  - line one\nline two\n"
                                 "\n"
                                 "### Current State\n"
                                 "[\"not\",\"text\"]\n"
                                 "\n"
                                 "### Narrative Summary\n"
                                 "7");
}

}  // namespace
}  // namespace orvane::summarizer
