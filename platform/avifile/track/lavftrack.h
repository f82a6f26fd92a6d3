// The track of a file libavformat reads: its index, made in one pass over the file without
// decoding, and the reading of a unit's packets back through the demuxer.
//
// A unit is the packets of one picture in decode order: one packet, or two for a frame coded as
// two field pictures that the demuxer hands over one by one; a packet that begins no picture
// (the rest of a picture cut by the file's start, a stray end code) joins the unit before it,
// or is a unit of its own. Positions are the units' pictures in display order, but for those
// that decoding from the stream's start never shows.
//
// A unit is found again by the position and size of its first packet, never by counting packets
// from where a seek lands: reading goes to the unit's position in the file (or, where the
// container seeks by timestamps only, to a seek point before it), then takes packets in order,
// checking each unit's first packet as it comes. A decoder identifies the picture it made by
// the unit number sent with the packets.
#pragma once

#include <cstdint>
#include <vector>

#include "track.h"

class LavfDemuxer;
struct AVPacket;

// 2^23 units are 77 hours at 30 frames a second, as many as an AVI stream's positions.
inline constexpr uint32_t kMaxUnits = 1u << 23;
// A unit joins at most so many packets; a stream of stray packets beyond makes units of its own.
inline constexpr uint32_t kMaxUnitPackets = 255;
// Reading back looks at most so many packets for a unit's first before it gives up on it.
inline constexpr int kMaxPacketsSought = 4096;

// One unit of the index: 16 bytes.
struct LavfUnit {
  uint64_t pos1 : 48 = 0;      // the first packet's byte position + 1; 0 when the demuxer told none
  uint64_t packets : 8 = 0;    // packets, 1 to kMaxUnitPackets
  uint64_t key : 1 = 0;        // decoding may start here
  uint64_t picture : 1 = 0;    // it begins a picture
  uint64_t reference : 1 = 1;  // other pictures may be predicted from its picture
  uint64_t passes : 1 = 0;     // the codec's test says decoding may start here (while opening)
  uint32_t firstBytes = 0;     // bytes of its first packet
  int32_t position = -1;       // the position showing its picture; -1 for none
};
static_assert(sizeof(LavfUnit) == 16);

// Where a container that seeks by timestamps can be sent: a key unit and its timestamp.
struct LavfSeekPoint {
  int32_t unit = 0;
  int64_t timestamp = 0;
};

struct LavfIndex {
  std::vector<LavfUnit> units;            // in decode order
  std::vector<int32_t> positions;         // position -> unit
  std::vector<int32_t> keys;              // the key units, in order
  std::vector<LavfSeekPoint> seekPoints;  // in order; the first at unit 0
};

// Reads units back through a demuxer, for every track of the file: where the demuxer stands is
// known here, so that reading on needs no seek.
class LavfPackets {
 public:
  LavfPackets(LavfDemuxer& demuxer, const LavfIndex& index);
  ~LavfPackets();
  LavfPackets(const LavfPackets&) = delete;
  LavfPackets& operator=(const LavfPackets&) = delete;

  // Hands each packet of a unit to sink, in order; false when the unit is not found.
  bool ReadUnit(int32_t unit, const Track::PacketSink& sink);

 private:
  // Sends the demuxer to a place before the unit (the further back, the later the attempt) and
  // sets next_ to the unit that begins there.
  bool SeekBefore(int32_t unit, int attempt);
  // Reads on from unit next_ until the unit's first packet is held; false when it is not found.
  bool Advance(int32_t unit);
  // Whether a packet may be a unit's first: its size, and its byte position where both tell one.
  bool Matches(const AVPacket* pkt, int32_t unit) const;
  // Whether the held packet is surely the first of the unit after this one.
  bool StartsNext(int32_t unit) const;
  // Takes the next packet into held_; false at the end.
  bool Take();

  LavfDemuxer& demuxer_;
  const LavfIndex& index_;
  AVPacket* held_ = nullptr;  // a packet read and not yet handed on
  bool holding_ = false;
  int32_t next_ = -1;  // the unit held_ or the next packet begins; -1 unknown
};

class LavfTrack : public Track {
 public:
  LavfTrack(const LavfIndex& index, LavfPackets& packets) : index_(index), packets_(packets) {}
  ~LavfTrack() override;

  int32_t Length() const override { return static_cast<int32_t>(index_.positions.size()); }
  int32_t PictureOfPosition(int32_t pos) const override {
    return pos >= 0 && pos < Length() ? pos : -1;
  }
  int32_t PictureCount() const override { return Length(); }
  int32_t UnitCount() const override { return static_cast<int32_t>(index_.units.size()); }
  uint32_t UnitBytes(int32_t unit) const override { return index_.units[unit].firstBytes; }
  bool Read(int32_t unit, Packet* out, size_t padding = 0) override;
  uint32_t Check(int32_t unit) override;
  bool ReadFront(int32_t unit, uint8_t* dst, size_t n) override;
  bool Send(int32_t unit, const PacketSink& sink) override { return packets_.ReadUnit(unit, sink); }

  // The index settled the keyframes.
  void SetKeyframes(bool, KeyTest) override {}
  int32_t KeyAtOrBefore(int32_t unit) override;
  int32_t KeyBefore(int32_t key) override;

  bool Timed() const override { return true; }
  int32_t PictureOfUnit(int32_t unit) const override { return index_.units[unit].position; }
  bool Reference(int32_t unit) const override { return index_.units[unit].reference; }
  int32_t UnitOfPicture(int32_t picture) const override { return index_.positions[picture]; }

 private:
  const LavfIndex& index_;
  LavfPackets& packets_;
  std::vector<uint8_t> buffer_;  // the packets of the last Read
};
