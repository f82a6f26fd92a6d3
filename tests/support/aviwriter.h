// A small AVI writer for tests, benchmarks and the sample clip: one video stream of any DIB-like
// format, or a type-1 DV stream (optionally after an audio stream), indexed by idx1, by OpenDML
// indx/ix## with AVIX continuation RIFFs, or not at all. Gaps and sparse frames are holes, so
// that files "over 4 GB" take almost no disk.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "dib.h"

struct AviWriterOptions {
  enum class Index { kIdx1, kNone, kOpenDml };
  Index index = Index::kIdx1;
  bool idx1Absolute = false;      // idx1 offsets from the start of the file instead of 'movi'
  bool audioFirst = false;        // a PCM audio stream (number 0) before the video one
  uint64_t riffLimit = 1u << 30;  // OpenDML: a new AVIX RIFF starts once a RIFF passes this
  uint32_t fccHandler = 0;        // strh handler; 0 = the format's biCompression ('dvsd' for DV)
  uint32_t rate = 30000, scale = 1001;
  // Type-1 DV: the video stream is an 'iavs' one, its format a 32-byte DVINFO record (DvInfo())
  // and its chunks '##__', each a whole DV frame; width and height then give the avih size.
  bool dvType1 = false;
  int32_t width = 0, height = 0;
};

class AviWriter {
 public:
  // format: the strf bytes (a BITMAPINFOHEADER, then any palette, masks or codec extradata).
  AviWriter(const std::string& path, std::vector<uint8_t> format, AviWriterOptions options = {});
  ~AviWriter();
  AviWriter(const AviWriter&) = delete;
  AviWriter& operator=(const AviWriter&) = delete;

  bool ok() const { return file_ != nullptr && !failed_; }
  void AddFrame(const std::vector<uint8_t>& data, bool keyframe = true);  // empty = dropped frame
  // A palette change ("##pc") for the frames after it, listed in idx1 as ffmpeg lists it (not
  // in ix##, which lists one kind of chunk).
  void AddPaletteChange(const std::vector<uint8_t>& data);
  // A keyframe of `bytes` bytes behind a real chunk header, its data a hole (zeros, no disk).
  void AddSparseFrame(uint32_t bytes);
  void AddAudio(uint32_t bytes);  // silent PCM, only with audioFirst
  void AddGap(uint64_t bytes);    // sparse JUNK chunks inside movi
  bool Close();                   // writes the indexes and patches the sizes

  // A BITMAPINFOHEADER as strf bytes.
  static std::vector<uint8_t> Format(int32_t width, int32_t height, uint16_t bitCount,
                                     uint32_t compression = BI_RGB, uint32_t sizeImage = 0);
  // A palette change's data: entries from `first` on, each 0x00RRGGBB.
  static std::vector<uint8_t> PaletteChange(uint8_t first, const std::vector<uint32_t>& colours);
  // The DVINFO record of a type-1 stream, from the auxiliary packs of its first DV frame.
  static std::vector<uint8_t> DvInfo(const std::vector<uint8_t>& firstFrame);

 private:
  struct Entry {
    int stream;
    uint64_t dataPos;
    uint32_t size;
    bool key;
    bool paletteChange = false;
  };
  uint64_t Tell();
  void Seek(uint64_t at);
  void Put(const void* p, size_t n);
  void Put32(uint32_t v);
  void Put16(uint16_t v);
  void Put64(uint64_t v);
  void Patch32(uint64_t at, uint32_t v);
  void PutChunk(uint32_t id, const void* data, uint32_t size);
  uint64_t BeginList(uint32_t list, uint32_t type);  // returns the position of the size field
  void EndList(uint64_t sizeAt);
  void WriteHeaders();
  void StartRiff();   // closes the current movi/RIFF and opens an AVIX one
  void EndSegment();  // writes the segment's ix## chunks and closes movi and RIFF
  int VideoStream() const { return options_.audioFirst ? 1 : 0; }
  uint32_t IdOf(int stream) const;  // chunk id of a stream's data
  uint64_t StartFrame();            // starts a new RIFF when due; where the frame's chunk goes
  void RecordFrame(uint64_t at, uint32_t size, bool keyframe);
  int StreamCount() const { return options_.audioFirst ? 2 : 1; }

  std::FILE* file_ = nullptr;
  bool failed_ = false;
  std::vector<uint8_t> format_;
  AviWriterOptions options_;
  int32_t width_ = 0, height_ = 0;
  uint64_t riffSizeAt_ = 0, moviSizeAt_ = 0, moviStart_ = 0;  // of the current segment
  uint64_t riffStart_ = 0;
  bool firstRiff_ = true;
  std::vector<Entry> all_;      // every chunk, for idx1 (first RIFF only)
  std::vector<Entry> segment_;  // chunks of the current RIFF, for its ix##
  uint64_t avihFramesAt_ = 0, strhLengthAt_[2] = {0, 0}, indxAt_[2] = {0, 0}, dmlhAt_ = 0;
  struct SuperEntry {
    uint64_t offset;
    uint32_t size, duration;
  };
  std::vector<SuperEntry> super_[2];
  uint32_t frames_ = 0, audioBytes_ = 0;
};

inline constexpr int kSuperIndexSlots = 256;  // AVIX RIFFs a written file may have
