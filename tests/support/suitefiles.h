// The files the suite makes to read, for the tests that go over all of them: one small AVI per
// video encoder of the ffmpeg command that writes AVI (and copies under the FourCCs capture tools
// write), 8-bit clips whose palette changes, and copies of any of them in each index kind.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "aviwriter.h"
#include "testutil.h"

namespace testutil {

enum EncoderFlags : unsigned {
  kTagHandlerOnly = 1,   // the copy's format names no known codec: only its handler has the tag
  kEightBits = 2,        // the copy's header says 8 bits per pixel, its codec data in its size
  kTableFirst = 4,       // ... and is 40 bytes: a colour table, then the codec data
  kOriginal = 8,         // ffmpeg cannot read the copy: compare with its picture of the original
  kNothingDecodes = 16,  // no decoder exists: the open must fail with the decoder message
};

struct EncoderCase {
  const char* name;
  const char* encoder;
  const char* args;  // ffmpeg output options after "-c:v encoder", space-separated
  int width, height;
  const char* fourcc = nullptr;  // written in a copy over the format's tag and the handler
  unsigned flags = 0;
  int tolerance = 0;  // per channel
};

struct EncodedFile {
  const EncoderCase* c;
  std::string original, path;  // path: the copy the case asks for, else the original
  std::string fault;           // why it was not made; empty when it was
};

// A file of `frames` pictures of ffmpeg's moving test picture for every case whose encoder ffmpeg
// has (those it lacks are added to *missing); `args` go before each case's own options.
std::vector<EncodedFile> MakeEncoderFiles(const TempDir& dir, int frames, const std::string& args,
                                          std::string* missing);

// 16 x 8 pixels, 6 frames, the palette changed before frames 0, 2, 3 (all 256 entries from 0) and
// 5: raw at 8 or 4 bits, or RLE-8 whose frames 1, 2, 4 and 5 change a few pixels by a delta code
// though the index flags every frame a key, as some writers do.
enum class PaletteClip { kRaw8, kRaw4, kRle8 };
void WritePaletteClip(const std::string& path, PaletteClip kind);

// Our writer's copy of an AVI file of one RIFF and one video stream: its format, handler, rate,
// frames, their flags in idx1 (every frame a key without one) and palette changes; with OpenDML,
// a RIFF every 4 KB.
::testing::AssertionResult RemuxAvi(const std::string& from, const std::string& to,
                                    AviWriterOptions::Index index);
// Flags every entry of the file's idx1 (its last chunk) a keyframe.
void FlagEveryIdx1EntryKey(const std::string& path);

}  // namespace testutil
