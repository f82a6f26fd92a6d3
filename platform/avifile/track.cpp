#include "track.h"

#include <algorithm>

Track::Track(const AviStreamData& stream, std::shared_ptr<const Palette> palette)
    : chunks_(stream.chunks), keyframesKnown_(stream.keyframesKnown), palette_(std::move(palette)) {
  everyChunk_ =
      std::none_of(chunks_.begin(), chunks_.end(), [](const AviChunk& c) { return c.size == 0; });
  for (size_t i = 0; i < chunks_.size() && !everyChunk_; ++i)
    if (chunks_[i].size > 0) packets_.push_back(static_cast<int32_t>(i));
}

int32_t Track::PacketOfPosition(int32_t pos) const {
  if (pos < 0 || static_cast<size_t>(pos) >= chunks_.size() || PacketCount() == 0) return -1;
  if (everyChunk_) return pos;
  // The last non-empty chunk at or before pos; positions before the first one show it.
  auto it = std::upper_bound(packets_.begin(), packets_.end(), pos);
  return it == packets_.begin() ? 0 : static_cast<int32_t>(it - packets_.begin() - 1);
}

void Track::SetKeyframes(bool intraOnly, KeyTest test, PacketReader* reader) {
  keyList_.clear();
  keyState_.clear();
  if (intraOnly) {
    keys_ = Keys::kEveryPacket;
  } else if (!keyframesKnown_ && test && reader) {
    keys_ = Keys::kVerified;
    keyTest_ = std::move(test);
    reader_ = reader;
    keyState_.assign(static_cast<size_t>(PacketCount()), kUnknown);
  } else {
    keys_ = Keys::kListed;
    for (int32_t p = 0; p < PacketCount(); ++p)
      if (p == 0 || (keyframesKnown_ && Chunk(p).keyframe)) keyList_.push_back(p);
  }
}

int32_t Track::KeyAtOrBefore(int32_t packet) {
  switch (keys_) {
    case Keys::kEveryPacket:
      return packet;
    case Keys::kVerified:
      for (int32_t p = packet; p > 0; --p)
        if (IsVerifiedKey(p)) return p;
      return 0;
    case Keys::kListed:
      break;
  }
  auto it = std::upper_bound(keyList_.begin(), keyList_.end(), packet);
  return it == keyList_.begin() ? 0 : *(it - 1);
}

int32_t Track::KeyBefore(int32_t key) {
  switch (keys_) {
    case Keys::kEveryPacket:
      return key - 1;
    case Keys::kVerified:
      return key > 0 ? KeyAtOrBefore(key - 1) : -1;
    case Keys::kListed:
      break;
  }
  auto it = std::lower_bound(keyList_.begin(), keyList_.end(), key);
  return it == keyList_.begin() ? -1 : *(it - 1);
}

bool Track::IsVerifiedKey(int32_t p) {
  int8_t& state = keyState_[static_cast<size_t>(p)];
  if (state == kUnknown) {
    Packet packet;
    state = reader_->Read(Chunk(p), &packet) && keyTest_(packet.data, packet.size) ? kKey : kNotKey;
  }
  return state == kKey;
}
