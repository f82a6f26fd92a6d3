// The index of a file libavformat reads, made in one pass without decoding: for each packet of
// the video stream, what its bytes begin (the picture headers of MPEG-1/2 and H.264, whose two
// field pictures make one frame), whether decoding may start there, and the order it is shown
// in.
#include "lavfreader.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <set>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "bitstream.h"
#include "lavfdemuxer.h"
#include "lavftrack.h"
#include "libavdecoder.h"  // UnitsShownFromStart

namespace {

// A container that seeks by timestamps is sent to a keyframe at least this many units before the
// one wanted, so that the seek points cost little memory whatever the keyframe interval.
constexpr int32_t kSeekPointEvery = 16;
// Units decoded at most, beyond the first keyframe, to learn which pictures before it are shown.
constexpr int32_t kStartProbeUnits = 300;

// H.264 holds at most 16 pictures back before it shows one.
constexpr size_t kMaxReorder = 16;

enum class Family { kOther, kMpeg12, kH264 };

// Pictures in display order, from pictures in decode order as they come, as their decoder shows
// them. MPEG-1/2: a B picture at once, an I or P picture when the next one comes (at once with
// low delay), whatever the timestamps say. Others: by presentation timestamp, among as many as a
// decoder holds back; one earlier than the last shown begins a new run, as where files were
// joined end to end (the decoder shows all it holds at the keyframe that begins it).
class DisplayOrder {
 public:
  explicit DisplayOrder(bool mpeg) : mpeg_(mpeg) {}

  void Add(int32_t unit, int mpegType, bool lowDelay, int64_t pts) {
    if (mpeg_) {
      if (lowDelay && held_ >= 0) {  // learnt late: what was held back comes first
        order_.push_back(held_);
        held_ = -1;
      }
      if (lowDelay || mpegType == 3) {
        order_.push_back(unit);
      } else {
        if (held_ >= 0) order_.push_back(held_);
        held_ = unit;
      }
      return;
    }
    if (shownAny_ && pts < lastShown_) Flush();
    waiting_.insert({pts, unit});
    if (waiting_.size() > kMaxReorder) {
      lastShown_ = waiting_.begin()->first;
      shownAny_ = true;
      order_.push_back(waiting_.begin()->second);
      waiting_.erase(waiting_.begin());
    }
  }

  std::vector<int32_t> Finish() {
    if (held_ >= 0) order_.push_back(held_);
    held_ = -1;
    Flush();
    return std::move(order_);
  }

 private:
  void Flush() {
    for (const auto& [pts, unit] : waiting_) order_.push_back(unit);
    waiting_.clear();
    shownAny_ = false;
  }

  bool mpeg_;
  std::vector<int32_t> order_;
  int32_t held_ = -1;                              // MPEG: the I or P picture not yet shown
  std::set<std::pair<int64_t, int32_t>> waiting_;  // others: timestamp, unit
  int64_t lastShown_ = 0;
  bool shownAny_ = false;  // since the run began
};

class LavfReader : public Container {
 public:
  explicit LavfReader(std::unique_ptr<FileReader> file)
      : file_(std::move(file)), demuxer_(*file_) {}

  HRESULT Open() {
    // Reading the whole file takes time: the progress callback hears of it, and may cancel.
    demuxer_.ReportProgress(true);
    if (HRESULT r = demuxer_.Open(); r != AVIERR_OK) return r;
    packets_ = std::make_unique<LavfPackets>(demuxer_, index_);
    Index();
    demuxer_.ReportProgress(false);
    if (demuxer_.Cancelled()) return AVIERR_USERABORT;
    SettleKeys();
    Order();
    // Held as long as the file is open: no room beyond the entries.
    index_.units.shrink_to_fit();
    index_.seekPoints.shrink_to_fit();
    index_.keys.shrink_to_fit();
    index_.positions.shrink_to_fit();
    return AVIERR_OK;
  }

  size_t StreamCount() const override { return 1; }

  StreamSummary Summary(size_t) const override {
    const AVStream& st = demuxer_.Stream();
    const AVCodecParameters& par = *st.codecpar;
    StreamSummary s;
    s.listed = s.video = s.usable = true;
    s.fccType = streamtypeVIDEO;

    const AVRational rate = st.avg_frame_rate.num > 0 && st.avg_frame_rate.den > 0
                                ? st.avg_frame_rate
                                : st.r_frame_rate;
    if (rate.num > 0 && rate.den > 0) {
      s.dwRate = static_cast<uint32_t>(rate.num);
      s.dwScale = static_cast<uint32_t>(rate.den);
    }
    s.length = static_cast<int32_t>(index_.positions.size());
    s.hasFormat = true;
    // The codec's AVI tag where it has one: a transport stream's tag is a number of its own.
    const AVCodecTag* const riff[] = {avformat_get_riff_video_tags(), nullptr};
    const unsigned tag = av_codec_get_tag(riff, par.codec_id);
    s.fccHandler = s.biCompression = tag ? tag : par.codec_tag;
    s.width = par.width;
    s.height = par.height;
    return s;
  }

  std::string CodecName(size_t) const override {
    const AVCodecID id = demuxer_.Stream().codecpar->codec_id;
    const AVCodecDescriptor* desc = avcodec_descriptor_get(id);
    return desc && avcodec_find_decoder(id) ? desc->name : "";
  }

  std::unique_ptr<Track> OpenTrack(size_t, DecoderParams* params, AviDecoderError*) override {
    const AVCodecParameters& par = *demuxer_.Stream().codecpar;
    params->width = par.width;
    params->height = par.height;
    params->fieldOrder = par.field_order == AV_FIELD_PROGRESSIVE ? AviFieldOrder::kProgressive
                         : par.field_order == AV_FIELD_TT || par.field_order == AV_FIELD_TB
                             ? AviFieldOrder::kTopFirst
                         : par.field_order == AV_FIELD_BB || par.field_order == AV_FIELD_BT
                             ? AviFieldOrder::kBottomFirst
                             : AviFieldOrder::kUnknown;
    params->codec.reset(avcodec_parameters_alloc());
    if (!params->codec || avcodec_parameters_copy(params->codec.get(), &par) < 0)
      throw std::bad_alloc();
    return std::make_unique<LavfTrack>(index_, *packets_);
  }

  bool ReadPosition(size_t, int32_t pos, std::vector<uint8_t>* out) override {
    if (pos < 0 || static_cast<size_t>(pos) >= index_.positions.size()) return false;
    out->clear();
    return packets_->ReadUnit(index_.positions[pos], [out](AVPacket* pkt) {
      out->insert(out->end(), pkt->data, pkt->data + pkt->size);
    });
  }

 private:
  void Index();
  // The keyframes: those the container flags that pass the codec's test, or where it flags none,
  // those that pass the test.
  void SettleKeys();
  // Numbers the pictures in display order, but for those before the first keyframe's that
  // decoding from the stream's start never shows.
  void Order();

  std::unique_ptr<FileReader> file_;
  LavfDemuxer demuxer_;
  LavfIndex index_;
  std::unique_ptr<LavfPackets> packets_;
  std::vector<int32_t> order_;  // the units of pictures in display order, while opening
  Track::KeyTest keyTest_;      // the codec's test of a keyframe, where its bitstream tells
  bool unflagged_ = false;      // the container flags no keyframe, and the bitstream can tell
  int32_t untimedUntil_ = -1;   // the last of the first units whose picture has no timestamp
};

void LavfReader::Index() {
  const AVStream& st = demuxer_.Stream();
  const AVCodecParameters& par = *st.codecpar;
  const Family family =
      par.codec_id == AV_CODEC_ID_MPEG1VIDEO || par.codec_id == AV_CODEC_ID_MPEG2VIDEO
          ? Family::kMpeg12
      : par.codec_id == AV_CODEC_ID_H264 ? Family::kH264
                                         : Family::kOther;
  const std::vector<uint8_t> extradata = CodecDataOf(par);
  H264ParamSets sets;
  H264ReadParamSets(extradata, &sets);
  const size_t lengthSize = H264NalLengthSize(extradata);
  // Demuxers of elementary and program streams hand over what their parser cut: one picture,
  // frame or field, a packet. Other containers store a frame a packet, field pairs whole.
  const std::string format = demuxer_.FormatName();
  const bool onePicture =
      format == "mpegts" || format == "mpeg" || format == "h264" || format == "mpegvideo";
  const AVCodecDescriptor* desc = avcodec_descriptor_get(par.codec_id);
  const bool intraOnly = desc && (desc->props & AV_CODEC_PROP_INTRA_ONLY);
  keyTest_ =
      KeyframeTest(par.codec_id, extradata, par.width, par.height, par.bits_per_coded_sample);

  std::vector<LavfUnit>& units = index_.units;
  DisplayOrder order(family == Family::kMpeg12);
  bool lowDelay = false, anyFlagged = false;
  // The last unit is a first field waiting for its second.
  bool open = false;
  PictureStarts first;
  int64_t lastShown = 0;
  std::unique_ptr<AVPacket, void (*)(AVPacket*)> owned(av_packet_alloc(),
                                                       [](AVPacket* p) { av_packet_free(&p); });
  AVPacket* pkt = owned.get();
  if (!pkt) throw std::bad_alloc();
  while (units.size() < kMaxUnits && demuxer_.Read(pkt) == 0) {
    PictureStarts starts;
    if (family == Family::kMpeg12)
      starts = Mpeg12Pictures(pkt->data, static_cast<size_t>(pkt->size), &lowDelay);
    else if (family == Family::kH264)
      starts =
          H264Pictures(pkt->data, static_cast<size_t>(pkt->size), lengthSize, &sets, onePicture);
    else
      starts.count = pkt->size > 0 ? 1 : 0;
    // A field that completes the frame the last unit began, or bytes that begin no picture, go
    // with the unit before.
    const bool second = open && starts.count == 1 && starts.field &&
                        starts.bottom != first.bottom &&
                        (family != Family::kH264 || starts.frameNum == first.frameNum);
    if ((second || starts.count == 0) && !units.empty() && units.back().packets < kMaxUnitPackets) {
      ++units.back().packets;
      open = open && !second;
      continue;
    }
    LavfUnit u;
    u.pos1 =
        pkt->pos >= 0 && pkt->pos < (int64_t{1} << 47) ? static_cast<uint64_t>(pkt->pos) + 1 : 0;
    u.packets = 1;
    u.firstBytes = static_cast<uint32_t>(pkt->size);
    u.picture = starts.count > 0;
    const int32_t number = static_cast<int32_t>(units.size());
    if (u.picture) {
      const bool flagged = pkt->flags & AV_PKT_FLAG_KEY;
      anyFlagged = anyFlagged || flagged;
      // Until the container flags a packet, every picture is tested: if it never does, the
      // test alone decides, without reading the file a second time.
      u.passes = !keyTest_ ||
                 ((flagged || !anyFlagged) && keyTest_(pkt->data, static_cast<size_t>(pkt->size)));
      u.key = intraOnly || (flagged && u.passes);
      open = starts.field && !starts.pair;
      first = starts;
      u.reference = family == Family::kOther || starts.reference;
    } else {
      open = false;
    }
    // Its presentation timestamp, else as the one before.
    const int64_t shown = pkt->pts != AV_NOPTS_VALUE   ? pkt->pts
                          : pkt->dts != AV_NOPTS_VALUE ? pkt->dts
                                                       : lastShown;
    lastShown = shown;
    // (MPEG-1/2 pictures are put in order by the decoder's rule, which needs no timestamps.)
    if (u.picture && family != Family::kMpeg12 && pkt->pts == AV_NOPTS_VALUE &&
        pkt->dts == AV_NOPTS_VALUE && number < kStartProbeUnits)
      untimedUntil_ = number;
    if (u.picture) order.Add(number, starts.type, lowDelay, shown);
    if (u.key || number == 0) {
      const int64_t ts = pkt->dts != AV_NOPTS_VALUE ? pkt->dts : shown;
      if (index_.seekPoints.empty() || number - index_.seekPoints.back().unit >= kSeekPointEvery)
        index_.seekPoints.push_back({number, ts});
    }
    units.push_back(u);
  }
  unflagged_ = !anyFlagged && keyTest_;
  order_ = order.Finish();
}

void LavfReader::SettleKeys() {
  std::vector<LavfUnit>& units = index_.units;
  for (int32_t i = 0; i < static_cast<int32_t>(units.size()); ++i) {
    if (unflagged_ && units[i].picture && units[i].passes) units[i].key = true;
    if (units[i].key) index_.keys.push_back(i);
  }
}

void LavfReader::Order() {
  std::vector<LavfUnit>& units = index_.units;
  std::vector<int32_t> order = std::move(order_);
  const AVCodecParameters& par = *demuxer_.Stream().codecpar;
  // Pictures that came without a timestamp (the leading pictures of an open GOP, in a file
  // remuxed to Matroska) were placed as the picture before. Where the decoder shows them is learnt
  // by decoding from the start once, as far as a decoder holds pictures back beyond the last of
  // them: the pictures it showed take its order among themselves.
  if (untimedUntil_ >= 0) {
    LavfTrack track(index_, *packets_);
    bool reached = false;
    std::vector<int32_t> shown = UnitsShownFromStart(
        track, par, -1, untimedUntil_ + 2 * static_cast<int32_t>(kMaxReorder), &reached);
    std::vector<bool> seen(units.size(), false);
    std::erase_if(shown, [&](int32_t u) {
      const bool again = u < 0 || u >= static_cast<int32_t>(units.size()) || seen[u];
      if (!again) seen[u] = true;
      return again;
    });
    if (std::count_if(order.begin(), order.end(), [&](int32_t u) { return seen[u]; }) ==
        static_cast<std::ptrdiff_t>(shown.size())) {
      auto next = shown.begin();
      for (int32_t& u : order)
        if (seen[u]) u = *next++;
    }
  }
  // Pictures shown before the first keyframe's come out of a decode from the stream's start or
  // not, as the decoder finds their references: a P picture before any I, the B pictures of an
  // open GOP. Which do is learnt by decoding up to the keyframe's picture, once.
  std::vector<bool> dropped(units.size(), false);
  if (!index_.keys.empty()) {
    const int32_t key = index_.keys.front();
    const auto rank = std::find(order.begin(), order.end(), key) - order.begin();
    if (rank > 0) {
      LavfTrack track(index_, *packets_);
      bool reached = false;
      std::vector<int32_t> shown =
          UnitsShownFromStart(track, par, key, key + kStartProbeUnits, &reached);
      std::sort(shown.begin(), shown.end());
      for (auto it = order.begin(); reached && it != order.begin() + rank; ++it)
        dropped[*it] = !std::binary_search(shown.begin(), shown.end(), *it);
    }
  }
  index_.positions.clear();
  for (int32_t unit : order) {
    if (dropped[unit]) continue;
    units[unit].position = static_cast<int32_t>(index_.positions.size());
    index_.positions.push_back(unit);
  }
}

}  // namespace

HRESULT OpenLavfContainer(std::unique_ptr<FileReader> file, std::unique_ptr<Container>* out) {
  // The viewer has no console: the demuxers' complaints about damaged files go nowhere.
  static const bool quiet = (av_log_set_level(AV_LOG_QUIET), true);
  (void)quiet;
  auto reader = std::make_unique<LavfReader>(std::move(file));
  if (HRESULT r = reader->Open(); r != AVIERR_OK) return r;
  *out = std::move(reader);
  return AVIERR_OK;
}
