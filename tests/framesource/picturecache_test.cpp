// Steps back through long GOPs are served from the pictures kept on the way: links the AVI
// library's internals on purpose, for a budget of a few pictures.
#include "picturecache.h"

#include <gtest/gtest.h>

#include "avifile.h"
#include "openvideo.h"
#include "testutil.h"

using namespace testutil;

// B-frames shown before their keyframe (open GOPs): MPEG-4 part 2, whose keyframes tell how many
// there are, and H.264 with recovery-point keyframes, which do not. Every position walked back
// from the last, then forward from the first, is ffmpeg's picture: with the whole file within
// the budget, and with a few pictures' worth, where every few steps back decode again.
TEST(PictureCache, BackwardWalkShowsWhatFfmpegDecodes) {
  ASSERT_TRUE(Ffmpeg({"-version"}));
  TempDir dir;
  // Without libx264 the H.264 clip is not made, and the test fails with ffmpeg's reason.
  const std::vector<std::pair<std::string, std::vector<std::string>>> clips = {
      {"mpeg4", {"-c:v", "mpeg4", "-bf", "2", "-g", "50"}},
      {"h264",
       {"-c:v", "libx264", "-preset", "veryfast", "-bf", "3", "-g", "40", "-pix_fmt", "yuv420p",
        "-x264-params", "open-gop=1"}}};
  constexpr int kWidth = 176, kHeight = 144, kFrames = 130;
  for (const auto& [name, codec] : clips) {
    const std::string path = dir.File(name + ".avi");
    ASSERT_TRUE(MakeFfmpegClip(path, kWidth, kHeight, kFrames, codec));
    const std::vector<std::vector<uint8_t>> expected = FfmpegFrames(path, kWidth, kHeight);
    ASSERT_EQ(expected.size(), static_cast<size_t>(kFrames));
    for (size_t budget : {size_t{0}, size_t{200} << 10}) {
      SetPictureCacheBudgetForTesting(budget);
      OpenVideo video(path);
      ASSERT_TRUE(video.ok());
      PGETFRAME frames = video.frames;
      for (int i = 0, failures = 0; i < 2 * kFrames && failures < 5; ++i) {
        const int p = i < kFrames ? kFrames - 1 - i : i - kFrames;
        const auto* dib = static_cast<const uint8_t*>(AVIStreamGetFrame(frames, p));
        ASSERT_NE(dib, nullptr);
        ::testing::AssertionResult same =
            SameDib(expected[p], {dib + 40, dib + 40 + expected[p].size()}, kWidth, kHeight);
        if (!same || !AVIStreamFrameDecoded(frames)) {
          ++failures;
          ADD_FAILURE() << name << (budget ? " in a small budget" : "")
                        << (i < kFrames ? ", back to " : ", forward to ") << p << ": "
                        << same.message();
        }
      }
    }
    SetPictureCacheBudgetForTesting(0);
  }
}
