// Type-1 DV files (one 'iavs' stream of whole DV frames with their audio, a DVINFO format) made by
// our writer from frames the ffmpeg command encodes: in every layout, each position must be the
// picture ffmpeg decodes from the same DV frames, and the saved BMP that picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <sstream>

#include "classBMPAVI.h"
#include "sourceprobe.h"
#include "testutil.h"

using namespace testutil;

namespace {

struct Layout {
  const char* name;
  bool pal;  // 625-50 (720 x 576, 144,000-byte frames), else 525-60 (720 x 480, 120,000)
  AviWriterOptions::Index index;
  bool audioFirst;
  const char* handler;  // "" = none at all
  std::vector<int> dropped;
};

void PrintTo(const Layout& l, std::ostream* os) {
  *os << l.name;
}

class DvType1 : public ::testing::TestWithParam<Layout> {};

TEST_P(DvType1, EveryPositionIsWhatFfmpegDecodesFromTheDvFrames) {
  const Layout& l = GetParam();
  const int width = 720, height = l.pal ? 576 : 480, frameBytes = l.pal ? 144000 : 120000;
  TempDir dir;
  const std::string dv = dir.File("frames.dv"), avi = dir.File("type1.avi");
  // With audio in, the frames carry audio DIF blocks as captures do.
  std::istringstream words(std::string("-f lavfi -i testsrc2=size=") +
                           (l.pal ? "720x576:rate=25" : "720x480:rate=30000/1001") +
                           " -f lavfi -i sine=sample_rate=48000 -t 0.4 -c:v dvvideo -pix_fmt " +
                           (l.pal ? "yuv420p" : "yuv411p") + " -ac 2 -c:a pcm_s16le -f dv");
  std::vector<std::string> args{std::istream_iterator<std::string>(words), {}};
  args.push_back(dv);
  ASSERT_TRUE(Ffmpeg(args));
  const std::vector<uint8_t> bytes = ReadFile(dv);
  const std::vector<std::vector<uint8_t>> decoded = FfmpegFrames(dv, width, height);
  const int frames = static_cast<int>(bytes.size() / frameBytes);
  ASSERT_GE(frames, 8);
  ASSERT_EQ(decoded.size(), static_cast<size_t>(frames));

  AviWriterOptions options;
  options.dvType1 = true;
  options.index = l.index;
  options.audioFirst = l.audioFirst;
  options.riffLimit = 3 * frameBytes;         // OpenDML: several AVIX RIFFs
  options.width = 720, options.height = 480;  // avih as a careless writer leaves it
  if (*l.handler)
    options.fccHandler = MakeFourCC(l.handler[0], l.handler[1], l.handler[2], l.handler[3]);
  auto dropped = [&](int f) { return std::count(l.dropped.begin(), l.dropped.end(), f) > 0; };
  int first = 0;
  while (dropped(first)) ++first;
  // A dropped frame shows the one before; dropped first frames show the first one written.
  std::vector<std::vector<uint8_t>> expected;
  {
    AviWriter w(avi, AviWriter::DvInfo({bytes.begin(), bytes.begin() + frameBytes}), options);
    for (int f = 0; f < frames; ++f) {
      if (l.audioFirst) w.AddAudio(6400);
      const auto at = bytes.begin() + static_cast<ptrdiff_t>(f) * frameBytes;
      w.AddFrame(dropped(f) ? std::vector<uint8_t>{} : std::vector<uint8_t>(at, at + frameBytes));
      expected.push_back(f < first ? decoded[first] : dropped(f) ? expected.back() : decoded[f]);
    }
    ASSERT_TRUE(w.Close());
  }
  if (!*l.handler) {  // no handler: the strh's is zeroed after the type
    std::vector<uint8_t> file = ReadFile(avi);
    const std::string text(file.begin(), file.end());
    std::fill_n(file.begin() + static_cast<ptrdiff_t>(text.find("iavsdvsd") + 4), 4, 0);
    WriteFile(avi, file);
  }

  MessageRecorder messages;
  classBMPAVI source;
  ASSERT_EQ(source.GetEnable(avi), kFalse);
  EXPECT_TRUE(messages.messages().empty());
  ASSERT_EQ(source.biWidth(), width);
  ASSERT_EQ(source.biHeight(), height);
  ASSERT_EQ(source.FrameCount(), frames);
  AVISTREAMINFO info;
  ASSERT_EQ(AVIStreamInfo(Peek(source).Stream(), &info, sizeof info), AVIERR_OK);
  EXPECT_STREQ(info.szName, "dvvideo");
  EXPECT_EQ(info.width, width);
  EXPECT_TRUE(SameDib(expected[0], Peek(source).DIBBits(), width, height)) << "at open";
  // Forwards, then backwards: every fetch is a jump for the second pass.
  for (int i = 0; i < 2 * frames; ++i) {
    const int p = i < frames ? i : 2 * frames - 1 - i;
    source.GetDIBAVI(p);
    EXPECT_TRUE(SameDib(expected[p], Peek(source).DIBBits(), width, height)) << "position " << p;
  }
  ASSERT_EQ(source.WriteToBMPFile(dir.File("saved.bmp")), kTrue);
  EXPECT_EQ(ReadFile(dir.File("saved.bmp")), BmpFile(expected[0], width, height));
}

using Index = AviWriterOptions::Index;
INSTANTIATE_TEST_SUITE_P(
    Layouts, DvType1,
    ::testing::Values(Layout{"ntsc_idx1", false, Index::kIdx1, false, "dvsd", {}},
                      Layout{"ntsc_no_index", false, Index::kNone, false, "dvsl", {0, 4}},
                      Layout{"ntsc_opendml_audio_first", false, Index::kOpenDml, true, "dvhd", {5}},
                      Layout{"pal_idx1_audio_first", true, Index::kIdx1, true, "", {3}},
                      Layout{"pal_no_index", true, Index::kNone, false, "dv25", {}}),
    [](const ::testing::TestParamInfo<Layout>& info) { return std::string(info.param.name); });

}  // namespace

TEST(DvType1Damaged, NoDvHeaderAndNoSizeIsNoDecodableStream) {
  // Nothing tells the picture's size: neither a packet's DIF header nor avih.
  TempDir dir;
  const std::string avi = dir.File("not-dv.avi");
  AviWriterOptions options;
  options.dvType1 = true;
  {
    AviWriter w(avi, std::vector<uint8_t>(32, 0), options);
    for (int f = 0; f < 3; ++f) w.AddFrame(std::vector<uint8_t>(120000, 0xFF));
    ASSERT_TRUE(w.Close());
  }
  MessageRecorder messages;
  classBMPAVI source;
  EXPECT_EQ(source.GetEnable(avi), kTrue);
  EXPECT_EQ(messages.messages(), std::vector<std::string>{kMsgNoDecoder});
  EXPECT_FALSE(Peek(source).IsOpen());
}
