// Compressed streams through libavcodec: every position, in order and by jumps forward, backward
// and across keyframes, must be the picture that the ffmpeg command decodes for it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classBMPAVI.h"
#include "sourceprobe.h"
#include "testutil.h"

using namespace testutil;

namespace {

struct CodecCase {
  const char* name;
  const char* encoder;  // the ffmpeg encoder the case needs
  int width, height, frames;
  std::vector<std::string> args;
  std::vector<int> jumps;  // positions visited after the sequential pass
  const char* codec;       // name the library reports
};

void PrintTo(const CodecCase& c, std::ostream* os) {
  *os << c.name;
}

std::string CaseName(const ::testing::TestParamInfo<CodecCase>& info) {
  return info.param.name;
}

class Codec : public ::testing::TestWithParam<CodecCase> {};

TEST_P(Codec, EveryPositionIsWhatFfmpegDecodes) {
  const CodecCase& c = GetParam();
  ASSERT_TRUE(Ffmpeg({"-version"}));
  if (!HasEncoder(c.encoder)) {
    // Debian's ffmpeg has every encoder used here; only libx264 is a build option elsewhere.
    if (std::string(c.encoder) == "libx264") GTEST_SKIP() << "ffmpeg has no libx264";
    FAIL() << "ffmpeg has no " << c.encoder << " encoder";
  }
  TempDir dir;
  const std::string path = dir.File(std::string(c.name) + ".avi");
  ASSERT_TRUE(MakeFfmpegClip(path, c.width, c.height, c.frames, c.args));
  const std::vector<std::vector<uint8_t>> expected = FfmpegFrames(path, c.width, c.height);
  ASSERT_EQ(expected.size(), static_cast<size_t>(c.frames));

  MessageRecorder messages;
  {
    classBMPAVI source;
    ASSERT_EQ(source.GetEnable(path), kFalse);
    EXPECT_TRUE(messages.messages().empty());
    ASSERT_EQ(source.biWidth(), c.width);
    ASSERT_EQ(source.biHeight(), c.height);
    ASSERT_EQ(Peek(source).DIBBits().size(), static_cast<size_t>(Stride(c.width) * c.height));
    ASSERT_EQ(source.GetFrameMax(), c.frames - 1);
    AVISTREAMINFO info;
    ASSERT_EQ(AVIStreamInfo(Peek(source).Stream(), &info, sizeof info), AVIERR_OK);
    EXPECT_STREQ(info.szName, c.codec);

    EXPECT_TRUE(SameDib(expected[0], Peek(source).DIBBits(), c.width, c.height)) << "at open";
    int failures = 0;
    for (int p = 0; p < c.frames && failures < 5; ++p) {
      source.GetDIBAVI(p);
      if (!SameDib(expected[p], Peek(source).DIBBits(), c.width, c.height)) {
        ++failures;
        ADD_FAILURE() << "position " << p << " in order: "
                      << SameDib(expected[p], Peek(source).DIBBits(), c.width, c.height).message();
      }
    }
    for (int p : c.jumps) {
      source.GetDIBAVI(p);
      EXPECT_TRUE(SameDib(expected[p], Peek(source).DIBBits(), c.width, c.height))
          << "jump to " << p;
    }
  }
  // A fresh instance whose first move is a jump, so no earlier decoding helps it.
  for (int p : c.jumps) {
    classBMPAVI source;
    ASSERT_EQ(source.GetEnable(path), kFalse);
    source.GetDIBAVI(p);
    EXPECT_TRUE(SameDib(expected[p], Peek(source).DIBBits(), c.width, c.height))
        << "first jump to " << p;
    if (p + 1 < c.frames) {
      source.GetDIBAVI(p + 1);
      EXPECT_TRUE(SameDib(expected[p + 1], Peek(source).DIBBits(), c.width, c.height))
          << "step after the first jump to " << p;
    }
  }
  EXPECT_TRUE(messages.messages().empty());
}

// The MPEG-4 clip has keyframes in packets 0, 250 and 499; the two B-frames after each of the
// later ones are shown before it (an open GOP), so positions 250, 251 and 499, 500 need the GOP
// before. The H.264 clips have keyframes every 50 frames.
const std::vector<int> kLongGop = {300, 260, 252, 251, 250, 249, 248, 0,   559, 558, 501, 500,
                                   499, 498, 10,  11,  12,  5,   259, 250, 499, 251, 400, 2};
const std::vector<int> kH264 = {120, 99, 100, 101, 50, 49, 0, 149, 148, 75, 30, 31, 51, 100};

INSTANTIATE_TEST_SUITE_P(
    Ffmpeg, Codec,
    ::testing::Values(
        CodecCase{"dv",
                  "dvvideo",
                  720,
                  480,
                  8,
                  {"-c:v", "dvvideo", "-pix_fmt", "yuv411p"},
                  {7, 0, 4, 3, 6},
                  "dvvideo"},
        CodecCase{
            "mjpeg", "mjpeg", 322, 242, 16, {"-c:v", "mjpeg", "-q:v", "4"}, {15, 1, 8, 7}, "mjpeg"},
        CodecCase{"huffyuv", "huffyuv", 322, 240, 10, {"-c:v", "huffyuv"}, {9, 0, 5}, "huffyuv"},
        CodecCase{"huffyuv_rgb",
                  "huffyuv",
                  322,
                  240,
                  6,
                  {"-c:v", "huffyuv", "-pix_fmt", "rgb24"},
                  {5, 0, 3},
                  "huffyuv"},
        CodecCase{"mpeg4",
                  "mpeg4",
                  174,
                  144,
                  560,
                  {"-c:v", "mpeg4", "-bf", "2", "-g", "250"},
                  kLongGop,
                  "mpeg4"},
        CodecCase{"h264",
                  "libx264",
                  176,
                  144,
                  150,
                  {"-c:v", "libx264", "-preset", "veryfast", "-bf", "3", "-g", "50", "-pix_fmt",
                   "yuv420p"},
                  kH264,
                  "h264"},
        CodecCase{"h264_open_gop",
                  "libx264",
                  176,
                  144,
                  150,
                  {"-c:v", "libx264", "-preset", "veryfast", "-bf", "3", "-g", "50", "-pix_fmt",
                   "yuv420p", "-x264-params", "open-gop=1"},
                  kH264,
                  "h264"},
        CodecCase{"msvideo1",
                  "msvideo1",
                  160,
                  120,
                  20,
                  {"-c:v", "msvideo1", "-g", "6"},
                  {19, 5, 6, 7, 0, 13, 12},
                  "msvideo1"},
        CodecCase{"cinepak",
                  "cinepak",
                  160,
                  120,
                  12,
                  {"-c:v", "cinepak", "-g", "5"},
                  {11, 4, 5, 6, 0, 9},
                  "cinepak"}),
    CaseName);

}  // namespace

TEST(CodecWithoutIndex, LongGopCaptureWithItsIndexCutOff) {
  // Without idx1 nothing tells which packets are keyframes: every jump decodes from the start,
  // and B-frames must still come out in their places.
  ASSERT_TRUE(Ffmpeg({"-version"}));
  TempDir dir;
  const std::string path = dir.File("mpeg4.avi");
  ASSERT_TRUE(MakeFfmpegClip(path, 174, 144, 300, {"-c:v", "mpeg4", "-bf", "2", "-g", "100"}));
  const std::vector<std::vector<uint8_t>> expected = FfmpegFrames(path, 174, 144);
  ASSERT_EQ(expected.size(), 300u);
  std::vector<uint8_t> bytes = ReadFile(path);
  const std::string text(bytes.begin(), bytes.end());
  const size_t idx1 = text.rfind("idx1");
  ASSERT_NE(idx1, std::string::npos);
  ASSERT_EQ(bytes.size(), idx1 + 8 + 16 * 300) << "idx1 is the last chunk";
  bytes.resize(idx1);
  WriteFile(path, bytes);

  classBMPAVI source;
  ASSERT_EQ(source.GetEnable(path), kFalse);
  ASSERT_EQ(source.GetFrameMax(), 299);
  for (int p : {150, 101, 100, 99, 98, 0, 299, 298, 200, 201, 202, 203, 250, 7}) {
    source.GetDIBAVI(p);
    EXPECT_TRUE(SameDib(expected[p], Peek(source).DIBBits(), 174, 144)) << "jump to " << p;
  }
  for (int p = 0; p < 300; ++p) {
    source.GetDIBAVI(p);
    ASSERT_TRUE(SameDib(expected[p], Peek(source).DIBBits(), 174, 144)) << "position " << p;
  }
}
