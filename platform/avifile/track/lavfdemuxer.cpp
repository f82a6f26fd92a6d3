#include "lavfdemuxer.h"

#include <cstring>
#include <string>

extern "C" {
#include <libavformat/avformat.h>
}

#include "decoder.h"  // kMaxFramePixels
#include "filereader.h"
#include "openprogress.h"

namespace {

constexpr int kIoBufferBytes = 256 << 10;
// What libavformat reads to recognise a file and learn its streams' parameters (its defaults).
constexpr int64_t kProbeBytes = 5'000'000;
// A read that keeps failing without an end is given up after so many tries.
constexpr int kReadRetries = 64;
// The progress callback is told how far reading is every so many bytes of the file: a few times
// a second, whatever the demuxer finds there.
constexpr uint64_t kProgressEveryBytes = 4 << 20;

int RefuseOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
  return AVERROR(EPERM);
}

}  // namespace

LavfDemuxer::~LavfDemuxer() {
  avformat_close_input(&format_);
  if (io_) av_freep(&io_->buffer);
  avio_context_free(&io_);
}

int LavfDemuxer::ReadPacket(void* opaque, uint8_t* buf, int size) {
  auto* self = static_cast<LavfDemuxer*>(opaque);
  const uint64_t total = self->file_.size();
  if (self->reporting_ && self->at_ >= self->nextReport_) {
    // Told as the furthest read yet: a demuxer looks back at the start now and then.
    const uint64_t done = std::min(self->at_, total);
    self->nextReport_ = done + kProgressEveryBytes;
    self->cancelled_ = self->cancelled_ || !ReportOpenProgress(done, total);
  }
  if (self->cancelled_) return AVERROR_EXIT;
  if (self->at_ >= total) return AVERROR_EOF;
  const size_t n = static_cast<size_t>(std::min<uint64_t>(size, total - self->at_));
  if (!self->file_.ReadAt(self->at_, buf, n)) return AVERROR(EIO);
  self->at_ += n;
  return static_cast<int>(n);
}

int64_t LavfDemuxer::Seek(void* opaque, int64_t offset, int whence) {
  auto* self = static_cast<LavfDemuxer*>(opaque);
  const int64_t total = static_cast<int64_t>(self->file_.size());
  int64_t to;
  switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
      return total;
    case SEEK_SET:
      to = offset;
      break;
    case SEEK_CUR:
      to = static_cast<int64_t>(self->at_) + offset;
      break;
    case SEEK_END:
      to = total + offset;
      break;
    default:
      return AVERROR(EINVAL);
  }
  if (to < 0 || to > total) return AVERROR(EINVAL);
  self->at_ = static_cast<uint64_t>(to);
  return to;
}

HRESULT LavfDemuxer::Open() {
  auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferBytes));
  if (!buffer) return AVIERR_MEMORY;
  io_ = avio_alloc_context(buffer, kIoBufferBytes, 0, this, &LavfDemuxer::ReadPacket, nullptr,
                           &LavfDemuxer::Seek);
  if (!io_) {
    av_free(buffer);
    return AVIERR_MEMORY;
  }
  format_ = avformat_alloc_context();
  if (!format_) return AVIERR_MEMORY;
  format_->pb = io_;
  format_->flags |= AVFMT_FLAG_CUSTOM_IO;
  format_->io_open = RefuseOpen;
  format_->probesize = kProbeBytes;
  // By content only: no name is given, so no extension can decide.
  if (avformat_open_input(&format_, "", nullptr, nullptr) < 0) {
    format_ = nullptr;  // freed by the failed open
    return cancelled_ ? AVIERR_USERABORT : AVIERR_BADFORMAT;
  }
  // A single picture (a JPEG, a PNG) is no video; nor is a format libavformat only guesses at,
  // at a score it warns of itself (an executable's bytes taken for VC-1 or a program stream).
  const std::string name = format_->iformat->name;
  if ((name.size() >= 5 && name.compare(name.size() - 5, 5, "_pipe") == 0) ||
      format_->probe_score <= AVPROBE_SCORE_RETRY)
    return AVIERR_BADFORMAT;

  // The decoders that learn the streams' parameters make no picture larger than ours.
  const unsigned streams = format_->nb_streams;
  std::unique_ptr<AVDictionary*[]> options(new AVDictionary*[streams ? streams : 1]());
  for (unsigned i = 0; i < streams; ++i)
    av_dict_set_int(&options[i], "max_pixels", kMaxFramePixels, 0);
  const int found = avformat_find_stream_info(format_, options.get());
  for (unsigned i = 0; i < streams; ++i) av_dict_free(&options[i]);
  if (cancelled_) return AVIERR_USERABORT;
  if (found < 0) return AVIERR_BADFORMAT;

  for (unsigned i = 0; i < format_->nb_streams; ++i) {
    AVStream* s = format_->streams[i];
    const bool video = s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
                       !(s->disposition & AV_DISPOSITION_ATTACHED_PIC);
    if (video && !stream_)
      stream_ = s;
    else
      s->discard = AVDISCARD_ALL;
  }
  if (!stream_) return AVIERR_BADFORMAT;
  byteSeekable_ = !(format_->iformat->flags & AVFMT_NO_BYTE_SEEK) &&
                  (format_->iformat->flags & AVFMT_GENERIC_INDEX || name == "mpegts" ||
                   name == "dv" || name == "mpeg");
  return AVIERR_OK;
}

const char* LavfDemuxer::FormatName() const {
  return format_->iformat->name;
}

int LavfDemuxer::Read(AVPacket* pkt) {
  for (int failures = 0;;) {
    av_packet_unref(pkt);
    const int r = av_read_frame(format_, pkt);
    if (r == AVERROR(EAGAIN) && ++failures < kReadRetries) continue;
    if (r < 0) return r;
    if (pkt->stream_index == stream_->index) return 0;
  }
}

bool LavfDemuxer::SeekToByte(int64_t pos) {
  return av_seek_frame(format_, stream_->index, pos, AVSEEK_FLAG_BYTE) >= 0;
}

bool LavfDemuxer::SeekToTimestamp(int64_t timestamp) {
  return av_seek_frame(format_, stream_->index, timestamp, AVSEEK_FLAG_BACKWARD) >= 0;
}
