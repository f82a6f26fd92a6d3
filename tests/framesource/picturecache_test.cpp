// Steps back through long GOPs are served from the pictures kept on the way: links the AVI
// library's internals on purpose, for a budget of a few pictures.
#include "picturecache.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "avifile.h"
#include "testutil.h"

using namespace testutil;

namespace {

// Every position of the file walked backward from the last, then forward from the first, through
// the AVI library: each must be the picture ffmpeg decodes for it.
void ExpectWalks(const std::string& path, const std::vector<std::vector<uint8_t>>& expected,
                 int width, int height, const std::string& what) {
  AVIFileInit();
  PAVIFILE file = nullptr;
  PAVISTREAM stream = nullptr;
  ASSERT_EQ(AVIFileOpen(&file, path.c_str(), OF_READ, nullptr), AVIERR_OK);
  ASSERT_EQ(AVIFileGetStream(file, &stream, streamtypeVIDEO, 0), AVIERR_OK);
  PGETFRAME frames = AVIStreamGetFrameOpen(stream, nullptr);
  ASSERT_NE(frames, nullptr);
  const int last = static_cast<int>(expected.size()) - 1;
  std::vector<int> walk;
  for (int p = last; p >= 0; --p) walk.push_back(p);
  for (int p = 0; p <= last; ++p) walk.push_back(p);
  int failures = 0;
  for (size_t i = 0; i < walk.size() && failures < 5; ++i) {
    const int p = walk[i];
    const auto* dib = static_cast<const uint8_t*>(AVIStreamGetFrame(frames, p));
    ASSERT_NE(dib, nullptr);
    const std::vector<uint8_t> pixels(dib + 40, dib + 40 + expected[p].size());
    ::testing::AssertionResult same = SameDib(expected[p], pixels, width, height);
    if (!same || !AVIStreamFrameDecoded(frames)) {
      ++failures;
      ADD_FAILURE() << what << (i <= static_cast<size_t>(last) ? ", back to " : ", forward to ")
                    << p << ": " << same.message();
    }
  }
  AVIStreamGetFrameClose(frames);
  AVIStreamRelease(stream);
  AVIFileRelease(file);
  AVIFileExit();
}

}  // namespace

// B-frames shown before their keyframe (open GOPs): MPEG-4 part 2, whose keyframes tell how many
// there are, and H.264 with recovery-point keyframes, which do not. With the whole file within
// the budget each GOP is decoded once; with a budget of a few pictures every few steps back
// decode from the keyframe again, keeping the pictures nearest the step.
TEST(PictureCache, BackwardWalkShowsWhatFfmpegDecodes) {
  ASSERT_TRUE(Ffmpeg({"-version"}));
  TempDir dir;
  struct Clip {
    const char* name;
    std::vector<std::string> codec;
  };
  std::vector<Clip> clips = {{"mpeg4", {"-c:v", "mpeg4", "-bf", "2", "-g", "50"}}};
  if (HasEncoder("libx264"))
    clips.push_back({"h264",
                     {"-c:v", "libx264", "-preset", "veryfast", "-bf", "3", "-g", "40", "-pix_fmt",
                      "yuv420p", "-x264-params", "open-gop=1"}});
  constexpr int kWidth = 176, kHeight = 144, kFrames = 130;
  for (const Clip& clip : clips) {
    const std::string path = dir.File(std::string(clip.name) + ".avi");
    ASSERT_TRUE(MakeFfmpegClip(path, kWidth, kHeight, kFrames, clip.codec));
    const std::vector<std::vector<uint8_t>> expected = FfmpegFrames(path, kWidth, kHeight);
    ASSERT_EQ(expected.size(), static_cast<size_t>(kFrames));
    for (size_t budget : {size_t{0}, size_t{200} << 10}) {
      SetPictureCacheBudgetForTesting(budget);
      ExpectWalks(path, expected, kWidth, kHeight,
                  std::string(clip.name) + (budget ? " in a small budget" : ""));
    }
    SetPictureCacheBudgetForTesting(0);
  }
}
