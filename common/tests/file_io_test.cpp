#include "orvane/common/file_io.hpp"

#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

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

// The temporary files of `target` beside it.
std::vector<fs::path> temporaries(const fs::path& target) {
  std::vector<fs::path> found;
  const auto prefix = "." + target.filename().string() + ".tmp-";
  for (const auto& entry : fs::directory_iterator(target.parent_path())) {
    if (entry.path().filename().string().starts_with(prefix)) found.push_back(entry.path());
  }
  return found;
}

// Who the permission tests write as: nobody when they run as root, whom permissions do not stop.
uid_t writer_uid() {
  return ::geteuid() == 0 ? 65534 : ::geteuid();
}

// write_file_atomic(target, bytes) in a child process running as writer_uid(): "ok", or the text
// of the error it threw.
std::string write_as_writer(const fs::path& target, const std::string& bytes) {
  int channel[2];
  if (::pipe(channel) != 0) return "no pipe";
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(channel[0]);
    std::string answer = "ok";
    const uid_t uid = writer_uid();
    if (::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(uid) != 0 || ::setuid(uid) != 0)) {
      answer = "cannot become the writer";
    } else {
      try {
        write_file_atomic(target, bytes);
      } catch (const std::exception& error) {
        answer = error.what();
      }
    }
    (void)!::write(channel[1], answer.data(), answer.size());
    ::_exit(0);
  }
  ::close(channel[1]);
  std::string answer;
  char buffer[512];
  for (ssize_t n; (n = ::read(channel[0], buffer, sizeof buffer)) > 0;) answer.append(buffer, n);
  ::close(channel[0]);
  ::waitpid(child, nullptr, 0);
  return answer;
}

// Kills and reaps a child process however the test ends.
struct ChildProcess {
  pid_t pid;
  ~ChildProcess() { end(); }
  void end() {
    if (pid <= 0) return;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    pid = 0;
  }
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

TEST(AtomicWrite, AFileWhoseNameIsAtTheLengthLimitIsWrittenAndLeavesNoTemporaryFile) {
  TempDir dir;
  for (const std::size_t length : {241, 242, 255}) {
    const auto target = dir.path / std::string(length, 'n');
    write_file_atomic(target, "one");
    write_file_atomic(target, "two");
    EXPECT_EQ(read_file(target), "two") << length;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 3);
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

// Replacing a file must not let through what a write in place refuses, nor refuse what it allows.
TEST(AtomicWrite, PermissionsDecideAsForAWriteInPlace) {
  struct Case {
    const char* name;
    mode_t dir_mode;
    mode_t file_mode;
    bool writer_owns_file;
    bool written;
  };
  const Case cases[] = {
      {"read-only file", 0755, 0444, true, false},
      {"file of another user", 0777, 0644, false, false},
      {"writable file in a read-only directory", 0555, 0644, true, true},
  };
  TempDir base;
  ::chmod(base.path.c_str(), 0755);
  const bool root = ::geteuid() == 0;
  const uid_t writer = writer_uid();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.writer_owns_file && !root) continue;  // only root can give a file to another user
    const auto dir = base.path / c.name;
    const auto target = dir / "state.json";
    write_file_atomic(target, "old");
    ::chmod(target.c_str(), c.file_mode);
    if (root) {
      ASSERT_EQ(::chown(dir.c_str(), writer, writer), 0);
      if (c.writer_owns_file) {
        ASSERT_EQ(::chown(target.c_str(), writer, writer), 0);
      }
    }
    ::chmod(dir.c_str(), c.dir_mode);
    struct stat before {};
    ::stat(target.c_str(), &before);

    const auto answer = write_as_writer(target, "new");
    ::chmod(dir.c_str(), 0755);
    struct stat after {};
    ::stat(target.c_str(), &after);
    if (c.written) {
      EXPECT_EQ(answer, "ok");
      EXPECT_EQ(read_file(target), "new");
      EXPECT_EQ(after.st_ino, before.st_ino);
    } else {
      EXPECT_NE(answer.find("Permission denied"), std::string::npos) << answer;
      EXPECT_EQ(read_file(target), "old");
    }
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_TRUE(temporaries(target).empty());
  }
}

// State files kept in a synced folder or a dotfiles repository, linked from where they are used.
TEST(AtomicWrite, WritesTheFileALinkPointsToAndKeepsTheLink) {
  TempDir dir;
  const auto real = dir.path / "synced" / "state.json";
  write_file_atomic(real, "old");
  fs::create_directory(dir.path / "home");
  const auto link = dir.path / "home" / "state.json";
  fs::create_symlink("../synced/state.json", link);
  const auto chain = dir.path / "home" / "chain.json";
  fs::create_symlink(link, chain);
  const auto dangling = dir.path / "home" / "later.json";
  fs::create_symlink("../synced/later.json", dangling);

  write_file_atomic(chain, "new");
  write_file_atomic(dangling, "first", Durability::Visible);
  EXPECT_EQ(read_file(real), "new");
  EXPECT_EQ(read_file(dir.path / "synced" / "later.json"), "first");
  for (const auto& path : {link, chain, dangling}) EXPECT_TRUE(fs::is_symlink(path)) << path;
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path / "home"), {}), 3);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path / "synced"), {}), 2);
}

// A writer killed mid-save leaves its temporary file behind; the next save removes it, but never
// the file of a writer that is still alive (here: stopped while it writes).
TEST(AtomicWrite, RemovesTheTemporaryFilesOfDeadWritersOnly) {
  TempDir dir;
  const auto target = dir.path / "scheduler.json";
  write_file_atomic(target, "start");
  const std::string big(16 << 20, 'b');
  ChildProcess writer{::fork()};
  ASSERT_GE(writer.pid, 0);
  if (writer.pid == 0) {
    for (;;) write_file_atomic(target, big);
  }
  std::vector<fs::path> held;
  for (int attempt = 0; attempt < 2000 && held.empty(); ++attempt) {
    ::kill(writer.pid, SIGSTOP);
    ::waitpid(writer.pid, nullptr, WUNTRACED);
    for (const auto& temporary : temporaries(target)) {
      std::error_code gone;
      if (fs::file_size(temporary, gone) > 0 && !gone) held.push_back(temporary);
    }
    if (held.empty()) {
      ::kill(writer.pid, SIGCONT);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  ASSERT_EQ(held.size(), 1u);
  write_file_atomic(target, "while the writer is stopped");
  EXPECT_EQ(temporaries(target), held);

  writer.end();  // killed in the middle of its write
  write_file_atomic(target, "after");
  EXPECT_TRUE(temporaries(target).empty());
  EXPECT_EQ(read_file(target), "after");
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
