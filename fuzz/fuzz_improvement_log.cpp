// Any bytes as the improvement log: the creator starts (an unreadable log is set aside, not
// lost), its queries answer, and the log it writes after the next entry loads back whole.
#include <cstddef>
#include <cstdint>
#include <fstream>

#include "fuzz_support.hpp"
#include "orvane/skills/creator.hpp"

using namespace orvane::skills;
namespace fuzz = orvane::fuzz;
namespace fs = std::filesystem;

namespace {

std::string entries_text(const SkillCreator& creator) {
  std::string text;
  for (const auto& entry : creator.get_improvement_log(0)) text += fuzz::text_of(entry) + "\n";
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quiet_logs();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz::ScratchDir scratch("improvement-log");
  scratch.reset();
  const fs::path log = scratch.path() / "improvement_log.json";
  std::ofstream(log, std::ios::binary).write(reinterpret_cast<const char*>(data), long(size));

  SkillCreator creator(scratch.path());
  const auto all = creator.get_improvement_log(0);
  fuzz::check(all.empty() || fs::exists(log), "a log that loaded is moved away");
  // What the file held stays on disk: in place when it loaded, set aside when it did not.
  std::size_t files = 0;
  for (const auto& entry : fs::directory_iterator(scratch.path())) files += entry.is_regular_file();
  fuzz::check(files == 1, "an unreadable log is lost instead of set aside");
  const auto stats = creator.get_improvement_stats();
  fuzz::check(stats["total_improvements"] == all.size(), "the total is not the log's length");
  fuzz::check(creator.get_improvement_log(-1).size() == (all.empty() ? 0 : all.size() - 1),
              "a negative limit does not skip the first entries");

  creator.log_learning("probe", "fuzzing", fuzz::json{{"seen", size}});
  const SkillCreator restarted(scratch.path());
  fuzz::check(entries_text(restarted) == entries_text(creator),
              "the log written after an entry does not load back as it was");
  return 0;
}
