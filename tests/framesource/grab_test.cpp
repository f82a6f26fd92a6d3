// dovrel-grab, run as the built program: the viewer's picture at any position, every position,
// the stream's description, and its exit codes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <numeric>
#include <string>
#include <vector>

#include "classBMPAVI.h"
#include "testutil.h"

using namespace testutil;

namespace {

const std::string kGrab = DOVREL_GRAB_PATH;
constexpr int kWidth = 37, kHeight = 10, kFrames = 4;  // odd width: padded rows

RunResult Grab(std::vector<std::string> args) {
  args.insert(args.begin(), kGrab);
  return RunProgram(args);
}

// The viewer's picture at a position, worked out without the frame source.
std::vector<uint8_t> Expected(int position, bool whole, int priority) {
  const int frame = whole ? position : position / 2;
  std::vector<uint8_t> dib = Pattern(kWidth, kHeight, frame);
  if (!whole) SeparateRows(dib, kWidth, kHeight, ((position % 2) + priority) % 2);
  return BmpFile(dib, kWidth, kHeight);
}

class GrabTest : public ::testing::Test {
 protected:
  void SetUp() override { WritePatternClip(clip_, kWidth, kHeight, kFrames); }
  TempDir dir_;
  const std::string clip_ = dir_.File("clip.avi");
};

}  // namespace

TEST_F(GrabTest, SinglePositionInBothViewsAndPriorities) {
  const std::string out = dir_.File("out.bmp");
  for (int p = 0; p < kFrames; ++p) {
    RunResult r = Grab({clip_, std::to_string(p), out});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(out), Expected(p, true, 0)) << "1/30 is the default view, position " << p;
    r = Grab({clip_, std::to_string(p), out, "--view", "1/30", "--priority", "odd"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(out), Expected(p, true, 1)) << "1/30 ignores the priority, position " << p;
  }
  for (int priority : {0, 1})
    for (int p = 0; p <= 2 * (kFrames - 1); ++p) {
      RunResult r = Grab({clip_, std::to_string(p), out, "--view", "1/60", "--priority",
                          priority ? "odd" : "even"});
      ASSERT_EQ(r.exitCode, 0) << r.err;
      EXPECT_EQ(ReadFile(out), Expected(p, false, priority))
          << "1/60 position " << p << " priority " << priority;
      EXPECT_TRUE(r.err.empty()) << r.err;
    }

  // Even is the default priority.
  RunResult r = Grab({"--view", "1/60", clip_, "5", out});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadFile(out), Expected(5, false, 0));
}

TEST_F(GrabTest, AllWritesEveryPosition) {
  struct Case {
    std::vector<std::string> options;
    bool whole;
    int priority, positions;
  };
  for (const Case& c : {Case{{}, true, 0, kFrames},
                        Case{{"--view", "1/60", "--priority", "odd"}, false, 1, 2 * kFrames - 1},
                        Case{{"--view", "1/60"}, false, 0, 2 * kFrames - 1}}) {
    TempDir out;
    const std::string folder = out.File("all");
    std::vector<std::string> args = {clip_, "--all", folder};
    args.insert(args.end(), c.options.begin(), c.options.end());
    RunResult r = Grab(args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << "no progress line when standard error is not a terminal";
    std::vector<std::string> names = FolderEntries(folder);
    ASSERT_EQ(names.size(), static_cast<size_t>(c.positions));
    for (int p = 0; p < c.positions; ++p) {
      char name[32];
      std::snprintf(name, sizeof name, "pos-%05d.bmp", p);
      ASSERT_EQ(names[p], name);
      EXPECT_EQ(ReadFile(folder + "/" + name), Expected(p, c.whole, c.priority)) << name;
    }
  }
}

// Without --priority the field shot first comes first: DV's fields are bottom first by its
// format, the H.264 stream is written top first.
TEST_F(GrabTest, InfoDescribesTheStreamWhoseFieldOrderIsTheDefaultPriority) {
  RunResult r = Grab({clip_, "--info"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out.rfind("width 37\nheight 10\nframes 4\ncodec raw 24-bit", 0), 0u) << r.out;

  struct Case {
    std::string name;
    std::vector<std::string> codec;
    std::string info, priority;
  };
  for (const Case& c :
       {Case{"dv.avi",
             {"-c:v", "dvvideo", "-pix_fmt", "yuv411p"},
             "width 720\nheight 480\nframes 3\ncodec dvvideo (dvsd)\nfield order bottom first\n",
             "even"},
        Case{"tff.avi",
             {"-c:v", "libx264", "-flags", "+ildct+ilme", "-top", "1", "-pix_fmt", "yuv420p"},
             "field order top first\n",
             "odd"}}) {
    SCOPED_TRACE(c.name);
    const std::string file = dir_.File(c.name);
    ASSERT_TRUE(MakeFfmpegClip(file, 720, 480, 3, c.codec));
    r = Grab({file, "--info"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(r.out.ends_with(c.info)) << r.out;
    EXPECT_TRUE(r.err.empty());
    for (const std::string position : {"1", "2"}) {
      const std::string given = dir_.File("given.bmp"), taken = dir_.File("default.bmp");
      ASSERT_EQ(Grab({file, position, given, "--view", "1/60", "--priority", c.priority}).exitCode,
                0);
      ASSERT_EQ(Grab({file, position, taken, "--view", "1/60"}).exitCode, 0);
      EXPECT_EQ(ReadFile(taken), ReadFile(given)) << "position " << position;
    }
  }
}

TEST_F(GrabTest, OpenFailuresExitOneWithTheMessage) {
  AviWriter unknown(dir_.File("unknown.avi"),
                    AviWriter::Format(8, 8, 24, MakeFourCC('Z', 'Z', 'Z', 'Z')));
  unknown.AddFrame(std::vector<uint8_t>(10, 0));
  ASSERT_TRUE(unknown.Close());
  struct Case {
    std::string file;
    const char* message;
  };
  for (const Case& c : {Case{dir_.File("missing.avi"), kMsgNoStream}, Case{kGrab, kMsgNoStream},
                        Case{dir_.File("unknown.avi"), kMsgNoDecoder}}) {
    for (std::vector<std::string> rest : {std::vector<std::string>{"0", dir_.File("x.bmp")},
                                          {"--info"},
                                          {"--all", dir_.File("all")}}) {
      rest.insert(rest.begin(), c.file);
      RunResult r = Grab(rest);
      EXPECT_EQ(r.exitCode, 1) << c.file << " " << rest[1];
      EXPECT_EQ(r.err, std::string(c.message) + "\n");
      EXPECT_TRUE(r.out.empty());
    }
  }
  EXPECT_FALSE(Exists(dir_.File("x.bmp")));
  // A picture that cannot be written is an error of its own.
  RunResult r = Grab({clip_, "0", dir_.File("no/such/folder.bmp")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("could not write"), std::string::npos) << r.err;
}

TEST_F(GrabTest, UsageErrorsExitTwo) {
  const std::string out = dir_.File("out.bmp");
  const std::vector<std::vector<std::string>> bad = {
      {},
      {clip_},
      {clip_, "0"},
      {clip_, "0", out, "extra"},
      {clip_, "-1", out},
      {clip_, "x", out},
      {clip_, "3x", out},
      {clip_, "", out},
      {clip_, "4", out},                    // past the last frame
      {clip_, "7", out, "--view", "1/60"},  // past the last field position
      {clip_, "0", out, "--view", "1/45"},
      {clip_, "0", out, "--view"},
      {clip_, "0", out, "--priority", "middle"},
      {clip_, "0", out, "--bogus"},
      {clip_, "--info", "--all", dir_.File("all")},
      {clip_, "--all"},
  };
  for (const std::vector<std::string>& args : bad) {
    std::string line;
    for (const std::string& a : args) line += "'" + a + "' ";
    RunResult r = Grab(args);
    EXPECT_EQ(r.exitCode, 2) << line;
    EXPECT_NE(r.err.find("usage:"), std::string::npos) << line << ": " << r.err;
  }
  EXPECT_FALSE(Exists(out));
  EXPECT_FALSE(Exists(dir_.File("all")));
}

TEST_F(GrabTest, OnlyRegularFilesAreReadAndTheVideoIsNeverWritten) {
  // A named pipe nobody writes to, and devices: refused at once with the stream message, never
  // waited on.
  const std::string fifo = dir_.File("x.avi");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  for (const std::string& path : {fifo, std::string("/dev/null"), std::string("/dev/zero")}) {
    RunResult r = RunProgram({kGrab, path, "--info"}, 20);
    EXPECT_EQ(r.exitCode, 1) << path << ": " << r.err;
    EXPECT_EQ(r.err, std::string(kMsgNoStream) + "\n") << path;
  }
  const std::vector<uint8_t> video = ReadFile(clip_);
  RunResult r = Grab({clip_, "0", clip_});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(ReadFile(clip_), video);
}

TEST_F(GrabTest, EndingSignalLeavesNoHiddenFile) {
  // 2.3 MB pictures, one real frame repeated: each save takes a while, the file is small.
  std::vector<int> dropped(300);
  std::iota(dropped.begin(), dropped.end(), 1);
  const std::string big = dir_.File("big.avi");
  WritePatternClip(big, 1024, 768, 301, {}, dropped);
  for (int sig : {SIGTERM, SIGINT}) {
    for (int saves : {1, 3}) {
      const std::string out = dir_.File("all-" + std::to_string(sig) + "-" + std::to_string(saves));
      const pid_t pid = fork();
      ASSERT_GE(pid, 0);
      if (pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0), dup2(null, 1), dup2(null, 2);
        execl(kGrab.c_str(), kGrab.c_str(), big.c_str(), "--all", out.c_str(), nullptr);
        _exit(127);
      }
      // Signalled while a save is under way, after `saves` have been made.
      const auto saving = [&] {
        const std::vector<std::string> names = FolderEntries(out);
        return names.size() > static_cast<size_t>(saves) && names.front()[0] == '.';
      };
      int ms = 0;
      for (; ms < 20000 && !saving(); ++ms) usleep(1000);
      EXPECT_LT(ms, 20000) << "no save under way seen";
      kill(pid, sig);
      int status = 0;
      ASSERT_EQ(waitpid(pid, &status, 0), pid);
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
      for (const std::string& name : FolderEntries(out))
        EXPECT_EQ(name.rfind("pos-", 0), 0u) << name << " left behind";
    }
  }
}

TEST_F(GrabTest, TheLastPositionsOfALongVideoAndNoneBeyond) {
  const std::string clip = dir_.File("long.avi"), out = dir_.File("out.bmp");
  WritePatternClip(clip, 4, 4, 40000);
  std::vector<uint8_t> dib = Pattern(4, 4, 39999);
  ASSERT_EQ(Grab({clip, "39999", out}).exitCode, 0);
  EXPECT_EQ(ReadFile(out), BmpFile(dib, 4, 4));
  SeparateRows(dib, 4, 4, 0);
  ASSERT_EQ(Grab({clip, "79998", out, "--view", "1/60"}).exitCode, 0);
  EXPECT_EQ(ReadFile(out), BmpFile(dib, 4, 4));
  EXPECT_EQ(Grab({clip, "40000", out}).exitCode, 2);
  EXPECT_EQ(Grab({clip, "79999", out, "--view", "1/60"}).exitCode, 2);
}

// The recording of a position, the list of scenes in either view's numbering, and a PNG that
// ffmpeg decodes to the picture of the BMP written for the same position.
TEST_F(GrabTest, RecordingScenesAndPng) {
  const std::string dv = dir_.File("scenes.avi");
  ASSERT_TRUE(WriteDvSceneClip(dv));
  RunResult r = Grab({dv, "--info", "40", "--view", "1/60"});  // frame 20
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(r.out.ends_with("\nrecording 1999/12/31 23:59:58  00:12:34;25\n")) << r.out;
  r = Grab({dv, "--scenes"});
  EXPECT_EQ(r.out,
            "2 2003/08/15 14:32:07\n12 2003/08/15 15:40:00\n20 1999/12/31 23:59:58\n"
            "25 2000/01/01 00:00:00\n");
  EXPECT_EQ(Grab({dv, "--scenes", "--view", "1/60"}).out.substr(0, 25),
            "4 2003/08/15 14:32:07\n24 ");
  EXPECT_EQ(Grab({clip_, "--scenes"}).out, "");  // not DV: no scenes, no error

  for (const char* view : {"1/30", "1/60"}) {
    const std::string png = dir_.File("out.PNG"), bmp = dir_.File("out.bmp");
    ASSERT_EQ(Grab({clip_, "3", png, "--view", view}).exitCode, 0);
    ASSERT_EQ(Grab({clip_, "3", bmp, "--view", view}).exitCode, 0);
    const std::vector<uint8_t> bmpFile = ReadFile(bmp);
    const std::vector<std::vector<uint8_t>> decoded = FfmpegFrames(png, kWidth, kHeight);
    ASSERT_EQ(decoded.size(), 1u);
    EXPECT_TRUE(SameDib(std::vector<uint8_t>(bmpFile.begin() + 54, bmpFile.end()), decoded[0],
                        kWidth, kHeight))
        << view;
  }
}
