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

BITMAPINFOHEADER ReadInfoHeader(const std::vector<uint8_t>& f) {
  BITMAPINFOHEADER h;
  std::memcpy(&h, f.data(), sizeof h);  // little-endian on disk and here
  return h;
}

bool IsRawCompression(uint32_t c) {
  return c == BI_RGB || c == kDIB || c == kRGB || c == kRAW;
}

// Uncompressed DIB frames, converted to 24-bit bottom-up rows.
class RawDibDecoder : public FrameDecoder {
 public:
  RawDibDecoder(const FileReader& file, const AviStreamData& stream, int number,
                const BITMAPINFOHEADER& h)
      : FrameDecoder(file, stream, number, h.biWidth, h.biHeight < 0 ? -h.biHeight : h.biHeight),
        bits_(h.biBitCount),
        topDown_(h.biHeight < 0),
        srcStride_(DibStride(h.biWidth, h.biBitCount)) {
    const std::vector<uint8_t>& f = stream.format;
    if (bits_ <= 8) {
      // A short or missing palette leaves the remaining entries black.
      uint32_t entries = h.biClrUsed ? std::min<uint32_t>(h.biClrUsed, 256) : 1u << bits_;
      size_t at = h.biSize >= 40 && h.biSize <= f.size() ? h.biSize : 40;
      for (uint32_t i = 0; i < entries && at + 4 * i + 3 <= f.size(); ++i)
        std::memcpy(palette_[i].data(), f.data() + at + 4 * i, 3);
    } else if (h.biCompression == BI_BITFIELDS) {
      masks_ = {Le32(f.data() + 40), Le32(f.data() + 44), Le32(f.data() + 48)};
    } else if (bits_ == 16) {
      masks_ = {0x7C00, 0x03E0, 0x001F};
    } else {
      masks_ = {0xFF0000, 0x00FF00, 0x0000FF};
    }
  }

  bool Decode(int32_t packet, Span* /*dead*/) override {
    // A chunk that holds less than a whole picture, by its index or by its own header, is
    // not one: nothing of it is read or converted.
    const size_t need = static_cast<size_t>(srcStride_) * height();
    if (Packet(packet).size < need || PacketSize(packet) < need) return false;
    const uint64_t at = Packet(packet).offset;
    if (bits_ == 24 && !topDown_) {
      // Already in the delivered layout: read straight into the frame.
      if (!file_.ReadAt(at, Pixels(), need)) {
        SetHeld(kGarbage);  // the read may have overwritten part of the picture
        return false;
      }
    } else {
      if (!file_.ReadAt(at, src_, need)) return false;
      Convert();
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

  void Convert() {
    for (int32_t y = 0; y < height(); ++y) {
      const uint8_t* s =
          src_.data() + static_cast<int64_t>(topDown_ ? height() - 1 - y : y) * srcStride_;
      uint8_t* d = Pixels() + y * stride();
      for (int32_t x = 0; x < width(); ++x, d += 3) {
        switch (bits_) {
          case 1:
          case 2:
          case 4:
          case 8: {
            int bitPos = x * bits_;
            uint32_t index = (s[bitPos >> 3] >> (8 - bits_ - (bitPos & 7))) & ((1u << bits_) - 1);
            std::memcpy(d, palette_[index].data(), 3);
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
  std::array<std::array<uint8_t, 3>, 256> palette_{};  // blue, green, red
  std::array<uint32_t, 3> masks_{};                    // red, green, blue
  std::vector<uint8_t> src_;
};

}  // namespace

FrameDecoder::FrameDecoder(const FileReader& file, const AviStreamData& stream, int streamNumber,
                           int32_t width, int32_t height)
    : file_(file),
      stream_(stream),
      streamNumber_(streamNumber),
      width_(width),
      height_(height),
      stride_(DibStride(width, 24)) {
  everyChunk_ = std::none_of(stream.chunks.begin(), stream.chunks.end(),
                             [](const AviChunk& c) { return c.size == 0; });
  for (size_t i = 0; i < stream.chunks.size() && !everyChunk_; ++i)
    if (stream.chunks[i].size > 0) packets_.push_back(static_cast<int32_t>(i));
}

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

int32_t FrameDecoder::PacketOfPosition(int32_t pos) const {
  if (pos < 0 || static_cast<size_t>(pos) >= stream_.chunks.size() || PacketCount() == 0) return -1;
  if (everyChunk_) return pos;
  // The last non-empty chunk at or before pos; positions before the first one show it.
  auto it = std::upper_bound(packets_.begin(), packets_.end(), pos);
  return it == packets_.begin() ? 0 : static_cast<int32_t>(it - packets_.begin() - 1);
}

const uint8_t* FrameDecoder::GetFrame(int32_t pos) {
  const int32_t packet = PacketOfPosition(pos);
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
                           (bytes += Packet(limit).size) <= kLookAheadBytes;)
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

uint32_t FrameDecoder::PacketSize(int32_t packet) const {
  uint8_t head[8];
  const AviChunk& c = Packet(packet);
  return c.offset >= 8 && file_.ReadAt(c.offset - 8, head, 8) ? UsableSize(head, c) : 0;
}

bool FrameDecoder::ReadChunk(int32_t packet, uint8_t* dst, uint32_t* size) const {
  const AviChunk& c = Packet(packet);
  if (c.offset < 8 || !file_.ReadAt(c.offset - 8, dst, size_t{c.size} + 8)) return false;
  *size = UsableSize(dst, c);
  return *size > 0;
}

// The index must point at a chunk of this stream. Where the index and the chunk disagree on
// the size, the smaller is right: a wrong entry must not take the next chunk's bytes, nor make
// a sound chunk unreadable.
uint32_t FrameDecoder::UsableSize(const uint8_t* head, const AviChunk& c) const {
  if (StreamOfChunkId(Le32(head)) != streamNumber_) return 0;
  return std::min(Le32(head + 4), c.size);
}

bool FrameDecoder::ReadPacket(int32_t packet, std::vector<uint8_t>& out, size_t padding) const {
  const uint32_t size = PacketSize(packet);
  if (size == 0 || !file_.ReadAt(Packet(packet).offset, out, size)) return false;
  out.resize(size + padding, 0);
  return true;
}

std::unique_ptr<FrameDecoder> FrameDecoder::Create(const FileReader& file,
                                                   const AviStreamData& stream, int streamNumber) {
  if (stream.format.size() < 40) return nullptr;
  BITMAPINFOHEADER h = ReadInfoHeader(stream.format);
  int64_t w = h.biWidth, ht = h.biHeight < 0 ? -int64_t{h.biHeight} : h.biHeight;
  if (w <= 0 || ht <= 0 || w > kMaxFrameDimension || ht > kMaxFrameDimension ||
      w * ht > kMaxFramePixels)
    return nullptr;
  if (IsRawCompression(h.biCompression) || h.biCompression == BI_BITFIELDS) {
    bool ok = h.biCompression == BI_BITFIELDS
                  ? (h.biBitCount == 16 || h.biBitCount == 32) && stream.format.size() >= 52
                  : h.biBitCount == 1 || h.biBitCount == 2 || h.biBitCount == 4 ||
                        h.biBitCount == 8 || h.biBitCount == 16 || h.biBitCount == 24 ||
                        h.biBitCount == 32;
    if (!ok) return nullptr;
    return std::make_unique<RawDibDecoder>(file, stream, streamNumber, h);
  }
  return CreateLibavDecoder(file, stream, streamNumber, h);
}

std::string FrameDecoder::CodecName(const AviStreamData& stream) {
  if (stream.format.size() < 40) return "";
  BITMAPINFOHEADER h = ReadInfoHeader(stream.format);
  if (IsRawCompression(h.biCompression) || h.biCompression == BI_BITFIELDS)
    return "raw " + std::to_string(h.biBitCount) + "-bit";
  return LibavCodecName(stream, h);
}
