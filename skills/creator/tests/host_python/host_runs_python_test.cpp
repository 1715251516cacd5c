// A host that runs its own Python: the creator compiles in that interpreter, takes the GIL only
// for the compile and leaves the host's state as it was. A process of its own, since the
// interpreter is process-wide.
#define PY_SSIZE_T_CLEAN
#include <Python.h>
// Python.h comes first, as the C API asks.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <thread>

#include "orvane/skills/creator.hpp"

namespace {

const char* const BROKEN = "async def run(ctx, params):\n    x = = 1\n";

std::string create_broken(orvane::skills::SkillCreator& creator) {
  return creator
      .create_from_dict(
          {{"type", "python"}, {"name", "host_skill"}, {"code", BROKEN}, {"description", "d"}})
      .message;
}

TEST(HostRunsPython, CompilesInTheHostsInterpreterFromAnyThread) {
  char pattern[] = "/tmp/creator-host-python-XXXXXX";
  const std::filesystem::path dir = mkdtemp(pattern);
  Py_InitializeEx(0);  // the host's interpreter; this thread holds the GIL
  ASSERT_EQ(PyRun_SimpleString("import sys\nsys.host_marker = 42"), 0);

  orvane::skills::SkillCreator creator(dir);
  const std::string expected =
      "Validation failed:\n  - Syntax error in code: invalid syntax (host_skill.py, line 2)";
  EXPECT_EQ(create_broken(creator), expected);  // called with the GIL held

  PyThreadState* host_thread = PyEval_SaveThread();
  std::string from_other_thread;
  std::thread([&] { from_other_thread = create_broken(creator); }).join();
  PyEval_RestoreThread(host_thread);
  EXPECT_EQ(from_other_thread, expected);

  // Still the host's interpreter, usable by the host, not an isolated one made by the creator.
  EXPECT_EQ(PyRun_SimpleString("import sys\nassert sys.host_marker == 42\n"
                               "assert not sys.flags.isolated"),
            0);
  EXPECT_EQ(Py_FinalizeEx(), 0);
  std::filesystem::remove_all(dir);
}

}  // namespace
