// classBMPAVI itself: opening and its failures, the library's use count, the frame count, field
// separation, painting on a device context and the BMP writer.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstring>
#include <random>

#include "checked.h"
#include "classBMPAVI.h"
#include "devicecontext.h"
#include "gdi.h"
#include "positions.h"
#include "sourceprobe.h"
#include "testutil.h"

using namespace testutil;

namespace {

std::vector<uint8_t> Row(const std::vector<uint8_t>& dib, int width, int row) {
  auto begin = dib.begin() + static_cast<ptrdiff_t>(row) * Stride(width);
  return {begin, begin + width * 3};
}

// The surface's pixel for a DIB pixel (0x00RRGGBB).
uint32_t Rgb(const std::vector<uint8_t>& dib, int width, int row, int x) {
  const uint8_t* p = dib.data() + static_cast<size_t>(row) * Stride(width) + 3 * x;
  return uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}

// Files every test here can use, made once.
class Clips : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    WritePatternClip(Path("720x480"), 720, 480, 4);
    WritePatternClip(Path("721x5"), 721, 5, 2);
    WritePatternClip(Path("320x240"), 320, 240, 2);
    AviWriter unknown(Path("unknown"),
                      AviWriter::Format(64, 48, 24, MakeFourCC('Z', 'Z', 'Z', 'Z')));
    unknown.AddFrame(std::vector<uint8_t>(100, 1));
    unknown.Close();
    // A known codec whose first frame is not a picture: as good as no decoder.
    AviWriter noise(Path("noise"), AviWriter::Format(64, 48, 24, MakeFourCC('M', 'J', 'P', 'G')));
    noise.AddFrame(std::vector<uint8_t>(100, 1));
    noise.Close();
    AviWriter empty(Path("empty"), AviWriter::Format(64, 48, 24));
    empty.Close();
    WriteFile(Path("text"), {'n', 'o', 't', ' ', 'a', 'v', 'i', '\n'});
    WriteFile(Path("zero"), {});
    std::vector<uint8_t> wave(44, 0);
    std::memcpy(wave.data(), "RIFF\x24\0\0\0WAVEfmt ", 16);
    WriteFile(Path("wave"), wave);
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static std::string Path(const std::string& name) { return dir_->File(name + ".avi"); }

  static TempDir* dir_;
};
TempDir* Clips::dir_ = nullptr;

}  // namespace

TEST_F(Clips, NewInstanceHoldsTheRequestOnly) {
  const int uses = AVIFileUseCount();
  classBMPAVI source;
  EXPECT_EQ(source.biWidth(), 0);
  EXPECT_EQ(source.biHeight(), 0);
  EXPECT_EQ(Peek(source).InfoHeader().biSize, 40u);
  EXPECT_EQ(Peek(source).InfoHeader().biPlanes, 1);
  EXPECT_EQ(Peek(source).InfoHeader().biBitCount, 24);
  EXPECT_EQ(Peek(source).InfoHeader().biCompression, BI_RGB);
  EXPECT_TRUE(Peek(source).DIBBits().empty());
  EXPECT_TRUE(Peek(source).InfoHeaderBytes().empty());
  EXPECT_FALSE(Peek(source).IsOpen());
  EXPECT_EQ(AVIFileUseCount(), uses);  // creation calls nothing
}

TEST_F(Clips, OpenLoadsFrameZeroAndTheHeaders) {
  classBMPAVI source;
  ASSERT_EQ(source.GetEnable(Path("720x480")), kFalse);
  EXPECT_EQ(Peek(source).FileName(), Path("720x480"));
  EXPECT_EQ(source.biWidth(), 720);
  EXPECT_EQ(source.biHeight(), 480);
  EXPECT_EQ(Peek(source).InfoHeader().biBitCount, 24);
  EXPECT_EQ(Peek(source).InfoHeader().biSizeImage, 1036800u);
  EXPECT_EQ(Peek(source).DIBBits(), Pattern(720, 480, 0));
  ASSERT_EQ(Peek(source).InfoHeaderBytes().size(), 40u);
  EXPECT_EQ(std::memcmp(Peek(source).InfoHeaderBytes().data(), &Peek(source).InfoHeader(), 40), 0);
  const BITMAPFILEHEADER& f = Peek(source).FileHeader();
  EXPECT_EQ(std::string(f.bfType, 2), "BM");
  EXPECT_EQ(f.bfSize, 1036854u);
  EXPECT_EQ(f.bfReserved1, 0);
  EXPECT_EQ(f.bfReserved2, 0);
  EXPECT_EQ(f.bfOffBits, 54u);
  source.GetDIBAVI(0);  // the same picture again
  EXPECT_EQ(Peek(source).DIBBits(), Pattern(720, 480, 0));
  source.GetDIBAVI(3);
  EXPECT_EQ(Peek(source).DIBBits(), Pattern(720, 480, 3));

  // A later open of a stream of another size delivers that stream at its own size.
  ASSERT_EQ(source.GetEnable(Path("320x240")), kFalse);
  EXPECT_EQ(source.biWidth(), 320);
  EXPECT_EQ(source.biHeight(), 240);
  EXPECT_EQ(Peek(source).DIBBits(), Pattern(320, 240, 0));
  EXPECT_EQ(Peek(source).FileHeader().bfSize, 54u + 960 * 240);
}

TEST_F(Clips, EachFailedOpenShowsItsMessageOnce) {
  struct Case {
    std::string path;
    const char* message;
  };
  const Case cases[] = {
      {dir_->File("missing.avi"), kMsgNoStream},
      {Path("text"), kMsgNoStream},
      {Path("zero"), kMsgNoStream},
      {Path("wave"), kMsgNoStream},
      {dir_->path(), kMsgNoStream},
      {Path("unknown"), kMsgNoDecoder},
      {Path("noise"), kMsgNoDecoder},
      {Path("empty"), kMsgNoDecoder},
  };
  MessageRecorder messages;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    classBMPAVI source;
    EXPECT_EQ(source.GetEnable(c.path), kTrue);
    EXPECT_EQ(messages.messages(), std::vector<std::string>{c.message});
    EXPECT_EQ(Peek(source).FileName(), c.path);  // kept even when the open fails
    EXPECT_FALSE(Peek(source).IsOpen());
    EXPECT_EQ(Peek(source).Stream(), nullptr);
    // Two failures in a row: two messages.
    EXPECT_EQ(source.GetEnable(c.path), kTrue);
    EXPECT_EQ(messages.messages(), (std::vector<std::string>{c.message, c.message}));
    messages.clear();
  }
}

TEST_F(Clips, AudioOnlyFileHasNoVideoStream) {
  TempDir dir;
  const std::string path = dir.File("audio.avi");
  ASSERT_TRUE(Ffmpeg({"-f", "lavfi", "-i", "sine=duration=0.2", "-c:a", "pcm_s16le", path}));
  MessageRecorder messages;
  classBMPAVI source;
  EXPECT_EQ(source.GetEnable(path), kTrue);
  EXPECT_EQ(messages.messages(), std::vector<std::string>{kMsgNoStream});
}

TEST_F(Clips, FailedOpenKeepsTheEarlierPicture) {
  MessageRecorder messages;
  const int uses = AVIFileUseCount();
  const int descriptors = OpenFileDescriptors();
  classBMPAVI source;
  ASSERT_EQ(source.GetEnable(Path("720x480")), kFalse);
  source.GetDIBAVI(2);
  source.SeparateDIB(1);
  const std::vector<uint8_t> picture = Peek(source).DIBBits();
  const std::vector<uint8_t> header = Peek(source).InfoHeaderBytes();
  const BITMAPFILEHEADER file = Peek(source).FileHeader();
  for (const std::string& bad : {dir_->File("missing.avi"), Path("unknown"), Path("text")}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(source.GetEnable(bad), kTrue);
    EXPECT_EQ(source.biWidth(), 720);
    EXPECT_EQ(source.biHeight(), 480);
    EXPECT_EQ(Peek(source).DIBBits(), picture);
    EXPECT_EQ(Peek(source).InfoHeaderBytes(), header);
    EXPECT_EQ(std::memcmp(&Peek(source).FileHeader(), &file, sizeof file), 0);
    // Nothing is held: no handle, no use of the library, no open file.
    EXPECT_FALSE(Peek(source).IsOpen());
    EXPECT_EQ(Peek(source).Stream(), nullptr);
    EXPECT_EQ(AVIFileUseCount(), uses);
    EXPECT_EQ(OpenFileDescriptors(), descriptors);
  }
  EXPECT_EQ(messages.messages().size(), 3u);
  // The earlier picture can still be painted and saved, and the earlier file opened again.
  DeviceContext dc(720, 500);
  EXPECT_EQ(source.PutToDC(&dc, 0, 20, 720, 480), 480);
  EXPECT_EQ(dc.pixel(5, 499), Rgb(picture, 720, 0, 5));
  TempDir out;
  EXPECT_EQ(source.WriteToBMPFile(out.File("kept.bmp")), kTrue);
  EXPECT_EQ(ReadFile(out.File("kept.bmp")), BmpFile(picture, 720, 480));
  ASSERT_EQ(source.GetEnable(Path("720x480")), kFalse);
  EXPECT_EQ(Peek(source).DIBBits(), Pattern(720, 480, 0));
}

TEST_F(Clips, UsesOfTheLibraryEndWithTheInstance) {
  MessageRecorder messages;
  // Another user of the library holds a use throughout: an end that no begin matched would take
  // its use away (at zero the library just ignores it).
  AVIFileInit();
  const int uses = AVIFileUseCount();
  const int descriptors = OpenFileDescriptors();
  { classBMPAVI never; }
  EXPECT_EQ(AVIFileUseCount(), uses) << "an instance that never opened";
  {
    classBMPAVI failed;
    failed.GetEnable(Path("unknown"));
    EXPECT_EQ(AVIFileUseCount(), uses);
  }
  EXPECT_EQ(AVIFileUseCount(), uses) << "an instance whose only open failed";
  {
    classBMPAVI thrice;
    for (int i = 0; i < 3; ++i) {
      ASSERT_EQ(thrice.GetEnable(Path("721x5")), kFalse);
      EXPECT_EQ(AVIFileUseCount(), uses + 1);  // one use, one file held
      EXPECT_EQ(OpenFileDescriptors(), descriptors + 1);
    }
    thrice.GetDIBAVI(1);
    EXPECT_EQ(Peek(thrice).DIBBits(), Pattern(721, 5, 1));
    classBMPAVI second;
    ASSERT_EQ(second.GetEnable(Path("721x5")), kFalse);
    EXPECT_EQ(AVIFileUseCount(), uses + 2);
  }
  EXPECT_EQ(AVIFileUseCount(), uses) << "two open instances";
  EXPECT_EQ(OpenFileDescriptors(), descriptors);
  {
    classBMPAVI lastFailed;
    ASSERT_EQ(lastFailed.GetEnable(Path("721x5")), kFalse);
    lastFailed.GetEnable(Path("text"));
    EXPECT_EQ(AVIFileUseCount(), uses);
  }
  EXPECT_EQ(AVIFileUseCount(), uses) << "an instance whose last open failed";
  EXPECT_EQ(OpenFileDescriptors(), descriptors);
  {
    // An error that escapes an open before any handle is held (here from the message box)
    // ends that open's use too, so the next open on the instance begins just one.
    classBMPAVI interrupted;
    MessageBoxHandler recorder =
        SetMessageBoxHandler([](const std::string&) { throw std::runtime_error("box"); });
    EXPECT_THROW(interrupted.GetEnable(Path("text")), std::runtime_error);
    SetMessageBoxHandler(recorder);
    EXPECT_EQ(AVIFileUseCount(), uses);
    ASSERT_EQ(interrupted.GetEnable(Path("721x5")), kFalse);
    EXPECT_EQ(AVIFileUseCount(), uses + 1);
  }
  EXPECT_EQ(AVIFileUseCount(), uses) << "an instance whose open was interrupted";
  AVIFileExit();
}

TEST(FrameCount, LastFrameIndexIsThirtyTwoBit) {
  TempDir dir;
  classBMPAVI source;
  WritePatternClip(dir.File("one.avi"), 2, 2, 1);
  ASSERT_EQ(source.GetEnable(dir.File("one.avi")), kFalse);
  EXPECT_EQ(source.GetFrameMax(), 0);

  WritePatternClip(dir.File("32768.avi"), 2, 2, 32768);
  ASSERT_EQ(source.GetEnable(dir.File("32768.avi")), kFalse);
  EXPECT_EQ(source.GetFrameMax(), 32767);
  source.GetDIBAVI(32767);
  EXPECT_EQ(Peek(source).DIBBits(), Pattern(2, 2, 32767));
  source.GetDIBAVI(12345);
  EXPECT_EQ(Peek(source).DIBBits(), Pattern(2, 2, 12345));

  // One more: dropped frames count as positions, so this file is tiny.
  {
    AviWriter writer(dir.File("32769.avi"), AviWriter::Format(2, 2, 24));
    writer.AddFrame(Pattern(2, 2, 0));
    for (int i = 1; i < 32769; ++i) writer.AddFrame({});
    ASSERT_TRUE(writer.Close());
  }
  ASSERT_EQ(source.GetEnable(dir.File("32769.avi")), kFalse);
  EXPECT_EQ(AVIStreamLength(Peek(source).Stream()), 32769);
  EXPECT_EQ(source.GetFrameMax(), 32768);
  source.GetDIBAVI(32768);
  EXPECT_EQ(Peek(source).DIBBits(), Pattern(2, 2, 0));

  // Stand-ins for the longest stream the library can report: the 1/60 view numbers the first
  // 2^30 frames, without overflow.
  EXPECT_EQ(LastPosition(INT32_MAX - 1, true), INT32_MAX - 1);
  for (int32_t frameMax : {kFieldFrameMax, kFieldFrameMax + 1, INT32_MAX - 1})
    EXPECT_EQ(LastPosition(frameMax, false), INT32_MAX - 1);
}

// ---- SeparateDIB -------------------------------------------------------------------------------

TEST_F(Clips, SeparateFullFrameRows) {
  classBMPAVI source;
  ASSERT_EQ(source.GetEnable(Path("720x480")), kFalse);
  const std::vector<uint8_t> original = Pattern(720, 480, 0);

  EXPECT_EQ(source.SeparateDIB(0), kTrue);
  EXPECT_EQ(Peek(source).WorkLine(), 480);  // the working values stay with the object
  for (int k = 0; k < 240; ++k) {
    ASSERT_EQ(Row(Peek(source).DIBBits(), 720, 2 * k + 1), Row(original, 720, 2 * k)) << k;
    ASSERT_EQ(Row(Peek(source).DIBBits(), 720, 2 * k), Row(original, 720, 2 * k)) << k;
  }
  const std::vector<uint8_t> once = Peek(source).DIBBits();
  source.SeparateDIB(0);
  EXPECT_EQ(Peek(source).DIBBits(), once) << "twice is once";

  source.GetDIBAVI(1);
  const std::vector<uint8_t> frame1 = Pattern(720, 480, 1);
  EXPECT_EQ(Peek(source).DIBBits(), frame1);  // a fetch brings the whole frame back
  EXPECT_EQ(source.SeparateDIB(1), kTrue);
  EXPECT_EQ(Peek(source).WorkLine(), 479);
  for (int k = 1; k < 240; ++k) {
    ASSERT_EQ(Row(Peek(source).DIBBits(), 720, 2 * k), Row(frame1, 720, 2 * k - 1)) << k;
    ASSERT_EQ(Row(Peek(source).DIBBits(), 720, 2 * k - 1), Row(frame1, 720, 2 * k - 1)) << k;
  }
  EXPECT_EQ(Row(Peek(source).DIBBits(), 720, 0), Row(frame1, 720, 0));
  EXPECT_EQ(Row(Peek(source).DIBBits(), 720, 479), Row(frame1, 720, 479));
  std::vector<uint8_t> expected = frame1;
  SeparateRows(expected, 720, 480, 1);
  EXPECT_EQ(Peek(source).DIBBits(), expected);

  // A start row of 2 or more: the same pattern from there, the rows below it untouched.
  for (int16_t type : {2, 3, 477, 478, 479, 480, 32767}) {
    source.GetDIBAVI(2);
    expected = Pattern(720, 480, 2);
    SeparateRows(expected, 720, 480, type);
    EXPECT_EQ(source.SeparateDIB(type), kTrue) << type;
    EXPECT_EQ(Peek(source).DIBBits(), expected) << type;
  }
}

TEST_F(Clips, SeparateOddHeightsWidthsAndShortFrames) {
  classBMPAVI source;
  ASSERT_EQ(source.GetEnable(Path("721x5")), kFalse);
  EXPECT_EQ(Peek(source).DIBBits().size(), 2164u * 5);
  for (int16_t type : {0, 1}) {
    source.GetDIBAVI(1);
    std::vector<uint8_t> expected = Pattern(721, 5, 1);
    SeparateRows(expected, 721, 5, type);  // pixel bytes only: every fill byte as in the file
    EXPECT_EQ(source.SeparateDIB(type), kTrue);
    EXPECT_EQ(Peek(source).DIBBits(), expected) << "type " << type;
  }
  // Type 0 leaves the top row (row 4), type 1 the bottom row (row 0).
  source.GetDIBAVI(0);
  source.SeparateDIB(0);
  EXPECT_EQ(Row(Peek(source).DIBBits(), 721, 4), Row(Pattern(721, 5, 0), 721, 4));
  source.GetDIBAVI(0);
  source.SeparateDIB(1);
  EXPECT_EQ(Row(Peek(source).DIBBits(), 721, 0), Row(Pattern(721, 5, 0), 721, 0));
  EXPECT_EQ(Row(Peek(source).DIBBits(), 721, 4), Row(Pattern(721, 5, 0), 721, 3));

  TempDir dir;
  WritePatternClip(dir.File("two.avi"), 9, 2, 1);
  WritePatternClip(dir.File("one-row.avi"), 9, 1, 1);
  ASSERT_EQ(source.GetEnable(dir.File("two.avi")), kFalse);
  source.SeparateDIB(1);
  EXPECT_EQ(Peek(source).DIBBits(), Pattern(9, 2, 0)) << "type 1 on two rows copies nothing";
  source.SeparateDIB(0);
  EXPECT_EQ(Row(Peek(source).DIBBits(), 9, 1), Row(Pattern(9, 2, 0), 9, 0));
  ASSERT_EQ(source.GetEnable(dir.File("one-row.avi")), kFalse);
  EXPECT_EQ(source.SeparateDIB(0), kTrue);
  EXPECT_EQ(Peek(source).DIBBits(), Pattern(9, 1, 0));
}

TEST_F(Clips, SeparateRejectsNegativeTypesAndDoesNothingBeforeAnOpen) {
  classBMPAVI never;
  EXPECT_EQ(never.SeparateDIB(0), kTrue);
  EXPECT_EQ(never.SeparateDIB(1), kTrue);
  EXPECT_TRUE(Peek(never).DIBBits().empty());

  classBMPAVI source;
  ASSERT_EQ(source.GetEnable(Path("721x5")), kFalse);
  for (int16_t type : {-1, -2, -32768}) {
    EXPECT_THROW(source.SeparateDIB(type), OutOfRangeError) << type;
    EXPECT_EQ(Peek(source).DIBBits(), Pattern(721, 5, 0)) << "the first step already fails";
  }
}

// ---- PutToDC -----------------------------------------------------------------------------------

TEST_F(Clips, PaintsTheFrameAtTheDestination) {
  classBMPAVI source;
  DeviceContext dc(720, 500);
  EXPECT_THROW(source.PutToDC(&dc, 0, 20, 720, 480), OutOfRangeError) << "nothing opened yet";

  ASSERT_EQ(source.GetEnable(Path("720x480")), kFalse);
  source.GetDIBAVI(1);
  const std::vector<uint8_t> frame = Pattern(720, 480, 1);
  dc.Fill(0x123456);
  EXPECT_EQ(source.PutToDC(&dc, 0, 20, 720, 480), 480);
  for (int y = 0; y < 20; ++y) ASSERT_EQ(dc.pixel(0, y), 0x123456u);
  for (int y = 20; y < 500; ++y)
    for (int x = 0; x < 720; ++x)
      ASSERT_EQ(dc.pixel(x, y), Rgb(frame, 720, 499 - y, x)) << x << "," << y;
  EXPECT_EQ(Peek(source).DIBBits(), frame);
  EXPECT_EQ(source.PutToDC(nullptr, 0, 20, 720, 480), 0) << "a failing paint";
}

TEST_F(Clips, PaintsOnlyWhatFitsTheExtentAndTheFrame) {
  TempDir dir;
  WritePatternClip(dir.File("800x600.avi"), 800, 600, 1);
  classBMPAVI source;

  // Larger than the extent: its lower-left 720 x 480.
  ASSERT_EQ(source.GetEnable(dir.File("800x600.avi")), kFalse);
  const std::vector<uint8_t> big = Pattern(800, 600, 0);
  DeviceContext dc(800, 600);
  dc.Fill(0xABCDEF);
  EXPECT_EQ(source.PutToDC(&dc, 0, 20, 720, 480), 480);
  for (int y = 0; y < 600; ++y)
    for (int x = 0; x < 800; ++x) {
      const bool inside = x < 720 && y >= 20 && y < 500;
      ASSERT_EQ(dc.pixel(x, y), inside ? Rgb(big, 800, 499 - y, x) : 0xABCDEFu) << x << "," << y;
    }

  // Smaller than the extent: at most its own rows and columns, at the bottom of the extent
  // (the DIB's origin is its lower-left corner).
  ASSERT_EQ(source.GetEnable(Path("320x240")), kFalse);
  const std::vector<uint8_t> small = Pattern(320, 240, 0);
  DeviceContext dc2(720, 500);
  dc2.Fill(0xABCDEF);
  EXPECT_EQ(source.PutToDC(&dc2, 0, 20, 720, 480), 240);
  for (int y = 260; y < 500; ++y)
    for (int x = 0; x < 320; ++x) ASSERT_EQ(dc2.pixel(x, y), Rgb(small, 320, 499 - y, x));
  for (int y = 0; y < 20; ++y) ASSERT_EQ(dc2.pixel(400, y), 0xABCDEFu);

  // Odd width: the fill byte is not a pixel.
  ASSERT_EQ(source.GetEnable(Path("721x5")), kFalse);
  DeviceContext dc3(721, 5);
  EXPECT_EQ(source.PutToDC(&dc3, 0, 0, 721, 5), 5);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 721; ++x)
      ASSERT_EQ(dc3.pixel(x, y), Rgb(Pattern(721, 5, 0), 721, 4 - y, x));
}

TEST_F(Clips, PaintIsClippedAtTheSurfaceEdges) {
  classBMPAVI source;
  ASSERT_EQ(source.GetEnable(Path("320x240")), kFalse);
  const std::vector<uint8_t> frame = Pattern(320, 240, 0);
  struct Where {
    int x, y;
  };
  for (Where at : {Where{250, 200}, Where{-30, -40}, Where{-300, 10}, Where{90, -220},
                   Where{400, 0}, Where{0, 300}, Where{-320, 0}}) {
    SCOPED_TRACE(std::to_string(at.x) + "," + std::to_string(at.y));
    DeviceContext dc(300, 260);
    dc.Fill(0x010203);
    source.PutToDC(&dc, at.x, at.y, 320, 240);
    for (int y = 0; y < 260; ++y)
      for (int x = 0; x < 300; ++x) {
        const int fx = x - at.x, fy = y - at.y;  // frame pixel, from its top
        const bool inside = fx >= 0 && fx < 320 && fy >= 0 && fy < 240;
        ASSERT_EQ(dc.pixel(x, y), inside ? Rgb(frame, 320, 239 - fy, fx) : 0x010203u)
            << x << "," << y;
      }
  }
}

// Each device pixel of a scaled paint is the average of the picture area it covers, worked out
// here in floating point from the overlap of the two grids: any picture and rectangle size, down
// to a third or up, either row order, a part of the picture, partly off the surface. The weights'
// resolution allows a few levels where neighbouring pixels differ by all 255.
TEST(StretchDIBits, EachDevicePixelIsTheAreaAverage) {
  std::mt19937 rng(7);
  auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int round = 0; round < 300; ++round) {
    const int width = pick(1, 40), height = pick(1, 40);
    const int sw = pick(1, width), sh = pick(1, height), sx = pick(0, width - sw),
              sy = pick(0, height - sh);
    const int dw = pick((sw + 2) / 3, 2 * sw), dh = pick((sh + 2) / 3, 2 * sh);
    const int dx = pick(-dw / 2, 20), dy = pick(-dh / 2, 20);
    const bool topDown = round % 2;
    SCOPED_TRACE(testing::Message() << width << "x" << height << (topDown ? " top-down" : "")
                                    << " (" << sx << "," << sy << " " << sw << "x" << sh << ") to "
                                    << dw << "x" << dh << " at " << dx << "," << dy);
    std::vector<uint8_t> bits(static_cast<size_t>(Stride(width)) * height);
    for (uint8_t& b : bits) b = static_cast<uint8_t>(pick(0, 255));
    BITMAPINFO bmi{};
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = topDown ? -height : height;
    // The source pixel (x, y), y from the picture's top.
    auto at = [&](int x, int y, int channel) {
      const int row = topDown ? y : height - 1 - y;
      return bits[static_cast<size_t>(row) * Stride(width) + 3 * x + channel];
    };
    DeviceContext dc(30, 30);
    dc.Fill(0x123456);
    ASSERT_EQ(StretchDIBits(&dc, dx, dy, dw, dh, sx, sy, sw, sh, bits.data(), &bmi, DIB_RGB_COLORS,
                            SRCCOPY),
              sh);
    // The picture's rectangle from its top: (sx, height - sy - sh).
    const int top = height - sy - sh;
    for (int y = 0; y < dc.height(); ++y)
      for (int x = 0; x < dc.width(); ++x) {
        const int ox = x - dx, oy = y - dy;
        if (ox < 0 || ox >= dw || oy < 0 || oy >= dh) {
          ASSERT_EQ(dc.pixel(x, y), 0x123456u) << x << "," << y;
          continue;
        }
        for (int channel = 0; channel < 3; ++channel) {
          double sum = 0;  // areas in 1/(dw dh) of a source pixel; a device pixel is sw sh of them
          for (int i = ox * sw / dw; i <= ((ox + 1) * sw - 1) / dw; ++i)
            for (int j = oy * sh / dh; j <= ((oy + 1) * sh - 1) / dh; ++j) {
              const int across = std::min((i + 1) * dw, (ox + 1) * sw) - std::max(i * dw, ox * sw);
              const int down = std::min((j + 1) * dh, (oy + 1) * sh) - std::max(j * dh, oy * sh);
              sum += static_cast<double>(across) * down * at(sx + i, top + j, channel);
            }
          const int got = static_cast<int>(dc.pixel(x, y) >> (8 * channel) & 0xFF);
          ASSERT_NEAR(got, sum / (static_cast<double>(sw) * sh), 8)
              << x << "," << y << " channel " << channel;
        }
      }
  }
}

// On a HiDPI surface a paint is the scale-1 paint of the same call into the device rectangle:
// 1:1 at a whole scale each pixel of it a scale x scale block, anything else the stretch at
// scale 1 into the device rectangle (edges rounded). Either row order, a part of the picture,
// scan lines holding part of it, partly off the surface.
TEST(StretchDIBits, AtAScaleAPaintIsTheScaleOnePaintOfTheDeviceRectangle) {
  std::mt19937 rng(11);
  auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int round = 0; round < 400; ++round) {
    const double scale = std::array{2.0, 1.5, 3.0, 1.25}[round % 4];
    const bool blocks = scale == std::floor(scale) && pick(0, 1), stretch = !blocks && pick(0, 1);
    const int width = pick(1, 30), height = pick(1, 30), sw = pick(1, width), sh = pick(1, height);
    const int sx = pick(0, width - sw), sy = pick(0, height - sh);
    const int dw = stretch ? pick(1, 2 * sw) : sw, dh = stretch ? pick(1, 2 * sh) : sh;
    const int dx = pick(-dw, 20), dy = pick(-dh, 20);
    const int start = blocks ? pick(0, height - 1) : 0, lines = pick(1, height - start);
    SCOPED_TRACE(testing::Message() << "round " << round);
    std::vector<uint8_t> bits(static_cast<size_t>(Stride(width)) * height);
    for (uint8_t& b : bits) b = static_cast<uint8_t>(pick(0, 255));
    BITMAPINFO bmi{};
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = pick(0, 1) ? -height : height;
    std::vector<uint32_t> device(40 * 40);
    DeviceContext dc(device.data(), 40, 40, 40, scale), want(40, 40), logical(40, 40);
    for (DeviceContext* each : {&dc, &want, &logical}) each->Fill(0x123456);
    const auto at = [scale](int v) { return static_cast<int>(std::lround(v * scale)); };
    if (blocks) {
      ASSERT_EQ(
          SetDIBitsToDevice(&dc, dx, dy, sw, sh, sx, sy, start, lines, bits.data(), &bmi, 0),
          SetDIBitsToDevice(&logical, dx, dy, sw, sh, sx, sy, start, lines, bits.data(), &bmi, 0));
      for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) want.row(y)[x] = logical.pixel(x / at(1), y / at(1));
    } else {
      if (stretch)
        StretchDIBits(&dc, dx, dy, dw, dh, sx, sy, sw, sh, bits.data(), &bmi, 0, SRCCOPY);
      else
        SetDIBitsToDevice(&dc, dx, dy, sw, sh, sx, sy, 0, height, bits.data(), &bmi, 0);
      StretchDIBits(&want, at(dx), at(dy), at(dx + dw) - at(dx), at(dy + dh) - at(dy), sx, sy, sw,
                    sh, bits.data(), &bmi, 0, SRCCOPY);
    }
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 40; ++x) ASSERT_EQ(dc.pixel(x, y), want.pixel(x, y)) << x << "," << y;
  }
}

// ---- WriteToBMPFile ----------------------------------------------------------------------------

TEST_F(Clips, BmpFileLayoutByteForByte) {
  TempDir out;
  classBMPAVI source;
  ASSERT_EQ(source.GetEnable(Path("720x480")), kFalse);
  source.GetDIBAVI(2);
  const std::string path = out.File("frame.bmp");
  EXPECT_EQ(source.WriteToBMPFile(path), kTrue);
  const std::vector<uint8_t> bytes = ReadFile(path);
  ASSERT_EQ(bytes.size(), 1036854u);
  auto le32 = [&](size_t at) {
    return uint32_t{bytes[at]} | uint32_t{bytes[at + 1]} << 8 | uint32_t{bytes[at + 2]} << 16 |
           uint32_t{bytes[at + 3]} << 24;
  };
  EXPECT_EQ(bytes[0], 0x42);
  EXPECT_EQ(bytes[1], 0x4D);
  EXPECT_EQ(le32(2), 1036854u);
  EXPECT_EQ(le32(6), 0u);  // both reserved words
  EXPECT_EQ(le32(10), 54u);
  EXPECT_EQ(le32(14), 40u);
  EXPECT_EQ(le32(18), 720u);
  EXPECT_EQ(le32(22), 480u);
  EXPECT_EQ(bytes[26] | bytes[27] << 8, 1);
  EXPECT_EQ(bytes[28] | bytes[29] << 8, 24);
  EXPECT_EQ(le32(30), 0u);
  EXPECT_EQ(le32(34), 1036800u);
  EXPECT_TRUE(
      std::equal(bytes.begin() + 14, bytes.begin() + 54, Peek(source).InfoHeaderBytes().begin()));
  EXPECT_EQ(bytes, BmpFile(Pattern(720, 480, 2), 720, 480));

  // Twice to new names: the same file.
  EXPECT_EQ(source.WriteToBMPFile(out.File("again.bmp")), kTrue);
  EXPECT_EQ(ReadFile(out.File("again.bmp")), bytes);

  // The 1/60 picture on the screen is what is saved.
  source.GetDIBAVI(3);
  source.SeparateDIB(0);
  EXPECT_EQ(source.WriteToBMPFile(path), kTrue);
  std::vector<uint8_t> doubled = Pattern(720, 480, 3);
  SeparateRows(doubled, 720, 480, 0);
  const std::vector<uint8_t> saved = ReadFile(path);
  EXPECT_EQ(saved, BmpFile(doubled, 720, 480));
  for (int k = 0; k < 240; ++k)
    ASSERT_TRUE(std::equal(saved.begin() + 54 + 2160 * 2 * k,
                           saved.begin() + 54 + 2160 * (2 * k + 1),
                           saved.begin() + 54 + 2160 * (2 * k + 1)));

  // Odd width: rows of the padded stride.
  ASSERT_EQ(source.GetEnable(Path("721x5")), kFalse);
  EXPECT_EQ(source.WriteToBMPFile(path), kTrue);
  EXPECT_EQ(ReadFile(path), BmpFile(Pattern(721, 5, 0), 721, 5));
  EXPECT_EQ(FolderEntries(out.path()), (std::vector<std::string>{"again.bmp", "frame.bmp"}))
      << "nothing left beside the files";
}

TEST_F(Clips, BmpReplacesLongerFilesAndFollowsLinks) {
  TempDir out;
  classBMPAVI source;
  ASSERT_EQ(source.GetEnable(Path("721x5")), kFalse);
  const std::vector<uint8_t> expected = BmpFile(Pattern(721, 5, 0), 721, 5);

  const std::string path = out.File("old.bmp");
  WriteFile(path, std::vector<uint8_t>(3 << 20, 0xFF));
  ::chmod(path.c_str(), 0640);
  EXPECT_EQ(source.WriteToBMPFile(path), kTrue);
  EXPECT_EQ(ReadFile(path), expected) << "cut to the written length";
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  const std::string link = out.File("link.bmp");
  WriteFile(path, std::vector<uint8_t>(10, 1));
  ASSERT_EQ(::symlink("old.bmp", link.c_str()), 0);
  EXPECT_EQ(source.WriteToBMPFile(link), kTrue);
  EXPECT_EQ(ReadFile(path), expected);
  ASSERT_EQ(::lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link stays a link";
}

TEST_F(Clips, FailedSaveReportsFalseAndLeavesFilesAlone) {
  TempDir out;
  classBMPAVI never;
  EXPECT_EQ(never.WriteToBMPFile(out.File("nothing.bmp")), kFalse) << "no picture yet";
  EXPECT_FALSE(Exists(out.File("nothing.bmp")));

  classBMPAVI source;
  ASSERT_EQ(source.GetEnable(Path("720x480")), kFalse);
  WriteFile(out.File("plain"), {1, 2, 3});
  EXPECT_EQ(source.WriteToBMPFile(out.File("missing/x.bmp")), kFalse);
  EXPECT_EQ(source.WriteToBMPFile(out.File("plain/x.bmp")), kFalse);  // its folder is a file
  EXPECT_EQ(source.WriteToBMPFile(out.path()), kFalse);               // a folder
  EXPECT_EQ(source.WriteToBMPFile(""), kFalse);

  // A write-protected file stays as it is, even for root.
  const std::string locked = out.File("locked.bmp");
  WriteFile(locked, {9, 9, 9});
  ::chmod(locked.c_str(), 0444);
  EXPECT_EQ(source.WriteToBMPFile(locked), kFalse);
  EXPECT_EQ(ReadFile(locked), (std::vector<uint8_t>{9, 9, 9}));

  // A save that fails part way (the file size limit) leaves the existing file whole.
  const std::string existing = out.File("existing.bmp");
  const std::vector<uint8_t> before(5000, 0x5A);
  WriteFile(existing, before);
  rlimit old;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = 500000;
  auto previous = ::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const int16_t result = source.WriteToBMPFile(existing);
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, previous);
  EXPECT_EQ(result, kFalse);
  EXPECT_EQ(ReadFile(existing), before);
  EXPECT_EQ(FolderEntries(out.path()),
            (std::vector<std::string>{"existing.bmp", "locked.bmp", "plain"}))
      << "no file made, none left half-written";
  // And the next save works.
  EXPECT_EQ(source.WriteToBMPFile(existing), kTrue);
  EXPECT_EQ(FileSize(existing), 1036854u);
}
