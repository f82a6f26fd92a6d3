// One opened file, whichever container holds it: its streams, what each says of itself, and for a
// video stream its track and what its decoder is told. Our AVI reader (avireader.h) and the
// libavformat reader (lavfreader.h) are the two kinds; the library's entry points know only this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "avifile.h"
#include "track.h"

// What a stream says of itself.
struct StreamSummary {
  bool listed = false;  // the file declares the stream (in an AVI file: a strh was found)
  bool video = false;   // a video stream, usable or not
  bool usable = false;  // a video stream with what a decoder needs to be asked for
  uint32_t fccType = 0, fccHandler = 0;
  uint32_t dwScale = 0, dwRate = 0;  // frame rate = dwRate / dwScale
  int32_t length = 0;                // positions
  bool hasFormat = false;            // the three below are known
  uint32_t biCompression = 0;        // FourCC or BI_* of the pictures
  int32_t width = 0, height = 0;     // as stored: negative = top-down
};

class Container {
 public:
  virtual ~Container() = default;

  virtual size_t StreamCount() const = 0;
  virtual StreamSummary Summary(size_t stream) const = 0;
  // "dvvideo", "mjpeg", "raw 24-bit", ... or "" when nothing can decode the stream.
  virtual std::string CodecName(size_t stream) const = 0;
  // A track of a usable video stream and what its decoder is told; null, with *why set, when no
  // decoder can be told enough.
  virtual std::unique_ptr<Track> OpenTrack(size_t stream, DecoderParams* params,
                                           AviDecoderError* why) = 0;
  // The bytes of the packets shown at a position, undecoded; false when there are none.
  virtual bool ReadPosition(size_t stream, int32_t pos, std::vector<uint8_t>* out) = 0;
};

// Opens a file by its content: a RIFF AVI file with our reader, anything else that libavformat
// recognises with it. AVIERR_OK, AVIERR_FILEOPEN, AVIERR_BADFORMAT or AVIERR_USERABORT.
HRESULT OpenContainer(const std::string& path, std::unique_ptr<Container>* out);
