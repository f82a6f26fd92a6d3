#include "packetreader.h"

#include <algorithm>
#include <cstring>

uint32_t PacketReader::UsableSize(const uint8_t* head, const AviChunk& chunk) const {
  if (StreamOfChunkId(Le32(head)) != streamNumber_) return 0;
  return std::min(Le32(head + 4), chunk.size);
}

uint32_t PacketReader::Check(const AviChunk& chunk) const {
  uint8_t head[kHeaderBytes];
  return chunk.offset >= kHeaderBytes &&
                 file_.ReadAt(chunk.offset - kHeaderBytes, head, sizeof head)
             ? UsableSize(head, chunk)
             : 0;
}

bool PacketReader::ReadInto(const AviChunk& chunk, uint8_t* dst, size_t padding,
                            Packet* out) const {
  if (chunk.offset < kHeaderBytes ||
      !file_.ReadAt(chunk.offset - kHeaderBytes, dst, kHeaderBytes + chunk.size))
    return false;
  const uint32_t size = UsableSize(dst, chunk);
  if (size == 0) return false;
  std::memset(dst + kHeaderBytes + size, 0, padding);
  *out = {dst + kHeaderBytes, size, chunk.keyframe != 0};
  return true;
}

bool PacketReader::Read(const AviChunk& chunk, Packet* out, size_t padding) {
  const size_t room = Room(chunk, padding);
  if (buffer_.size() < room) buffer_.resize(room);
  return ReadInto(chunk, buffer_.data(), padding, out);
}

bool PacketReader::ReadFront(const AviChunk& chunk, uint8_t* dst, size_t n) const {
  return n <= chunk.size && file_.ReadAt(chunk.offset, dst, n);
}
