// A video stream as its decoders see it, whichever container it came from: the positions, the
// picture each shows, and the units decoding is sent in decode order, each the packets of one
// picture (two for a frame coded as two field pictures). Our AVI reader's track (avitrack.h) and
// the libavformat reader's (lavftrack.h) are the two kinds; decoders know only this.
//
// Pictures are numbered in display order. In an AVI file the n-th packet is the n-th picture
// shown, and a decoder that reorders pictures counts them itself; a timed track (libavformat's)
// knows from the container's timestamps which picture each unit shows.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "avifile.h"  // AviDecoderError

struct AVPacket;
struct AVCodecParameters;

// 256 colours as 0xFFRRGGBB (in memory: blue, green, red, 255), as libavcodec takes a palette.
using Palette = std::array<uint32_t, 256>;

// A unit's bytes as a reader gives them.
struct Packet {
  const uint8_t* data = nullptr;  // size bytes, then the padding asked for (zero bytes)
  uint32_t size = 0;              // bytes of the packet
  bool keyframe = false;          // as the index flags it (every packet of a rebuilt AVI index)
};

// Uncompressed DIB rows of an AVI stream, which our own code converts.
struct RawDibLayout {
  int bits = 0;                     // 1, 2, 4, 8, 16, 24 or 32
  bool topDown = false;             // rows stored from the top
  int64_t stride = 0;               // bytes of a stored row
  std::array<uint32_t, 3> masks{};  // red, green and blue of 16 and 32 bits
};

struct CodecParametersFree {
  void operator()(AVCodecParameters* p) const;
};
// A stream's codec data (HuffYUV's tables, an avcC record, ...) as bytes.
std::vector<uint8_t> CodecDataOf(const AVCodecParameters& par);

// What a stream's decoder is told of it.
struct DecoderParams {
  int32_t width = 0, height = 0;    // pixels of the pictures delivered
  std::optional<RawDibLayout> raw;  // uncompressed rows; else libavcodec decodes
  // libavcodec's description: codec, tag, size, codec data, ...; null when no codec is known.
  std::unique_ptr<AVCodecParameters, CodecParametersFree> codec;
  // Why no decoder can take the pictures though their size is within bounds (kBitDepth), or
  // kNone.
  AviDecoderError unusable{};
  AviFieldOrder fieldOrder{};  // what the file says of the fields, where the pictures do not
};

class Track {
 public:
  using KeyTest = std::function<bool(const uint8_t* data, size_t size)>;
  using PacketSink = std::function<void(AVPacket* packet)>;

  virtual ~Track() = default;

  virtual int32_t Length() const = 0;  // positions
  // The picture shown at pos; -1 when pos is out of range or the track has no picture.
  virtual int32_t PictureOfPosition(int32_t pos) const = 0;
  virtual int32_t PictureCount() const = 0;

  virtual int32_t UnitCount() const = 0;
  virtual uint32_t UnitBytes(int32_t unit) const = 0;  // as the index tells: reading may find fewer
  // Reads a unit's packets, one after the other, into a buffer of the track's, reused from read
  // to read: out->data is valid until the next Read. False when the unit cannot be read.
  virtual bool Read(int32_t unit, Packet* out, size_t padding = 0) = 0;
  // Bytes of a unit a read would deliver; 0 when it is damaged.
  virtual uint32_t Check(int32_t unit) = 0;
  // The first n bytes of a unit that Check found to hold at least n, straight into dst.
  virtual bool ReadFront(int32_t unit, uint8_t* dst, size_t n) = 0;
  // Hands each packet of a unit, in order, to sink as libavcodec takes it (refcounted, padded);
  // false when none could be read.
  virtual bool Send(int32_t unit, const PacketSink& sink) = 0;

  // Settles which units decoding may start at, once the codec is known: every one of an
  // intra-only codec; else those the index flags that pass the codec's test, where it has one.
  virtual void SetKeyframes(bool intraOnly, KeyTest test) = 0;
  virtual int32_t KeyAtOrBefore(int32_t unit) = 0;  // 0 when none is
  virtual int32_t KeyBefore(int32_t key) = 0;       // the key before a key unit, -1 when none is
  // The palette in force at a unit, for streams of 8 bits or fewer; null otherwise. Valid until
  // the next call.
  virtual const Palette* PaletteAt(int32_t /*unit*/) { return nullptr; }

  // Whether the track knows the picture of each unit (else pictures are counted as decoded).
  virtual bool Timed() const { return false; }
  // The picture a unit shows, -1 for none; for a timed track only.
  virtual int32_t PictureOfUnit(int32_t unit) const { return unit; }
  // The unit that shows a picture (its first packet); for a timed track only.
  virtual int32_t UnitOfPicture(int32_t picture) const { return picture; }
  // Whether a unit's picture may be a reference of others (else decoding may leave it out).
  virtual bool Reference(int32_t /*unit*/) const { return true; }
};
