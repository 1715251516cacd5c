// Reading a conversation of N small messages (200,000 make about 8 MB): the depth-limited reader
// against nlohmann's own parse of the same text, and the reader of Python's non-finite numbers
// when one of them is in the text.
#include <benchmark/benchmark.h>

#include <string>

#include "orvane/common/json_read.hpp"

namespace {

using Json = nlohmann::ordered_json;
namespace common = orvane::common;

std::string messages_text(int count, bool with_nan = false) {
  Json messages = Json::array();
  for (int i = 0; i < count; ++i) {
    messages.push_back(
        {{"role", i % 2 ? "assistant" : "user"}, {"content", "note " + std::to_string(i)}});
  }
  std::string text = messages.dump();
  if (with_nan) text.replace(text.size() - 1, 1, ",{\"score\":NaN}]");
  return text;
}

template <typename Read>
void read_messages(benchmark::State& state, Read read, bool with_nan = false) {
  const auto text = messages_text(int(state.range(0)), with_nan);
  for (auto _ : state) {
    const Json value = read(text);
    benchmark::DoNotOptimize(value.size());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
  state.counters["text_bytes"] = double(text.size());
}

void BM_NlohmannParse(benchmark::State& state) {
  read_messages(state, [](const std::string& text) { return Json::parse(text); });
}
void BM_ParseJson(benchmark::State& state) {
  read_messages(state, [](const std::string& text) { return common::parse_json(text); });
}
void BM_ParsePythonJsonWithNaN(benchmark::State& state) {
  read_messages(
      state, [](const std::string& text) { return common::parse_python_json(text); }, true);
}

BENCHMARK(BM_NlohmannParse)->Arg(25'000)->Arg(100'000)->Arg(200'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseJson)->Arg(25'000)->Arg(100'000)->Arg(200'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParsePythonJsonWithNaN)->Arg(200'000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
