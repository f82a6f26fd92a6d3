// A video stream's index as data that answers the decoders' questions: which packet shows at a
// position, which packets decoding may start at, and the palette in force at a packet.
//
// Positions are the index's entries; packets are its non-empty chunks, in order. A dropped
// frame (an empty chunk) is a position that shows the packet before it. Nothing per position is
// kept besides the index itself unless frames were dropped, and nothing per packet for keyframes
// of intra-only codecs, so that a long capture costs its 12-byte entries and little more.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "avicontainer.h"
#include "packetreader.h"
#include "streamformat.h"  // Palette

class Track {
 public:
  // The stream's palette, if its format has one, is the palette of every packet.
  Track(const AviStreamData& stream, std::shared_ptr<const Palette> palette);

  int32_t PacketCount() const {
    return static_cast<int32_t>(everyChunk_ ? chunks_.size() : packets_.size());
  }
  // The packet shown at pos: the last non-empty chunk at or before it (positions before the
  // first show the first); -1 if pos is out of range or the stream has no packet.
  int32_t PacketOfPosition(int32_t pos) const;
  const AviChunk& Chunk(int32_t packet) const {
    return chunks_[everyChunk_ ? packet : packets_[packet]];
  }

  // Whether a packet's bytes start a picture that decoding can start at.
  using KeyTest = std::function<bool(const uint8_t* data, size_t size)>;
  // Settles which packets decoding may start at, once the codec is known: every one of an
  // intra-only codec; else those the index flags (packet 0 only, when the index was rebuilt
  // and so says nothing), unless a bitstream test is given for a rebuilt index: then each
  // packet is read for it at most once, as seeks ask, rather than decoded from the start.
  void SetKeyframes(bool intraOnly, KeyTest test, PacketReader* reader);
  int32_t KeyAtOrBefore(int32_t packet);  // 0 when none is
  int32_t KeyBefore(int32_t key);         // the key before a key packet, -1 when none is

  // The palette in force at a packet, null for a stream without one. One for the whole stream
  // today; palette-change chunks would be looked up here.
  const Palette* PaletteAt(int32_t /*packet*/) const { return palette_.get(); }

 private:
  bool IsVerifiedKey(int32_t packet);

  const std::vector<AviChunk>& chunks_;  // the stream's index, owned by the opened file
  bool keyframesKnown_;                  // the index's flags are the keyframes
  // Chunk index of each non-empty chunk; left empty when no chunk is (packet = position), so
  // that a long capture without dropped frames costs no memory here.
  std::vector<int32_t> packets_;
  bool everyChunk_ = false;

  enum class Keys { kEveryPacket, kListed, kVerified };
  Keys keys_ = Keys::kListed;
  std::vector<int32_t> keyList_;  // kListed: packets decoding may start at, in order
  // kVerified: the codec's test, the reader it reads with, and each packet's answer.
  KeyTest keyTest_;
  PacketReader* reader_ = nullptr;
  static constexpr int8_t kUnknown = -1, kNotKey = 0, kKey = 1;
  std::vector<int8_t> keyState_;

  std::shared_ptr<const Palette> palette_;  // the format's; null without one
};
