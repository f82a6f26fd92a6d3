// The AVI file library behind the frame source, on uncompressed files from our writer and from
// ffmpeg: pixel formats, index kinds, damaged and cut-off captures, OpenDML, files past 4 GB.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numeric>

#include "allocationwatch.h"
#include "classBMPAVI.h"
#include "openvideo.h"
#include "sourceprobe.h"
#include "testutil.h"

using namespace testutil;

namespace {

// Opens the file and checks every position, in order and then in the order given, against
// the expected pictures.
void ExpectFrames(const std::string& path, const std::vector<std::vector<uint8_t>>& expected,
                  int width, int height, std::vector<int> jumps = {}) {
  MessageRecorder messages;
  classBMPAVI source;
  ASSERT_EQ(source.GetEnable(path), kFalse) << path;
  EXPECT_TRUE(messages.messages().empty());
  EXPECT_EQ(source.biWidth(), width);
  EXPECT_EQ(source.biHeight(), height);
  EXPECT_EQ(Peek(source).InfoHeader().biBitCount, 24);
  EXPECT_EQ(Peek(source).InfoHeader().biCompression, BI_RGB);
  EXPECT_EQ(Peek(source).InfoHeader().biSizeImage, static_cast<uint32_t>(Stride(width) * height));
  ASSERT_EQ(AVIStreamLength(Peek(source).Stream()), static_cast<int32_t>(expected.size()));
  EXPECT_TRUE(SameDib(expected[0], Peek(source).DIBBits(), width, height)) << "frame 0 at open";
  for (size_t p = 0; p < expected.size(); ++p) {
    source.GetDIBAVI(static_cast<int32_t>(p));
    ASSERT_EQ(Peek(source).DIBBits().size(), static_cast<size_t>(Stride(width) * height));
    EXPECT_TRUE(SameDib(expected[p], Peek(source).DIBBits(), width, height)) << "position " << p;
  }
  for (int p : jumps) {
    source.GetDIBAVI(p);
    EXPECT_TRUE(SameDib(expected[p], Peek(source).DIBBits(), width, height)) << "jump to " << p;
  }
}

std::vector<std::vector<uint8_t>> Patterns(int width, int height, int frames) {
  std::vector<std::vector<uint8_t>> out;
  for (int f = 0; f < frames; ++f) out.push_back(Pattern(width, height, f));
  return out;
}

std::vector<int> Reverse(int frames) {
  std::vector<int> v(frames);
  std::iota(v.rbegin(), v.rend(), 0);
  return v;
}

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

size_t Find(const std::vector<uint8_t>& b, const char* tag, size_t from = 0) {
  for (size_t i = from; i + 4 <= b.size(); ++i)
    if (std::memcmp(b.data() + i, tag, 4) == 0) return i;
  return std::string::npos;
}

size_t Count(const std::vector<uint8_t>& b, const char* tag) {
  size_t n = 0;
  for (size_t at = Find(b, tag); at != std::string::npos; at = Find(b, tag, at + 4)) ++n;
  return n;
}

}  // namespace

TEST(Uncompressed, TwentyFourBitOddWidthIsCopiedWithItsFillBytes) {
  TempDir dir;
  const std::string path = dir.File("721.avi");
  WritePatternClip(path, 721, 480, 3);
  ExpectFrames(path, Patterns(721, 480, 3), 721, 480, {2, 0, 1});

  classBMPAVI source;
  ASSERT_EQ(source.GetEnable(path), kFalse);
  EXPECT_EQ(Peek(source).DIBBits().size(), 2164u * 480);  // 2163 rounded up to whole words
  source.GetDIBAVI(2);
  // A bottom-up 24-bit stream is the delivered layout: copied as it is, fill bytes too.
  EXPECT_EQ(Peek(source).DIBBits(), Pattern(721, 480, 2));
}

TEST(Uncompressed, EightBitPaletteIsLookedUp) {
  TempDir dir;
  const int w = 13, h = 7, stride = 16;  // 13 index bytes, padded to 16
  std::vector<uint8_t> format = AviWriter::Format(w, h, 8);
  std::vector<uint8_t> palette(256 * 4);
  for (size_t i = 0; i < palette.size(); ++i) palette[i] = static_cast<uint8_t>(i * 37 + 11);
  format.insert(format.end(), palette.begin(), palette.end());
  const std::string path = dir.File("pal8.avi");
  std::vector<std::vector<uint8_t>> expected;
  {
    AviWriter writer(path, format);
    for (int f = 0; f < 4; ++f) {
      std::vector<uint8_t> indices(stride * h, 0xEE);
      std::vector<uint8_t> dib(Stride(w) * h, 0);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          uint8_t index = static_cast<uint8_t>(f * 61 + y * 13 + x * 7);
          indices[y * stride + x] = index;
          std::memcpy(&dib[y * Stride(w) + 3 * x], &palette[index * 4], 3);
        }
      writer.AddFrame(indices);
      expected.push_back(dib);
    }
    ASSERT_TRUE(writer.Close());
  }
  ExpectFrames(path, expected, w, h, {3, 1});
}

TEST(Uncompressed, SixteenBitChannelsAreExpandedToEightBits) {
  // 5-5-5 (the BI_RGB default) and 5-6-5 (bit fields). A 5- or 6-bit level has no exact 8-bit
  // value; each must land within one step of level * 255 / max, with 0 and max exact.
  struct Layout {
    uint32_t compression;
    uint32_t red, green, blue;
  };
  for (Layout l :
       {Layout{BI_RGB, 0x7C00, 0x03E0, 0x001F}, Layout{BI_BITFIELDS, 0xF800, 0x07E0, 0x001F}}) {
    SCOPED_TRACE(l.compression == BI_RGB ? "5-5-5" : "5-6-5");
    TempDir dir;
    const int w = 64, h = 3;  // every level of every channel appears
    std::vector<uint8_t> format = AviWriter::Format(w, h, 16, l.compression);
    if (l.compression == BI_BITFIELDS) {
      format.resize(52);
      Put32(format, 40, l.red), Put32(format, 44, l.green), Put32(format, 48, l.blue);
    }
    std::vector<uint8_t> frame(DibStride(w, 16) * h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        uint32_t level = static_cast<uint32_t>(x), v = 0;
        for (uint32_t m : {l.red, l.green, l.blue}) {
          uint32_t max = m >> __builtin_ctz(m);
          // Each row sets a different channel to its level; the others to their maximum.
          bool mine = (m == l.red && y == 0) || (m == l.green && y == 1) || (m == l.blue && y == 2);
          v |= (mine ? std::min(level, max) : max) << __builtin_ctz(m);
        }
        frame[y * DibStride(w, 16) + 2 * x] = static_cast<uint8_t>(v);
        frame[y * DibStride(w, 16) + 2 * x + 1] = static_cast<uint8_t>(v >> 8);
      }
    const std::string path = dir.File("rgb16.avi");
    {
      AviWriter writer(path, format);
      writer.AddFrame(frame);
      ASSERT_TRUE(writer.Close());
    }
    classBMPAVI source;
    ASSERT_EQ(source.GetEnable(path), kFalse);
    const std::vector<uint8_t>& got = Peek(source).DIBBits();
    for (int y = 0; y < h; ++y) {
      const uint32_t mask = y == 0 ? l.red : y == 1 ? l.green : l.blue;
      const uint32_t max = mask >> __builtin_ctz(mask);
      const int channel = 2 - y;  // blue, green, red in the delivered bytes
      for (int x = 0; x < w; ++x) {
        const uint32_t level = std::min(static_cast<uint32_t>(x), max);
        const double exact = level * 255.0 / max;
        const int value = got[y * Stride(w) + 3 * x + channel];
        EXPECT_LT(std::fabs(value - exact), 1.0) << "row " << y << " level " << level;
        if (level == 0 || level == max) {
          EXPECT_EQ(value, static_cast<int>(exact));
        }
        for (int c = 0; c < 3; ++c) {
          if (c == channel) continue;
          EXPECT_EQ(got[y * Stride(w) + 3 * x + c], 255);
        }
      }
    }
  }
}

TEST(Uncompressed, ThirtyTwoBitDropsTheFourthByte) {
  TempDir dir;
  const int w = 33, h = 9;
  const std::string path = dir.File("rgb32.avi");
  std::vector<std::vector<uint8_t>> expected;
  {
    AviWriter writer(path, AviWriter::Format(w, h, 32));
    for (int f = 0; f < 3; ++f) {
      std::vector<uint8_t> pattern = Pattern(w, h, f), frame(4 * w * h);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          std::memcpy(&frame[4 * (y * w + x)], &pattern[y * Stride(w) + 3 * x], 3);
          frame[4 * (y * w + x) + 3] = static_cast<uint8_t>(x * 5 + y);  // ignored
        }
      writer.AddFrame(frame);
      expected.push_back(pattern);
    }
    ASSERT_TRUE(writer.Close());
  }
  ExpectFrames(path, expected, w, h, {2, 0});
}

TEST(Uncompressed, TopDownRowsAreDeliveredBottomUp) {
  TempDir dir;
  const int w = 31, h = 11;
  const std::string path = dir.File("topdown.avi");
  std::vector<std::vector<uint8_t>> expected = Patterns(w, h, 3);
  {
    AviWriter writer(path, AviWriter::Format(w, -h, 24));
    for (const std::vector<uint8_t>& dib : expected) {
      std::vector<uint8_t> flipped(dib.size());
      for (int y = 0; y < h; ++y)
        std::memcpy(&flipped[y * Stride(w)], &dib[(h - 1 - y) * Stride(w)], Stride(w));
      writer.AddFrame(flipped);
    }
    ASSERT_TRUE(writer.Close());
  }
  ExpectFrames(path, expected, w, h, {1});  // biHeight is positive: the rows run bottom-up
}

TEST(Uncompressed, OneFrameVideo) {
  TempDir dir;
  const std::string path = dir.File("one.avi");
  WritePatternClip(path, 40, 30, 1);
  ExpectFrames(path, Patterns(40, 30, 1), 40, 30);
  classBMPAVI source;
  ASSERT_EQ(source.GetEnable(path), kFalse);
  EXPECT_EQ(source.GetFrameMax(), 0);
  // Positions past the end yield no frame: the picture stays.
  source.GetDIBAVI(1);
  source.GetDIBAVI(-1);
  EXPECT_EQ(Peek(source).DIBBits(), Pattern(40, 30, 0));
}

TEST(Index, IndexKindsAndAudioFirstGiveTheSameFrames) {
  struct Case {
    const char* name;
    AviWriterOptions options;
  };
  AviWriterOptions none, absolute, audio, audioNone, audioAbsolute;
  none.index = AviWriterOptions::Index::kNone;  // rebuilt by scanning movi
  absolute.idx1Absolute = true;
  audio.audioFirst = true;
  audioNone = none, audioNone.audioFirst = true;
  audioAbsolute = absolute, audioAbsolute.audioFirst = true;
  for (const Case& c : {Case{"idx1", {}}, Case{"no index", none}, Case{"absolute idx1", absolute},
                        Case{"audio first", audio}, Case{"audio first, no index", audioNone},
                        Case{"audio first, absolute idx1", audioAbsolute}}) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = dir.File("clip.avi");
    WritePatternClip(path, 23, 17, 12, c.options);
    ExpectFrames(path, Patterns(23, 17, 12), 23, 17, {11, 3, 7, 0});
  }
}

TEST(Index, CutOffCaptureDropsTheLastChunkOnly) {
  TempDir dir;
  const int w = 20, h = 10, frames = 10;
  const std::string path = dir.File("full.avi");
  WritePatternClip(path, w, h, frames);
  const std::vector<uint8_t> full = ReadFile(path);
  const size_t idx1 = Find(full, "idx1");
  ASSERT_NE(idx1, std::string::npos);
  ASSERT_EQ(full.size(), idx1 + 8 + 16 * frames);  // the index is the last chunk
  const size_t frameBytes = static_cast<size_t>(Stride(w)) * h;

  // Cut in the middle of the last frame: idx1 is gone and that chunk is dropped.
  const std::string cut = dir.File("cut.avi");
  WriteFile(cut, {full.begin(), full.begin() + static_cast<ptrdiff_t>(idx1 - frameBytes / 2)});
  ExpectFrames(cut, Patterns(w, h, frames - 1), w, h, Reverse(frames - 1));
  // Cut in the middle of the last chunk's header.
  WriteFile(cut, {full.begin(), full.begin() + static_cast<ptrdiff_t>(idx1 - frameBytes - 4)});
  ExpectFrames(cut, Patterns(w, h, frames - 1), w, h);
  // Cut right after the last frame: every frame is whole.
  WriteFile(cut, {full.begin(), full.begin() + static_cast<ptrdiff_t>(idx1)});
  ExpectFrames(cut, Patterns(w, h, frames), w, h, Reverse(frames));
  // Cut inside idx1: it runs past the file and is not used.
  WriteFile(cut, {full.begin(), full.begin() + static_cast<ptrdiff_t>(idx1 + 8 + 16 * 4)});
  ExpectFrames(cut, Patterns(w, h, frames), w, h);
}

TEST(Index, Idx1PointingOutsideTheFileIsRebuiltByScan) {
  TempDir dir;
  const int w = 20, h = 10, frames = 8;
  const std::string path = dir.File("clip.avi");
  WritePatternClip(path, w, h, frames);
  const std::vector<uint8_t> good = ReadFile(path);
  const size_t idx1 = Find(good, "idx1");
  ASSERT_NE(idx1, std::string::npos);
  struct Damage {
    const char* what;
    size_t field;  // byte offset in the entry: 8 offset, 12 size
    uint32_t value;
  };
  for (int entry : {0, frames - 1})
    for (Damage d : {Damage{"offset", 8, 0x7FFFFF00}, Damage{"size", 12, 0x7FFFFF00},
                     Damage{"offset", 8, 0xFFFFFFF0u}}) {
      SCOPED_TRACE(std::string(d.what) + " of entry " + std::to_string(entry));
      std::vector<uint8_t> bad = good;
      Put32(bad, idx1 + 8 + 16 * entry + d.field, d.value);
      WriteFile(path, bad);
      ExpectFrames(path, Patterns(w, h, frames), w, h, Reverse(frames));
    }
}

// An entry inside the file whose size is larger than its chunk's: the chunk's own size holds.
TEST(Index, Idx1SizeLargerThanTheChunkTakesTheChunksSize) {
  TempDir dir;
  const int w = 20, h = 10, frames = 4;
  const std::string path = dir.File("clip.avi");
  WritePatternClip(path, w, h, frames);
  std::vector<uint8_t> bad = ReadFile(path);
  const size_t idx1 = Find(bad, "idx1");
  ASSERT_NE(idx1, std::string::npos);
  for (int entry = 0; entry < frames; ++entry)
    Put32(bad, idx1 + 8 + 16 * entry + 12, Stride(w) * h + 100);
  WriteFile(path, bad);
  ExpectFrames(path, Patterns(w, h, frames), w, h, Reverse(frames));
}

TEST(Index, FourGigabyteIdx1IsReadInPieces) {
  // An idx1 whose size says 4 GB, the file sparse behind its three real entries: read a piece
  // at a time, never whole, it still finds the frames.
  TempDir dir;
  const std::string path = dir.File("idx1.avi");
  WritePatternClip(path, 8, 8, 3);
  std::vector<uint8_t> bytes = ReadFile(path);
  const size_t idx1 = bytes.size() - 8 - 16 * 3;
  ASSERT_EQ(std::memcmp(&bytes[idx1], "idx1", 4), 0) << "our writer ends with idx1";
  const uint32_t riff = 0xFFFFFF00u;
  Put32(bytes, 4, riff);
  Put32(bytes, idx1 + 4, static_cast<uint32_t>(riff - idx1));
  WriteFile(path, bytes);
  ASSERT_EQ(truncate(path.c_str(), 8 + off_t{riff}), 0);
  AllocationWatch watch;
  ExpectFrames(path, Patterns(8, 8, 3), 8, 8, {2, 0});
  EXPECT_LT(watch.largest(), 1u << 20);
}

// A file without an index is scanned whole: the caller hears how far, of the file's size, often
// enough for a tape of small frames, and a cancel at any report stops the open.
TEST(Index, AScanTellsItsProgressAndStopsWhereTheCallerCancels) {
  TempDir dir;
  const std::string path = dir.File("scan.avi");
  AviWriterOptions none;
  none.index = AviWriterOptions::Index::kNone;
  WritePatternClip(path, 4, 4, 40000, none);  // 56-byte chunks, 2.2 MB
  struct Calls {
    size_t cancelAt;  // the report that answers false
    uint64_t size;
    std::vector<uint64_t> done = {};
    bool wrongTotal = false;
  };
  for (size_t cancelAt : {SIZE_MAX, size_t{1}, size_t{3}}) {
    Calls calls{cancelAt, std::filesystem::file_size(path)};
    auto report = [](void* context, uint64_t done, uint64_t total) {
      auto* c = static_cast<Calls*>(context);
      c->done.push_back(done);
      c->wrongTotal |= total != c->size;
      return c->done.size() < c->cancelAt;
    };
    AVIFileSetOpenProgress(report, &calls);
    AVIFileInit();
    PAVIFILE file = nullptr;
    EXPECT_EQ(AVIFileOpen(&file, path.c_str(), OF_READ, nullptr),
              cancelAt == SIZE_MAX ? AVIERR_OK : AVIERR_USERABORT);
    AVIFileSetOpenProgress(nullptr, nullptr);
    if (file) AVIFileRelease(file);
    AVIFileExit();
    EXPECT_TRUE(cancelAt == SIZE_MAX ? calls.done.size() >= 4 : calls.done.size() == cancelAt);
    EXPECT_FALSE(calls.wrongTotal);
    EXPECT_TRUE(std::is_sorted(calls.done.begin(), calls.done.end()) &&
                calls.done.back() <= calls.size);
  }
}

TEST(Index, DroppedFramesArePositionsShowingTheFrameBefore) {
  TempDir dir;
  const int w = 16, h = 6, frames = 12;
  const std::vector<int> dropped = {0, 3, 4, 5, 9, 11};  // a leading and a trailing one too
  for (AviWriterOptions::Index index :
       {AviWriterOptions::Index::kIdx1, AviWriterOptions::Index::kNone,
        AviWriterOptions::Index::kOpenDml}) {
    SCOPED_TRACE(static_cast<int>(index));
    AviWriterOptions options;
    options.index = index;
    const std::string path = dir.File("dropped.avi");
    WritePatternClip(path, w, h, frames, options, dropped);
    std::vector<std::vector<uint8_t>> expected;
    int shown = 1;  // before the first frame that has data, that frame is shown
    for (int p = 0; p < frames; ++p) {
      if (std::find(dropped.begin(), dropped.end(), p) == dropped.end()) shown = p;
      expected.push_back(Pattern(w, h, shown));
    }
    ExpectFrames(path, expected, w, h, {5, 2, 4, 11, 9, 0, 10, 3});
    classBMPAVI source;
    ASSERT_EQ(source.GetEnable(path), kFalse);
    EXPECT_EQ(source.GetFrameMax(), frames - 1);
  }
}

TEST(Index, DroppedFramesWrittenByFfmpeg) {
  // Frames taken out of the timeline become empty chunks in ffmpeg's AVI files, as in a
  // capture that dropped them.
  TempDir dir;
  const std::string path = dir.File("gaps.avi");
  ASSERT_TRUE(MakeFfmpegClip(path, 160, 120, 10,
                             {"-vf", "select='not(eq(n\\,4)+eq(n\\,5)+eq(n\\,9))'", "-fps_mode",
                              "passthrough", "-c:v", "mjpeg"}));
  const std::vector<std::vector<uint8_t>> pictures = FfmpegFrames(path, 160, 120);
  ASSERT_EQ(pictures.size(), 10u);
  RunResult probe = RunProgram({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                                "packet=pts", "-of", "csv=p=0", path});
  ASSERT_EQ(probe.exitCode, 0) << probe.err;
  std::vector<int> withData;  // positions whose chunk holds a picture
  for (size_t at = 0; at < probe.out.size();) {
    withData.push_back(std::stoi(probe.out.substr(at)));
    at = probe.out.find('\n', at);
    at = at == std::string::npos ? probe.out.size() : at + 1;
  }
  ASSERT_EQ(withData, (std::vector<int>{0, 1, 2, 3, 6, 7, 8, 10, 11, 12}));
  std::vector<std::vector<uint8_t>> expected;
  for (int p = 0, picture = -1; p <= withData.back(); ++p) {
    if (std::find(withData.begin(), withData.end(), p) != withData.end()) ++picture;
    expected.push_back(pictures[picture]);
  }
  ExpectFrames(path, expected, 160, 120, {5, 4, 9, 3, 12, 0, 6, 5});
}

TEST(Index, AudioFirstFromFfmpeg) {
  TempDir dir;
  const std::string path = dir.File("audio-first.avi");
  ASSERT_TRUE(Ffmpeg({"-f",       "lavfi",     "-i",   "sine=duration=1",
                      "-f",       "lavfi",     "-i",   "testsrc2=size=98x64:rate=30",
                      "-map",     "0:a",       "-map", "1:v",
                      "-c:a",     "pcm_s16le", "-c:v", "rawvideo",
                      "-pix_fmt", "bgr24",     "-t",   "0.5",
                      path}));
  // ffmpeg stores raw RGB top-down (negative height): the flip is part of what is checked.
  std::vector<std::vector<uint8_t>> expected = FfmpegFrames(path, 98, 64);
  ASSERT_EQ(expected.size(), 15u);
  ExpectFrames(path, expected, 98, 64, {14, 0, 7});

  PAVIFILE file = nullptr;
  PAVISTREAM stream = nullptr;
  AVIFileInit();
  ASSERT_EQ(AVIFileOpen(&file, path.c_str(), OF_READ, nullptr), AVIERR_OK);
  ASSERT_EQ(AVIFileGetStream(file, &stream, 0, 0), AVIERR_OK);
  AVISTREAMINFO info;
  ASSERT_EQ(AVIStreamInfo(stream, &info, sizeof info), AVIERR_OK);
  EXPECT_EQ(info.fccType, streamtypeAUDIO);  // the first stream of all is the audio one
  AVIStreamRelease(stream);
  ASSERT_EQ(AVIFileGetStream(file, &stream, streamtypeVIDEO, 0), AVIERR_OK);
  ASSERT_EQ(AVIStreamInfo(stream, &info, sizeof info), AVIERR_OK);
  EXPECT_EQ(info.height, -64);
  EXPECT_EQ(AVIStreamLength(stream), 15);
  AVIStreamRelease(stream);
  AVIFileRelease(file);
  AVIFileExit();
}

TEST(Index, FirstOfTwoVideoStreams) {
  TempDir dir;
  const std::string path = dir.File("two-videos.avi");
  ASSERT_TRUE(Ffmpeg({"-f",   "lavfi",    "-i",       "sine=duration=1",
                      "-f",   "lavfi",    "-i",       "testsrc2=size=96x64:rate=30",
                      "-f",   "lavfi",    "-i",       "testsrc=size=64x48:rate=30",
                      "-map", "0:a",      "-map",     "1:v",
                      "-map", "2:v",      "-c:a",     "pcm_s16le",
                      "-c:v", "rawvideo", "-pix_fmt", "bgr24",
                      "-t",   "0.3",      path}));
  std::vector<std::vector<uint8_t>> expected = FfmpegFrames(path, 96, 64);  // ffmpeg's v:0
  ASSERT_EQ(expected.size(), 9u);
  ExpectFrames(path, expected, 96, 64, {8, 1});
}

TEST(OpenDml, SeveralRiffsReadLikeOne) {
  const int w = 64, h = 48, frames = 40;  // 9 KB frames, about six to a RIFF
  for (bool audioFirst : {false, true}) {
    SCOPED_TRACE(audioFirst ? "audio first" : "video only");
    TempDir dir;
    AviWriterOptions options;
    options.index = AviWriterOptions::Index::kOpenDml;
    options.riffLimit = 64 << 10;
    options.audioFirst = audioFirst;
    const std::string path = dir.File("odml.avi");
    WritePatternClip(path, w, h, frames, options);
    const std::vector<uint8_t> bytes = ReadFile(path);
    ASSERT_GE(Count(bytes, "AVIX"), 4u);
    ASSERT_EQ(Count(bytes, "indx"), audioFirst ? 2u : 1u);
    ExpectFrames(path, Patterns(w, h, frames), w, h, {39, 0, 20, 19, 21, 5});
    // ffmpeg's reader agrees on the layout: the writer's files are what it is meant to test.
    std::vector<std::vector<uint8_t>> theirs = FfmpegFrames(path, w, h);
    ASSERT_EQ(theirs.size(), static_cast<size_t>(frames));
    for (int f : {0, 17, frames - 1}) EXPECT_TRUE(SameDib(Pattern(w, h, f), theirs[f], w, h));

    // With its super index wiped, the file is scanned through every RIFF instead.
    std::vector<uint8_t> bad = bytes;
    size_t videoIndx = Find(bad, "indx");  // the video stream's is the last strl's
    if (audioFirst) videoIndx = Find(bad, "indx", videoIndx + 4);
    ASSERT_NE(videoIndx, std::string::npos);
    for (int e = 0; e < 4; ++e) Put32(bad, videoIndx + 8 + 24 + 16 * e, 0xFFFFFFF0u);
    const std::string damaged = dir.File("damaged.avi");
    WriteFile(damaged, bad);
    ExpectFrames(damaged, Patterns(w, h, frames), w, h, {39, 0, 20});
  }
}

TEST(OpenDml, CaptureCutOffInALaterRiff) {
  // The super index is written last: a capture cut off in an AVIX RIFF has none that works, and
  // every RIFF up to the cut is scanned.
  TempDir dir;
  const int w = 64, h = 48, frames = 40;
  AviWriterOptions options;
  options.index = AviWriterOptions::Index::kOpenDml;
  options.riffLimit = 64 << 10;
  const std::string path = dir.File("odml.avi");
  WritePatternClip(path, w, h, frames, options);
  const std::vector<uint8_t> full = ReadFile(path);
  for (int cutFrame : {31, 25}) {
    SCOPED_TRACE(cutFrame);
    const std::vector<uint8_t> start = Pattern(w, h, cutFrame);
    auto at = std::search(full.begin(), full.end(), start.begin(), start.begin() + 64);
    ASSERT_NE(at, full.end());
    ASSERT_GT(Count({full.begin(), at}, "AVIX"), 2u);
    WriteFile(path, {full.begin(), at + 100});
    ExpectFrames(path, Patterns(w, h, cutFrame), w, h, {cutFrame - 1, 0, 17});
  }
}

TEST(OpenDml, SparseFilePastFourGigabytes) {
  TempDir dir;
  const int w = 64, h = 48;
  const std::string path = dir.File("huge.avi");
  AviWriterOptions options;
  options.index = AviWriterOptions::Index::kOpenDml;
  {
    AviWriter writer(path, AviWriter::Format(w, h, 24), options);
    for (int f = 0; f < 3; ++f) writer.AddFrame(Pattern(w, h, f));
    writer.AddGap(4500ull << 20);  // a hole: no disk taken
    for (int f = 3; f < 6; ++f) writer.AddFrame(Pattern(w, h, f));
    ASSERT_TRUE(writer.Close());
  }
  ASSERT_GT(FileSize(path), 4500ull << 20);
  ASSERT_LT(DiskUsage(path), 16ull << 20) << "the file system keeps no holes";
  ExpectFrames(path, Patterns(w, h, 6), w, h, {5, 0, 4, 2, 3});
}

// An OpenDML index is read back from the file as positions ask for it, 64 KB of entries at a
// time: over more such pieces than are kept, every position shows its own frame in any order.
// Once the file changes under it, a position whose piece no longer reads as it did at open (its
// entries rewritten, or cut off) does not decode, and never shows another chunk's picture.
TEST(OpenDml, IndexPiecesReadBackFromTheFile) {
  TempDir dir;
  const std::string path = dir.File("long.avi");
  const int frames = 5 * 8192 + 100;  // six pieces of 8-byte entries
  auto frame = [](int f) {            // 2 x 2 pixels, 24 bits: the position in the first pixel
    std::vector<uint8_t> b(16, 0);
    b[0] = static_cast<uint8_t>(f), b[1] = static_cast<uint8_t>(f >> 8);
    return b;
  };
  AviWriterOptions options;
  options.index = AviWriterOptions::Index::kOpenDml;
  {
    AviWriter writer(path, AviWriter::Format(2, 2, 24), options);
    for (int f = 0; f < frames; ++f) writer.AddFrame(frame(f));
    ASSERT_TRUE(writer.Close());
  }
  const std::vector<uint8_t> bytes = ReadFile(path);
  const size_t entries = Find(bytes, "ix00") + 8 + 24;
  ASSERT_LT(entries, bytes.size());

  OpenVideo video(path);
  ASSERT_TRUE(video.ok());
  ASSERT_EQ(AVIStreamLength(video.stream), frames);
  PGETFRAME get = video.frames;
  auto shows = [&](int pos) -> int {  // the frame shown, -1 when the position did not decode
    const auto* dib = static_cast<const uint8_t*>(AVIStreamGetFrame(get, pos));
    if (!dib || !AVIStreamFrameDecoded(get)) return -1;
    return dib[40] | dib[41] << 8;
  };
  auto frameAt = [&](int pos) { return pos & 0xFFFF; };
  for (int pos = 0; pos < frames; ++pos) ASSERT_EQ(shows(pos), frameAt(pos)) << pos;
  for (int pos : {frames - 1, 0, 3 * 8192 + 5, 8191, 8192, 2 * 8192 - 1, 4 * 8192 + 9, 1})
    EXPECT_EQ(shows(pos), frameAt(pos)) << "jump to " << pos;

  {
    // Position 1's entry now names position 2's chunk, and the last piece is cut off.
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(entries + 8));
    f.write(reinterpret_cast<const char*>(bytes.data() + entries + 16), 4);
    ASSERT_TRUE(f.good());
  }
  ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(entries + 5 * 8192 * 8)), 0);
  for (int pos : {8192, 2 * 8192, 3 * 8192, 4 * 8192})  // the kept pieces, in turn
    EXPECT_EQ(shows(pos), frameAt(pos)) << pos;
  for (int pos : {1, 0, 5 * 8192, frames - 1}) EXPECT_EQ(shows(pos), -1) << pos;
  EXPECT_EQ(shows(2 * 8192 + 7), frameAt(2 * 8192 + 7)) << "the rest still shows";
}

TEST(Headers, LyingHeadersNeitherCrashNorAllocate) {
  TempDir dir;
  MessageRecorder messages;
  AllocationWatch watch;  // nothing is allocated on a header's word
  const std::string path = dir.File("liar.avi");
  {
    // Dimensions far beyond any frame: no decompressor takes them.
    std::vector<uint8_t> format = AviWriter::Format(1 << 30, 1 << 30, 24, BI_RGB, 16);
    AviWriter writer(path, format);
    writer.AddFrame(std::vector<uint8_t>(16, 1));
    ASSERT_TRUE(writer.Close());
  }
  {
    classBMPAVI source;
    EXPECT_EQ(source.GetEnable(path), kTrue);
    EXPECT_EQ(messages.messages(), std::vector<std::string>{kMsgNoDecoder});
  }
  messages.clear();

  // A chunk smaller than a frame yields no frame: the picture before stays.
  {
    AviWriter writer(path, AviWriter::Format(8, 8, 24));
    writer.AddFrame(Pattern(8, 8, 0));
    writer.AddFrame(std::vector<uint8_t>(10, 7));
    writer.AddFrame(Pattern(8, 8, 2));
    ASSERT_TRUE(writer.Close());
  }
  {
    classBMPAVI source;
    ASSERT_EQ(source.GetEnable(path), kFalse);
    source.GetDIBAVI(1);
    EXPECT_EQ(Peek(source).DIBBits(), Pattern(8, 8, 0));
    source.GetDIBAVI(2);
    EXPECT_EQ(Peek(source).DIBBits(), Pattern(8, 8, 2));
  }

  // A file that starts like an AVI file and then is noise, and one whose sizes all lie.
  std::vector<uint8_t> noise(4096);
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>(i * 131 + (i >> 7));
  std::memcpy(noise.data(),
              "RIFF\xFF\xFF\xFF\xFF"
              "AVI LIST\xFF\xFF\xFF\x7Fhdrl",
              24);
  WriteFile(path, noise);
  {
    classBMPAVI source;
    EXPECT_EQ(source.GetEnable(path), kTrue);
    EXPECT_EQ(messages.messages(), std::vector<std::string>{kMsgNoStream});
  }
  messages.clear();
  WritePatternClip(path, 8, 8, 3);
  std::vector<uint8_t> bytes = ReadFile(path);
  for (const char* tag : {"LIST", "strh", "strf", "00dc"})
    for (size_t at = Find(bytes, tag); at != std::string::npos; at = Find(bytes, tag, at + 4))
      Put32(bytes, at + 4, 0xFFFFFFF7u);
  WriteFile(path, bytes);
  {
    classBMPAVI source;
    source.GetEnable(path);  // may open or not; it must neither crash nor allocate gigabytes
    EXPECT_LE(messages.messages().size(), 1u);
  }
  messages.clear();

  // OpenDML indexes that claim more entries than they hold.
  AviWriterOptions odml;
  odml.index = AviWriterOptions::Index::kOpenDml;
  odml.riffLimit = 4096;
  WritePatternClip(path, 8, 8, 6, odml);
  const std::vector<uint8_t> good = ReadFile(path);
  for (const char* tag : {"indx", "ix00"}) {
    bytes = good;
    for (size_t at = Find(bytes, tag); at != std::string::npos; at = Find(bytes, tag, at + 4))
      Put32(bytes, at + 8 + 4, 0xFFFFFFF0u);  // nEntriesInUse
    WriteFile(path, bytes);
    ExpectFrames(path, Patterns(8, 8, 6), 8, 8, {5, 0});  // rebuilt by scanning
  }
  EXPECT_LT(watch.largest(), 64u << 20);
}

TEST(Headers, AStreamWithoutDecompressorTellsWhy) {
  TempDir dir;
  const std::string path = dir.File("why.avi");
  // Why AVIStreamGetFrameOpen gives null on the file's stream of that type, asking for `wanted`.
  auto why = [&](uint32_t type = streamtypeVIDEO, const BITMAPINFOHEADER* wanted = nullptr) {
    AVIFileInit();
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr;
    AviDecoderError error = AviDecoderError::kNone;
    EXPECT_EQ(AVIFileOpen(&file, path.c_str(), OF_READ, nullptr), AVIERR_OK);
    if (file && AVIFileGetStream(file, &stream, type, 0) == AVIERR_OK) {
      PGETFRAME frames = AVIStreamGetFrameOpen(stream, wanted);
      error = AVIStreamGetFrameError(stream);
      EXPECT_EQ(frames == nullptr, error != AviDecoderError::kNone) << AviDecoderErrorText(error);
      if (frames) AVIStreamGetFrameClose(frames);
      AVIStreamRelease(stream);
    }
    if (file) AVIFileRelease(file);
    AVIFileExit();
    return error;
  };
  auto write = [&](std::vector<uint8_t> format, std::vector<uint8_t> frame,
                   AviWriterOptions options = {}) {
    AviWriter writer(path, std::move(format), options);
    if (options.audioFirst) writer.AddAudio(64);
    writer.AddFrame(frame);
    ASSERT_TRUE(writer.Close());
  };
  write(AviWriter::Format(8, 8, 24), Pattern(8, 8, 0));
  EXPECT_EQ(why(), AviDecoderError::kNone);
  BITMAPINFOHEADER thirtyTwo;
  thirtyTwo.biBitCount = 32;
  EXPECT_EQ(why(streamtypeVIDEO, &thirtyTwo), AviDecoderError::kWantedFormat);
  AviWriterOptions audioFirst;
  audioFirst.audioFirst = true;
  write(AviWriter::Format(8, 8, 24), Pattern(8, 8, 0), audioFirst);
  EXPECT_EQ(why(0), AviDecoderError::kNotVideo);
  write(AviWriter::Format(1 << 30, 8, 24), std::vector<uint8_t>(16, 1));
  EXPECT_EQ(why(), AviDecoderError::kFrameSize);
  write(AviWriter::Format(8, 8, 7), std::vector<uint8_t>(64, 1));
  EXPECT_EQ(why(), AviDecoderError::kBitDepth);
  write(AviWriter::Format(8, 8, 24, MakeFourCC('Z', 'Z', 'Z', 'Z')), std::vector<uint8_t>(10, 0));
  EXPECT_EQ(why(), AviDecoderError::kNoCodec);
  write(AviWriter::Format(8, 8, 24), std::vector<uint8_t>(10, 7));  // shorter than a picture
  EXPECT_EQ(why(), AviDecoderError::kNoPicture);
  EXPECT_STREQ(AviDecoderErrorText(AviDecoderError::kNoCodec), "no decoder for the codec tag");
}

// Any allocation our code makes while opening a file and fetching pictures from it (a jump to
// the end, steps back) may fail: the library ends it as a failed call or the picture held
// before, never an exception out of it, a leak or a use left counted.
TEST(Memory, EveryAllocationOfAnOpenAndAFetchMayFail) {
  TempDir dir;
  std::vector<std::string> paths;
  for (auto index : {AviWriterOptions::Index::kIdx1, AviWriterOptions::Index::kOpenDml,
                     AviWriterOptions::Index::kNone}) {
    AviWriterOptions options;
    options.index = index;
    paths.push_back(dir.File("raw" + std::to_string(paths.size()) + ".avi"));
    WritePatternClip(paths.back(), 8, 6, 5, options, {1, 1, 0, 1, 1});  // one frame dropped
  }
  paths.push_back(dir.File("mpeg4.avi"));  // B-frames: reordering and the pictures kept
  ASSERT_TRUE(MakeFfmpegClip(paths.back(), 32, 16, 12,
                             {"-c:v", "mpeg4", "-bf", "2", "-g", "12", "-vtag", "XVID"}));
  auto run = [](const std::string& path, AllocationWatch& watch, size_t failAt) {
    watch.FailAllocation(failAt);
    OpenVideo video(path);
    if (!video.ok()) return;
    const int32_t last = AVIStreamLength(video.stream) - 1;
    for (int32_t pos : {last, last - 1, 0, 1})
      EXPECT_NE(AVIStreamGetFrame(video.frames, pos), nullptr) << path << " allocation " << failAt;
  };
  for (const std::string& path : paths) {
    AllocationWatch watch;
    run(path, watch, SIZE_MAX);
    const size_t allocations = watch.count();
    ASSERT_GT(allocations, 0u);
    for (size_t n = 0; n < allocations; ++n) {
      AllocationWatch failing;
      EXPECT_NO_THROW(run(path, failing, n)) << path << " allocation " << n;
      EXPECT_EQ(AVIFileUseCount(), 0);
    }
  }
}
