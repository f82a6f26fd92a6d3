// Frame-exact decoding through libavcodec. Position n is the n-th picture the decoder shows when
// the stream is decoded from its start. Stepping forward decodes one unit; any other jump
// decodes from the nearest keyframe at or before n, and keeps the pictures on the way (within a
// budget) so that the steps back that follow are served without decoding.
//
// Each unit is sent with its own number as its timestamp, which comes out with its picture. A
// timed track says which picture that is. Otherwise (AVI) streams that reorder pictures
// (B-frames) are counted in display order from an anchor whose display number is known for
// certain: a keyframe with no leading pictures; for one of its leading pictures, the keyframe
// before, where that one tells its own; or else the first picture after the previous GOP.
#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <optional>
#include <unordered_map>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

#include "bitstream.h"
#include "libavdecoder.h"
#include "picturecache.h"

namespace {

// A decoder context for a stream, set up as every decode of it sets one up; kNone, or why there
// is none.
AviDecoderError OpenCodecContext(const AVCodecParameters& par, int32_t width, int32_t height,
                                 AVCodecContext** out) {
  const AVCodec* codec = avcodec_find_decoder(par.codec_id);
  if (!codec) return AviDecoderError::kNoCodec;
  AVCodecContext* ctx = *out = avcodec_alloc_context3(codec);
  if (!ctx) return AviDecoderError::kMemory;
  // The stream's codec, tag, size, bits per pixel, codec data (HuffYUV's tables, an avcC
  // record, ...) and what the container tells of its colours and fields.
  if (avcodec_parameters_to_context(ctx, &par) < 0) return AviDecoderError::kMemory;
  ctx->width = width;
  ctx->height = height;
  // No picture larger than the stream declares is ever made: a few bytes of codec header in a
  // packet can claim 16000 x 16000. The margin covers coded sizes rounded up to macroblocks and
  // the decoders' padded buffers (MPEG-4's scratch rows take 280 lines at any height).
  ctx->max_pixels =
      ((int64_t{width} + 63) / 64 * 64 + 256) * (std::max<int64_t>(height, 256) + 256);
  // libavcodec's H.264 decoder sizes its tables by a sequence parameter set before it asks for
  // the picture: a larger one is looked for here (and in each packet before it is sent).
  if (par.codec_id == AV_CODEC_ID_H264 && H264LargestSps(CodecDataOf(par)) > ctx->max_pixels)
    return AviDecoderError::kTooLarge;
  // Slice threads only: frame threads would add a delay of their own to every step.
  ctx->thread_type = FF_THREAD_SLICE;
  ctx->thread_count = 0;
  if (avcodec_open2(ctx, codec, nullptr) < 0) return AviDecoderError::kCodecRefused;
  return AviDecoderError::kNone;
}

// Whether an H.264 packet declares a picture larger than the decoder may make.
bool DeclaresTooLarge(const AVCodecContext* ctx, const AVPacket* pkt, size_t nalLengthSize) {
  return ctx->codec_id == AV_CODEC_ID_H264 &&
         H264LargestSps(pkt->data, pkt->size, nalLengthSize) > ctx->max_pixels;
}

class LibavDecoder : public FrameDecoder {
 public:
  LibavDecoder(std::unique_ptr<Track> track, const DecoderParams& params)
      : FrameDecoder(std::move(track), params) {}

  ~LibavDecoder() override {
    sws_freeContext(sws_);
    av_frame_free(&frame_);
    av_frame_free(&pending_);
    av_frame_free(&before_);
    avcodec_free_context(&ctx_);
  }

  // kNone, or why the decoder cannot be used.
  AviDecoderError Init(const AVCodecParameters& par) {
    id_ = par.codec_id;
    frame_ = av_frame_alloc();
    pending_ = av_frame_alloc();
    before_ = av_frame_alloc();
    if (!frame_ || !pending_ || !before_) return AviDecoderError::kMemory;
    if (AviDecoderError why = OpenCodecContext(par, width(), height(), &ctx_);
        why != AviDecoderError::kNone)
      return why;
    const std::vector<uint8_t> codecData = CodecDataOf(par);
    nalLengthSize_ = H264NalLengthSize(codecData);

    // Codecs whose pictures say whether they are interlaced: a picture that is not, is
    // progressive. Elsewhere (MJPEG, raw, ...) the flag is only the decoder's default.
    declaresScan_ = id_ == AV_CODEC_ID_H264 || id_ == AV_CODEC_ID_HEVC ||
                    id_ == AV_CODEC_ID_MPEG1VIDEO || id_ == AV_CODEC_ID_MPEG2VIDEO ||
                    id_ == AV_CODEC_ID_MPEG4 || id_ == AV_CODEC_ID_VC1 || id_ == AV_CODEC_ID_WMV3 ||
                    id_ == AV_CODEC_ID_DVVIDEO || id_ == AV_CODEC_ID_PRORES ||
                    id_ == AV_CODEC_ID_DNXHD;
    const AVCodecDescriptor* desc = avcodec_descriptor_get(id_);
    intraOnly_ = desc && (desc->props & AV_CODEC_PROP_INTRA_ONLY);
    reorder_ = desc && (desc->props & AV_CODEC_PROP_REORDER);
    timed_ = track().Timed();
    // Every picture of an intra-only codec decodes on its own: nothing to keep.
    if (!intraOnly_) cache_ = std::make_unique<PictureCache>(PictureCacheBudget());
    // Indexes flag keyframes that are none (an inter-coded Cinepak frame, ...), and a rebuilt one
    // flags nothing: where the bitstream tells which pictures stand alone, the track asks it.
    track().SetKeyframes(
        intraOnly_, KeyframeTest(id_, codecData, width(), height(), par.bits_per_coded_sample));
    return AviDecoderError::kNone;
  }

  bool Decode(int32_t d, Span* dead) override {
    if (ShowKept(d)) return true;
    // A step or two back from the picture shown walks back through the GOP: everything decoded
    // on the way is kept. A jump from elsewhere keeps only the pictures nearest before its target,
    // so that it costs what a decode from the keyframe costs.
    const int32_t shown = HeldPicture();
    walkingBack_ = shown >= 0 && d < shown && shown - d <= kStepBack;
    if (cache_) {
      cache_->Limit(walkingBack_ ? SIZE_MAX : kJumpKeepsBytes);
      // Walking back, the pictures after this one were shown: their memory serves the decode.
      if (walkingBack_) cache_->DropAfter(d);
    }
    if (!CanContinueTo(d)) Seek(d);
    if (DecodeUntil(d, dead)) return true;
    // libavcodec does not show every picture after every keyframe from it (an open GOP's
    // references may be gone: the picture never comes out), yet decoding from the stream's
    // start showed this one. Once or twice, from the keyframe before; remembered for the next
    // visit.
    for (int retry = 0; timed_ && retry < kEarlierStarts && s_.startUnit > 0; ++retry) {
      earlierStart_[d] = std::max(track().KeyBefore(s_.startUnit), 0);
      Seek(d);
      if (DecodeUntil(d, dead)) return true;
    }
    return false;
  }

 private:
  // A picture kept from an earlier decode goes into the frame; where decoding stands is left
  // as it was, so that a step forward after it continues from there.
  bool ShowKept(int32_t d) {
    const AVFrame* kept = cache_ ? cache_->Find(d) : nullptr;
    if (!kept) return false;
    av_frame_unref(frame_);
    return av_frame_ref(frame_, kept) == 0 && Show(frame_);
  }

  bool CanContinueTo(int32_t d) {
    if (s_.synced && s_.havePending && s_.pendingDisplay == d) return true;  // decoded already
    if (!s_.synced || d <= s_.lastDisplay) return false;
    if (s_.havePending && s_.pendingDisplay > d) return false;
    // At the end, what the decoder still holds comes out in order.
    if (s_.draining) return true;
    // Decoding on is right unless a keyframe lies ahead of what was already sent.
    if (!timed_) return track().KeyAtOrBefore(d) <= s_.nextSend;
    const int32_t start = TimedStart(d);
    return start >= s_.startUnit && start <= s_.nextSend;
  }

  // The unit decoding starts at to show picture d of a timed track: the last keyframe at or
  // before d's unit whose own picture is not after d, since a picture shown before its keyframe
  // (an open GOP's) needs the GOP before; the stream's start when none is.
  int32_t TimedStart(int32_t d) {
    if (auto earlier = earlierStart_.find(d); earlier != earlierStart_.end())
      return earlier->second;
    int32_t k = track().KeyAtOrBefore(track().UnitOfPicture(d));
    while (k > 0) {
      const int32_t shown = track().PictureOfUnit(k);
      if (shown >= 0 && shown <= d) break;
      k = track().KeyBefore(k);
    }
    return std::max(k, 0);
  }

  // Pictures that follow keyframe packet k in decode order but are shown before it (the
  // B-frames of an open GOP); nullopt when the stream does not tell. Read once per keyframe:
  // every jump into its GOP asks again.
  std::optional<int32_t> LeadingPictures(int32_t k) {
    if (auto known = leading_.find(k); known != leading_.end()) return known->second;
    std::optional<int32_t> result;
    Packet p;
    if (id_ == AV_CODEC_ID_MPEG4) {
      if (track().Read(k, &p) && Mpeg4VopType(p.data, p.size) == 0) {
        int32_t n = 0;
        while (k + 1 + n < UnitCount() && n < 64 && track().Read(k + 1 + n, &p) &&
               Mpeg4VopType(p.data, p.size) == 2)
          ++n;
        result = n;
      }
    } else if (id_ == AV_CODEC_ID_H264 && track().Read(k, &p) &&
               H264HasIdr(p.data, p.size, nalLengthSize_)) {
      result = 0;
    }
    leading_.emplace(k, result);
    return result;
  }

  void Seek(int32_t d) {
    if (s_.sentAny) avcodec_flush_buffers(ctx_);
    av_frame_unref(pending_);
    av_frame_unref(before_);
    // Not synced until the seek is complete, should reading a packet fail on memory.
    s_ = SeekState{.sentAny = s_.sentAny};
    if (timed_) {
      // What comes out from the stream's start is what the stream shows; from a keyframe, the
      // pictures shown before the keyframe's own are not.
      const int32_t k = TimedStart(d);
      s_.nextSend = s_.startUnit = k;
      s_.trustFrom = k == 0 ? -1 : track().PictureOfUnit(k);
      s_.anchorDisplay = std::max(s_.trustFrom, 0);
      s_.keeping = cache_ && sendLimit_ == INT32_MAX;
      s_.synced = true;
      return;
    }
    const int32_t k = track().KeyAtOrBefore(d);
    s_.nextSend = k;
    s_.anchorPts = k;
    s_.anchorDisplay = k;
    s_.anchored = !reorder_;
    if (reorder_) {
      std::optional<int32_t> leading = LeadingPictures(k);
      if (leading && d >= k + *leading) {
        // The keyframe itself comes out first; its leading pictures cannot be decoded from here.
        s_.anchorExact = true;
        s_.anchorDisplay = k + *leading;
      } else if (int32_t previous = track().KeyBefore(k); previous >= 0) {
        s_.nextSend = previous;
        if (std::optional<int32_t> before = LeadingPictures(previous)) {
          // Decode the GOP before from its keyframe, counted as from that keyframe on: its
          // pictures are then numbered too, and kept for the steps back that follow.
          s_.anchorPts = previous;
          s_.anchorExact = true;
          s_.anchorDisplay = previous + *before;
        }
        // Otherwise the first picture from packet k on is picture k.
      }
    }
    // The pictures on the way are kept, but not while looking ahead at the open: what comes out
    // with later packets held back need not be what the stream shows.
    s_.keeping = cache_ && sendLimit_ == INT32_MAX;
    s_.synced = true;
  }

  // The latest picture decoded on the way to a wanted one: the picture to keep if that fails.
  void KeepBefore(AVFrame* f, int32_t display) {
    av_frame_unref(before_);
    av_frame_move_ref(before_, f);
    s_.beforeDisplay = display;
  }

  void SendUnit(int32_t u) {
    track().Send(u, [&](AVPacket* pkt) {
      // One that declares a picture larger than the stream's is as if damaged.
      if (DeclaresTooLarge(ctx_, pkt, nalLengthSize_)) return;
      // The unit's number comes out with its picture: the decoder numbers nothing else.
      pkt->pts = pkt->dts = u;
      // The decoder keeps the palette it was given: it goes with the first packet after a seek
      // and with the first packet a palette change holds for.
      const Palette* palette = track().PaletteAt(u);
      if (palette && (!s_.paletteSent || *palette != sentPalette_)) {
        if (uint8_t* side = av_packet_new_side_data(pkt, AV_PKT_DATA_PALETTE, AVPALETTE_SIZE)) {
          std::memcpy(side, palette->data(), AVPALETTE_SIZE);
          sentPalette_ = *palette;
          s_.paletteSent = true;
        }
      }
      avcodec_send_packet(ctx_, pkt);  // a packet the decoder refuses is a picture it skips
    });
    s_.sentAny = true;
  }

  // Display number of a decoded picture; false for one that comes before the anchor.
  bool DisplayOf(const AVFrame* f, int32_t* display) {
    int64_t pts = f->pts != AV_NOPTS_VALUE ? f->pts : f->pkt_dts;
    if (timed_) {
      if (pts == AV_NOPTS_VALUE || pts < 0 || pts >= UnitCount()) return false;
      const int32_t picture = track().PictureOfUnit(static_cast<int32_t>(pts));
      if (picture < 0 || picture < s_.trustFrom) return false;
      *display = picture;
      return true;
    }
    if (!reorder_) {
      if (pts == AV_NOPTS_VALUE || pts < 0 || pts >= UnitCount()) return false;
      *display = static_cast<int32_t>(pts);
      return true;
    }
    if (!s_.anchored) {
      if (pts == AV_NOPTS_VALUE || pts < s_.anchorPts) return false;
      int64_t first = s_.anchorDisplay;
      if (s_.anchorExact && pts != s_.anchorPts) {
        // The keyframe's own picture never came (damaged): the next can be numbered only where
        // pictures are not reordered, by its packet.
        if (ctx_->has_b_frames != 0) return false;
        first = pts;
      }
      s_.anchored = true;
      s_.nextDisplay = static_cast<int32_t>(first);
    }
    *display = s_.nextDisplay++;
    return true;
  }

  bool DecodeUntil(int32_t d, Span* dead) {
    if (s_.havePending) {
      s_.havePending = false;
      if (s_.pendingDisplay == d) return Show(pending_);
      KeepBefore(pending_, s_.pendingDisplay);  // passed over: d lies beyond it
    }
    // On a failure, the packets after the last picture taken up to the next one that comes out
    // yield none of their own.
    int32_t lastBelow = s_.lastWhole >= 0 ? s_.lastWhole : s_.anchorDisplay - 1;
    auto first = [&] { return s_.skipped ? d : std::min(lastBelow + 1, d); };
    const int32_t sendEnd = std::min(UnitCount(), sendLimit_);
    bool toTheEnd = false;
    // Every turn sends a packet or takes a picture; a decoder gives at most a few per packet.
    for (int64_t turns = 0, limit = 4 * (int64_t{UnitCount()} + 16); turns < limit; ++turns) {
      int r = avcodec_receive_frame(ctx_, frame_);
      if (r == 0) {
        int32_t display;
        if (!DisplayOf(frame_, &display)) {
          av_frame_unref(frame_);
          continue;
        }
        s_.lastDisplay = display;
        // A picture of another size than the stream's is none of its pictures.
        if (frame_->width != width() || frame_->height != height()) {
          av_frame_unref(frame_);
          continue;
        }
        s_.lastWhole = display;
        if (s_.keeping) {
          cache_->Keep(display, frame_, d);
          s_.keeping = display < d;  // the window ends at its target
        }
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
        s_.havePending = true;
        s_.pendingDisplay = display;
        *dead = {first(), display - 1};
        ShowBefore(first());
        return false;
      } else if (r == AVERROR(EAGAIN)) {
        if (s_.nextSend < sendEnd) {
          // A jump leaves out the pictures no other is predicted from, but for the few before
          // its target that steps back may want (a timed track knows which they are).
          const int32_t u = s_.nextSend++;
          if (timed_ && !walkingBack_ && !track().Reference(u) &&
              track().PictureOfUnit(u) < d - kJumpDecodesBefore) {
            s_.skipped = true;
            continue;
          }
          SendUnit(u);
        } else if (sendEnd < UnitCount()) {
          *dead = {d, d};  // held back while looking ahead: nothing is known past here
          return false;
        } else if (!s_.draining) {
          avcodec_send_packet(ctx_, nullptr);  // the end: let the decoder give what it holds
          s_.draining = true;
        } else {
          toTheEnd = true;
          break;
        }
      } else {
        toTheEnd = r == AVERROR_EOF;
        break;  // end of stream or a decoder failure
      }
    }
    s_.synced = false;
    *dead = {first(), toTheEnd ? PictureCount() - 1 : d};
    ShowBefore(first());
    return false;
  }

  // After a failure: the picture just before the packets that yield none, when it was decoded
  // on the way, goes into the frame now rather than by another decode.
  void ShowBefore(int32_t first) {
    if (before_->buf[0] && s_.beforeDisplay == first - 1 && Show(before_))
      SetHeld(s_.beforeDisplay);
    av_frame_unref(before_);
  }

  // Converts a picture of the stream's size into the frame; false when it cannot be.
  bool Show(AVFrame* f) {
    NotePictureOrder(f->interlaced_frame ? (f->top_field_first ? AviFieldOrder::kTopFirst
                                                               : AviFieldOrder::kBottomFirst)
                     : declaresScan_     ? AviFieldOrder::kProgressive
                                         : AviFieldOrder::kUnknown);
    bool result = false;
    if (f->width > 0 && f->height > 0) {
      // Set up again only when the picture changes: swscale's own cache takes a JPEG-range
      // format (MJPEG's) for a new one every time and would rebuild itself for each picture.
      if (!sws_ || f->format != swsFormat_ || f->width != swsWidth_ || f->height != swsHeight_) {
        sws_ = sws_getCachedContext(sws_, f->width, f->height,
                                    static_cast<AVPixelFormat>(f->format), width(), height(),
                                    AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
        if (sws_) SetColourDetails(f);
      } else if (f->colorspace != colorspace_ || f->color_range != colorRange_) {
        SetColourDetails(f);
      }
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
  AVFrame* frame_ = nullptr;
  AVFrame* pending_ = nullptr;           // a picture decoded past a missing one
  AVFrame* before_ = nullptr;            // the latest picture decoded before the wanted one
  std::unique_ptr<PictureCache> cache_;  // pictures kept for steps back; none if intra-only
  SwsContext* sws_ = nullptr;
  // What the conversion was set up for.
  AVColorSpace colorspace_ = AVCOL_SPC_UNSPECIFIED;
  AVColorRange colorRange_ = AVCOL_RANGE_UNSPECIFIED;
  int swsFormat_ = -1, swsWidth_ = 0, swsHeight_ = 0;
  struct AvFree {
    void operator()(uint8_t* p) const { av_free(p); }
  };
  std::unique_ptr<uint8_t, AvFree> scratch_;  // top-down rows for widths swscale overruns
  Palette sentPalette_{};                     // the palette the decoder was last given
  size_t nalLengthSize_ = 0;  // bytes of each NAL unit's length (avcC), 0 for start codes
  std::unordered_map<int32_t, std::optional<int32_t>> leading_;  // LeadingPictures, by keyframe
  // A step back of at most so many pictures walks back; a jump decodes the pictures that are no
  // references only so many before its target.
  static constexpr int32_t kStepBack = 2, kJumpDecodesBefore = 8;
  bool walkingBack_ = false;  // the picture being decoded is a step back
  // Timed: pictures that decoding from their own keyframe did not show, and where it starts.
  static constexpr int kEarlierStarts = 2;
  std::unordered_map<int32_t, int32_t> earlierStart_;
  bool reorder_ = false;       // pictures come out in another order than their packets
  bool timed_ = false;         // the track tells each unit's picture
  bool intraOnly_ = false;     // every packet is a picture of its own
  bool declaresScan_ = false;  // a picture's interlaced flag is the stream's word, either way

  // Where decoding stands: what the decoder was sent, what came out of it, and how its pictures
  // are numbered. A seek starts it afresh.
  struct SeekState {
    bool sentAny = false;         // the decoder holds state that a seek must flush
    bool synced = false;          // the numbering of pictures below is valid
    int32_t nextSend = 0;         // next unit to hand to the decoder
    int32_t startUnit = 0;        // timed: the unit decoding started at
    int32_t trustFrom = -1;       // timed: the first picture shown as it came out (-1: all)
    bool skipped = false;         // timed: pictures were left out, so none is known not to decode
    bool draining = false;        // the end was signalled: a seek must come before more packets
    bool paletteSent = false;     // the palette went with a packet since the seek
    bool keeping = false;         // pictures taken go into the cache, up to the seek's target
    int32_t lastDisplay = -1;     // display number of the last picture taken, -1 if none
    int32_t lastWhole = -1;       // the same of the last picture of the stream's size taken
    bool havePending = false;     // pending_ holds a picture decoded past a missing one
    int32_t pendingDisplay = -1;  // its display number
    int32_t beforeDisplay = -1;   // display number of the picture in before_
    // Reordering streams: pictures are numbered from the anchor on.
    int64_t anchorPts = 0;      // packet whose picture (exact) or later pictures (not exact) anchor
    bool anchorExact = false;   // the anchor is the keyframe's own picture
    int32_t anchorDisplay = 0;  // display number of the anchor picture
    bool anchored = true;       // the first picture since the seek has been numbered
    int32_t nextDisplay = 0;    // display number of the next picture to come out
  };
  SeekState s_;
};

}  // namespace

std::unique_ptr<FrameDecoder> CreateLibavDecoder(std::unique_ptr<Track> track,
                                                 const DecoderParams& params,
                                                 AviDecoderError* why) {
  // The viewer has no console: the decoders' complaints about damaged packets go nowhere.
  static const bool quiet = (av_log_set_level(AV_LOG_QUIET), true);
  (void)quiet;
  if (!params.codec) {
    *why = AviDecoderError::kNoCodec;
    return nullptr;
  }
  auto decoder = std::make_unique<LibavDecoder>(std::move(track), params);
  *why = decoder->Init(*params.codec);
  return *why == AviDecoderError::kNone ? std::move(decoder) : nullptr;
}

std::vector<int32_t> UnitsShownFromStart(Track& track, const AVCodecParameters& par, int32_t until,
                                         int32_t limit, bool* reached) {
  std::vector<int32_t> shown;
  *reached = false;
  AVCodecContext* ctx = nullptr;
  AVFrame* frame = av_frame_alloc();
  const size_t nalLengthSize = H264NalLengthSize(CodecDataOf(par));
  if (frame && OpenCodecContext(par, par.width, par.height, &ctx) == AviDecoderError::kNone) {
    const int32_t end = std::min(track.UnitCount(), limit);
    bool draining = false;
    for (int32_t next = 0; !*reached;) {
      const int r = avcodec_receive_frame(ctx, frame);
      if (r == 0) {
        if (frame->pts != AV_NOPTS_VALUE) shown.push_back(static_cast<int32_t>(frame->pts));
        *reached = frame->pts == until;
        av_frame_unref(frame);
      } else if (r != AVERROR(EAGAIN)) {
        break;
      } else if (next < end) {
        const int32_t unit = next++;
        track.Send(unit, [&](AVPacket* pkt) {
          if (DeclaresTooLarge(ctx, pkt, nalLengthSize)) return;
          pkt->pts = pkt->dts = unit;
          avcodec_send_packet(ctx, pkt);
        });
      } else if (!draining) {
        avcodec_send_packet(ctx, nullptr);
        draining = true;
      } else {
        break;
      }
    }
  }
  av_frame_free(&frame);
  avcodec_free_context(&ctx);
  return shown;
}
