// The AVI file library's entry points (include/avifile.h). Handles are reference counted as the
// callers expect: a stream keeps its file alive, a decompressor keeps its stream alive, and each
// release drops one reference. All calls come from one thread. A failure to allocate memory in our
// code ends here, at the entry points, as the call's ordinary failure: a failed open, or a fetch
// that delivers the picture held before.
#include "avifile.h"

#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "container.h"
#include "decoder.h"
#include "dib.h"

struct AviFile {
  int refs = 1;
  std::unique_ptr<Container> container;
};

struct AviStream {
  int refs = 1;
  AviFile* file = nullptr;
  size_t number = 0;                                   // index among all the file's streams
  AviDecoderError openError = AviDecoderError::kNone;  // of the last AVIStreamGetFrameOpen
  int32_t readPosition = -1;  // the position whose bytes AVIStreamRead holds, -1 for none
  std::vector<uint8_t> readBytes;
  StreamSummary Summary() const { return file->container->Summary(number); }
};

struct AviGetFrame {
  AviStream* stream = nullptr;
  std::unique_ptr<FrameDecoder> decoder;
};

namespace {
int g_uses = 0;
}  // namespace

void AVIFileInit() {
  ++g_uses;
}

void AVIFileExit() {
  if (g_uses > 0) --g_uses;
}

int AVIFileUseCount() {
  return g_uses;
}

HRESULT AVIFileOpen(PAVIFILE* ppfile, const char* szFile, uint32_t uMode,
                    const CLSID* /*handler*/) {
  if (!ppfile) return AVIERR_BADPARAM;
  *ppfile = nullptr;
  if (!szFile || uMode != OF_READ || g_uses == 0) return AVIERR_BADPARAM;
  try {
    auto file = std::make_unique<AviFile>();
    if (HRESULT r = OpenContainer(szFile, &file->container); r != AVIERR_OK) return r;
    *ppfile = file.release();
    return AVIERR_OK;
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  return AVIERR_MEMORY;
}

HRESULT AVIFileGetStream(PAVIFILE pfile, PAVISTREAM* ppavi, uint32_t fccType, int32_t lParam) {
  if (!ppavi) return AVIERR_BADPARAM;
  *ppavi = nullptr;
  if (!pfile || lParam < 0) return AVIERR_BADPARAM;
  const Container& container = *pfile->container;
  int32_t seen = 0;
  for (size_t i = 0; i < container.StreamCount(); ++i) {
    const StreamSummary s = container.Summary(i);
    bool matches = fccType == 0                 ? s.listed
                   : fccType == streamtypeVIDEO ? s.video
                                                : s.fccType == fccType;
    if (!matches || seen++ != lParam) continue;
    if (s.video && !s.usable) return AVIERR_BADFORMAT;
    AviStream* stream = nullptr;
    try {
      stream = new AviStream;
    } catch (const std::bad_alloc&) {
      return AVIERR_MEMORY;
    }
    stream->file = pfile;
    stream->number = i;
    ++pfile->refs;
    *ppavi = stream;
    return AVIERR_OK;
  }
  return AVIERR_NODATA;
}

PGETFRAME AVIStreamGetFrameOpen(PAVISTREAM pavi, const BITMAPINFOHEADER* lpbiWanted) {
  if (!pavi) return nullptr;
  AviDecoderError& why = pavi->openError;
  why = AviDecoderError::kNone;
  const StreamSummary summary = pavi->Summary();
  if (!summary.usable) {
    why = summary.video ? AviDecoderError::kNoFormat : AviDecoderError::kNotVideo;
    return nullptr;
  }
  // We deliver 24-bit uncompressed frames at the stream's own size, whatever size is asked.
  if (lpbiWanted && (lpbiWanted->biBitCount != 24 || lpbiWanted->biCompression != BI_RGB)) {
    why = AviDecoderError::kWantedFormat;
    return nullptr;
  }
  try {
    auto pg = std::make_unique<AviGetFrame>();
    DecoderParams params;
    std::unique_ptr<Track> track = pavi->file->container->OpenTrack(pavi->number, &params, &why);
    if (!track) return nullptr;
    pg->decoder = FrameDecoder::Create(std::move(track), params, &why);
    if (!pg->decoder) return nullptr;
    // A stream that shows no picture among its first packets is one we cannot decode.
    if (!pg->decoder->FindFirstPicture()) {
      why = AviDecoderError::kNoPicture;
      return nullptr;
    }
    pg->stream = pavi;
    ++pavi->refs;
    return pg.release();
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  why = AviDecoderError::kMemory;
  return nullptr;
}

AviDecoderError AVIStreamGetFrameError(PAVISTREAM pavi) {
  return pavi ? pavi->openError : AviDecoderError::kNone;
}

const char* AviDecoderErrorText(AviDecoderError error) {
  switch (error) {
    case AviDecoderError::kNone:
      return "no error";
    case AviDecoderError::kNotVideo:
      return "not a video stream";
    case AviDecoderError::kWantedFormat:
      return "only 24-bit BI_RGB frames are delivered";
    case AviDecoderError::kNoFormat:
      return "no picture format";
    case AviDecoderError::kFrameSize:
      return "picture size out of bounds";
    case AviDecoderError::kBitDepth:
      return "unsupported bit depth";
    case AviDecoderError::kNoCodec:
      return "no decoder for the codec tag";
    case AviDecoderError::kTooLarge:
      return "codec parameters declare a larger picture than the stream's";
    case AviDecoderError::kCodecRefused:
      return "the decoder refused to open";
    case AviDecoderError::kNoPicture:
      return "no picture among the first packets";
    case AviDecoderError::kMemory:
      return "out of memory";
  }
  return "unknown error";
}

void* AVIStreamGetFrame(PGETFRAME pg, int32_t lPos) {
  if (!pg) return nullptr;
  try {
    return const_cast<uint8_t*>(pg->decoder->GetFrame(lPos));
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  // Out of memory on the way: the picture held before, if the position exists.
  int32_t length = AVIStreamLength(pg->stream);
  return lPos >= 0 && lPos < length ? const_cast<uint8_t*>(pg->decoder->Held()) : nullptr;
}

AviFieldOrder AVIStreamGetFrameFieldOrder(PGETFRAME pg) {
  return pg ? pg->decoder->FieldOrder() : AviFieldOrder::kUnknown;
}

bool AVIStreamFrameDecoded(PGETFRAME pg) {
  return pg && pg->decoder->LastDecoded();
}

int32_t AVIStreamLength(PAVISTREAM pavi) {
  return pavi ? pavi->Summary().length : -1;
}

HRESULT AVIStreamInfo(PAVISTREAM pavi, AVISTREAMINFO* psi, int32_t lSize) {
  if (!pavi || !psi || lSize < static_cast<int32_t>(sizeof(AVISTREAMINFO))) return AVIERR_BADPARAM;
  const StreamSummary s = pavi->Summary();
  *psi = AVISTREAMINFO{};
  psi->fccType = s.fccType;
  psi->fccHandler = s.fccHandler;
  psi->dwScale = s.dwScale;
  psi->dwRate = s.dwRate;
  psi->dwLength = s.length;
  if (s.hasFormat) {
    psi->biCompression = s.biCompression;
    psi->width = s.width;
    psi->height = s.height;
  }
  try {
    std::string name = pavi->file->container->CodecName(pavi->number);
    std::strncpy(psi->szName, name.c_str(), sizeof psi->szName - 1);
  } catch (const std::bad_alloc&) {
  }
  return AVIERR_OK;
}

HRESULT AVIStreamRead(PAVISTREAM pavi, int32_t lStart, int32_t lSamples, void* lpBuffer,
                      int32_t cbBuffer, int32_t* plBytes, int32_t* plSamples) {
  if (plBytes) *plBytes = 0;
  if (plSamples) *plSamples = 0;
  // One sample (a position) is read, as many as asked (-1: what a position holds).
  if (!pavi || lSamples == 0 || lSamples < -1 || cbBuffer < 0) return AVIERR_BADPARAM;
  if (lStart < 0 || lStart >= pavi->Summary().length) return AVIERR_NODATA;
  try {
    // Held by the stream, so that asking the size and then the bytes reads the file once.
    std::vector<uint8_t>& bytes = pavi->readBytes;
    if (pavi->readPosition != lStart) {
      pavi->readPosition = -1;
      if (!pavi->file->container->ReadPosition(pavi->number, lStart, &bytes) ||
          bytes.size() > INT32_MAX)
        return AVIERR_FILEREAD;  // damaged
      pavi->readPosition = lStart;
    }
    const auto size = static_cast<int32_t>(bytes.size());
    if (plBytes) *plBytes = size;
    if (!lpBuffer) return AVIERR_OK;
    if (cbBuffer < size) return AVIERR_BUFFERTOOSMALL;
    std::memcpy(lpBuffer, bytes.data(), bytes.size());
    if (plSamples) *plSamples = 1;
    return AVIERR_OK;
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  return AVIERR_MEMORY;
}

HRESULT AVIStreamGetFrameClose(PGETFRAME pg) {
  if (!pg) return AVIERR_BADPARAM;
  PAVISTREAM stream = pg->stream;
  delete pg;
  AVIStreamRelease(stream);
  return AVIERR_OK;
}

uint32_t AVIStreamRelease(PAVISTREAM pavi) {
  if (!pavi) return 0;
  if (--pavi->refs > 0) return static_cast<uint32_t>(pavi->refs);
  AviFile* file = pavi->file;
  delete pavi;
  AVIFileRelease(file);
  return 0;
}

uint32_t AVIFileRelease(PAVIFILE pfile) {
  if (!pfile) return 0;
  if (--pfile->refs > 0) return static_cast<uint32_t>(pfile->refs);
  delete pfile;
  return 0;
}
