// The AVI container as plain data: the streams' headers and formats and, for each stream, the
// place of every position's chunk (held, or read back from an OpenDML index when asked). Read from
// RIFF AVI 1.0 (idx1) and OpenDML AVI 2.0 (indx / ix## / AVIX) files; rebuilt by scanning the movi
// lists when no usable index is there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "avifile.h"
#include "dib.h"
#include "filereader.h"

// Limits against hostile or damaged headers. Nothing is allocated or read on a header's word
// beyond these, and every offset is checked against the file before it is used: what is read
// is never more than the file holds, and an index has at most one entry per 8 bytes of file
// (every chunk has an 8-byte header), so memory follows the file's size, not its claims.
// Writers use a handful of streams; a video stream after 64 others is not found.
inline constexpr int kMaxStreams = 64;  // strl lists taken from hdrl
// Only 'rec ' lists inside movi are entered (one level in practice); hdrl and strl are read at
// their fixed places and every other list is stepped over whole, so no nesting, however deep,
// costs more than this many stack frames.
inline constexpr int kMaxListDepth = 8;  // nesting of LIST chunks that is followed
// A 256-colour palette is 1 KB and codec data a few KB; anything past this is not kept.
inline constexpr uint32_t kMaxFormatBytes = 1 << 20;  // strf: header, palette, codec extradata
// Above the largest uncompressed frame decoded (kMaxFramePixels at 32 bits, 160 MB).
inline constexpr uint32_t kMaxChunkBytes = 256u << 20;  // one frame's data
// Indexes are read a piece at a time, never a whole idx1, indx or ix## chunk at once: their
// sizes are the file's word, up to 4 GB each.
inline constexpr size_t kIndexPieceBytes = 64 << 10;  // bytes of index entries per read
// 2^23 positions are 77 hours at 30 frames a second; their entries take 96 MB where an index is
// held whole (idx1, rebuilt). Positions past this are not used, as if the file ended there.
inline constexpr uint32_t kMaxPositions = 1u << 23;  // per stream
// idx1 lists every stream's chunks: entries past four streams' worth are not read, so that an
// idx1 of junk costs at most 512 MB of reading, not 4 GB.
inline constexpr uint64_t kMaxIdx1Entries = 4ull * kMaxPositions;
// ffmpeg writes one ix## per RIFF of about 1 GB; 65,536 of them would index 64 TB.
inline constexpr uint32_t kMaxStandardIndexes = 1u << 16;  // entries of a super index

// The place of one position's chunk: what an index entry says, 12 bytes.
#pragma pack(push, 4)
struct AviChunk {
  uint64_t offset = 0;     // file offset of the chunk's data (after its 8-byte header)
  uint32_t size : 31 = 0;  // bytes of data, at most kMaxChunkBytes; 0 = a dropped frame,
                           // which repeats the one before
  uint32_t keyframe : 1 = 0;
};
#pragma pack(pop)
static_assert(sizeof(AviChunk) == 12 && kMaxChunkBytes < (1u << 31));

// A stream's chunks in position order. An idx1 or a rebuilt index is held whole; an OpenDML
// index is not: only where each piece of its entries lies (checked entry by entry at open, and
// remembered by a hash of its bytes) and the last few pieces read, so that a capture of any
// length holds the same memory. A piece that can no longer be read as it was at open (an I/O
// error, the file changed) gives its positions a chunk no reader takes.
class ChunkIndex {
 public:
  size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  AviChunk At(size_t i) const;  // i < size(); offset 0 and size 0 when it cannot be read

  // Facts of the whole index, gathered as it is built.
  bool AnyEmpty() const { return anyEmpty_; }        // some position is a dropped frame
  bool AnyKeyframe() const { return anyKeyframe_; }  // some non-empty chunk is flagged a key

  void Assign(std::vector<AviChunk> chunks);  // held whole
  // A piece of an OpenDML standard index: count entries of perEntry bytes at `at` in the file,
  // already checked, whose offsets count from base. chunks are what they say, for the facts.
  void AddPiece(const FileReader& file, uint64_t at, uint64_t base, uint32_t perEntry,
                const uint8_t* bytes, const std::vector<AviChunk>& chunks);
  // Keeps the number of positions only: for streams whose chunks nothing reads.
  void DropEntries();
  void Clear() { *this = ChunkIndex{}; }

  // What an OpenDML standard index entry says.
  static AviChunk FromEntry(const uint8_t* entry, uint64_t base) {
    const uint32_t raw = Le32(entry + 4);
    return {base + Le32(entry), raw & 0x7FFFFFFFu, (raw & 0x80000000u) == 0};
  }

 private:
  struct Piece {
    uint64_t at = 0, base = 0;  // file offset of the first entry; what offsets count from
    uint64_t hash = 0;          // of the entries' bytes as read at open
    uint32_t first = 0;         // first position
    uint32_t count = 0;         // entries
    uint32_t perEntry = 0;      // bytes per entry
  };
  // A piece read back: kIndexPieceBytes of entries at most (one entry where they are longer).
  // One that failed is kept as failed, so that stepping back through it reads nothing.
  struct Loaded {
    size_t piece = SIZE_MAX;
    uint64_t lastUse = 0;
    bool ok = false;  // read, and the same bytes as at open
    std::vector<uint8_t> bytes;
  };
  static uint64_t Hash(const uint8_t* p, size_t n);
  void Note(const std::vector<AviChunk>& chunks);  // the facts of more chunks
  const Loaded* Load(size_t piece) const;

  std::vector<AviChunk> whole_;  // every entry, when held whole
  std::vector<Piece> pieces_;    // else the pieces, in position order
  const FileReader* file_ = nullptr;
  size_t count_ = 0;
  bool anyEmpty_ = false, anyKeyframe_ = false;
  // Stepping reads within one piece, across a boundary either way needs two; a jump and the
  // steps back from it two more: 256 KB of 8-byte entries.
  static constexpr size_t kCachedPieces = 4;
  mutable std::vector<Loaded> cache_;
  mutable size_t lastPiece_ = 0;  // the piece of the last At(), tried first
  mutable uint64_t uses_ = 0;
};

// A palette change (a "##pc" chunk: first entry, number of entries (0 = 256), flags, then the
// entries as red, green, blue, flags). It holds from the stream's first chunk after it on, as
// in ffmpeg, until the next change.
struct AviPaletteChange {
  uint64_t offset = 0;    // file offset of the chunk's data
  uint32_t size = 0;      // bytes of data
  uint32_t position = 0;  // the stream's first position it holds for
};
// A capture of a game's palette fades may change colours every frame: 65,536 changes are half an
// hour of that at 30 frames a second. Later ones are not applied. 16 bytes each here; the track
// reads their colours only when a picture needs them.
inline constexpr uint32_t kMaxPaletteChanges = 1u << 16;      // per stream
inline constexpr uint32_t kPaletteChangeBytes = 4 + 256 * 4;  // the most a change holds

// Type-1 DV: one interleaved stream whose chunks each hold a whole DV frame with its audio.
inline constexpr uint32_t kStreamTypeIavs = MakeFourCC('i', 'a', 'v', 's');

struct AviStreamData {
  bool hasHeader = false;  // a strh was found
  uint32_t fccType = 0;    // 'vids', 'auds', kStreamTypeIavs, ...
  uint32_t fccHandler = 0;
  uint32_t dwScale = 0;
  uint32_t dwRate = 0;
  uint32_t dwLength = 0;        // as declared: not trusted, the index decides
  std::vector<uint8_t> format;  // the strf chunk's bytes (at most kMaxFormatBytes); iavs: below
  ChunkIndex chunks;            // one per position, in position order
  std::vector<AviPaletteChange> paletteChanges;  // in stream order
  bool keyframesKnown = true;  // false when the index was rebuilt (every chunk then a key)
  // What the stream's video properties (an OpenDML 'vprp' chunk) say of its fields: one field
  // a frame is progressive; of two, the order where their start lines are lines of the picture.
  AviFieldOrder fieldOrder = AviFieldOrder::kUnknown;

  bool IsVideo() const { return fccType == streamtypeVIDEO || fccType == kStreamTypeIavs; }
};

struct AviContainer {
  std::vector<AviStreamData> streams;  // in the order of their strl lists
  int32_t width = 0, height = 0;       // the avih frame size, as declared
};

// Stream number of a chunk id "##xx" (two hex digits), or -1 when it names no stream.
int StreamOfChunkId(uint32_t id);

// AVIERR_OK, or AVIERR_BADFORMAT when the bytes are not a RIFF AVI file with a header list.
HRESULT ParseAviFile(const FileReader& file, AviContainer* out);

// An iavs stream's strf is a DVINFO record, not a picture format. Replaces it with the
// BITMAPINFOHEADER of the stream's DV frames: the size from the DIF header of the first packet
// that libavcodec's DV profiles recognise, else the avih size (no format when neither tells);
// the codec libavcodec's DV decoder, whatever the handler says.
void DescribeDvType1(const FileReader& file, const AviContainer& container, int number,
                     AviStreamData& stream);
