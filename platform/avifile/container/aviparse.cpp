// RIFF walking and index reading for AVI files. Every size is clipped to its parent and to the
// file; an index that points outside the file, runs past its chunk or loops is not used, and the
// movi lists are scanned instead, so that a capture cut off mid-write still opens.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <set>

#include "avicontainer.h"
#include "openprogress.h"

namespace {

constexpr uint32_t kRIFF = MakeFourCC('R', 'I', 'F', 'F');
constexpr uint32_t kLIST = MakeFourCC('L', 'I', 'S', 'T');
constexpr uint32_t kAVI = MakeFourCC('A', 'V', 'I', ' ');
constexpr uint32_t kAVIX = MakeFourCC('A', 'V', 'I', 'X');
constexpr uint32_t kHdrl = MakeFourCC('h', 'd', 'r', 'l');
constexpr uint32_t kAvih = MakeFourCC('a', 'v', 'i', 'h');
constexpr uint32_t kStrl = MakeFourCC('s', 't', 'r', 'l');
constexpr uint32_t kStrh = MakeFourCC('s', 't', 'r', 'h');
constexpr uint32_t kStrf = MakeFourCC('s', 't', 'r', 'f');
constexpr uint32_t kIndx = MakeFourCC('i', 'n', 'd', 'x');
constexpr uint32_t kVprp = MakeFourCC('v', 'p', 'r', 'p');
constexpr uint32_t kMovi = MakeFourCC('m', 'o', 'v', 'i');
constexpr uint32_t kRec = MakeFourCC('r', 'e', 'c', ' ');
constexpr uint32_t kIdx1 = MakeFourCC('i', 'd', 'x', '1');
constexpr uint32_t AVIIF_LIST = 0x01;
constexpr uint32_t AVIIF_KEYFRAME = 0x10;
constexpr uint8_t AVI_INDEX_OF_INDEXES = 0x00;
constexpr uint8_t AVI_INDEX_OF_CHUNKS = 0x01;

struct ChunkHeader {
  uint32_t id = 0;
  uint32_t size = 0;  // as stored
  uint64_t data = 0;  // offset of the data
};

// A span of the file: [begin, end).
struct Span {
  uint64_t begin = 0, end = 0;
};

enum class IndexSource { kNone, kIdx1, kOpenDml, kScan };

// What the parser keeps of a stream besides its data.
struct StreamScratch {
  uint64_t indxOffset = 0;  // the strl's 'indx' data, 0 if none
  uint32_t indxSize = 0;
  IndexSource indexSource = IndexSource::kNone;  // where the stream's positions came from
};

bool ReadHeader(const FileReader& f, uint64_t at, uint64_t end, ChunkHeader* h) {
  uint8_t b[8];
  if (at + 8 > end || !f.ReadAt(at, b, 8)) return false;
  h->id = Le32(b);
  h->size = Le32(b + 4);
  h->data = at + 8;
  return true;
}

uint64_t NextChunk(const ChunkHeader& h) {
  return h.data + h.size + (h.size & 1);
}

}  // namespace

int StreamOfChunkId(uint32_t id) {
  auto digit = [](uint32_t c) -> int {
    if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
    return -1;
  };
  int hi = digit(id & 0xFF), lo = digit((id >> 8) & 0xFF);
  if (hi < 0 || lo < 0) return -1;
  return hi * 16 + lo;
}

namespace {

// Palette changes ("##pc") are not positions of a stream: they change the colours of the
// positions after them.
bool IsPaletteChange(uint32_t id) {
  return ((id >> 16) & 0xFFFF) == ('p' | 'c' << 8);
}

// No palette change holds more than its header and 256 entries: its colours are read only this
// far (kPaletteChangeBytes).
void AddPaletteChange(std::vector<AviPaletteChange>& changes, uint64_t data, uint32_t size,
                      size_t position) {
  if (size >= 4 && changes.size() < kMaxPaletteChanges)
    changes.push_back({data, std::min(size, kPaletteChangeBytes), static_cast<uint32_t>(position)});
}

// Whether a stream's format has a colour table that palette changes could change.
bool HasColourTable(const AviStreamData& st) {
  const uint16_t bits = st.format.size() >= 16 ? Le16(st.format.data() + 14) : 0;
  return st.IsVideo() && bits >= 1 && bits <= 8;
}

class Parser {
 public:
  Parser(const FileReader& f, AviContainer* out) : f_(f), out_(out) {}

  HRESULT Run() {
    ChunkHeader riff;
    uint8_t form[4];
    if (!ReadHeader(f_, 0, f_.size(), &riff) || riff.id != kRIFF || !f_.ReadAt(8, form, 4) ||
        Le32(form) != kAVI)
      return AVIERR_BADFORMAT;
    // A capture cut off before its sizes were written says 0 or too much: take the file.
    uint64_t riffEnd =
        riff.size < 4 ? f_.size() : std::min<uint64_t>(riff.data + riff.size, f_.size());
    WalkRiff({12, riffEnd}, /*first=*/true);
    if (!sawHdrl_) return AVIERR_BADFORMAT;

    // OpenDML continuation RIFFs follow the first one back to back.
    uint64_t at = riff.size < 4 ? f_.size() : NextChunk(riff);
    while (at + 12 <= f_.size()) {
      ChunkHeader h;
      if (!ReadHeader(f_, at, f_.size(), &h) || h.id != kRIFF || !f_.ReadAt(at + 8, form, 4) ||
          Le32(form) != kAVIX)
        break;
      uint64_t end = std::min<uint64_t>(h.data + h.size, f_.size());
      WalkRiff({at + 12, end}, /*first=*/false);
      if (h.size < 4) break;
      at = NextChunk(h);
    }

    for (size_t s = 0; s < out_->streams.size(); ++s) {
      AviStreamData& st = out_->streams[s];
      if (scratch_[s].indxOffset && ReadOpenDmlIndex(st, scratch_[s], static_cast<int>(s)))
        scratch_[s].indexSource = IndexSource::kOpenDml;
    }
    bool needIdx1 = std::any_of(scratch_.begin(), scratch_.end(), [](const StreamScratch& x) {
      return x.indexSource == IndexSource::kNone;
    });
    // idx1 covers only the first RIFF: with continuation RIFFs it is not the whole story.
    if (needIdx1 && idx1_.end > idx1_.begin && !sawAvix_) ReadIdx1();
    bool needScan = false;
    for (size_t s = 0; s < out_->streams.size(); ++s)
      if (NeedsScan(s) || NeedsPaletteScan(s)) needScan = true;
    if (needScan && !Scan()) return AVIERR_USERABORT;
    for (size_t s = 0; s < out_->streams.size(); ++s) {
      AviStreamData& st = out_->streams[s];
      if (st.fccType == kStreamTypeIavs) DescribeDvType1(f_, *out_, static_cast<int>(s), st);
      // Only video streams are decoded: the others need their lengths, not their chunks.
      if (!st.IsVideo()) st.chunks.DropEntries();
    }
    return AVIERR_OK;
  }

 private:
  void WalkRiff(Span span, bool first) {
    uint64_t at = span.begin;
    ChunkHeader h;
    while (ReadHeader(f_, at, span.end, &h)) {
      uint64_t end = std::min<uint64_t>(h.data + h.size, span.end);
      uint8_t type[4];
      if (h.id == kLIST && h.size < 4 && h.data + 4 <= span.end && f_.ReadAt(h.data, type, 4) &&
          Le32(type) == kMovi) {
        // A capture cut off before movi's size was written: the rest of the RIFF is movi.
        movi_.push_back({h.data, span.end});
        if (!first) sawAvix_ = true;
        break;
      }
      if (h.id == kLIST && end >= h.data + 4) {
        if (!f_.ReadAt(h.data, type, 4)) break;
        uint32_t t = Le32(type);
        if (t == kHdrl && first && !sawHdrl_) {
          sawHdrl_ = true;
          WalkHdrl({h.data + 4, end});
        } else if (t == kMovi) {
          movi_.push_back({h.data, end});  // idx1 offsets count from the 'movi' word
          if (!first) sawAvix_ = true;
        }
      } else if (h.id == kIdx1 && first) {
        // An idx1 that runs past the file was cut off: unusable.
        if (h.data + h.size <= span.end) idx1_ = {h.data, h.data + h.size};
      }
      if (h.data + h.size > span.end) break;
      at = NextChunk(h);
    }
  }

  void WalkHdrl(Span span) {
    uint64_t at = span.begin;
    ChunkHeader h;
    while (ReadHeader(f_, at, span.end, &h)) {
      uint64_t end = std::min<uint64_t>(h.data + h.size, span.end);
      uint8_t type[4];
      if (h.id == kLIST && end >= h.data + 4 && f_.ReadAt(h.data, type, 4) && Le32(type) == kStrl) {
        if (out_->streams.size() >= kMaxStreams) return;
        out_->streams.emplace_back();
        scratch_.emplace_back();
        WalkStrl({h.data + 4, end}, out_->streams.back(), scratch_.back());
      } else if (h.id == kAvih && end >= h.data + 40) {
        uint8_t b[8];
        if (f_.ReadAt(h.data + 32, b, sizeof b)) {  // dwWidth, dwHeight
          out_->width = static_cast<int32_t>(Le32(b));
          out_->height = static_cast<int32_t>(Le32(b + 4));
        }
      }
      if (h.data + h.size > span.end) break;
      at = NextChunk(h);
    }
  }

  void WalkStrl(Span span, AviStreamData& st, StreamScratch& x) {
    uint64_t at = span.begin;
    ChunkHeader h;
    while (ReadHeader(f_, at, span.end, &h)) {
      uint64_t avail = std::min<uint64_t>(h.size, span.end - h.data);
      if (h.id == kStrh && !st.hasHeader && avail >= 48) {
        uint8_t b[48];
        if (f_.ReadAt(h.data, b, sizeof b)) {
          st.hasHeader = true;
          st.fccType = Le32(b);
          st.fccHandler = Le32(b + 4);
          st.dwScale = Le32(b + 20);
          st.dwRate = Le32(b + 24);
          st.dwLength = Le32(b + 32);
        }
      } else if (h.id == kStrf && st.format.empty() && avail == h.size) {
        uint32_t n = std::min<uint32_t>(h.size, kMaxFormatBytes);
        if (!f_.ReadAt(h.data, st.format, n)) st.format.clear();
      } else if (h.id == kVprp && avail == h.size) {
        st.fieldOrder = ReadFieldOrder(h);
      } else if (h.id == kIndx && avail == h.size && h.size >= 24) {
        x.indxOffset = h.data;
        x.indxSize = h.size;
      }
      if (h.data + h.size > span.end) break;
      at = NextChunk(h);
    }
  }

  // The OpenDML video properties: nine words (format, standard, refresh rate, totals, aspect,
  // frame size, fields per frame), then per field eight words, the last its first valid line.
  // Start lines one apart are lines of the picture (ffmpeg writes 0 and 1): the field that starts
  // higher is then the top one. Other start lines count lines of the analog signal, and do not
  // say which field holds the picture's top line.
  AviFieldOrder ReadFieldOrder(const ChunkHeader& h) {
    constexpr uint32_t kHead = 36, kPerField = 32;
    uint8_t b[kHead + 2 * kPerField];
    if (h.size < kHead || !f_.ReadAt(h.data, b, std::min<size_t>(h.size, sizeof b)))
      return AviFieldOrder::kUnknown;
    const uint32_t fields = Le32(b + 32);
    if (fields == 1) return AviFieldOrder::kProgressive;
    if (fields != 2 || h.size < sizeof b) return AviFieldOrder::kUnknown;
    const uint64_t first = Le32(b + kHead + 28), second = Le32(b + kHead + kPerField + 28);
    if (second == first + 1) return AviFieldOrder::kTopFirst;
    if (first == second + 1) return AviFieldOrder::kBottomFirst;
    return AviFieldOrder::kUnknown;
  }

  // Entries of one standard index chunk (ix##) whose 24-byte header is head and whose entries
  // lie at [bodyAt, bodyAt + bodySize), read a piece at a time and checked against the file.
  // The index keeps where each piece is, not its entries.
  bool ReadStandardIndex(const uint8_t* head, uint64_t bodyAt, uint64_t bodySize, ChunkIndex& index,
                         int number) {
    const size_t perEntry = size_t{Le16(head)} * 4;
    const uint32_t count = Le32(head + 4);
    if (head[3] != AVI_INDEX_OF_CHUNKS || perEntry < 8 || count > bodySize / perEntry) return false;
    if (index.size() + count > maxEntries_) return false;
    const uint64_t base = Le64(head + 12);
    const uint32_t perPiece =
        static_cast<uint32_t>(std::max<size_t>(1, kIndexPieceBytes / perEntry));
    std::vector<uint8_t> piece;
    std::vector<AviChunk> chunks;
    for (uint32_t first = 0; first < count; first += perPiece) {
      const uint32_t n = std::min(perPiece, count - first);
      const uint64_t at = bodyAt + uint64_t{first} * perEntry;
      if (!f_.ReadAt(at, piece, size_t{n} * perEntry)) return false;
      chunks.clear();
      for (uint32_t i = 0; i < n && index.size() + chunks.size() < kMaxPositions; ++i) {
        const AviChunk c = ChunkIndex::FromEntry(piece.data() + size_t{i} * perEntry, base);
        if (c.offset < 8 || c.offset > f_.size() || c.size > f_.size() - c.offset ||
            c.size > kMaxChunkBytes)
          return false;
        // As with idx1, the first entry tells whether the index points at this stream's chunks
        // at all; one that does not is not used, so that the movi lists are scanned instead.
        if (first + i == 0) {
          ChunkHeader h;
          if (!ReadHeader(f_, c.offset - 8, f_.size(), &h) || StreamOfChunkId(h.id) != number)
            return false;
        }
        chunks.push_back(c);
      }
      index.AddPiece(f_, at, base, static_cast<uint32_t>(perEntry), piece.data(), chunks);
      if (index.size() >= kMaxPositions) return true;  // the rest is past the limit
    }
    return true;
  }

  bool ReadOpenDmlIndex(AviStreamData& st, const StreamScratch& x, int number) {
    uint8_t head[24];
    if (x.indxSize < 24 || !f_.ReadAt(x.indxOffset, head, sizeof head)) return false;
    const size_t perEntry = size_t{Le16(head)} * 4;
    const uint32_t count = Le32(head + 4);
    const uint64_t bodyAt = x.indxOffset + 24, bodySize = x.indxSize - 24;
    bool ok = false;
    ChunkIndex index;
    if (head[3] == AVI_INDEX_OF_CHUNKS) {
      ok = ReadStandardIndex(head, bodyAt, bodySize, index, number);
    } else if (head[3] == AVI_INDEX_OF_INDEXES && perEntry >= 16 && count <= bodySize / perEntry &&
               count <= kMaxStandardIndexes) {
      ok = true;
      std::set<uint64_t> seen;
      uint64_t ixBytes = 0;
      std::vector<ChunkHeader> ixs;
      for (uint32_t i = 0; i < count && ok; ++i) {
        uint8_t e[16];
        ok = f_.ReadAt(bodyAt + uint64_t{i} * perEntry, e, sizeof e);
        const uint64_t off = Le64(e);
        // Each entry names an ix## chunk by its header; one named twice or one that is
        // itself a super index would loop. The ix## chunks of one stream cannot together be
        // larger than the file: entries naming overlapping ones would make reading quadratic.
        ChunkHeader h;
        ok = ok && seen.insert(off).second && ReadHeader(f_, off, f_.size(), &h) && h.size >= 24 &&
             h.size <= f_.size() - h.data && (ixBytes += h.size + 8) <= f_.size();
        if (ok) ixs.push_back(h);
      }
      for (const ChunkHeader& h : ixs) {
        uint8_t ixHead[24];
        ok = ok && f_.ReadAt(h.data, ixHead, sizeof ixHead) &&
             ReadStandardIndex(ixHead, h.data + 24, h.size - 24, index, number);
      }
    }
    if (ok) st.chunks = std::move(index);
    return ok;
  }

  void ReadIdx1() {
    if (movi_.empty()) return;
    const uint64_t movi = movi_.front().begin;
    const uint64_t total = std::min<uint64_t>((idx1_.end - idx1_.begin) / 16, kMaxIdx1Entries);
    uint64_t base = 0;
    bool baseFound = false;
    std::vector<std::vector<AviChunk>> perStream(out_->streams.size());
    std::vector<std::vector<AviPaletteChange>> changes(out_->streams.size());
    std::vector<uint8_t> piece;
    constexpr uint64_t kPerPiece = kIndexPieceBytes / 16;
    for (uint64_t first = 0; first < total; first += kPerPiece) {
      const size_t n = static_cast<size_t>(std::min(kPerPiece, total - first));
      if (!f_.ReadAt(idx1_.begin + first * 16, piece, n * 16)) return;
      for (size_t i = 0; i < n; ++i) {
        const uint8_t* e = piece.data() + i * 16;
        uint32_t id = Le32(e), flags = Le32(e + 4), size = Le32(e + 12);
        int s = StreamOfChunkId(id);
        if ((flags & AVIIF_LIST) || s < 0) continue;
        if (!baseFound) {
          // Offsets count from the 'movi' word, or (some writers) from the start of the file:
          // the first real entry tells which.
          for (uint64_t candidate : {movi, uint64_t{0}}) {
            ChunkHeader h;
            if (ReadHeader(f_, candidate + Le32(e + 8), f_.size(), &h) && h.id == id) {
              base = candidate;
              baseFound = true;
              break;
            }
          }
          if (!baseFound) return;  // the first entry points at nothing: not usable
        }
        if (s >= static_cast<int>(perStream.size())) continue;
        uint64_t data = base + Le32(e + 8) + 8;
        if (IsPaletteChange(id)) {
          // One that points outside the file is left out; the pictures are still indexed.
          if (data <= f_.size() && size <= f_.size() - data)
            AddPaletteChange(changes[s], data, size, perStream[s].size());
          continue;
        }
        if (data > f_.size() || size > f_.size() - data || size > kMaxChunkBytes) return;
        if (perStream[s].size() < kMaxPositions)
          perStream[s].push_back({data, size, (flags & AVIIF_KEYFRAME) != 0});
      }
    }
    for (size_t s = 0; s < perStream.size(); ++s) {
      if (scratch_[s].indexSource != IndexSource::kNone) continue;
      out_->streams[s].chunks.Assign(std::move(perStream[s]));
      out_->streams[s].paletteChanges = std::move(changes[s]);
      scratch_[s].indexSource = IndexSource::kIdx1;
    }
  }

  // No usable index, or a video stream whose index gave no positions.
  bool NeedsScan(size_t s) const {
    const AviStreamData& st = out_->streams[s];
    return scratch_[s].indexSource == IndexSource::kNone || (st.IsVideo() && st.chunks.empty());
  }

  // An OpenDML index lists one kind of chunk per stream: a stream with a colour table finds its
  // palette changes by a walk through the movi lists.
  bool NeedsPaletteScan(size_t s) const {
    return scratch_[s].indexSource == IndexSource::kOpenDml && HasColourTable(out_->streams[s]);
  }

  // Rebuilds the positions of every stream without a usable index from the chunks themselves,
  // and finds the palette changes an OpenDML index leaves out. False when the caller cancelled.
  bool Scan() {
    std::vector<std::vector<AviChunk>> perStream(out_->streams.size());
    std::vector<std::vector<AviPaletteChange>> changes(out_->streams.size());
    if (!ReportOpenProgress(0, f_.size())) return false;
    for (const Span& m : movi_) {
      ScanList({m.begin + 4, m.end}, 1, perStream, changes);
      if (cancelled_) return false;
    }
    for (size_t s = 0; s < perStream.size(); ++s) {
      AviStreamData& st = out_->streams[s];
      if (NeedsPaletteScan(s)) {
        // A change holds from the first of the index's chunks after it in the file: one walk
        // through the index beside the changes, both in file order.
        size_t position = 0;
        for (AviPaletteChange& c : changes[s]) {
          while (position < st.chunks.size() && st.chunks.At(position).offset < c.offset)
            ++position;
          c.position = static_cast<uint32_t>(position);
        }
        st.paletteChanges = std::move(changes[s]);
      }
      if (!NeedsScan(s)) continue;
      for (AviChunk& c : perStream[s]) c.keyframe = true;
      st.chunks.Assign(std::move(perStream[s]));
      st.paletteChanges = std::move(changes[s]);
      st.keyframesKnown = false;
      scratch_[s].indexSource = IndexSource::kScan;
    }
    return true;
  }

  // Tells the caller how far the scan has come, so that a window keeps painting: every few
  // megabytes, some thousands of chunks (a tape of small frames) or, where each header costs a
  // seek (a slow disk), a twentieth of a second. False once the caller cancels.
  bool Progress(uint64_t at) {
    const bool due = at - reportedAt_ >= kProgressBytes || ++chunksUnreported_ >= kProgressChunks ||
                     (chunksUnreported_ % 16 == 0 &&
                      std::chrono::steady_clock::now() - reportedTime_ >= kProgressTime);
    if (!due) return true;
    reportedAt_ = at;
    chunksUnreported_ = 0;
    reportedTime_ = std::chrono::steady_clock::now();
    cancelled_ = !ReportOpenProgress(at, f_.size());
    return !cancelled_;
  }

  // False when the list's chunks stop making sense, what came before kept, or on a cancel.
  bool ScanList(Span span, int depth, std::vector<std::vector<AviChunk>>& perStream,
                std::vector<std::vector<AviPaletteChange>>& changes) {
    uint64_t at = span.begin;
    ChunkHeader h;
    while (ReadHeader(f_, at, span.end, &h)) {
      if (h.size > span.end - h.data) return false;  // cut off by the end: dropped
      if (!Progress(at)) return false;
      if (h.id == kLIST) {
        uint8_t type[4];
        if (h.size >= 4 && f_.ReadAt(h.data, type, 4) && Le32(type) == kRec &&
            depth < kMaxListDepth &&
            !ScanList({h.data + 4, h.data + h.size}, depth + 1, perStream, changes))
          return false;
      } else {
        int s = StreamOfChunkId(h.id);
        if (s >= 0 && IsPaletteChange(h.id) && s < static_cast<int>(perStream.size())) {
          AddPaletteChange(changes[s], h.data, h.size, perStream[s].size());
        } else if (s >= 0 && s < static_cast<int>(perStream.size())) {
          if (h.size > kMaxChunkBytes) return false;
          if (perStream[s].size() < kMaxPositions) perStream[s].push_back({h.data, h.size, true});
        } else if (!IsPrintable(h.id)) {
          return false;  // not a chunk header: the rest is garbage
        }
      }
      at = NextChunk(h);
    }
    return true;
  }

  static bool IsPrintable(uint32_t id) {
    for (int i = 0; i < 4; ++i) {
      uint32_t c = (id >> (8 * i)) & 0xFF;
      if (c < 0x20 || c > 0x7E) return false;
    }
    return true;
  }

  const FileReader& f_;
  AviContainer* out_;
  bool sawHdrl_ = false;
  bool sawAvix_ = false;
  std::vector<StreamScratch> scratch_;  // one per stream, beside out_->streams
  std::vector<Span> movi_;
  Span idx1_;
  static constexpr uint64_t kProgressBytes = 4 << 20;
  static constexpr uint32_t kProgressChunks = 8192;
  static constexpr std::chrono::milliseconds kProgressTime{50};
  uint64_t reportedAt_ = 0;
  std::chrono::steady_clock::time_point reportedTime_ = std::chrono::steady_clock::now();
  uint32_t chunksUnreported_ = 0;
  bool cancelled_ = false;
  // Every position needs a chunk header of 8 bytes somewhere in the file: an index that claims
  // more entries than that is lying.
  uint64_t maxEntries_ = f_.size() / 8 + 1;
};

}  // namespace

HRESULT ParseAviFile(const FileReader& file, AviContainer* out) {
  *out = AviContainer{};
  return Parser(file, out).Run();
}
