#include "orvane/common/file_io.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

using namespace orvane::common;
namespace fs = std::filesystem;

namespace {
struct TempDir {
  fs::path path;
  TempDir() {
    char tmpl[] = "/tmp/orvane-fileio-XXXXXX";
    path = ::mkdtemp(tmpl);
  }
  ~TempDir() { fs::remove_all(path); }
};
}  // namespace

TEST(AtomicWrite, CreatesParentsReplacesContentAndLeavesNoTemporaryFiles) {
  TempDir dir;
  const auto target = dir.path / "a" / "b" / "state.json";
  write_file_atomic(target, "first");
  EXPECT_EQ(read_file(target), "first");
  ::chmod(target.c_str(), 0640);
  write_file_atomic(target, std::string("sec\0ond", 7));
  EXPECT_EQ(read_file(target), std::string("sec\0ond", 7));
  write_file_atomic(target, "third", Durability::Visible);
  write_file_atomic(target, std::string("sec\0ond", 7), Durability::Visible);
  EXPECT_EQ(read_file(target), std::string("sec\0ond", 7));
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  int entries = 0;
  for (auto& e : fs::directory_iterator(target.parent_path())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

TEST(AtomicWrite, FailureNamesThePathAndLeavesNothingBehind) {
  TempDir dir;
  write_file_atomic(dir.path / "plain", "x");
  const auto target = dir.path / "plain" / "f.txt";  // parent is a regular file
  try {
    write_file_atomic(target, "new");
    FAIL() << "expected an error";
  } catch (const std::system_error& e) {
    EXPECT_NE(std::string(e.what()).find((dir.path / "plain").string()), std::string::npos)
        << e.what();
  }
  EXPECT_EQ(read_file(dir.path / "plain"), "x");
}

TEST(AtomicWrite, WriterKilledMidWriteLeavesOldOrNewNeverTruncated) {
  TempDir dir;
  const auto target = dir.path / "big.json";
  const std::string a(4 << 20, 'a');
  const std::string b(4 << 20, 'b');
  write_file_atomic(target, a);
  for (int round = 0; round < 12; ++round) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int i = 0;; ++i) write_file_atomic(target, i % 2 ? a : b);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5 + 7 * round));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    const auto content = read_file(target);
    ASSERT_TRUE(content == a || content == b) << "size " << content.size();
  }
}

TEST(ReadFile, MissingFileIsAnErrorNamingIt) {
  try {
    read_file("/nonexistent/orvane/file");
    FAIL();
  } catch (const std::system_error& e) {
    EXPECT_NE(std::string(e.what()).find("/nonexistent/orvane/file"), std::string::npos);
    EXPECT_EQ(e.code().value(), ENOENT);
  }
}
