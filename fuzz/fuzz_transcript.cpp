// Any JSON value as a message list: the transcript is built or refused with MessageFormatError,
// is valid UTF-8 (cuts fall between characters), and the fallback record built from the same
// messages renders for the context.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.hpp"
#include "orvane/common/unicode.hpp"
#include "orvane/summarizer/summarizer.hpp"
#include "summary_record.hpp"
#include "transcript.hpp"

using namespace orvane::summarizer;
namespace fuzz = orvane::fuzz;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quiet_logs();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto messages = fuzz::as_json(fuzz::as_text(data, size));
  if (!messages) return 0;
  std::string transcript;
  try {
    transcript = _format_messages_for_summary(*messages);
  } catch (const MessageFormatError&) {
    return 0;
  }
  fuzz::check(orvane::common::is_valid_utf8(transcript), "the transcript is not valid UTF-8");
  if (!messages->is_array()) return 0;

  const auto fallback = _fallback_summary(*messages);
  const auto text = ConversationSummarizer::format_summary_for_context(fallback);
  fuzz::check(orvane::common::is_valid_utf8(text), "the rendered fallback is not valid UTF-8");
  fuzz::check(text.starts_with("## Conversation History Summary\n"), "the rendering's heading");
  return 0;
}
