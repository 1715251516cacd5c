// create_from_dict of a script skill: the first call in a process starts the embedded Python
// interpreter; later calls compile the code, write the script, the metadata and the log (each
// replaced atomically, flushed to disk). The syntax-error case compiles and writes nothing.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "orvane/host/log.hpp"
#include "orvane/skills/creator.hpp"

namespace {

namespace fs = std::filesystem;
using orvane::skills::SkillCreator;

const char* const CODE =
    "import json\n\n"
    "async def run(ctx, params):\n"
    "    \"\"\"Opens the news site and reads the headlines.\"\"\"\n"
    "    page = await ctx.pc('open_url', url=params.get('url', 'https://example.org'))\n"
    "    lines = [line.strip() for line in page.get('text', '').splitlines() if line.strip()]\n"
    "    return {'headlines': lines[:10], 'count': len(lines)}\n";

nlohmann::ordered_json script_skill(const char* code = CODE) {
  return {{"type", "python"},
          {"name", "read_headlines"},
          {"code", code},
          {"description", "Reads the headlines"},
          {"triggers", {"news"}}};
}

fs::path fresh_dir() {
  char pattern[] = "/tmp/creator-bench-XXXXXX";
  return mkdtemp(pattern);
}

void BM_CreateScriptSkill(benchmark::State& state) {
  const auto dir = fresh_dir();
  {
    SkillCreator creator(dir);  // a fresh log for each repetition
    const auto input = script_skill();
    for (auto _ : state) {
      if (!creator.create_from_dict(input).success) state.SkipWithError("creation failed");
    }
  }
  fs::remove_all(dir);
}
BENCHMARK(BM_CreateScriptSkill)->Iterations(20)->Repetitions(10)->Unit(benchmark::kMillisecond);

void BM_RefuseScriptWithSyntaxError(benchmark::State& state) {
  const auto dir = fresh_dir();
  {
    SkillCreator creator(dir);
    const auto input = script_skill("async def run(ctx, params):\n    x = = 1\n");
    for (auto _ : state) benchmark::DoNotOptimize(creator.create_from_dict(input));
  }
  fs::remove_all(dir);
}
BENCHMARK(BM_RefuseScriptWithSyntaxError)->Repetitions(10)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  orvane::host::set_level(spdlog::level::warn);
  benchmark::Initialize(&argc, argv);
  {
    const auto dir = fresh_dir();
    SkillCreator creator(dir);
    const auto start = std::chrono::steady_clock::now();
    const bool ok = creator.create_from_dict(script_skill()).success;
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    std::printf("first create_from_dict (interpreter start included): %.1f ms%s\n", took.count(),
                ok ? "" : " (failed)");
    fs::remove_all(dir);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
}
