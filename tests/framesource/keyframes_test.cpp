// A position shows one picture however it was reached, and it is ffmpeg's: over every file the
// suite makes, in each index kind; indexes that flag inter-coded frames as keys; palettes that
// change between frames.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classBMPAVI.h"
#include "sourceprobe.h"
#include "suitefiles.h"
#include "testutil.h"

using namespace testutil;
using Index = AviWriterOptions::Index;

namespace {

struct Clip {
  std::string path;
  int width, height;
};

// Cinepak and MS Video-1 whose idx1 flags every frame a key, our palette clips, and ffmpeg's
// own 8-bit clip with a palette of each frame's colours (it writes a change where they differ).
std::vector<Clip> ClipsThatTrustNoFlag(const TempDir& dir) {
  std::vector<Clip> clips;
  for (const char* codec : {"cinepak", "msvideo1"}) {
    clips.push_back({dir.File(std::string(codec) + "-lying.avi"), 64, 48});
    EXPECT_TRUE(MakeFfmpegClip(clips.back().path, 64, 48, 12, {"-c:v", codec, "-g", "5"}));
    FlagEveryIdx1EntryKey(clips.back().path);
  }
  for (PaletteClip kind : {PaletteClip::kRaw8, PaletteClip::kRaw4, PaletteClip::kRle8}) {
    clips.push_back({dir.File("palette" + std::to_string(static_cast<int>(kind)) + ".avi"), 16, 8});
    WritePaletteClip(clips.back().path, kind);
  }
  // A change of one entry before each of 150 frames: the palette of a position is worked out
  // from copies kept along the way.
  clips.push_back({dir.File("palette-fade.avi"), 4, 1});
  std::vector<uint8_t> format = AviWriter::Format(4, 1, 8);
  format.resize(40 + 1024, 0x40);
  AviWriter fade(clips.back().path, format);
  for (uint32_t f = 0; f < 150; ++f) {
    fade.AddPaletteChange(AviWriter::PaletteChange(static_cast<uint8_t>(f), {f * 0x010305}));
    fade.AddFrame({static_cast<uint8_t>(f), static_cast<uint8_t>(f / 2),
                   static_cast<uint8_t>(f * 7 % 150), 200});
  }
  EXPECT_TRUE(fade.Close());
  clips.push_back({dir.File("ffmpeg-pal8.avi"), 32, 24});
  EXPECT_TRUE(MakeFfmpegClip(clips.back().path, 32, 24, 8,
                             {"-filter_complex",
                              "hue=H=2*PI*t*4,split[a][b];[a]palettegen=stats_mode=single:"
                              "max_colors=32[p];[b][p]paletteuse=new=1",
                              "-c:v", "rawvideo", "-pix_fmt", "pal8"}));
  const std::vector<uint8_t> bytes = ReadFile(clips.back().path);
  EXPECT_NE(std::string(bytes.begin(), bytes.end()).find("00pc"), std::string::npos)
      << "ffmpeg wrote no palette change";
  return clips;
}

// The file and our writer's copies of it indexed by OpenDML and by nothing.
std::vector<std::string> EveryIndexKind(const std::string& path) {
  std::vector<std::string> paths = {path};
  for (Index index : {Index::kOpenDml, Index::kNone}) {
    paths.push_back(path + (index == Index::kNone ? ".unindexed.avi" : ".opendml.avi"));
    EXPECT_TRUE(RemuxAvi(path, paths.back(), index));
  }
  return paths;
}

}  // namespace

// Each position is visited by stepping, then backwards (every visit a seek from a keyframe),
// then forwards two at a time (across keyframes); a jump must show what stepping showed.
TEST(EveryFile, APositionShowsTheSamePictureWhetherReachedByAJumpOrByStepping) {
  ASSERT_TRUE(Ffmpeg({"-version"}));
  TempDir dir;
  std::string missing, faults;
  std::vector<std::string> files;
  for (const EncodedFile& f : MakeEncoderFiles(dir, 6, "-g 3", &missing))
    if (f.fault.empty() && !(f.c->flags & kNothingDecodes)) files.push_back(f.path);
  for (const Clip& c : ClipsThatTrustNoFlag(dir)) files.push_back(c.path);
  files.push_back(dir.File("dropped.avi"));
  WritePatternClip(files.back(), 18, 6, 6, {}, {2, 3});

  int checked = 0, positions = 0;
  for (const std::string& file : files)
    for (const std::string& path : EveryIndexKind(file)) {
      MessageRecorder messages;
      classBMPAVI source;
      if (source.GetEnable(path) != kFalse) {
        faults += " " + path + " (does not open)";
        continue;
      }
      const int last = source.GetFrameMax();
      std::vector<std::vector<uint8_t>> stepped;
      for (int p = 0; p <= last; ++p) {
        source.GetDIBAVI(p);
        stepped.push_back(Peek(source).DIBBits());
      }
      std::vector<int> jumps;
      for (int p = last; p >= 0; --p) jumps.push_back(p);
      for (int first : {0, 1})
        for (int p = first; p <= last; p += 2) jumps.push_back(p);
      for (int p : jumps) {
        source.GetDIBAVI(p);
        if (Peek(source).DIBBits() != stepped[p]) {
          faults += " " + path + " (position " + std::to_string(p) + ")";
          break;
        }
      }
      ++checked;
      positions += last + 1;
    }
  std::printf("jumps and steps: %d files, %d positions, each by stepping and by two jumps\n",
              checked, positions);
  EXPECT_GT(checked, 300);
  EXPECT_TRUE(faults.empty()) << "a jump shows another picture than stepping:" << faults;
}

// What ffmpeg decodes from the start is the picture at every position, however it is reached.
TEST(AgainstFfmpeg, LyingKeyframesAndPaletteChangesShowFfmpegsPictures) {
  ASSERT_TRUE(Ffmpeg({"-version"}));
  TempDir dir;
  for (const Clip& c : ClipsThatTrustNoFlag(dir)) {
    const std::vector<std::vector<uint8_t>> expected = FfmpegFrames(c.path, c.width, c.height);
    ASSERT_GE(expected.size(), 6u) << c.path;
    const int last = static_cast<int>(expected.size()) - 1;
    for (const std::string& path : EveryIndexKind(c.path)) {
      SCOPED_TRACE(path);
      classBMPAVI source;
      ASSERT_EQ(source.GetEnable(path), kFalse);
      ASSERT_EQ(source.GetFrameMax(), last);
      for (int i = 0; i <= 2 * last + 1; ++i) {  // stepping, then every position by a jump back
        const int p = i <= last ? i : 2 * last + 1 - i;
        source.GetDIBAVI(p);
        ASSERT_TRUE(SameDib(expected[p], Peek(source).DIBBits(), c.width, c.height))
            << "position " << p << (i <= last ? " by stepping" : " by a jump");
      }
    }
  }
}
