// Frame-exact decoding through libavcodec. Position n is the n-th picture the decoder shows when
// the stream is decoded from its start. Stepping forward decodes one packet; any other jump
// decodes from the nearest keyframe at or before n. Streams that reorder pictures (B-frames)
// are counted in display order from an anchor whose display number is known for certain:
// a keyframe with no leading pictures, or else the first picture after the previous GOP.
#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <optional>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

#include "codectags.h"
#include "libavdecoder.h"

namespace {

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

// First MPEG-4 part 2 VOP type in a packet: 0 I, 1 P, 2 B, 3 S; -1 if none.
int Mpeg4VopType(const std::vector<uint8_t>& p) {
  for (size_t i = 0; i + 4 < p.size(); ++i)
    if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && p[i + 3] == 0xB6) return p[i + 4] >> 6;
  return -1;
}

// Whether an H.264 packet (Annex B, or length-prefixed after an avcC record) holds an IDR slice.
bool H264HasIdr(const std::vector<uint8_t>& p, const std::vector<uint8_t>& extradata) {
  if (!extradata.empty() && extradata[0] == 1 && extradata.size() > 4) {
    size_t lengthSize = (extradata[4] & 3) + 1;
    for (size_t i = 0; i + lengthSize < p.size();) {
      size_t n = 0;
      for (size_t b = 0; b < lengthSize; ++b) n = n << 8 | p[i + b];
      i += lengthSize;
      if (i < p.size() && (p[i] & 0x1F) == 5) return true;
      if (n > p.size() - i) break;
      i += n;
    }
    return false;
  }
  for (size_t i = 0; i + 3 < p.size(); ++i)
    if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && (p[i + 3] & 0x1F) == 5) return true;
  return false;
}

// Reads the bits of an H.264 RBSP; past its end every read gives 0 and ok turns false.
struct BitReader {
  const std::vector<uint8_t>& b;
  size_t pos = 0;
  bool ok = true;
  uint32_t U(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i, ++pos) {
      if (pos >= b.size() * 8) ok = false;
      v = v << 1 | (ok ? (b[pos >> 3] >> (7 - (pos & 7))) & 1 : 0);
    }
    return v;
  }
  uint32_t Ue() {
    int zeros = 0;
    while (ok && U(1) == 0)
      if (++zeros > 31) ok = false;
    return ok ? ((1u << zeros) - 1) + U(zeros) : 0;
  }
  int64_t Se() {
    const uint32_t k = Ue();
    return k & 1 ? int64_t{k / 2} + 1 : -int64_t{k / 2};
  }
};

// Pixels of the picture an H.264 sequence parameter set declares (its NAL unit without the
// header byte), or -1 when it cannot be read.
int64_t H264SpsPixels(const uint8_t* nal, size_t n) {
  std::vector<uint8_t> rbsp;  // without the bytes that escape start codes
  for (size_t i = 0, zeros = 0; i < n && rbsp.size() < 4096; ++i) {
    if (zeros >= 2 && nal[i] == 3) {
      zeros = 0;
      continue;
    }
    zeros = nal[i] == 0 ? zeros + 1 : 0;
    rbsp.push_back(nal[i]);
  }
  BitReader r{rbsp};
  const uint32_t profile = r.U(8);
  r.U(16), r.Ue();  // constraints, level, id
  if (profile == 100 || profile == 110 || profile == 122 || profile == 244 || profile == 44 ||
      profile == 83 || profile == 86 || profile == 118 || profile == 128 || profile == 138 ||
      profile == 139 || profile == 134 || profile == 135) {
    const uint32_t chroma = r.Ue();
    if (chroma == 3) r.U(1);
    r.Ue(), r.Ue(), r.U(1);  // bit depths, lossless
    if (r.U(1))              // scaling matrices
      for (int list = 0; list < (chroma != 3 ? 8 : 12) && r.ok; ++list) {
        if (!r.U(1)) continue;
        int64_t last = 8, next = 8;
        for (int j = 0; j < (list < 6 ? 16 : 64) && r.ok; ++j) {
          if (next != 0) next = ((last + r.Se()) % 256 + 256) % 256;
          if (next != 0) last = next;
        }
      }
  }
  r.Ue();  // frame number bits
  const uint32_t pocType = r.Ue();
  if (pocType == 0) {
    r.Ue();
  } else if (pocType == 1) {
    r.U(1), r.Se(), r.Se();
    const uint32_t cycle = r.Ue();
    for (uint32_t i = 0; i < cycle && i < 256 && r.ok; ++i) r.Se();
  }
  r.Ue(), r.U(1);  // reference frames, gaps
  const int64_t widthMbs = int64_t{r.Ue()} + 1, heightUnits = int64_t{r.Ue()} + 1;
  const int64_t frameMbsOnly = r.U(1);
  if (!r.ok) return -1;
  // Each side is read as up to 2^32 macroblocks: past 2^20 it is beyond any picture anyway.
  if (widthMbs > (1 << 20) || heightUnits > (1 << 20)) return INT64_MAX;
  return widthMbs * 16 * heightUnits * 16 * (2 - frameMbsOnly);
}

// The largest picture any sequence parameter set in H.264 data declares (Annex B, or NAL
// units with lengthSize-byte lengths); 0 when there is none.
int64_t H264LargestSps(const uint8_t* p, size_t n, size_t lengthSize) {
  int64_t largest = 0;
  auto nal = [&](size_t at, size_t end) {
    if (at < end && (p[at] & 0x1F) == 7)
      largest = std::max(largest, H264SpsPixels(p + at + 1, end - at - 1));
  };
  if (lengthSize) {
    for (size_t i = 0; i + lengthSize <= n;) {
      size_t len = 0;
      for (size_t b = 0; b < lengthSize; ++b) len = len << 8 | p[i + b];
      i += lengthSize;
      nal(i, std::min(n, i + len));
      if (len > n - i) break;
      i += len;
    }
    return largest;
  }
  size_t start = SIZE_MAX;
  for (size_t i = 0; i + 3 <= n; ++i) {
    if (p[i] != 0 || p[i + 1] != 0 || p[i + 2] != 1) continue;
    if (start != SIZE_MAX) nal(start, i);
    start = i + 3;
    i += 2;
  }
  if (start != SIZE_MAX) nal(start, n);
  return largest;
}

class LibavDecoder : public FrameDecoder {
 public:
  LibavDecoder(const FileReader& file, const AviStreamData& stream, int number,
               const BITMAPINFOHEADER& h)
      : FrameDecoder(file, stream, number, h.biWidth, h.biHeight < 0 ? -h.biHeight : h.biHeight) {}

  ~LibavDecoder() override {
    sws_freeContext(sws_);
    av_frame_free(&frame_);
    av_frame_free(&pending_);
    av_frame_free(&before_);
    av_packet_free(&pkt_);
    avcodec_free_context(&ctx_);
  }

  bool Init(const BITMAPINFOHEADER& h) {
    CodecChoice choice = ChooseCodec(stream_, h);
    const AVCodec* codec =
        choice.id == AV_CODEC_ID_NONE ? nullptr : avcodec_find_decoder(choice.id);
    if (!codec) return false;
    id_ = choice.id;
    ctx_ = avcodec_alloc_context3(codec);
    pkt_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    pending_ = av_frame_alloc();
    before_ = av_frame_alloc();
    if (!ctx_ || !pkt_ || !frame_ || !pending_ || !before_) return false;
    ctx_->width = width();
    ctx_->height = height();
    // No picture larger than the stream declares is ever made: a few bytes of codec header in a
    // packet can claim 16000 x 16000. The margin covers coded sizes rounded up to macroblocks and
    // the decoders' padded buffers (MPEG-4's scratch rows take 280 lines at any height).
    ctx_->max_pixels =
        ((int64_t{width()} + 63) / 64 * 64 + 256) * (std::max<int64_t>(height(), 256) + 256);
    // libavcodec's H.264 decoder sizes its tables by a sequence parameter set before it asks
    // for the picture: a larger one is looked for here, and such a packet is not sent at all.
    checkSps_ = id_ == AV_CODEC_ID_H264;
    ctx_->codec_tag = choice.tag;
    ctx_->bits_per_coded_sample = h.biBitCount;
    // Slice threads only: frame threads would add a delay of their own to every step.
    ctx_->thread_type = FF_THREAD_SLICE;
    ctx_->thread_count = 0;

    // A header's size counts the codec data that follows its 40 bytes; a colour table follows
    // the header. Writers that leave codec data out of the size put it after the colour table.
    const std::vector<uint8_t>& f = stream_.format;
    const size_t headerEnd = std::clamp<size_t>(h.biSize, 40, f.size());
    size_t extraFrom = 40, extraTo = f.size();
    if (h.biBitCount >= 1 && h.biBitCount <= 8) {
      // A short or missing colour table leaves the remaining entries black.
      const size_t entries =
          h.biClrUsed ? std::min<uint32_t>(h.biClrUsed, 256) : 1u << h.biBitCount;
      const size_t present = std::min(entries, (f.size() - headerEnd) / 4);
      for (size_t i = 0; i < present; ++i)
        palette_[i] = 0xFF000000u | (Le32(f.data() + headerEnd + 4 * i) & 0xFFFFFF);
      hasPalette_ = true;
      if (headerEnd > 40)
        extraTo = headerEnd;
      else
        extraFrom = headerEnd + 4 * present;
    }
    if (extraTo > extraFrom) {
      // HuffYUV's tables, an avcC record, ...
      extradata_.assign(f.begin() + static_cast<ptrdiff_t>(extraFrom),
                        f.begin() + static_cast<ptrdiff_t>(extraTo));
      ctx_->extradata =
          static_cast<uint8_t*>(av_mallocz(extradata_.size() + AV_INPUT_BUFFER_PADDING_SIZE));
      if (!ctx_->extradata) return false;
      std::memcpy(ctx_->extradata, extradata_.data(), extradata_.size());
      ctx_->extradata_size = static_cast<int>(extradata_.size());
      if (checkSps_) {
        const std::vector<uint8_t>& x = extradata_;
        int64_t largest = 0;
        if (x[0] == 1 && x.size() > 6) {  // avcC: its sequence parameter sets come first
          nalLengthSize_ = (x[4] & 3) + 1;
          for (size_t i = 6, n = x[5] & 0x1F; n > 0 && i + 2 <= x.size(); --n) {
            const size_t len = std::min<size_t>(size_t{x[i]} << 8 | x[i + 1], x.size() - i - 2);
            largest = std::max(largest, H264LargestSps(x.data() + i, len + 2, 2));
            i += 2 + len;
          }
        } else {
          largest = H264LargestSps(x.data(), x.size(), 0);
        }
        if (largest > ctx_->max_pixels) return false;
      }
    }
    if (avcodec_open2(ctx_, codec, nullptr) < 0) return false;

    const AVCodecDescriptor* desc = avcodec_descriptor_get(id_);
    intraOnly_ = desc && (desc->props & AV_CODEC_PROP_INTRA_ONLY);
    reorder_ = desc && (desc->props & AV_CODEC_PROP_REORDER);
    // An index rebuilt from the chunks says nothing of keyframes: where the bitstream can tell,
    // ask it, packet by packet as seeks need them, rather than decode from the start.
    probeKeys_ = !intraOnly_ && !stream_.keyframesKnown &&
                 (id_ == AV_CODEC_ID_MPEG4 || id_ == AV_CODEC_ID_H264);
    if (probeKeys_) keyState_.assign(static_cast<size_t>(PacketCount()), kUnknown);
    for (int32_t p = 0; p < PacketCount() && !probeKeys_ && !intraOnly_; ++p)
      if (p == 0 || (stream_.keyframesKnown && Packet(p).keyframe)) keys_.push_back(p);
    return true;
  }

  bool Decode(int32_t d, Span* dead) override {
    if (!CanContinueTo(d)) Seek(d);
    return DecodeUntil(d, dead);
  }

 private:
  int32_t KeyAtOrBefore(int32_t packet) {
    if (intraOnly_) return packet;
    if (probeKeys_) {
      for (int32_t p = packet; p > 0; --p)
        if (IsKeyPacket(p)) return p;
      return 0;
    }
    auto it = std::upper_bound(keys_.begin(), keys_.end(), packet);
    return it == keys_.begin() ? 0 : *(it - 1);
  }
  int32_t KeyBefore(int32_t key) {
    if (intraOnly_) return key - 1;
    if (probeKeys_) return key > 0 ? KeyAtOrBefore(key - 1) : -1;
    auto it = std::lower_bound(keys_.begin(), keys_.end(), key);
    return it == keys_.begin() ? -1 : *(it - 1);
  }

  // An I-VOP (MPEG-4 part 2) or an IDR picture (H.264) starts a packet that decoding can
  // start at. Each packet is read for it at most once.
  bool IsKeyPacket(int32_t p) {
    int8_t& state = keyState_[static_cast<size_t>(p)];
    if (state == kUnknown) {
      bool key =
          ReadPacket(p, probe_, 0) &&
          (id_ == AV_CODEC_ID_MPEG4 ? Mpeg4VopType(probe_) == 0 : H264HasIdr(probe_, extradata_));
      state = key ? kKey : kNotKey;
    }
    return state == kKey;
  }

  bool CanContinueTo(int32_t d) {
    if (synced_ && havePending_ && pendingDisplay_ == d) return true;  // decoded already
    if (!synced_ || draining_ || d <= lastDisplay_) return false;
    if (havePending_ && pendingDisplay_ > d) return false;
    // Decoding on is right unless a keyframe lies ahead of what was already sent.
    return KeyAtOrBefore(d) <= nextSend_;
  }

  // Pictures that follow keyframe packet k in decode order but are shown before it (the
  // B-frames of an open GOP); nullopt when the stream does not tell.
  std::optional<int32_t> LeadingPictures(int32_t k) {
    if (id_ == AV_CODEC_ID_MPEG4) {
      if (!ReadPacket(k, probe_, 0) || Mpeg4VopType(probe_) != 0) return std::nullopt;
      int32_t n = 0;
      while (k + 1 + n < PacketCount() && n < 64 && ReadPacket(k + 1 + n, probe_, 0) &&
             Mpeg4VopType(probe_) == 2)
        ++n;
      return n;
    }
    if (id_ == AV_CODEC_ID_H264 && ReadPacket(k, probe_, 0) && H264HasIdr(probe_, extradata_))
      return 0;
    return std::nullopt;
  }

  void Seek(int32_t d) {
    synced_ = false;  // until the seek is complete, should reading a packet fail on memory
    if (sentAny_) avcodec_flush_buffers(ctx_);
    draining_ = false;
    havePending_ = false;
    av_frame_unref(pending_);
    av_frame_unref(before_);
    lastDisplay_ = -1;
    lastWhole_ = -1;
    paletteSent_ = false;
    const int32_t k = KeyAtOrBefore(d);
    nextSend_ = k;
    anchorPts_ = k;
    anchorDisplay_ = k;
    anchorExact_ = false;
    anchored_ = !reorder_;
    if (reorder_) {
      std::optional<int32_t> leading = LeadingPictures(k);
      if (leading && d >= k + *leading) {
        // The keyframe itself comes out first; its leading pictures cannot be decoded from here.
        anchorExact_ = true;
        anchorDisplay_ = k + *leading;
      } else if (int32_t previous = KeyBefore(k); previous >= 0) {
        // Decode the GOP before as well: the first picture from packet k on is then picture k.
        nextSend_ = previous;
      }
    }
    synced_ = true;
  }

  // The latest picture decoded on the way to a wanted one: the picture to keep if that fails.
  void KeepBefore(AVFrame* f, int32_t display) {
    av_frame_unref(before_);
    av_frame_move_ref(before_, f);
    beforeDisplay_ = display;
  }

  void SendPacket(int32_t p) {
    // Read straight into a buffer the decoder can keep, so that it need not copy the packet.
    const size_t room = Packet(p).size;
    AVBufferRef* buf = av_buffer_alloc(static_cast<int>(8 + room + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!buf) return;
    uint32_t size = 0;
    if (!ReadChunk(p, buf->data, &size)) {  // damaged: skipped
      av_buffer_unref(&buf);
      return;
    }
    if (checkSps_ && H264LargestSps(buf->data + 8, size, nalLengthSize_) > ctx_->max_pixels) {
      av_buffer_unref(&buf);  // declares a picture larger than the stream's: as if damaged
      return;
    }
    std::memset(buf->data + 8 + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    av_packet_unref(pkt_);
    pkt_->buf = buf;
    pkt_->data = buf->data + 8;
    pkt_->size = static_cast<int>(size);
    pkt_->pts = pkt_->dts = p;
    if (Packet(p).keyframe) pkt_->flags |= AV_PKT_FLAG_KEY;
    if (hasPalette_ && !paletteSent_) {
      if (uint8_t* side = av_packet_new_side_data(pkt_, AV_PKT_DATA_PALETTE, AVPALETTE_SIZE)) {
        std::memcpy(side, palette_.data(), AVPALETTE_SIZE);
        paletteSent_ = true;
      }
    }
    avcodec_send_packet(ctx_, pkt_);  // a packet the decoder refuses is a picture it skips
    av_packet_unref(pkt_);
    sentAny_ = true;
  }

  // Display number of a decoded picture; false for one that comes before the anchor.
  bool DisplayOf(const AVFrame* f, int32_t* display) {
    int64_t pts = f->pts != AV_NOPTS_VALUE ? f->pts : f->pkt_dts;
    if (!reorder_) {
      if (pts == AV_NOPTS_VALUE || pts < 0 || pts >= PacketCount()) return false;
      *display = static_cast<int32_t>(pts);
      return true;
    }
    if (!anchored_) {
      if (pts == AV_NOPTS_VALUE || pts < anchorPts_) return false;
      int64_t first = anchorDisplay_;
      if (anchorExact_ && pts != anchorPts_) {
        // The keyframe's own picture never came (damaged): the next can be numbered only where
        // pictures are not reordered, by its packet.
        if (ctx_->has_b_frames != 0) return false;
        first = pts;
      }
      anchored_ = true;
      nextDisplay_ = static_cast<int32_t>(first);
    }
    *display = nextDisplay_++;
    return true;
  }

  bool DecodeUntil(int32_t d, Span* dead) {
    if (havePending_) {
      havePending_ = false;
      if (pendingDisplay_ == d) return Show(pending_);
      KeepBefore(pending_, pendingDisplay_);  // passed over: d lies beyond it
    }
    // On a failure, the packets after the last picture taken up to the next one that comes out
    // yield none of their own.
    int32_t lastBelow = lastWhole_ >= 0 ? lastWhole_ : anchorDisplay_ - 1;
    auto first = [&] { return std::min(lastBelow + 1, d); };
    const int32_t sendEnd = std::min(PacketCount(), sendLimit_);
    bool toTheEnd = false;
    // Every turn sends a packet or takes a picture; a decoder gives at most a few per packet.
    for (int64_t turns = 0, limit = 4 * (int64_t{PacketCount()} + 16); turns < limit; ++turns) {
      int r = avcodec_receive_frame(ctx_, frame_);
      if (r == 0) {
        int32_t display;
        if (!DisplayOf(frame_, &display)) {
          av_frame_unref(frame_);
          continue;
        }
        lastDisplay_ = display;
        // A picture of another size than the stream's is none of its pictures.
        if (frame_->width != width() || frame_->height != height()) {
          av_frame_unref(frame_);
          continue;
        }
        lastWhole_ = display;
        if (display == d) {
          if (Show(frame_)) return true;
          *dead = {first(), d};
          return false;
        }
        if (display < d) {
          KeepBefore(frame_, display);
          lastBelow = display;
          continue;
        }
        // The wanted picture did not decode: keep this one for later.
        av_frame_unref(pending_);
        av_frame_move_ref(pending_, frame_);
        havePending_ = true;
        pendingDisplay_ = display;
        *dead = {first(), display - 1};
        ShowBefore(first());
        return false;
      } else if (r == AVERROR(EAGAIN)) {
        if (nextSend_ < sendEnd) {
          SendPacket(nextSend_++);
        } else if (sendEnd < PacketCount()) {
          *dead = {d, d};  // held back while looking ahead: nothing is known past here
          return false;
        } else if (!draining_) {
          avcodec_send_packet(ctx_, nullptr);  // the end: let the decoder give what it holds
          draining_ = true;
        } else {
          toTheEnd = true;
          break;
        }
      } else {
        toTheEnd = r == AVERROR_EOF;
        break;  // end of stream or a decoder failure
      }
    }
    synced_ = false;
    *dead = {first(), toTheEnd ? PacketCount() - 1 : d};
    ShowBefore(first());
    return false;
  }

  // After a failure: the picture just before the packets that yield none, when it was decoded
  // on the way, goes into the frame now rather than by another decode.
  void ShowBefore(int32_t first) {
    if (before_->buf[0] && beforeDisplay_ == first - 1 && Show(before_)) SetHeld(beforeDisplay_);
    av_frame_unref(before_);
  }

  // Converts a picture of the stream's size into the frame; false when it cannot be.
  bool Show(AVFrame* f) {
    bool result = false;
    if (f->width > 0 && f->height > 0) {
      SwsContext* previous = sws_;
      sws_ = sws_getCachedContext(sws_, f->width, f->height, static_cast<AVPixelFormat>(f->format),
                                  width(), height(), AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr,
                                  nullptr, nullptr);
      if (sws_ &&
          (sws_ != previous || f->colorspace != colorspace_ || f->color_range != colorRange_ ||
           f->format != swsFormat_ || f->width != swsWidth_ || f->height != swsHeight_))
        SetColourDetails(f);
      if (sws_) {
        // swscale writes whole blocks of pixels and converts a row in full only when the row
        // has room for them: other widths go through rows padded as ffmpeg's own frames are.
        if (width() % 16 == 0) {
          // Bottom-up: start at the last row and walk backwards.
          uint8_t* dst[4] = {Pixels() + (height() - 1) * stride(), nullptr, nullptr, nullptr};
          int dstStride[4] = {-static_cast<int>(stride()), 0, 0, 0};
          sws_scale(sws_, f->data, f->linesize, 0, f->height, dst, dstStride);
        } else {
          const size_t rowBytes = static_cast<size_t>(width()) * 3;
          const size_t padded =
              (((static_cast<size_t>(width()) + 31) / 32 * 32 * 3) + 63) / 64 * 64;
          if (!scratch_) scratch_.reset(static_cast<uint8_t*>(av_malloc(padded * height() + 64)));
          if (!scratch_) {
            av_frame_unref(f);
            return false;
          }
          uint8_t* dst[4] = {scratch_.get(), nullptr, nullptr, nullptr};
          int dstStride[4] = {static_cast<int>(padded), 0, 0, 0};
          sws_scale(sws_, f->data, f->linesize, 0, f->height, dst, dstStride);
          uint8_t* pixels = Pixels();
          for (int32_t y = 0; y < height(); ++y)
            std::memcpy(pixels + (height() - 1 - y) * stride(), scratch_.get() + y * padded,
                        rowBytes);
        }
        result = true;
      }
    }
    av_frame_unref(f);
    return result;
  }

  // The YUV matrix and range of the conversion follow what the decoder reports for the picture
  // (BT.601 where it says nothing; yuvj formats are full range), as in ffmpeg's own conversion.
  void SetColourDetails(const AVFrame* f) {
    colorspace_ = f->colorspace;
    colorRange_ = f->color_range;
    swsFormat_ = f->format;
    swsWidth_ = f->width;
    swsHeight_ = f->height;
    int matrix = f->colorspace;
    if (matrix < AVCOL_SPC_BT709 || matrix > AVCOL_SPC_BT2020_CL || matrix == AVCOL_SPC_YCGCO)
      matrix = AVCOL_SPC_BT470BG;
    int *inverse, *table, srcFull, dstFull, brightness, contrast, saturation;
    if (sws_getColorspaceDetails(sws_, &inverse, &srcFull, &table, &dstFull, &brightness, &contrast,
                                 &saturation) < 0)
      return;
    if (f->color_range != AVCOL_RANGE_UNSPECIFIED) srcFull = f->color_range == AVCOL_RANGE_JPEG;
    const int* coefficients = sws_getCoefficients(matrix);
    sws_setColorspaceDetails(sws_, coefficients, srcFull, coefficients, dstFull, brightness,
                             contrast, saturation);
  }

  AVCodecID id_ = AV_CODEC_ID_NONE;
  AVCodecContext* ctx_ = nullptr;
  AVPacket* pkt_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVFrame* pending_ = nullptr;  // a picture decoded past a missing one
  AVFrame* before_ = nullptr;   // the latest picture decoded before the wanted one
  SwsContext* sws_ = nullptr;
  // What the conversion was set up for.
  AVColorSpace colorspace_ = AVCOL_SPC_UNSPECIFIED;
  AVColorRange colorRange_ = AVCOL_RANGE_UNSPECIFIED;
  int swsFormat_ = -1, swsWidth_ = 0, swsHeight_ = 0;
  struct AvFree {
    void operator()(uint8_t* p) const { av_free(p); }
  };
  std::unique_ptr<uint8_t, AvFree> scratch_;  // top-down rows for widths swscale overruns
  std::vector<uint8_t> extradata_;
  std::vector<uint8_t> probe_;
  std::array<uint32_t, 256> palette_{};  // ARGB, for palette codecs
  bool hasPalette_ = false, paletteSent_ = false;
  bool checkSps_ = false;     // H.264: packets whose parameter sets declare too much are skipped
  size_t nalLengthSize_ = 0;  // bytes of each NAL unit's length (avcC), 0 for start codes
  bool reorder_ = false;
  std::vector<int32_t> keys_;  // packets decoding may start at
  bool intraOnly_ = false;     // keys_ unused: every packet is one
  bool probeKeys_ = false;     // keys_ unused: the packets are asked instead
  static constexpr int8_t kUnknown = -1, kNotKey = 0, kKey = 1;
  std::vector<int8_t> keyState_;  // per packet, when probing

  int32_t nextSend_ = 0;      // next packet to hand to the decoder
  bool sentAny_ = false;      // the decoder holds state that a seek must flush
  bool draining_ = false;     // the end was signalled: a seek must come before more packets
  bool synced_ = false;       // the numbering of pictures below is valid
  int32_t lastDisplay_ = -1;  // display number of the last picture taken, -1 if none
  bool havePending_ = false;
  int32_t pendingDisplay_ = -1;
  int32_t beforeDisplay_ = -1;
  int32_t lastWhole_ = -1;  // display number of the last picture of the stream's size taken
  // Reordering streams: pictures are numbered from the anchor on.
  int64_t anchorPts_ = 0;  // packet whose picture (exact) or later pictures (not exact) anchor
  bool anchorExact_ = false;
  int32_t anchorDisplay_ = 0;  // display number of the anchor picture
  bool anchored_ = true;
  int32_t nextDisplay_ = 0;
};

}  // namespace

std::unique_ptr<FrameDecoder> CreateLibavDecoder(const FileReader& file,
                                                 const AviStreamData& stream, int streamNumber,
                                                 const BITMAPINFOHEADER& format) {
  // The viewer has no console: the decoders' complaints about damaged packets go nowhere.
  static const bool quiet = (av_log_set_level(AV_LOG_QUIET), true);
  (void)quiet;
  auto decoder = std::make_unique<LibavDecoder>(file, stream, streamNumber, format);
  if (!decoder->Init(format)) return nullptr;
  return decoder;
}

std::string LibavCodecName(const AviStreamData& stream, const BITMAPINFOHEADER& format) {
  CodecChoice choice = ChooseCodec(stream, format);
  if (choice.id == AV_CODEC_ID_NONE || !avcodec_find_decoder(choice.id)) return "";
  const AVCodecDescriptor* desc = avcodec_descriptor_get(choice.id);
  return desc ? desc->name : "";
}
