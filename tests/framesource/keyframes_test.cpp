// A position shows one picture however it was reached: over every file the suite makes, in each
// index kind; and where an index flags inter-coded frames as keys or a palette changes between
// frames, that picture is ffmpeg's.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classBMPAVI.h"
#include "sourceprobe.h"
#include "suitefiles.h"
#include "testutil.h"

using namespace testutil;

namespace {

struct Clip {
  std::string path;
  int width = 0, height = 0;  // set for the clips compared with ffmpeg's pictures
};

// Cinepak and MS Video-1 whose idx1 flags every frame a key; our palette clips, one with a change
// before each of 150 frames (the palette of a position is worked out from copies kept along the
// way); ffmpeg's own 8-bit clip with each frame's colours (a change where they differ).
void AddClipsThatTrustNoFlag(const TempDir& dir, std::vector<Clip>& clips) {
  for (const char* codec : {"cinepak", "msvideo1"}) {
    clips.push_back({dir.File(std::string(codec) + "-lying.avi"), 64, 48});
    EXPECT_TRUE(MakeFfmpegClip(clips.back().path, 64, 48, 12, {"-c:v", codec, "-g", "5"}));
    FlagEveryIdx1EntryKey(clips.back().path);
  }
  for (PaletteClip kind : {PaletteClip::kRaw8, PaletteClip::kRaw4, PaletteClip::kRle8}) {
    clips.push_back({dir.File("palette" + std::to_string(static_cast<int>(kind)) + ".avi"), 16, 8});
    WritePaletteClip(clips.back().path, kind);
  }
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
  EXPECT_NE(std::string(bytes.begin(), bytes.end()).find("00pc"), std::string::npos);
}

}  // namespace

// Each position is visited by stepping, then backwards (every visit a seek from a keyframe),
// then forwards two at a time (across keyframes); a jump must show what stepping showed.
TEST(EveryFile, APositionShowsTheSamePictureWhetherReachedByAJumpOrByStepping) {
  ASSERT_TRUE(Ffmpeg({"-version"}));
  TempDir dir;
  std::string missing, faults;
  std::vector<Clip> clips;
  for (const EncodedFile& f : MakeEncoderFiles(dir, 6, "-g 3", &missing))
    if (f.fault.empty() && !(f.c->flags & kNothingDecodes)) clips.push_back({f.path});
  AddClipsThatTrustNoFlag(dir, clips);
  clips.push_back({dir.File("dropped.avi")});
  WritePatternClip(clips.back().path, 18, 6, 6, {}, {2, 3});

  int checked = 0, positions = 0;
  for (const Clip& clip : clips) {
    const auto expected = clip.width ? FfmpegFrames(clip.path, clip.width, clip.height)
                                     : std::vector<std::vector<uint8_t>>{};
    // The file as written (idx1), and our writer's copies indexed by OpenDML and by nothing,
    // which must show the pictures of the file as written.
    std::vector<std::vector<uint8_t>> written;
    for (const char* kind : {"", ".opendml.avi", ".unindexed.avi"}) {
      const std::string path = clip.path + kind;
      if (*kind) {
        EXPECT_TRUE(RemuxAvi(
            clip.path, path,
            kind[1] == 'o' ? AviWriterOptions::Index::kOpenDml : AviWriterOptions::Index::kNone));
      }
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
        if (clip.width && (static_cast<int>(expected.size()) != last + 1 ||
                           !SameDib(expected[p], stepped[p], clip.width, clip.height)))
          faults += " " + path + " (position " + std::to_string(p) + " is not ffmpeg's)";
      }
      if (!*kind)
        written = stepped;
      else if (stepped != written)
        faults += " " + path + " (not the pictures as written)";
      std::vector<int> jumps;
      for (int p = last; p >= 0; --p) jumps.push_back(p);
      for (int first : {0, 1})
        for (int p = first; p <= last; p += 2) jumps.push_back(p);
      for (int p : jumps) {
        source.GetDIBAVI(p);
        if (Peek(source).DIBBits() != stepped[p]) {
          faults += " " + path + " (position " + std::to_string(p) + " by a jump)";
          break;
        }
      }
      ++checked;
      positions += last + 1;
    }
  }
  std::printf("jumps and steps: %d files, %d positions, each by stepping and by two jumps\n",
              checked, positions);
  EXPECT_GT(checked, 300);
  EXPECT_TRUE(faults.empty()) << "not the same picture:" << faults;
}
