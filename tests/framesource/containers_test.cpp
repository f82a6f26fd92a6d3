// Files of the containers libavformat reads for us, made by the ffmpeg command at run time, and
// the real camcorder files in ../shared/samples: position n, reached by stepping, backwards or
// by jumps, is the n-th picture ffmpeg's sequential decode of the first video stream outputs.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "classBMPAVI.h"
#include "openvideo.h"
#include "sourceprobe.h"
#include "testutil.h"

using namespace testutil;

namespace {

// Pixel rows equal from the top of the picture down to row `rows` (DIB rows are bottom-up).
bool SameTopRows(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int width,
                 int height, int rows) {
  const size_t stride = static_cast<size_t>(Stride(width));
  for (int y = height - rows; y < height; ++y)
    if (std::memcmp(a.data() + y * stride, b.data() + y * stride, static_cast<size_t>(width) * 3))
      return false;
  return true;
}

// Visits every position by stepping, then backwards from the last, then in a fresh instance by
// jumps of seven positions (across keyframes, and back from the end); each visit must show
// ffmpeg's picture. The last picture is
// compared down to row lastRows only, where the file cuts it short (the lines it lacks hold
// whatever memory the decoder reused). Faults are listed in the result.
std::string CompareWithFfmpeg(const std::string& path, int width, int height, int lastRows = -1) {
  const std::vector<std::vector<uint8_t>> expected = FfmpegFrames(path, width, height);
  std::string faults;
  const int count = static_cast<int>(expected.size());
  auto same = [&](const classBMPAVI& s, int p) {
    const int rows = p == count - 1 && lastRows >= 0 ? lastRows : height;
    return SameTopRows(expected[p], Peek(s).DIBBits(), width, height, rows);
  };
  MessageRecorder messages;
  classBMPAVI source;
  if (source.GetEnable(path) != kFalse) return " does not open";
  if (source.biWidth() != width || source.biHeight() != height) return " has another size";
  if (source.GetFrameMax() + 1 != count)
    return " has " + std::to_string(source.GetFrameMax() + 1) + " positions, ffmpeg " +
           std::to_string(count) + " pictures";
  for (int p = 0; p < count; ++p)
    if (source.GetDIBAVI(p), !same(source, p)) faults += " step " + std::to_string(p);
  for (int p = count - 1; p >= 0; --p)
    if (source.GetDIBAVI(p), !same(source, p)) faults += " back " + std::to_string(p);
  classBMPAVI jumps;
  jumps.GetEnable(path);
  for (int i = 1; i <= count; ++i) {
    const int p = i * 7 % count;  // every position, seven on from the one before
    if (jumps.GetDIBAVI(p), !same(jumps, p)) faults += " jump " + std::to_string(p);
  }
  if (!messages.messages().empty()) faults += " showed a message";
  return faults;
}

struct Made {
  const char* name;  // the file's name, its extension the container's
  int width, height, frames;
  const char* args;  // ffmpeg output options
};

void PrintTo(const Made& m, std::ostream* os) {
  *os << m.name;
}

class Container : public ::testing::TestWithParam<Made> {};

TEST_P(Container, EveryPositionIsFfmpegsPictureHoweverReached) {
  const Made& m = GetParam();
  ASSERT_TRUE(Ffmpeg({"-version"}));
  if (std::strstr(m.args, "libx264") && !HasEncoder("libx264"))
    GTEST_SKIP() << "ffmpeg has no libx264";
  TempDir dir;
  const std::string path = dir.File(m.name);
  std::istringstream words(m.args);
  ASSERT_TRUE(MakeFfmpegClip(path, m.width, m.height, m.frames,
                             {std::istream_iterator<std::string>(words), {}}));
  EXPECT_EQ(CompareWithFfmpeg(path, m.width, m.height), "");
}

// Interlaced MPEG-2 as HDV and hard-disk camcorders write it (1440 x 1080, field-coded
// macroblocks, GOPs of 15 with B-frames: open, so the B-frames after the second keyframe are shown
// before it); H.264 with B-frames shown before their keyframe, and MBAFF.
INSTANTIATE_TEST_SUITE_P(
    Ffmpeg, Container,
    ::testing::Values(
        Made{"raw.dv", 720, 480, 8, "-c:v dvvideo -pix_fmt yuv411p -f dv"},
        Made{"dv.mov", 720, 480, 6, "-c:v dvvideo -pix_fmt yuv411p"},
        Made{"h264.mov", 320, 240, 40,
             "-c:v libx264 -preset veryfast -bf 3 -g 12 -pix_fmt yuv420p -x264-params open-gop=1"},
        Made{"mpeg2.vob", 1440, 1080, 32,
             "-c:v mpeg2video -flags +ildct+ilme -top 1 -g 15 -bf 2 -f vob"},
        Made{"mpeg2.ts", 1440, 1080, 32,
             "-c:v mpeg2video -flags +ildct+ilme -top 1 -g 15 -bf 2 -f mpegts"},
        Made{"mbaff.m2ts", 720, 480, 40,
             "-c:v libx264 -preset veryfast -bf 2 -g 15 -flags +ildct+ilme -x264-params "
             "interlaced=1:tff=1 -f mpegts -mpegts_m2ts_mode 1"},
        Made{"ffv1.mkv", 320, 240, 6, "-c:v ffv1"}),
    [](const ::testing::TestParamInfo<Made>& info) {
      std::string name = info.param.name;
      for (char& c : name)
        if (c == '.') c = '_';
      return name;
    });

// The real files' origins are in the folder's README. The MPEG-2 one ends inside its last
// picture's second field, whose lines from row 352 on are missing.
TEST(Samples, EveryPositionIsFfmpegsPictureHoweverReached) {
  const std::string samples = DOVREL_SAMPLES_DIR;
  if (!Exists(samples + "/README.md")) GTEST_SKIP() << "no camcorder samples in " << samples;
  ASSERT_TRUE(Ffmpeg({"-version"}));
  struct Sample {
    const char* file;
    int width, height, lastRows;
  };
  for (const Sample& s : {Sample{"avchd_sony_a7m3_1080i50_paff_trunc.mts", 1920, 1080, -1},
                          Sample{"mpeg2_ts_pal576i_fieldpics_bff.ts", 720, 576, 352},
                          Sample{"dv_sony_ntsc_1f_perfect.dv", 720, 480, -1}})
    EXPECT_EQ(CompareWithFfmpeg(samples + "/" + s.file, s.width, s.height, s.lastRows), "")
        << s.file;
  // The AVCHD clip's field pictures copied as they are into MP4 (the parameter sets then in the
  // sample description, a field a sample) and Matroska, as editors and converters store them.
  TempDir dir;
  for (const char* name : {"paff.mp4", "paff.mkv"}) {
    ASSERT_TRUE(Ffmpeg({"-i", samples + "/avchd_sony_a7m3_1080i50_paff_trunc.mts", "-map",
                        "0:v:0", "-c", "copy", dir.File(name)}));
    EXPECT_EQ(CompareWithFfmpeg(dir.File(name), 1920, 1080), "") << name;
  }
}

// What dies with a camcorder's battery or a bad sector: a transport stream cut short (MPEG-2 and
// H.264), one with a stretch of its packets missing, a program stream with garbage inside; and
// two recordings joined end to end, the second's timestamps starting again. They open, and every
// position is ffmpeg's picture (but the lines a cut picture lacks).
TEST(Damaged, EveryPositionIsFfmpegsPicture) {
  ASSERT_TRUE(Ffmpeg({"-version"}));
  TempDir dir;
  const std::string mpeg2 = dir.File("mpeg2.ts"), h264 = dir.File("h264.ts"),
                    vob = dir.File("mpeg2.vob");
  const std::vector<std::string> interlaced = {"-flags", "+ildct+ilme", "-g", "12", "-bf", "2"};
  auto with = [&](std::vector<std::string> codec, const char* format) {
    codec.insert(codec.end(), interlaced.begin(), interlaced.end());
    codec.insert(codec.end(), {"-f", format});
    return codec;
  };
  ASSERT_TRUE(MakeFfmpegClip(mpeg2, 720, 480, 40, with({"-c:v", "mpeg2video"}, "mpegts")));
  ASSERT_TRUE(MakeFfmpegClip(vob, 720, 480, 40, with({"-c:v", "mpeg2video"}, "vob")));
  const bool x264 = HasEncoder("libx264");
  if (x264) {
    ASSERT_TRUE(MakeFfmpegClip(
        h264, 720, 480, 40, with({"-c:v", "libx264", "-x264-params", "interlaced=1"}, "mpegts")));
  }
  struct Broken {
    std::string from, name;
    size_t keep;              // bytes kept before the damage, in 188-byte packets for TS
    size_t missing, garbage;  // bytes left out after them, bytes overwritten with garbage
    bool twice = false;       // the file, then the file again
  };
  std::vector<Broken> broken = {{mpeg2, "cut.ts", 188 * 1200, SIZE_MAX, 0},
                                {mpeg2, "gap.ts", 188 * 700, 188 * 300, 0},
                                {vob, "garbage.vob", 200000, 0, 40000}};
  if (x264) {
    broken.push_back({h264, "cut-h264.ts", 188 * 500, SIZE_MAX, 0});
    broken.push_back({h264, "twice.ts", 0, 0, 0, true});
  }
  for (const Broken& b : broken) {
    std::vector<uint8_t> bytes = ReadFile(b.from);
    ASSERT_GT(bytes.size(), b.keep + std::min(b.missing, size_t{1}) + b.garbage) << b.name;
    for (size_t i = 0; i < b.garbage; ++i) bytes[b.keep + i] = static_cast<uint8_t>(i * 7919 >> 3);
    bytes.erase(bytes.begin() + static_cast<ptrdiff_t>(b.keep),
                b.missing == SIZE_MAX ? bytes.end()
                                      : bytes.begin() + static_cast<ptrdiff_t>(b.keep + b.missing));
    if (b.twice) {
      const std::vector<uint8_t> once = bytes;
      bytes.insert(bytes.end(), once.begin(), once.end());
    }
    const std::string path = dir.File(b.name);
    WriteFile(path, bytes);
    EXPECT_EQ(CompareWithFfmpeg(path, 720, 480, b.missing == SIZE_MAX ? 0 : -1), "") << b.name;
  }
}

// A file without pictures gets the stream message, whatever libavformat makes of it: sound alone,
// or a single picture.
TEST(NoVideo, ShowsTheStreamMessage) {
  ASSERT_TRUE(Ffmpeg({"-version"}));
  TempDir dir;
  const std::string sound = dir.File("sound.ts"), picture = dir.File("picture.png");
  ASSERT_TRUE(Ffmpeg({"-f", "lavfi", "-i", "sine=duration=0.5", "-f", "mpegts", sound}));
  ASSERT_TRUE(MakeFfmpegClip(picture, 32, 24, 1, {}));
  for (const std::string& path : {sound, picture}) {
    MessageRecorder messages;
    classBMPAVI source;
    EXPECT_EQ(source.GetEnable(path), kTrue) << path;
    EXPECT_EQ(messages.messages(), std::vector<std::string>{kMsgNoStream}) << path;
  }
}

// An open that indexes a file tells its progress in bytes of the file, and a callback that
// declines stops it.
TEST(OpenProgress, ReportsBytesAndCancels) {
  ASSERT_TRUE(Ffmpeg({"-version"}));
  TempDir dir;
  const std::string path = dir.File("mpeg2.ts");
  ASSERT_TRUE(MakeFfmpegClip(path, 720, 480, 30, {"-c:v", "mpeg2video", "-f", "mpegts"}));
  struct Seen {
    int calls = 0;
    uint64_t done = 0, total = 0;
    bool ordered = true, go = true;
  } seen;
  AVIFileSetOpenProgress(
      [](void* context, uint64_t done, uint64_t total) {
        auto* s = static_cast<Seen*>(context);
        s->ordered = s->ordered && done >= s->done && done <= total;
        s->done = done, s->total = total, ++s->calls;
        return s->go;
      },
      &seen);
  AVIFileInit();
  PAVIFILE file = nullptr;
  EXPECT_EQ(AVIFileOpen(&file, path.c_str(), OF_READ, nullptr), AVIERR_OK);
  AVIFileRelease(file);
  EXPECT_GE(seen.calls, 1);
  EXPECT_TRUE(seen.ordered);
  EXPECT_EQ(seen.total, FileSize(path));
  seen = Seen{.go = false};
  EXPECT_EQ(AVIFileOpen(&file, path.c_str(), OF_READ, nullptr), AVIERR_USERABORT);
  EXPECT_EQ(file, nullptr);
  EXPECT_EQ(seen.calls, 1);
  AVIFileExit();
  AVIFileSetOpenProgress(nullptr, nullptr);
}

// The undecoded bytes shown at a position: raw DV's 120,000-byte frames one after the other; our
// AVI writer's frames, a dropped one showing the one before.
TEST(StreamRead, GivesTheBytesShownAtAPosition) {
  ASSERT_TRUE(Ffmpeg({"-version"}));
  TempDir dir;
  const std::string dv = dir.File("raw.dv"), avi = dir.File("dropped.avi");
  ASSERT_TRUE(
      MakeFfmpegClip(dv, 720, 480, 4, {"-c:v", "dvvideo", "-pix_fmt", "yuv411p", "-f", "dv"}));
  WritePatternClip(avi, 6, 2, 4, {}, {2});
  const std::vector<uint8_t> dvBytes = ReadFile(dv);
  ASSERT_EQ(dvBytes.size(), 4u * 120000);
  auto dvFrame = [&](int p) {
    return std::vector<uint8_t>(dvBytes.begin() + p * 120000, dvBytes.begin() + (p + 1) * 120000);
  };
  struct Case {
    std::string path;
    std::vector<std::vector<uint8_t>> shown;
  };
  for (const Case& c :
       {Case{dv, {dvFrame(0), dvFrame(1), dvFrame(2), dvFrame(3)}},
        Case{avi, {Pattern(6, 2, 0), Pattern(6, 2, 1), Pattern(6, 2, 1), Pattern(6, 2, 3)}}}) {
    OpenVideo video(c.path);
    ASSERT_TRUE(video.ok()) << c.path;
    for (int p = 3; p >= 0; --p) {
      int32_t bytes = 0, samples = 0;
      ASSERT_EQ(AVIStreamRead(video.stream, p, 1, nullptr, 0, &bytes, nullptr), AVIERR_OK);
      ASSERT_EQ(bytes, static_cast<int32_t>(c.shown[p].size())) << c.path << " " << p;
      std::vector<uint8_t> got(static_cast<size_t>(bytes));
      EXPECT_EQ(AVIStreamRead(video.stream, p, 1, got.data(), bytes - 1, nullptr, nullptr),
                AVIERR_BUFFERTOOSMALL);
      EXPECT_EQ(AVIStreamRead(video.stream, p, 1, got.data(), bytes, &bytes, &samples), AVIERR_OK);
      EXPECT_EQ(samples, 1);
      EXPECT_TRUE(got == c.shown[p]) << c.path << " position " << p;
    }
    EXPECT_EQ(AVIStreamRead(video.stream, 4, 1, nullptr, 0, nullptr, nullptr), AVIERR_NODATA);
  }
}

}  // namespace
