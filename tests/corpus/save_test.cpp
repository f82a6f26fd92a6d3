// Saves that cannot succeed: a folder nobody may write (root included), a device that fills up
// part way, and targets that must not be replaced. Each reports failure, leaves what was there
// as it was, and leaves no temporary file behind.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include "classBMPAVI.h"
#include "testutil.h"

namespace {

// An instance holding a 16 x 16 picture (822 bytes as a BMP file).
class SaveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testutil::WritePatternClip(dir_.File("clip.avi"), 16, 16, 2);
    ASSERT_EQ(source_.GetEnable(dir_.File("clip.avi")), kFalse);
  }
  // The folder holds only what the test put there.
  void ExpectOnly(const std::vector<std::string>& names) {
    std::vector<std::string> expected = names;
    expected.push_back("clip.avi");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(testutil::FolderEntries(dir_.path()), expected);
  }

  testutil::TempDir dir_;
  testutil::MessageRecorder shown_;
  classBMPAVI source_;
  const std::vector<uint8_t> old_ = std::vector<uint8_t>(3000, 0x5A);  // longer than the new file
};

// Runs the save with the process unable to write files past `limit` bytes: write() then fails
// with EFBIG, as on a full device.
int16_t SaveWithFileLimit(classBMPAVI& source, const std::string& path, rlim_t limit) {
  struct rlimit saved;
  getrlimit(RLIMIT_FSIZE, &saved);
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = limit;
  setrlimit(RLIMIT_FSIZE, &small);
  const int16_t result = source.WriteToBMPFile(path);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
  return result;
}

}  // namespace

TEST_F(SaveTest, WritesAndReplacesAPlainFile) {
  const std::string path = dir_.File("out.bmp");
  testutil::WriteFile(path, old_);
  EXPECT_EQ(source_.WriteToBMPFile(path), kTrue);
  EXPECT_EQ(testutil::ReadFile(path), testutil::BmpFile(testutil::Pattern(16, 16, 0), 16, 16));
  ExpectOnly({"out.bmp"});
  // Through a link the file it names is replaced; the link stays a link.
  ASSERT_EQ(symlink("out.bmp", dir_.File("link.bmp").c_str()), 0);
  testutil::WriteFile(path, old_);
  EXPECT_EQ(source_.WriteToBMPFile(dir_.File("link.bmp")), kTrue);
  struct stat st;
  ASSERT_EQ(lstat(dir_.File("link.bmp").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(testutil::FileSize(path), 822u);
  // A link whose target does not exist yet: the target is made, the link stays.
  ASSERT_EQ(symlink("made.bmp", dir_.File("dangling.bmp").c_str()), 0);
  EXPECT_EQ(source_.WriteToBMPFile(dir_.File("dangling.bmp")), kTrue);
  ASSERT_EQ(lstat(dir_.File("dangling.bmp").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(testutil::FileSize(dir_.File("made.bmp")), 822u);
  ExpectOnly({"dangling.bmp", "link.bmp", "made.bmp", "out.bmp"});
  EXPECT_TRUE(shown_.messages().empty());
}

TEST_F(SaveTest, FolderThatCannotBeWritten) {
  // /proc refuses new files to everyone, root included.
  EXPECT_EQ(source_.WriteToBMPFile("/proc/self/dovrel.bmp"), kFalse);
  EXPECT_FALSE(testutil::Exists("/proc/self/dovrel.bmp"));
  EXPECT_EQ(source_.WriteToBMPFile(dir_.File("missing/out.bmp")), kFalse);

  // A folder without write permission, and a file in it its owner may write: the owner is
  // user nobody, as root ignores the bits.
  const std::string locked = dir_.File("locked");
  ASSERT_EQ(mkdir(locked.c_str(), 0755), 0);
  testutil::WriteFile(locked + "/out.bmp", old_);
  ASSERT_EQ(chmod(locked.c_str(), 0555), 0);
  for (const std::string& path : {locked, locked + "/out.bmp"}) {
    if (geteuid() == 0) {
      ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
    }
  }
  chmod(dir_.path().c_str(), 0711);
  const bool ran = testutil::AsUnprivilegedUser([&] {
    ASSERT_TRUE(testutil::Exists(locked + "/out.bmp")) << "the folder is out of reach";
    EXPECT_EQ(source_.WriteToBMPFile(locked + "/out.bmp"), kFalse);
    EXPECT_EQ(source_.WriteToBMPFile(locked + "/new.bmp"), kFalse);
  });
  EXPECT_EQ(testutil::FolderEntries(locked), std::vector<std::string>{"out.bmp"});
  EXPECT_EQ(testutil::ReadFile(locked + "/out.bmp"), old_);
  chmod(locked.c_str(), 0755);
  EXPECT_TRUE(shown_.messages().empty());
  if (!ran) GTEST_SKIP() << "root could not become user nobody: the locked folder is not checked";
}

TEST_F(SaveTest, DeviceThatFillsUp) {
  const std::string path = dir_.File("out.bmp");
  testutil::WriteFile(path, old_);
  // Room for the headers and part of the pixels only.
  EXPECT_EQ(SaveWithFileLimit(source_, path, 300), kFalse);
  EXPECT_EQ(testutil::ReadFile(path), old_);
  EXPECT_EQ(SaveWithFileLimit(source_, dir_.File("new.bmp"), 20), kFalse);
  EXPECT_FALSE(testutil::Exists(dir_.File("new.bmp")));
  ExpectOnly({"out.bmp"});
  // Room enough: the same save then works.
  EXPECT_EQ(SaveWithFileLimit(source_, path, 4096), kTrue);
  EXPECT_EQ(testutil::FileSize(path), 822u);
}

TEST_F(SaveTest, TargetsThatMustNotBeReplaced) {
  // A write-protected file, which root could replace but must not.
  const std::string locked = dir_.File("locked.bmp");
  testutil::WriteFile(locked, old_);
  ASSERT_EQ(chmod(locked.c_str(), 0444), 0);
  EXPECT_EQ(source_.WriteToBMPFile(locked), kFalse);
  EXPECT_EQ(testutil::ReadFile(locked), old_);
  struct stat st;
  ASSERT_EQ(stat(locked.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u);

  // A folder and a named pipe of that name.
  const std::string folder = dir_.File("folder.bmp");
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  EXPECT_EQ(source_.WriteToBMPFile(folder), kFalse);
  EXPECT_EQ(source_.WriteToBMPFile(folder + "/"), kFalse);
  ASSERT_EQ(stat(folder.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  const std::string fifo = dir_.File("fifo.bmp");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  EXPECT_EQ(source_.WriteToBMPFile(fifo), kFalse);
  ASSERT_EQ(stat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  // The open video itself, by its name or through a link.
  const std::vector<uint8_t> video = testutil::ReadFile(dir_.File("clip.avi"));
  ASSERT_EQ(symlink("clip.avi", dir_.File("video.bmp").c_str()), 0);
  EXPECT_EQ(source_.WriteToBMPFile(dir_.File("clip.avi")), kFalse);
  EXPECT_EQ(source_.WriteToBMPFile(dir_.File("video.bmp")), kFalse);
  EXPECT_EQ(testutil::ReadFile(dir_.File("clip.avi")), video);
  ExpectOnly({"fifo.bmp", "folder.bmp", "locked.bmp", "video.bmp"});
  EXPECT_TRUE(testutil::FolderEntries(folder).empty());
  chmod(locked.c_str(), 0644);
}
