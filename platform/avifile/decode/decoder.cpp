// The decoder base (positions, packets, the packed DIB), the choice of decoder for a stream, and
// our converter for uncompressed DIB streams (1 to 32 bits, either row order).
#include "decoder.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "libavdecoder.h"

namespace {

constexpr uint32_t kDIB = MakeFourCC('D', 'I', 'B', ' ');
constexpr uint32_t kRGB = MakeFourCC('R', 'G', 'B', ' ');
constexpr uint32_t kRAW = MakeFourCC('R', 'A', 'W', ' ');

// Uncompressed DIB frames, under any of the tags writers give them.
bool IsDibCompression(uint32_t c) {
  return c == BI_RGB || c == kDIB || c == kRGB || c == kRAW || c == BI_BITFIELDS;
}

// Uncompressed DIB frames, converted to 24-bit bottom-up rows.
class RawDibDecoder : public FrameDecoder {
 public:
  RawDibDecoder(const FileReader& file, const AviStreamData& stream, int number,
                const StreamFormat& format)
      : FrameDecoder(file, stream, number, format),
        bits_(format.header.biBitCount),
        topDown_(format.header.biHeight < 0),
        srcStride_(DibStride(format.header.biWidth, format.header.biBitCount)) {
    const BITMAPINFOHEADER& h = format.header;
    const std::vector<uint8_t>& f = stream.format;
    // A colour table (8 bits or fewer) is the track's: the one in force at each packet.
    if (bits_ <= 8) return;
    if (h.biCompression == BI_BITFIELDS)
      masks_ = {Le32(f.data() + 40), Le32(f.data() + 44), Le32(f.data() + 48)};
    else if (bits_ == 16)
      masks_ = {0x7C00, 0x03E0, 0x001F};
    else
      masks_ = {0xFF0000, 0x00FF00, 0x0000FF};
  }

  bool Decode(int32_t packet, Span* /*dead*/) override {
    // A chunk that holds less than a whole picture, by its index or by its own header, is
    // not one: nothing of it is read or converted.
    const size_t need = static_cast<size_t>(srcStride_) * height();
    const AviChunk chunk = track().Chunk(packet);
    if (chunk.size < need) return false;
    if (bits_ == 24 && !topDown_) {
      // Already in the delivered layout: read straight into the frame.
      if (reader().Check(chunk) < need) return false;
      if (!reader().ReadFront(chunk, Pixels(), need)) {
        SetHeld(kGarbage);  // the read may have overwritten part of the picture
        return false;
      }
    } else {
      Packet p;
      if (!reader().Read(chunk, &p) || p.size < need) return false;
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

FrameDecoder::FrameDecoder(const FileReader& file, const AviStreamData& stream, int streamNumber,
                           const StreamFormat& format)
    : reader_(file, streamNumber),
      track_(stream, format.palette, reader_),
      width_(format.width),
      height_(format.height),
      stride_(DibStride(format.width, 24)) {}

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
  const int32_t packet = track_.PacketOfPosition(pos);
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
  for (uint64_t bytes = 0; limit < PacketCount() && limit < kLookAheadPackets &&
                           (bytes += track_.Chunk(limit).size) <= kLookAheadBytes;)
    ++limit;
  limit = std::max(limit, std::min(PacketCount(), 1));
  sendLimit_ = limit;
  int32_t found = -1;
  for (int32_t p = 0; p < limit;) {
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

std::unique_ptr<FrameDecoder> FrameDecoder::Create(const FileReader& file,
                                                   const AviStreamData& stream, int streamNumber,
                                                   AviDecoderError* why) {
  const std::optional<StreamFormat> format = ReadStreamFormat(stream.format);
  if (!format) {
    *why = AviDecoderError::kNoFormat;
    return nullptr;
  }
  const BITMAPINFOHEADER& h = format->header;
  const int64_t w = format->width, ht = format->height;
  if (w <= 0 || ht <= 0 || w > kMaxFrameDimension || ht > kMaxFrameDimension ||
      w * ht > kMaxFramePixels) {
    *why = AviDecoderError::kFrameSize;
    return nullptr;
  }
  if (IsDibCompression(h.biCompression)) {
    bool ok = h.biCompression == BI_BITFIELDS
                  ? (h.biBitCount == 16 || h.biBitCount == 32) && stream.format.size() >= 52
                  : h.biBitCount == 1 || h.biBitCount == 2 || h.biBitCount == 4 ||
                        h.biBitCount == 8 || h.biBitCount == 16 || h.biBitCount == 24 ||
                        h.biBitCount == 32;
    if (!ok) {
      *why = AviDecoderError::kBitDepth;
      return nullptr;
    }
    return std::make_unique<RawDibDecoder>(file, stream, streamNumber, *format);
  }
  return CreateLibavDecoder(file, stream, streamNumber, *format, why);
}

std::string FrameDecoder::CodecName(const AviStreamData& stream) {
  if (stream.format.size() < 40) return "";
  BITMAPINFOHEADER h;
  std::memcpy(&h, stream.format.data(), sizeof h);  // little-endian on disk and here
  if (IsDibCompression(h.biCompression)) return "raw " + std::to_string(h.biBitCount) + "-bit";
  return LibavCodecName(stream, h);
}
