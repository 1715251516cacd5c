// Any text as the model's summary reply: _parse_summary gives the nine-key record or raises
// std::invalid_argument (which summarize_messages turns into the fallback record), and the
// record renders for the context; valid UTF-8 in gives valid UTF-8 out.
#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "fuzz_support.hpp"
#include "orvane/common/unicode.hpp"
#include "orvane/summarizer/summarizer.hpp"
#include "summary_record.hpp"

using namespace orvane::summarizer;
namespace fuzz = orvane::fuzz;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quiet_logs();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto reply = fuzz::as_text(data, size);
  nlohmann::ordered_json record;
  try {
    record = _parse_summary(reply);
  } catch (const std::invalid_argument&) {
    return 0;
  }
  fuzz::check(record.is_object() && record.size() == 9, "the record does not have nine keys");
  const auto text = ConversationSummarizer::format_summary_for_context(record);
  if (orvane::common::is_valid_utf8(reply)) {
    fuzz::check(orvane::common::is_valid_utf8(text), "the rendering is not valid UTF-8");
    fuzz::check(orvane::common::is_valid_utf8(
                    record["summary"].is_string() ? record["summary"].get<std::string>() : ""),
                "the summary text is not valid UTF-8");
  }
  return 0;
}
