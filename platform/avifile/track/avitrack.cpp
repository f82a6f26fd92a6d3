#include "avitrack.h"

#include <algorithm>

extern "C" {
#include <libavcodec/avcodec.h>
}

AviTrack::AviTrack(const FileReader& file, const AviStreamData& stream, int streamNumber,
                   std::shared_ptr<const Palette> palette)
    : chunks_(stream.chunks),
      reader_(file, streamNumber),
      keyframesKnown_(stream.keyframesKnown),
      palette_(std::move(palette)),
      changes_(stream.paletteChanges) {
  everyChunk_ = !chunks_.AnyEmpty();
  for (size_t i = 0; i < chunks_.size() && !everyChunk_; ++i)
    if (chunks_.At(i).size > 0) packets_.push_back(static_cast<int32_t>(i));
  if (palette_ && !changes_.empty()) {
    current_ = *palette_;
    snapshots_.push_back(current_);
  }
}

AviTrack::~AviTrack() {
  av_packet_free(&packet_);
  av_buffer_unref(&packetBuffer_);
}

// The decoder lets go of a packet once it has decoded it, so one buffer serves every packet; one
// it still holds is left to it and another is made. Nor is one kept that is far larger than the
// packets: a single huge chunk does not hold its memory for good.
AVBufferRef* AviTrack::PacketBuffer(size_t size) {
  constexpr size_t kSlack = 1 << 20;  // bytes a buffer may exceed twice the packet by
  if (packetBuffer_ && (packetBuffer_->size < size || packetBuffer_->size > 2 * size + kSlack ||
                        !av_buffer_is_writable(packetBuffer_)))
    av_buffer_unref(&packetBuffer_);
  if (!packetBuffer_)  // with room for somewhat larger packets to come
    packetBuffer_ = av_buffer_alloc(size + std::min(size / 4, kSlack));
  return packetBuffer_ ? av_buffer_ref(packetBuffer_) : nullptr;
}

bool AviTrack::Send(int32_t unit, const PacketSink& sink) {
  // Read straight into a buffer the decoder can keep, so that it need not copy the packet.
  const AviChunk chunk = Chunk(unit);
  if (!packet_ && !(packet_ = av_packet_alloc())) return false;
  AVBufferRef* buf = PacketBuffer(PacketReader::Room(chunk, AV_INPUT_BUFFER_PADDING_SIZE));
  if (!buf) return false;
  Packet packet;
  if (!reader_.ReadInto(chunk, buf->data, AV_INPUT_BUFFER_PADDING_SIZE, &packet)) {
    av_buffer_unref(&buf);  // damaged: skipped
    return false;
  }
  av_packet_unref(packet_);
  packet_->buf = buf;
  packet_->data = const_cast<uint8_t*>(packet.data);
  packet_->size = static_cast<int>(packet.size);
  if (packet.keyframe) packet_->flags |= AV_PKT_FLAG_KEY;
  sink(packet_);
  av_packet_unref(packet_);
  return true;
}

int32_t AviTrack::PacketOfPosition(int32_t pos) const {
  if (pos < 0 || static_cast<size_t>(pos) >= chunks_.size() || PacketCount() == 0) return -1;
  if (everyChunk_) return pos;
  // The last non-empty chunk at or before pos; positions before the first one show it.
  auto it = std::upper_bound(packets_.begin(), packets_.end(), pos);
  return it == packets_.begin() ? 0 : static_cast<int32_t>(it - packets_.begin() - 1);
}

void AviTrack::SetKeyframes(bool intraOnly, KeyTest test) {
  everyPacketKey_ = intraOnly;
  everyCandidate_ = false;
  candidates_.clear();
  keyState_.clear();
  startCandidate_ = lastFailed_ = 0;
  keyTest_ = intraOnly ? nullptr : std::move(test);
  if (intraOnly) return;
  // An index that flags no packet at all says nothing of keyframes, as a rebuilt one.
  const bool flags = keyframesKnown_ && chunks_.AnyKeyframe();
  if (!flags && keyTest_) {
    everyCandidate_ = true;
  } else {
    candidates_.push_back(0);
    for (int32_t p = 1; p < PacketCount() && flags; ++p)
      if (Chunk(p).keyframe) candidates_.push_back(p);
  }
  if (keyTest_) keyState_.assign(CandidateCount(), kUnknown);
}

bool AviTrack::IsStart(size_t i) {
  if (i == 0 || !keyTest_) return true;  // nothing comes before packet 0
  int8_t& state = keyState_[i];
  if (state == kUnknown) {
    Packet packet;
    state = reader_.Read(Chunk(Candidate(i)), &packet) && keyTest_(packet.data, packet.size)
                ? kKey
                : kNotKey;
  }
  return state == kKey;
}

int32_t AviTrack::KeyAtOrBefore(int32_t packet) {
  if (everyPacketKey_) return packet;
  if (packet <= 0 || CandidateCount() == 0) return 0;
  // The last candidate at or before the packet (candidates begin with packet 0)...
  const size_t asked =
      everyCandidate_
          ? static_cast<size_t>(packet)
          : static_cast<size_t>(std::upper_bound(candidates_.begin(), candidates_.end(), packet) -
                                candidates_.begin() - 1);
  // ... and back from it to the first start, or into the stretch the last answer covers.
  size_t i = asked;
  auto known = [&] { return i >= startCandidate_ && i <= lastFailed_; };
  while (i > 0 && !known() && !IsStart(i)) --i;
  if (known()) {
    i = startCandidate_;
    lastFailed_ = std::max(lastFailed_, asked);
  } else {
    startCandidate_ = i;
    lastFailed_ = asked;
  }
  return Candidate(i);
}

int32_t AviTrack::KeyBefore(int32_t key) {
  if (everyPacketKey_) return key - 1;
  return key > 0 ? KeyAtOrBefore(key - 1) : -1;
}

const Palette* AviTrack::PaletteAt(int32_t packet) {
  if (!palette_ || changes_.empty()) return palette_.get();
  // The changes in force: those whose position is at or before the packet's chunk.
  const auto chunk = static_cast<uint32_t>(ChunkOfPacket(packet));
  const size_t n = static_cast<size_t>(
      std::upper_bound(changes_.begin(), changes_.end(), chunk,
                       [](uint32_t c, const AviPaletteChange& x) { return c < x.position; }) -
      changes_.begin());
  // From the nearest copy at or before them, unless what is held is nearer.
  const size_t copy = std::min(n / kPaletteSnapshotEvery, snapshots_.size() - 1);
  if (n < applied_ || copy * kPaletteSnapshotEvery > applied_) {
    current_ = snapshots_[copy];
    applied_ = copy * kPaletteSnapshotEvery;
  }
  while (applied_ < n) {
    ApplyPaletteChange(changes_[applied_++]);
    if (applied_ % kPaletteSnapshotEvery == 0 &&
        applied_ / kPaletteSnapshotEvery == snapshots_.size())
      snapshots_.push_back(current_);
  }
  return &current_;
}

void AviTrack::ApplyPaletteChange(const AviPaletteChange& change) {
  const AviChunk chunk{change.offset, change.size, 0};
  uint8_t b[kPaletteChangeBytes];
  const size_t n = std::min<size_t>(reader_.Check(chunk), sizeof b);
  if (n < 4 || !reader_.ReadFront(chunk, b, n)) return;  // damaged: the colours stay
  const size_t first = b[0], count = b[1] ? b[1] : 256;
  // One that runs past the 256th entry is malformed: ffmpeg applies none of it, nor do we.
  // Entries past the chunk's end are not there.
  if (first + count > 256) return;
  const size_t entries = std::min(count, (n - 4) / 4);
  for (size_t i = 0; i < entries; ++i) {
    const uint8_t* e = b + 4 + 4 * i;  // red, green, blue, flags
    current_[first + i] = 0xFF000000u | uint32_t{e[0]} << 16 | uint32_t{e[1]} << 8 | e[2];
  }
}
