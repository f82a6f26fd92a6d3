#include "lavftrack.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "lavfdemuxer.h"

namespace {

// Units a read goes on through rather than seek, when the one wanted lies ahead.
constexpr int32_t kReadOnUnits = 16;
// Seeks tried for a unit before it is given up: to it (or the last seek point before it), to the
// point before that, and to the stream's start.
constexpr int kSeekAttempts = 3;

}  // namespace

LavfPackets::LavfPackets(LavfDemuxer& demuxer, const LavfIndex& index)
    : demuxer_(demuxer), index_(index), held_(av_packet_alloc()) {
  if (!held_) throw std::bad_alloc();
}

LavfPackets::~LavfPackets() {
  av_packet_free(&held_);
}

bool LavfPackets::Take() {
  holding_ = demuxer_.Read(held_) == 0;
  return holding_;
}

bool LavfPackets::Matches(const AVPacket* pkt, int32_t unit) const {
  const LavfUnit& u = index_.units[unit];
  if (static_cast<uint32_t>(pkt->size) != u.firstBytes) return false;
  return u.pos1 == 0 || pkt->pos < 0 || static_cast<uint64_t>(pkt->pos) + 1 == u.pos1;
}

bool LavfPackets::SeekBefore(int32_t unit, int attempt) {
  const std::vector<LavfUnit>& units = index_.units;
  holding_ = false;
  next_ = -1;
  if (demuxer_.ByteSeekable()) {
    // The unit's own place, else that of the last unit before it that has one; an earlier one
    // on a second try; the start on the last.
    int32_t at = unit;
    for (int tries = 0; at > 0; --at)
      if (units[at].pos1 != 0 && tries++ == attempt) break;
    if (attempt + 1 == kSeekAttempts) at = 0;
    if (!demuxer_.SeekToByte(at > 0 ? static_cast<int64_t>(units[at].pos1 - 1) : 0)) return false;
    next_ = at;
    return true;
  }
  const std::vector<LavfSeekPoint>& points = index_.seekPoints;
  if (points.empty()) return false;
  auto it = std::upper_bound(points.begin(), points.end(), unit,
                             [](int32_t u, const LavfSeekPoint& p) { return u < p.unit; });
  const ptrdiff_t found = it - points.begin() - 1;
  const ptrdiff_t choice =
      attempt + 1 == kSeekAttempts ? 0 : std::max<ptrdiff_t>(found - attempt, 0);
  if (!demuxer_.SeekToTimestamp(points[choice].timestamp)) return false;
  next_ = points[choice].unit;
  return true;
}

bool LavfPackets::Advance(int32_t unit) {
  const std::vector<LavfUnit>& units = index_.units;
  for (int strays = 0; strays < kMaxPacketsSought;) {
    if (!holding_ && !Take()) return false;
    // The first unit from where reading stands to the one wanted whose first packet this is;
    // none, for the rest of a picture cut by a seek or a packet damage left over.
    int32_t found = -1;
    for (int32_t j = next_; j <= unit && found < 0; ++j)
      if (Matches(held_, j)) found = j;
    if (found < 0) {
      holding_ = false;
      ++strays;
      continue;
    }
    next_ = found;
    if (found == unit) return true;
    // Passed over: its other packets, unless the next unit's first shows up among them.
    holding_ = false;
    for (uint32_t i = 1; i < units[found].packets; ++i) {
      if (!Take()) return false;
      if (StartsNext(found)) break;
      holding_ = false;
    }
    next_ = found + 1;
  }
  return false;
}

bool LavfPackets::StartsNext(int32_t unit) const {
  if (unit + 1 >= static_cast<int32_t>(index_.units.size())) return false;
  const LavfUnit& u = index_.units[unit + 1];
  return u.pos1 != 0 && held_->pos >= 0 && static_cast<uint64_t>(held_->pos) + 1 == u.pos1 &&
         static_cast<uint32_t>(held_->size) == u.firstBytes;
}

bool LavfPackets::ReadUnit(int32_t unit, const Track::PacketSink& sink) {
  if (unit < 0 || unit >= static_cast<int32_t>(index_.units.size())) return false;
  const bool onTheWay = next_ >= 0 && next_ <= unit && unit - next_ <= kReadOnUnits;
  bool there = onTheWay && Advance(unit);
  for (int attempt = 0; !there && attempt < kSeekAttempts; ++attempt)
    there = SeekBefore(unit, attempt) && Advance(unit);
  if (!there) {
    next_ = -1;
    return false;
  }
  sink(held_);
  holding_ = false;
  next_ = unit + 1;
  for (uint32_t i = 1; i < index_.units[unit].packets; ++i) {
    if (!Take()) {
      next_ = -1;
      break;
    }
    if (StartsNext(unit)) break;  // the unit came short: the next one's is held
    sink(held_);
    holding_ = false;
  }
  return true;
}

LavfTrack::~LavfTrack() = default;

bool LavfTrack::Read(int32_t unit, Packet* out, size_t padding) {
  buffer_.clear();
  if (!packets_.ReadUnit(unit, [this](AVPacket* pkt) {
        buffer_.insert(buffer_.end(), pkt->data, pkt->data + pkt->size);
      }))
    return false;
  const size_t size = buffer_.size();
  buffer_.resize(size + padding, 0);
  *out = {buffer_.data(), static_cast<uint32_t>(size), index_.units[unit].key != 0};
  return true;
}

uint32_t LavfTrack::Check(int32_t unit) {
  Packet p;
  return Read(unit, &p) ? p.size : 0;
}

bool LavfTrack::ReadFront(int32_t unit, uint8_t* dst, size_t n) {
  Packet p;
  if (!Read(unit, &p) || p.size < n) return false;
  std::memcpy(dst, p.data, n);
  return true;
}

int32_t LavfTrack::KeyAtOrBefore(int32_t unit) {
  const std::vector<int32_t>& keys = index_.keys;
  auto it = std::upper_bound(keys.begin(), keys.end(), unit);
  return it == keys.begin() ? 0 : *std::prev(it);
}

int32_t LavfTrack::KeyBefore(int32_t key) {
  const std::vector<int32_t>& keys = index_.keys;
  auto it = std::lower_bound(keys.begin(), keys.end(), key);
  return it == keys.begin() ? -1 : *std::prev(it);
}
