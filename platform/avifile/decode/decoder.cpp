// The decoder base (positions, pictures, the packed DIB), the choice of decoder for a stream, and
// our converter for uncompressed DIB streams (1 to 32 bits, either row order).
#include "decoder.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "filereader.h"  // Le16, Le32
#include "libavdecoder.h"

namespace {

// Uncompressed DIB frames, converted to 24-bit bottom-up rows.
class RawDibDecoder : public FrameDecoder {
 public:
  RawDibDecoder(std::unique_ptr<Track> track, const DecoderParams& params)
      : FrameDecoder(std::move(track), params),
        bits_(params.raw->bits),
        topDown_(params.raw->topDown),
        srcStride_(params.raw->stride),
        masks_(params.raw->masks) {}

  bool Decode(int32_t packet, Span* /*dead*/) override {
    // A chunk that holds less than a whole picture, by its index or by its own header, is
    // not one: nothing of it is read or converted.
    const size_t need = static_cast<size_t>(srcStride_) * height();
    if (track().UnitBytes(packet) < need) return false;
    if (bits_ == 24 && !topDown_) {
      // Already in the delivered layout: read straight into the frame.
      if (track().Check(packet) < need) return false;
      if (!track().ReadFront(packet, Pixels(), need)) {
        SetHeld(kGarbage);  // the read may have overwritten part of the picture
        return false;
      }
    } else {
      Packet p;
      if (!track().Read(packet, &p) || p.size < need) return false;
      Convert(p.data, track().PaletteAt(packet));
    }
    return true;
  }

 private:
  static uint8_t Channel(uint32_t v, uint32_t mask) {
    if (!mask) return 0;
    int shift = __builtin_ctz(mask);
    uint32_t max = mask >> shift;
    return static_cast<uint8_t>(((v & mask) >> shift) * 255 / max);
  }

  void Convert(const uint8_t* src, const Palette* palette) {
    for (int32_t y = 0; y < height(); ++y) {
      const uint8_t* s = src + static_cast<int64_t>(topDown_ ? height() - 1 - y : y) * srcStride_;
      uint8_t* d = Pixels() + y * stride();
      for (int32_t x = 0; x < width(); ++x, d += 3) {
        switch (bits_) {
          case 1:
          case 2:
          case 4:
          case 8: {
            int bitPos = x * bits_;
            uint32_t index = (s[bitPos >> 3] >> (8 - bits_ - (bitPos & 7))) & ((1u << bits_) - 1);
            const uint32_t bgr = palette ? (*palette)[index] : 0;
            d[0] = static_cast<uint8_t>(bgr), d[1] = static_cast<uint8_t>(bgr >> 8),
            d[2] = static_cast<uint8_t>(bgr >> 16);
            break;
          }
          case 16: {
            uint32_t v = Le16(s + 2 * x);
            d[0] = Channel(v, masks_[2]), d[1] = Channel(v, masks_[1]),
            d[2] = Channel(v, masks_[0]);
            break;
          }
          case 24:
            std::memcpy(d, s + 3 * x, 3);
            break;
          default: {
            uint32_t v = Le32(s + 4 * x);
            d[0] = Channel(v, masks_[2]), d[1] = Channel(v, masks_[1]),
            d[2] = Channel(v, masks_[0]);
          }
        }
      }
    }
  }

  int bits_;
  bool topDown_;
  int64_t srcStride_;
  std::array<uint32_t, 3> masks_{};  // red, green, blue
};

}  // namespace

FrameDecoder::FrameDecoder(std::unique_ptr<Track> track, const DecoderParams& params)
    : track_(std::move(track)),
      width_(params.width),
      height_(params.height),
      stride_(DibStride(params.width, 24)),
      streamOrder_(params.fieldOrder) {}

uint8_t* FrameDecoder::Pixels() {
  if (dib_.empty()) {
    dib_.assign(40 + static_cast<size_t>(stride_) * height_, 0);
    BITMAPINFOHEADER h;
    h.biWidth = width_;
    h.biHeight = height_;
    h.biSizeImage = static_cast<uint32_t>(stride_ * height_);
    std::memcpy(dib_.data(), &h, sizeof h);
  }
  return dib_.data() + 40;
}

const uint8_t* FrameDecoder::GetFrame(int32_t pos) {
  const int32_t packet = track_->PictureOfPosition(pos);
  if (packet < 0) return nullptr;
  // Each turn delivers, or learns packets that yield nothing and moves to the one before them.
  int32_t want = packet;
  while (want >= 0 && want != held_) {
    if (const Span* known = DeadSpanAt(want)) {
      want = known->first - 1;
      continue;
    }
    Span dead{want, want};
    if (Decode(want, &dead)) {
      held_ = want;
      break;
    }
    AddDeadSpan({std::min(dead.first, want), std::max(dead.last, want)});
    want = std::min(dead.first, want) - 1;
  }
  if (want < 0 && held_ != kBlack) {
    std::memset(Pixels(), 0, static_cast<size_t>(stride_) * height_);
    held_ = kBlack;
  }
  decoded_ = want == packet;
  return Dib();
}

bool FrameDecoder::FindFirstPicture() {
  int32_t limit = 0;
  for (uint64_t bytes = 0; limit < UnitCount() && limit < kLookAheadPackets &&
                           (bytes += track_->UnitBytes(limit)) <= kLookAheadBytes;)
    ++limit;
  limit = std::max(limit, std::min(UnitCount(), 1));
  sendLimit_ = limit;
  int32_t found = -1;
  for (int32_t p = 0; p < std::min(limit, PictureCount());) {
    Span dead{p, p};
    if (Decode(p, &dead)) {
      held_ = found = p;
      break;
    }
    p = std::max(p, dead.last) + 1;
  }
  sendLimit_ = INT32_MAX;
  // What was learnt with the decoders held back may not hold without them; this does: no
  // picture comes out before the first.
  dead_.clear();
  if (found > 0) AddDeadSpan({0, found - 1});
  return found >= 0;
}

const FrameDecoder::Span* FrameDecoder::DeadSpanAt(int32_t packet) const {
  auto it = dead_.upper_bound(packet);
  if (it == dead_.begin()) return nullptr;
  --it;
  return it->second.last >= packet ? &it->second : nullptr;
}

void FrameDecoder::AddDeadSpan(Span span) {
  auto it = dead_.upper_bound(span.first);
  if (it != dead_.begin() && std::prev(it)->second.last + 1 >= span.first) {
    --it;
    span.first = it->second.first;
    span.last = std::max(span.last, it->second.last);
    it = dead_.erase(it);
  }
  while (it != dead_.end() && it->second.first <= span.last + 1) {
    span.last = std::max(span.last, it->second.last);
    it = dead_.erase(it);
  }
  dead_.emplace(span.first, span);
}

std::unique_ptr<FrameDecoder> FrameDecoder::Create(std::unique_ptr<Track> track,
                                                   const DecoderParams& params,
                                                   AviDecoderError* why) {
  if (!FrameSizeAllowed(params.width, params.height)) {
    *why = AviDecoderError::kFrameSize;
    return nullptr;
  }
  if (params.unusable != AviDecoderError::kNone) {
    *why = params.unusable;
    return nullptr;
  }
  if (params.raw) return std::make_unique<RawDibDecoder>(std::move(track), params);
  return CreateLibavDecoder(std::move(track), params, why);
}
