// One small file per video encoder of the ffmpeg command that writes AVI, and copies under the
// FourCCs capture tools write: each must open and show, at every position, ffmpeg's picture.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classBMPAVI.h"
#include "sourceprobe.h"
#include "suitefiles.h"
#include "testutil.h"

using namespace testutil;

namespace {
constexpr int kFrames = 3;
}  // namespace

TEST(CodecSurvey, EveryEncoderOfFfmpegThatWritesAviShowsWhatFfmpegDecodes) {
  ASSERT_TRUE(Ffmpeg({"-version"}));
  TempDir dir;
  std::string skipped, faults;
  std::vector<EncodedFile> files = MakeEncoderFiles(dir, kFrames, "", &skipped);
  for (EncodedFile& f : files)
    if (!f.fault.empty()) faults += std::string(" ") + f.c->name + " (not made: " + f.fault + ")";
  auto reference = [&](const EncodedFile& f) { return f.original + ".bgr"; };  // ffmpeg's pictures
  std::vector<std::string> inputs, outputs;
  for (const EncodedFile& f : files) {
    if (!f.fault.empty() || (f.c->flags & kNothingDecodes)) continue;
    const bool own = f.c->flags & kOriginal;
    const std::vector<std::string> out = {"-map",      std::to_string(inputs.size() / 2) + ":v:0",
                                          "-fps_mode", "passthrough",
                                          "-f",        "rawvideo",
                                          "-pix_fmt",  "bgr24",
                                          reference(f)};
    inputs.insert(inputs.end(), {"-i", own ? f.original : f.path});
    outputs.insert(outputs.end(), out.begin(), out.end());
  }
  inputs.insert(inputs.end(), outputs.begin(), outputs.end());
  const bool decoded = Ffmpeg(inputs);

  int opened = 0, matched = 0, refused = 0, made = 0;
  for (const EncodedFile& f : files) {
    const EncoderCase& c = *f.c;
    SCOPED_TRACE(c.name);
    if (!f.fault.empty()) continue;
    ++made;
    MessageRecorder messages;
    classBMPAVI source;
    if (c.flags & kNothingDecodes) {
      EXPECT_EQ(source.GetEnable(f.path), kTrue);
      EXPECT_EQ(messages.messages(), std::vector<std::string>{kMsgNoDecoder});
      ++refused;
      continue;
    }
    if (source.GetEnable(f.path) != kFalse) {
      faults += std::string(" ") + c.name + " (does not open)";
      continue;
    }
    ++opened;
    const std::vector<std::vector<uint8_t>> expected =
        decoded ? DibsOfBgr24(ReadFile(reference(f)), c.width, c.height)
                : FfmpegFrames(c.flags & kOriginal ? f.original : f.path, c.width, c.height);
    if (expected.size() != kFrames || source.GetFrameMax() != kFrames - 1) {
      faults += std::string(" ") + c.name + " (not " + std::to_string(kFrames) + " pictures)";
      continue;
    }
    // In order, then back to the start.
    bool same = true;
    for (int p : {0, 1, 2, 0}) {
      source.GetDIBAVI(p);
      ::testing::AssertionResult r =
          SameDib(expected[p], Peek(source).DIBBits(), c.width, c.height, c.tolerance);
      if (!r && same)
        faults += std::string(" ") + c.name + " (position " + std::to_string(p) + ": " +
                  r.message() + ")";
      same = same && r;
    }
    matched += same;
    EXPECT_TRUE(messages.messages().empty());
  }
  std::printf(
      "codec survey: %d files, %d open, %d match ffmpeg, %d refused as nothing decodes "
      "them; encoders missing:%s\n",
      made, opened, matched, refused, skipped.empty() ? " none" : skipped.c_str());
  // Debian 12's ffmpeg 5.1 writes 119: a machine whose ffmpeg lacks encoders checks too little.
  EXPECT_GE(made, 115) << "too few encoders; missing:" << skipped;
  EXPECT_TRUE(faults.empty()) << "not as ffmpeg:" << faults;
}
