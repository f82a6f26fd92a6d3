// The AVI library's track, from inside: links its internals on purpose.
#include <gtest/gtest.h>

#include "avicontainer.h"
#include "avitrack.h"
#include "bitstream.h"
#include "streamformat.h"
#include "testutil.h"

using namespace testutil;

namespace {

struct Parsed {
  FileReader file;
  AviContainer container;
  explicit Parsed(const std::string& path) {
    EXPECT_TRUE(file.Open(path));
    EXPECT_EQ(ParseAviFile(file, &container), AVIERR_OK);
  }
};

}  // namespace

// Where the index was rebuilt, the keyframes a track verifies from the bitstream are those the
// writer's index flags: over MPEG-4 part 2 and H.264, with and without B-frames.
TEST(Track, KeyframesVerifiedFromTheBitstreamAreTheIndexedOnes) {
  TempDir dir;
  struct Clip {
    const char* name;
    AVCodecID id;
    std::vector<std::string> codec;
  };
  const Clip clips[] = {
      {"mpeg4", AV_CODEC_ID_MPEG4, {"-c:v", "mpeg4", "-g", "7", "-bf", "2"}},
      {"h264", AV_CODEC_ID_H264, {"-c:v", "libx264", "-g", "7", "-bf", "0"}},
      {"h264-b", AV_CODEC_ID_H264, {"-c:v", "libx264", "-g", "9", "-bf", "2"}},
  };
  for (const Clip& c : clips) {
    SCOPED_TRACE(c.name);
    const std::string indexed = dir.File(std::string(c.name) + ".avi");
    const std::string rebuilt = dir.File(std::string(c.name) + "-noindex.avi");
    ASSERT_TRUE(MakeFfmpegClip(indexed, 64, 48, 40, c.codec));
    std::vector<uint8_t> bytes = ReadFile(indexed);
    const std::string text(bytes.begin(), bytes.end());
    bytes.resize(text.rfind("idx1"));  // a capture cut off before its index
    WriteFile(rebuilt, bytes);

    Parsed a(indexed), b(rebuilt);
    const AviStreamData& flagged = a.container.streams.at(0);
    const AviStreamData& scanned = b.container.streams.at(0);
    ASSERT_TRUE(flagged.keyframesKnown);
    ASSERT_FALSE(scanned.keyframesKnown);
    const std::optional<StreamFormat> format = ReadStreamFormat(scanned.format);
    ASSERT_TRUE(format);
    const std::vector<uint8_t> codecData(scanned.format.begin() + format->codecDataFrom,
                                         scanned.format.begin() + format->codecDataTo);
    AviTrack byIndex(a.file, flagged, 0, nullptr);
    byIndex.SetKeyframes(false, nullptr);
    AviTrack verified(b.file, scanned, 0, nullptr);
    verified.SetKeyframes(false, KeyframeTest(c.id, codecData, 64, 48, 24));

    ASSERT_EQ(verified.PacketCount(), byIndex.PacketCount());
    const int32_t last = byIndex.PacketCount() - 1;
    EXPECT_GE(byIndex.KeyAtOrBefore(last), 28) << "keyframes all along the clip";
    for (int32_t p = last; p >= 0; --p) {  // backwards, as a seek asks them
      const int32_t key = byIndex.KeyAtOrBefore(p);
      EXPECT_EQ(verified.KeyAtOrBefore(p), key) << "packet " << p;
      EXPECT_EQ(verified.KeyBefore(key), byIndex.KeyBefore(key)) << "key " << key;
    }
  }
}
