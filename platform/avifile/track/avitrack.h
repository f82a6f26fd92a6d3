// An AVI video stream's index as data that answers the decoders' questions: which packet shows at
// a position, which packets decoding may start at, and the palette in force at a packet. Each
// packet is one unit and one picture.
//
// Positions are the index's entries; packets are its non-empty chunks, in order. A dropped
// frame (an empty chunk) is a position that shows the packet before it. Nothing per position is
// kept unless frames were dropped, and nothing per packet for keyframes of intra-only codecs, so
// that a long capture costs what its index holds (nothing per position for OpenDML).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "avicontainer.h"
#include "packetreader.h"
#include "track.h"

struct AVBufferRef;

class AviTrack : public Track {
 public:
  // The stream's palette, if its format has one, holds until the stream's first palette change.
  // streamNumber: the stream's number among the file's, as its chunk ids name it.
  AviTrack(const FileReader& file, const AviStreamData& stream, int streamNumber,
           std::shared_ptr<const Palette> palette);
  ~AviTrack() override;

  int32_t Length() const override {
    return chunks_.size() > INT32_MAX ? INT32_MAX : static_cast<int32_t>(chunks_.size());
  }
  int32_t PictureOfPosition(int32_t pos) const override { return PacketOfPosition(pos); }
  int32_t PictureCount() const override { return PacketCount(); }
  int32_t UnitCount() const override { return PacketCount(); }
  uint32_t UnitBytes(int32_t unit) const override { return Chunk(unit).size; }
  bool Read(int32_t unit, Packet* out, size_t padding = 0) override {
    return reader_.Read(Chunk(unit), out, padding);
  }
  uint32_t Check(int32_t unit) override { return reader_.Check(Chunk(unit)); }
  bool ReadFront(int32_t unit, uint8_t* dst, size_t n) override {
    return reader_.ReadFront(Chunk(unit), dst, n);
  }
  bool Send(int32_t unit, const PacketSink& sink) override;

  int32_t PacketCount() const {
    return static_cast<int32_t>(everyChunk_ ? chunks_.size() : packets_.size());
  }
  // The packet shown at pos: the last non-empty chunk at or before it (positions before the
  // first show the first); -1 if pos is out of range or the stream has no packet.
  int32_t PacketOfPosition(int32_t pos) const;
  AviChunk Chunk(int32_t packet) const {
    return chunks_.At(static_cast<size_t>(ChunkOfPacket(packet)));
  }

  // Whether a packet's bytes hold a picture that decoding can start at: one that needs nothing
  // of the pictures before it.
  // Settles which packets decoding may start at, once the codec is known: every one of an
  // intra-only codec; else the candidates — the packets the index flags, or every packet where
  // it flags none (a rebuilt index) — each of which must pass the codec's test where there is
  // one. A candidate is read for it at most once, as seeks ask. Without a test and without flags
  // only packet 0 is known to be a start: decoding goes from there.
  void SetKeyframes(bool intraOnly, KeyTest test) override;
  int32_t KeyAtOrBefore(int32_t packet) override;  // 0 when none is
  int32_t KeyBefore(int32_t key) override;         // the key before a key packet, -1 when none is

  // The palette in force at a packet: the format's, changed by every palette change at or before
  // the packet's position; null for a stream without one. Valid until the next call.
  const Palette* PaletteAt(int32_t packet) override;

 private:
  int32_t ChunkOfPacket(int32_t packet) const { return everyChunk_ ? packet : packets_[packet]; }
  size_t CandidateCount() const {
    return everyCandidate_ ? static_cast<size_t>(PacketCount()) : candidates_.size();
  }
  int32_t Candidate(size_t i) const {
    return everyCandidate_ ? static_cast<int32_t>(i) : candidates_[i];
  }
  bool IsStart(size_t candidate);
  void ApplyPaletteChange(const AviPaletteChange& change);

  // A buffer of at least size bytes for the next packet that Send hands on, as a reference.
  AVBufferRef* PacketBuffer(size_t size);

  const ChunkIndex& chunks_;  // the stream's index, owned by the opened file
  PacketReader reader_;
  AVBufferRef* packetBuffer_ = nullptr;  // the packets' buffer, reused while the decoder lets go
  AVPacket* packet_ = nullptr;
  bool keyframesKnown_;  // the index's flags are the keyframes
  // Chunk index of each non-empty chunk; left empty when no chunk is (packet = position), so
  // that a long capture without dropped frames costs no memory here.
  std::vector<int32_t> packets_;
  bool everyChunk_ = false;

  bool everyPacketKey_ = false;      // intra-only: no candidates, no tests
  bool everyCandidate_ = false;      // every packet is a candidate
  std::vector<int32_t> candidates_;  // else the candidates, in order, packet 0 first
  KeyTest keyTest_;                  // null: every candidate is a start
  static constexpr int8_t kUnknown = -1, kNotKey = 0, kKey = 1;
  std::vector<int8_t> keyState_;  // each candidate's answer, with a test
  // The last answer, so that stepping past candidates that fail costs nothing: candidate
  // startCandidate_ is a start and none after it up to lastFailed_ is.
  size_t startCandidate_ = 0, lastFailed_ = 0;

  std::shared_ptr<const Palette> palette_;  // the format's; null without one
  const std::vector<AviPaletteChange>& changes_;
  // The palette with the first `applied_` changes applied, and copies of it every
  // kPaletteSnapshotEvery changes, so that a jump back reads at most that many changes (the
  // copies of kMaxPaletteChanges changes take 1 MB).
  static constexpr size_t kPaletteSnapshotEvery = 64;
  Palette current_{};
  size_t applied_ = 0;
  std::vector<Palette> snapshots_;
};
