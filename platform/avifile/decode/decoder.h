// Decompressors for a video stream: each delivers any position as a packed DIB (40-byte
// header + 24-bit bottom-up BGR pixels, rows padded to 4 bytes), the size of the stream's
// pictures. Uncompressed DIB streams are converted by our own code; every other format goes
// through libavcodec and libswscale.
//
// Decoders take packets only: the track says which unit to decode and hands over its packets,
// and no decoder knows the file or its container.
//
// Ownership: the decoder owns its track and the packed DIB it returns, which stays valid until
// the next GetFrame call or the decoder's end. The track reads through the opened file, which
// outlives the decoder.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "avifile.h"
#include "dib.h"
#include "track.h"

// Larger frames are refused with the decoder message (no decompressor delivers them). 16384 a
// side is twice 8K; 40 M pixels is above 8K UHD (33 M), and its 24-bit frame, under 120 MB, is
// held twice (here and in the frame buffer).
inline constexpr int32_t kMaxFrameDimension = 16384;    // pixels, each of width and height
inline constexpr int64_t kMaxFramePixels = 40'000'000;  // width x height
// Whether frames of this size are within those bounds.
inline bool FrameSizeAllowed(int64_t width, int64_t height) {
  return width > 0 && height > 0 && width <= kMaxFrameDimension && height <= kMaxFrameDimension &&
         width * height <= kMaxFramePixels;
}

class FrameDecoder {
 public:
  virtual ~FrameDecoder() = default;

  // Null, and *why set, when no decompressor can deliver the track's pictures as 24-bit frames
  // (kFrameSize when their size is out of bounds).
  static std::unique_ptr<FrameDecoder> Create(std::unique_ptr<Track> track,
                                              const DecoderParams& params, AviDecoderError* why);

  // Whether a picture decodes among the stream's first units: at most kLookAheadPackets of
  // them, and no more than kLookAheadBytes. A stream whose first picture is damaged still opens;
  // one that shows nothing that soon is taken to be undecodable.
  bool FindFirstPicture();
  // The packed DIB of position pos, or null when pos is outside the stream. A position that
  // cannot be decoded shows the last picture before it that could, whole; before the first
  // one, black at the stream's size.
  const uint8_t* GetFrame(int32_t pos);
  // Whether the last GetFrame delivered that position's own picture.
  bool LastDecoded() const { return decoded_; }
  // The picture held after a failure of our own (memory), when it is one of the stream's.
  const uint8_t* Held() const { return held_ >= kBlack ? Dib() : nullptr; }
  // The order of the fields: what the first picture decoded says, else what the file says.
  AviFieldOrder FieldOrder() const {
    return pictureOrder_ != AviFieldOrder::kUnknown ? pictureOrder_ : streamOrder_;
  }

  // Covers a decoder's delay (at most 16 reordered pictures) and a keyframe interval of up to
  // 250 pictures, ffmpeg's default, in case the first keyframe is the damaged one.
  static constexpr int32_t kLookAheadPackets = 300;
  static constexpr uint64_t kLookAheadBytes = 64 << 20;  // and so many bytes of them at most

 protected:
  FrameDecoder(std::unique_ptr<Track> track, const DecoderParams& params);

  // Pictures [first, last] that do not decode.
  struct Span {
    int32_t first, last;
  };
  // Puts a picture into the DIB and returns true; or returns false with *dead set to pictures
  // known not to decode (this one among them). A decoder may then have put the picture before
  // them into the DIB (SetHeld), saving a decode of it.
  virtual bool Decode(int32_t picture, Span* dead) = 0;
  void SetHeld(int32_t picture) { held_ = picture; }
  int32_t HeldPicture() const { return held_; }  // the picture the DIB holds; < 0 for none
  // What a decoded picture says of its fields; the first picture's word is the one kept.
  void NotePictureOrder(AviFieldOrder order) {
    if (!orderNoted_) pictureOrder_ = order;
    orderNoted_ = true;
  }
  static constexpr int32_t kGarbage = -2, kBlack = -1;  // held_ other than a picture
  // Units decoding may send up to (exclusive): all but while looking ahead.
  int32_t sendLimit_ = INT32_MAX;

  Track& track() { return *track_; }
  const Track& track() const { return *track_; }
  int32_t PictureCount() const { return track_->PictureCount(); }
  int32_t UnitCount() const { return track_->UnitCount(); }

  // The packed DIB is made when the first frame is delivered, not on the header's word: a
  // header that declares a huge frame costs nothing until a frame of that size decodes.
  uint8_t* Pixels();
  const uint8_t* Dib() const { return dib_.data(); }
  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  int64_t stride() const { return stride_; }

 private:
  const Span* DeadSpanAt(int32_t picture) const;
  void AddDeadSpan(Span span);

  std::unique_ptr<Track> track_;
  int32_t width_, height_;
  int64_t stride_;
  std::vector<uint8_t> dib_;
  int32_t held_ = kGarbage;                               // the picture the DIB holds, or kBlack
  AviFieldOrder streamOrder_;                             // the file's word
  AviFieldOrder pictureOrder_ = AviFieldOrder::kUnknown;  // the first picture's
  bool orderNoted_ = false;
  bool decoded_ = false;
  // Pictures found not to decode, first -> span; adjacent spans are merged, so that a damaged
  // stretch is decoded once and stepping through it costs nothing.
  std::map<int32_t, Span> dead_;
};
