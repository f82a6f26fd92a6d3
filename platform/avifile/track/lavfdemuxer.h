// libavformat reading a file through our FileReader: the first video stream's packets, one after
// the other, and seeks. Only that stream is read; the others are discarded as the demuxer meets
// them. Nothing is ever opened besides the file: a demuxer that asks for another (a playlist's
// entries, a reference movie's) is refused.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "avifile.h"

struct AVFormatContext;
struct AVIOContext;
struct AVPacket;
struct AVStream;
class FileReader;

class LavfDemuxer {
 public:
  explicit LavfDemuxer(const FileReader& file) : file_(file) {}
  ~LavfDemuxer();
  LavfDemuxer(const LavfDemuxer&) = delete;
  LavfDemuxer& operator=(const LavfDemuxer&) = delete;

  // AVIERR_OK with the first video stream found (not a cover picture); AVIERR_BADFORMAT when
  // libavformat does not recognise the file or it has no video stream; AVIERR_USERABORT;
  // AVIERR_MEMORY.
  HRESULT Open();

  const AVStream& Stream() const { return *stream_; }
  const char* FormatName() const;
  // Whether a seek can go to a packet's byte position (else it goes by timestamps).
  bool ByteSeekable() const { return byteSeekable_; }

  // The next packet of the video stream into pkt (unreferenced first): 0, or a negative error
  // at the end or when reading fails for good.
  int Read(AVPacket* pkt);
  // Reading goes on from a byte position, or from the last keyframe at or before a timestamp of
  // the stream; false when the demuxer refuses.
  bool SeekToByte(int64_t pos);
  bool SeekToTimestamp(int64_t timestamp);
  // While on, reading tells the open's progress callback how far it is, and stops, Read failing,
  // when the callback cancels.
  void ReportProgress(bool on) { reporting_ = on; }
  bool Cancelled() const { return cancelled_; }

 private:
  static int ReadPacket(void* opaque, uint8_t* buf, int size);
  static int64_t Seek(void* opaque, int64_t offset, int whence);

  const FileReader& file_;
  uint64_t at_ = 0;  // the next byte the I/O context reads
  AVIOContext* io_ = nullptr;
  AVFormatContext* format_ = nullptr;
  AVStream* stream_ = nullptr;
  bool byteSeekable_ = false;
  bool reporting_ = false, cancelled_ = false;
  uint64_t nextReport_ = 0;  // the byte after which progress is told again
};
