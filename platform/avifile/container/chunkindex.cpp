// A stream's chunks, held whole or read back a piece at a time from an OpenDML index.
#include <algorithm>
#include <cstring>

#include "avicontainer.h"

uint64_t ChunkIndex::Hash(const uint8_t* p, size_t n) {
  // Not against an adversary: it tells a piece read back from one the file no longer holds.
  uint64_t h = 0x9E3779B97F4A7C15ull ^ n;
  auto mix = [&h](uint64_t w) {
    h = (h ^ w) * 0xFF51AFD7ED558CCDull;
    h ^= h >> 32;
  };
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t w;
    std::memcpy(&w, p + i, 8);
    mix(w);
  }
  uint64_t tail = 0;
  for (size_t k = 0; i < n; ++i, ++k) tail |= uint64_t{p[i]} << (8 * k);
  mix(tail);
  return h;
}

void ChunkIndex::Note(const std::vector<AviChunk>& chunks) {
  for (const AviChunk& c : chunks) {
    anyEmpty_ = anyEmpty_ || c.size == 0;
    anyKeyframe_ = anyKeyframe_ || (c.size > 0 && c.keyframe);
  }
}

void ChunkIndex::Assign(std::vector<AviChunk> chunks) {
  Clear();
  whole_ = std::move(chunks);
  count_ = whole_.size();
  Note(whole_);
}

void ChunkIndex::AddPiece(const FileReader& file, uint64_t at, uint64_t base, uint32_t perEntry,
                          const uint8_t* bytes, const std::vector<AviChunk>& chunks) {
  if (chunks.empty()) return;
  file_ = &file;
  const auto count = static_cast<uint32_t>(chunks.size());
  pieces_.push_back({at, base, Hash(bytes, size_t{count} * perEntry), static_cast<uint32_t>(count_),
                     count, perEntry});
  count_ += count;
  Note(chunks);
}

void ChunkIndex::DropEntries() {
  const size_t count = count_;
  Clear();
  count_ = count;
}

const ChunkIndex::Loaded* ChunkIndex::Load(size_t piece) const {
  if (cache_.empty()) cache_.resize(kCachedPieces);
  Loaded* oldest = &cache_[0];
  for (Loaded& l : cache_) {
    if (l.piece == piece) {
      l.lastUse = ++uses_;
      return &l;
    }
    if (l.lastUse < oldest->lastUse) oldest = &l;
  }
  const Piece& p = pieces_[piece];
  const size_t n = size_t{p.count} * p.perEntry;
  oldest->piece = piece;
  oldest->lastUse = ++uses_;
  oldest->ok = file_->ReadAt(p.at, oldest->bytes, n) && Hash(oldest->bytes.data(), n) == p.hash;
  if (!oldest->ok) oldest->bytes = {};
  return oldest;
}

AviChunk ChunkIndex::At(size_t i) const {
  if (!pieces_.empty()) {
    if (i >= count_) return {};
    size_t piece = lastPiece_;
    if (piece >= pieces_.size() || i < pieces_[piece].first ||
        i - pieces_[piece].first >= pieces_[piece].count) {
      piece = static_cast<size_t>(
          std::upper_bound(pieces_.begin(), pieces_.end(), i,
                           [](size_t at, const Piece& x) { return at < x.first; }) -
          pieces_.begin() - 1);
      lastPiece_ = piece;
    }
    const Loaded* l = Load(piece);
    if (!l->ok) return {};
    const Piece& p = pieces_[piece];
    return FromEntry(l->bytes.data() + size_t{i - p.first} * p.perEntry, p.base);
  }
  return i < whole_.size() ? whole_[i] : AviChunk{};
}
