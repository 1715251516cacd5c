// A data directory that cannot be written to, made so with POSIX modes or, for root, the
// immutable flag.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "support.hpp"

namespace orvane::skills::testing {
namespace {

// Makes a directory unwritable while it lives: by mode for ordinary users; root ignores modes,
// so for root the directory is marked immutable. `active` is false when neither works here.
class ReadOnlyDir {
 public:
  explicit ReadOnlyDir(fs::path dir) : _dir(std::move(dir)) {
    if (::geteuid() != 0) {
      fs::permissions(_dir, fs::perms::owner_write, fs::perm_options::remove);
      active = true;
    } else {
      active = _set_immutable(true);
    }
  }
  ~ReadOnlyDir() {
    if (!active) return;
    if (::geteuid() != 0) {
      fs::permissions(_dir, fs::perms::owner_write, fs::perm_options::add);
    } else {
      _set_immutable(false);
    }
  }
  ReadOnlyDir(const ReadOnlyDir&) = delete;
  ReadOnlyDir& operator=(const ReadOnlyDir&) = delete;
  bool active = false;

 private:
  bool _set_immutable(bool on) {
    const int fd = ::open(_dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return false;
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (done) {
      flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
      done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return done;
  }
  fs::path _dir;
};

TEST_F(CreatorTest, AReadOnlyDataDirectoryStillCreatesTheSkillAndKeepsTheEntryInMemory) {
  SkillCreator creator(data);
  ReadOnlyDir read_only(data);
  if (!read_only.active) GTEST_SKIP() << "cannot make a directory read-only here";
  const auto result = creator.create_from_dict(simple_skill());
  EXPECT_TRUE(result.success);
  const auto r = records();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[1].rfind("warning: Failed to save improvement log: cannot create a temporary file "
                       "for '" +
                           log_file().string() + "': ",
                       0),
            0u)
      << r[1];
  EXPECT_EQ(creator.get_improvement_stats()["skills_created"], 1);
  EXPECT_FALSE(fs::exists(log_file()));
}

}  // namespace
}  // namespace orvane::skills::testing
