// The AVI file library: opening a video file (AVI with our own reader, any other container
// through libavformat), finding its streams and fetching a video stream's frames as packed
// 24-bit DIBs. Handles are reference counted: a stream keeps its file alive, a
// decompressor keeps its stream alive. All calls come from one thread.
#pragma once

#include <cstdint>

struct BITMAPINFOHEADER;  // the bitmap records: shared/ (mdlHeadder.h)

using HRESULT = int32_t;
inline constexpr HRESULT AVIERR_OK = 0;
inline constexpr HRESULT AVIERR_BADFORMAT = static_cast<HRESULT>(0x80044066);
inline constexpr HRESULT AVIERR_MEMORY = static_cast<HRESULT>(0x80044067);
inline constexpr HRESULT AVIERR_FILEREAD = static_cast<HRESULT>(0x8004406D);
inline constexpr HRESULT AVIERR_FILEOPEN = static_cast<HRESULT>(0x8004406E);
inline constexpr HRESULT AVIERR_NODATA = static_cast<HRESULT>(0x80044072);
inline constexpr HRESULT AVIERR_BADPARAM = static_cast<HRESULT>(0x80044076);
inline constexpr HRESULT AVIERR_USERABORT = static_cast<HRESULT>(0x800440C6);

inline constexpr uint32_t OF_READ = 0;

constexpr uint32_t MakeFourCC(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
         (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8) |
         (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24);
}
inline constexpr uint32_t streamtypeVIDEO = MakeFourCC('v', 'i', 'd', 's');  // 0x73646976
inline constexpr uint32_t streamtypeAUDIO = MakeFourCC('a', 'u', 'd', 's');

struct AviFile;      // an opened AVI file
struct AviStream;    // one stream of it
struct AviGetFrame;  // a decompressor opened on a video stream
using PAVIFILE = AviFile*;
using PAVISTREAM = AviStream*;
using PGETFRAME = AviGetFrame*;
struct CLSID;

// What a stream says of itself (a subset of the platform's record, for tools and tests).
struct AVISTREAMINFO {
  uint32_t fccType = 0;     // streamtypeVIDEO, ...
  uint32_t fccHandler = 0;  // codec FourCC from the stream header (0 if none)
  uint32_t dwScale = 0;     // frame rate = dwRate / dwScale
  uint32_t dwRate = 0;
  int32_t dwLength = 0;        // frames (positions) in the stream
  uint32_t biCompression = 0;  // FourCC or BI_* of the stream's format
  int32_t width = 0;           // frame size from the stream's format
  int32_t height = 0;          // as stored: negative = top-down
  char szName[64] = {};        // codec name, or "" if no decoder is known
};

void AVIFileInit();  // begins one use of the library
void AVIFileExit();  // ends one use; extra calls at zero do nothing
// path: native (UTF-8) file name. 0 = opened.
HRESULT AVIFileOpen(PAVIFILE* ppfile, const char* szFile, uint32_t uMode,
                    const CLSID* pclsidHandler);
// fccType 0 = any stream; lParam = index among the streams of that type. 0 = found.
HRESULT AVIFileGetStream(PAVIFILE pfile, PAVISTREAM* ppavi, uint32_t fccType, int32_t lParam);
// lpbiWanted: null or 24-bit BI_RGB (width/height ignored). Null result = no decompressor;
// AVIStreamGetFrameError tells why.
PGETFRAME AVIStreamGetFrameOpen(PAVISTREAM pavi, const BITMAPINFOHEADER* lpbiWanted);
// A packed DIB (header + pixels) owned by pg and valid until its next call; null = no frame.
// A position that does not decode delivers the last picture before it that did (black before
// the first).
void* AVIStreamGetFrame(PGETFRAME pg, int32_t lPos);
// Whether the last AVIStreamGetFrame delivered that position's own picture (ours: for tests).
bool AVIStreamFrameDecoded(PGETFRAME pg);
int32_t AVIStreamLength(PAVISTREAM pavi);  // positions in the stream, -1 on a null handle
HRESULT AVIStreamInfo(PAVISTREAM pavi, AVISTREAMINFO* psi, int32_t lSize);
HRESULT AVIStreamGetFrameClose(PGETFRAME pg);
uint32_t AVIStreamRelease(PAVISTREAM pavi);  // remaining references
uint32_t AVIFileRelease(PAVIFILE pfile);     // remaining references
int AVIFileUseCount();  // begun uses not yet ended (ours: lets tests check the pairing)
// The bytes of the packet shown at position lStart (lSamples 1; a dropped frame's: the packet
// before it), as the file holds them, undecoded; of a frame coded as two field pictures, both
// packets one after the other. With lpBuffer null, *plBytes is the size needed.
// AVIERR_BUFFERTOOSMALL when cbBuffer is less; AVIERR_NODATA outside the stream;
// AVIERR_FILEREAD when the packet cannot be read.
inline constexpr HRESULT AVIERR_BUFFERTOOSMALL = static_cast<HRESULT>(0x80044074);
HRESULT AVIStreamRead(PAVISTREAM pavi, int32_t lStart, int32_t lSamples, void* lpBuffer,
                      int32_t cbBuffer, int32_t* plBytes, int32_t* plSamples);

// ---- Ours: progress of a long open -------------------------------------------------------------

// Called now and then while AVIFileOpen reads a file to index it (a scan of an AVI's movi, a
// container without an index of ours): done of total bytes. Returning false cancels the open,
// which then returns AVIERR_USERABORT. One callback for the library, null for none; the context
// is handed back as it was given.
using AVIOPENPROGRESS = bool (*)(void* context, uint64_t done, uint64_t total);
void AVIFileSetOpenProgress(AVIOPENPROGRESS callback, void* context);

// ---- Ours: the order of a frame's two fields ---------------------------------------------------

enum class AviFieldOrder : int32_t {
  kUnknown = 0,  // nothing says
  kProgressive,  // whole frames
  kTopFirst,     // the field of the top line is the earlier
  kBottomFirst,  // the field of the second line is the earlier
};
// What the stream tells of its fields: the first decoded picture's flags, or the file's field
// description where the picture says nothing.
AviFieldOrder AVIStreamGetFrameFieldOrder(PGETFRAME pg);

// ---- Ours: why a stream has no decompressor ---------------------------------------------------

enum class AviDecoderError : int32_t {
  kNone = 0,      // the last open succeeded, or none was tried
  kNotVideo,      // the stream is not a video stream
  kWantedFormat,  // the caller asked for frames other than 24-bit BI_RGB
  kNoFormat,      // the stream has no bitmap header (nor, for type-1 DV, a frame size)
  kFrameSize,     // width or height is zero, negative or beyond the bounds decoded
  kBitDepth,      // an uncompressed layout of a bit depth we do not convert
  kNoCodec,       // no decoder is known for the stream's FourCC
  kTooLarge,      // the codec's parameters declare a picture larger than the stream's
  kCodecRefused,  // the decoder would not open on the stream's codec data
  kNoPicture,     // no picture decodes among the stream's first packets
  kMemory,        // out of memory
};
// Why the last AVIStreamGetFrameOpen on pavi gave null (kNone after one that succeeded).
AviDecoderError AVIStreamGetFrameError(PAVISTREAM pavi);
const char* AviDecoderErrorText(AviDecoderError error);  // "no decoder for the codec tag", ...
