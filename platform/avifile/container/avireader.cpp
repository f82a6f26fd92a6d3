#include "avireader.h"

#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "avitrack.h"
#include "codectags.h"
#include "streamformat.h"

namespace {

constexpr uint32_t kDIB = MakeFourCC('D', 'I', 'B', ' ');
constexpr uint32_t kRGB = MakeFourCC('R', 'G', 'B', ' ');
constexpr uint32_t kRAW = MakeFourCC('R', 'A', 'W', ' ');

// Uncompressed DIB frames, under any of the tags writers give them.
bool IsDibCompression(uint32_t c) {
  return c == BI_RGB || c == kDIB || c == kRGB || c == kRAW || c == BI_BITFIELDS;
}

// A video stream is usable when its header and a whole bitmap header are there. A type-1 DV
// stream is one whatever its format: when nothing told its size, no decoder can take it.
bool IsUsableVideo(const AviStreamData& s) {
  return s.hasHeader && s.IsVideo() && (s.format.size() >= 40 || s.fccType == kStreamTypeIavs);
}

struct CodecChoice {
  AVCodecID id = AV_CODEC_ID_NONE;
  uint32_t tag = 0;
};

CodecChoice ChooseCodec(const AviStreamData& stream, const BITMAPINFOHEADER& format) {
  AVCodecID id = CodecIdOfFourCC(format.biCompression);
  if (id == AV_CODEC_ID_AVRN) {
    // Avid's codec writes JPEG pictures under this tag, unless its data says "1:1": uncompressed.
    const std::vector<uint8_t>& f = stream.format;
    if (f.size() < 40 + 31 || std::memcmp(f.data() + 40 + 28, "1:1", 3) != 0)
      id = AV_CODEC_ID_MJPEG;
  }
  if (id != AV_CODEC_ID_NONE) return {id, format.biCompression};
  // The handler names the compressor that wrote the stream. A raw one (or none) says nothing of
  // how the format's bytes are laid out: the raw decoder takes its layout from the format's tag.
  id = CodecIdOfFourCC(stream.fccHandler);
  if (id == AV_CODEC_ID_RAWVIDEO) return {};
  return {id, stream.fccHandler};
}

// Our converter's layout of uncompressed rows; none, with *why set, for a bit depth it lacks.
std::optional<RawDibLayout> RawLayout(const AviStreamData& stream, const StreamFormat& format,
                                      AviDecoderError* why) {
  const BITMAPINFOHEADER& h = format.header;
  const bool ok = h.biCompression == BI_BITFIELDS
                      ? (h.biBitCount == 16 || h.biBitCount == 32) && stream.format.size() >= 52
                      : h.biBitCount == 1 || h.biBitCount == 2 || h.biBitCount == 4 ||
                            h.biBitCount == 8 || h.biBitCount == 16 || h.biBitCount == 24 ||
                            h.biBitCount == 32;
  if (!ok) {
    *why = AviDecoderError::kBitDepth;
    return std::nullopt;
  }
  RawDibLayout raw;
  raw.bits = h.biBitCount;
  raw.topDown = h.biHeight < 0;
  raw.stride = DibStride(h.biWidth, h.biBitCount);
  // A colour table (8 bits or fewer) is the track's: the one in force at each packet.
  const uint8_t* f = stream.format.data();
  if (raw.bits > 8) {
    if (h.biCompression == BI_BITFIELDS)
      raw.masks = {Le32(f + 40), Le32(f + 44), Le32(f + 48)};
    else if (raw.bits == 16)
      raw.masks = {0x7C00, 0x03E0, 0x001F};
    else
      raw.masks = {0xFF0000, 0x00FF00, 0x0000FF};
  }
  return raw;
}

class AviReader : public Container {
 public:
  explicit AviReader(std::unique_ptr<FileReader> file) : file_(std::move(file)) {}

  HRESULT Parse() { return ParseAviFile(*file_, &container_); }

  size_t StreamCount() const override { return container_.streams.size(); }

  StreamSummary Summary(size_t i) const override {
    const AviStreamData& s = container_.streams[i];
    StreamSummary out;
    out.listed = s.hasHeader;
    out.video = s.IsVideo();
    out.usable = IsUsableVideo(s);
    out.fccType = s.fccType;
    out.fccHandler = s.fccHandler;
    out.dwScale = s.dwScale;
    out.dwRate = s.dwRate;
    const size_t n = s.chunks.size();
    out.length = n > INT32_MAX ? INT32_MAX : static_cast<int32_t>(n);
    if (s.format.size() >= 40) {
      out.hasFormat = true;
      out.biCompression = Le32(s.format.data() + 16);
      out.width = static_cast<int32_t>(Le32(s.format.data() + 4));
      out.height = static_cast<int32_t>(Le32(s.format.data() + 8));
    }
    return out;
  }

  std::string CodecName(size_t i) const override {
    const AviStreamData& stream = container_.streams[i];
    if (stream.format.size() < 40) return "";
    BITMAPINFOHEADER h;
    std::memcpy(&h, stream.format.data(), sizeof h);  // little-endian on disk and here
    if (IsDibCompression(h.biCompression)) return "raw " + std::to_string(h.biBitCount) + "-bit";
    CodecChoice choice = ChooseCodec(stream, h);
    if (choice.id == AV_CODEC_ID_NONE || !avcodec_find_decoder(choice.id)) return "";
    const AVCodecDescriptor* desc = avcodec_descriptor_get(choice.id);
    return desc ? desc->name : "";
  }

  std::unique_ptr<Track> OpenTrack(size_t i, DecoderParams* params, AviDecoderError* why) override {
    const AviStreamData& stream = container_.streams[i];
    const std::optional<StreamFormat> format = ReadStreamFormat(stream.format);
    if (!format) {
      *why = AviDecoderError::kNoFormat;
      return nullptr;
    }
    const BITMAPINFOHEADER& h = format->header;
    params->width = format->width;
    params->height = format->height;
    params->fieldOrder = stream.fieldOrder;
    if (IsDibCompression(h.biCompression)) {
      params->raw = RawLayout(stream, *format, &params->unusable);
    } else if (const CodecChoice choice = ChooseCodec(stream, h); choice.id != AV_CODEC_ID_NONE) {
      params->codec.reset(avcodec_parameters_alloc());
      AVCodecParameters* par = params->codec.get();
      if (!par) throw std::bad_alloc();
      par->codec_type = AVMEDIA_TYPE_VIDEO;
      par->codec_id = choice.id;
      par->codec_tag = choice.tag;
      par->width = format->width;
      par->height = format->height;
      par->bits_per_coded_sample = h.biBitCount;
      // HuffYUV's tables, an avcC record, ...
      const size_t from = format->codecDataFrom, to = format->codecDataTo;
      if (to > from) {
        par->extradata =
            static_cast<uint8_t*>(av_mallocz(to - from + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!par->extradata) throw std::bad_alloc();
        std::memcpy(par->extradata, stream.format.data() + from, to - from);
        par->extradata_size = static_cast<int>(to - from);
      }
    }
    return std::make_unique<AviTrack>(*file_, stream, static_cast<int>(i), format->palette);
  }

  bool ReadPosition(size_t i, int32_t pos, std::vector<uint8_t>* out) override {
    const ChunkIndex& chunks = container_.streams[i].chunks;
    if (pos < 0 || static_cast<size_t>(pos) >= chunks.size()) return false;
    // A dropped frame shows the packet before it; positions before the first packet, the first.
    size_t at = static_cast<size_t>(pos);
    while (at > 0 && chunks.At(at).size == 0) --at;
    while (at + 1 < chunks.size() && chunks.At(at).size == 0) ++at;
    Packet packet;
    PacketReader reader(*file_, static_cast<int>(i));
    if (!reader.Read(chunks.At(at), &packet)) return false;
    out->assign(packet.data, packet.data + packet.size);
    return true;
  }

 private:
  std::unique_ptr<FileReader> file_;
  AviContainer container_;
};

}  // namespace

HRESULT OpenAviContainer(std::unique_ptr<FileReader> file, std::unique_ptr<Container>* out) {
  auto reader = std::make_unique<AviReader>(std::move(file));
  if (HRESULT r = reader->Parse(); r != AVIERR_OK) return r;
  *out = std::move(reader);
  return AVIERR_OK;
}
