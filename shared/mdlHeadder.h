// Declarations shared by the frame source, the viewer and our platform layers: the bitmap
// records, the AVI file library, the DIB painting call and the block move. The functions are
// implemented in platform/ (avifile, gdi); the records keep their on-disk little-endian layout.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- Bitmap records -------------------------------------------------------------------------

#pragma pack(push, 1)
struct BITMAPINFOHEADER {
  uint32_t biSize = 40;
  int32_t biWidth = 0;   // pixels
  int32_t biHeight = 0;  // rows; positive = bottom-up
  uint16_t biPlanes = 1;
  uint16_t biBitCount = 24;
  uint32_t biCompression = 0;  // BI_RGB
  uint32_t biSizeImage = 0;    // bytes of pixel data, 0 allowed for BI_RGB
  int32_t biXPelsPerMeter = 0;
  int32_t biYPelsPerMeter = 0;
  uint32_t biClrUsed = 0;
  uint32_t biClrImportant = 0;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPINFOHEADER) == 40);

// The file header as the frame source holds it; written field by field (14 bytes on disk).
struct BITMAPFILEHEADER {
  char bfType[2] = {0, 0};  // "BM"
  uint32_t bfSize = 0;      // length of the whole file in bytes
  uint16_t bfReserved1 = 0;
  uint16_t bfReserved2 = 0;
  uint32_t bfOffBits = 0;  // offset of the pixel data
};
inline constexpr int kBitmapFileHeaderSize = 14;

inline constexpr uint32_t BI_RGB = 0;
inline constexpr uint32_t BI_RLE8 = 1;
inline constexpr uint32_t BI_RLE4 = 2;
inline constexpr uint32_t BI_BITFIELDS = 3;
inline constexpr uint32_t DIB_RGB_COLORS = 0;

// Row stride of a DIB: bits per row rounded up to whole 32-bit words; -1 if it does not fit.
inline int64_t DibStride(int64_t width, int bitCount) {
  if (width < 0 || bitCount <= 0) return -1;
  return ((width * bitCount + 31) / 32) * 4;
}

// ---- AVI file library ------------------------------------------------------------------------

using HRESULT = int32_t;
inline constexpr HRESULT AVIERR_OK = 0;
inline constexpr HRESULT AVIERR_BADFORMAT = static_cast<HRESULT>(0x80044066);
inline constexpr HRESULT AVIERR_MEMORY = static_cast<HRESULT>(0x80044067);
inline constexpr HRESULT AVIERR_FILEREAD = static_cast<HRESULT>(0x8004406D);
inline constexpr HRESULT AVIERR_FILEOPEN = static_cast<HRESULT>(0x8004406E);
inline constexpr HRESULT AVIERR_NODATA = static_cast<HRESULT>(0x80044072);
inline constexpr HRESULT AVIERR_BADPARAM = static_cast<HRESULT>(0x80044076);

inline constexpr uint32_t OF_READ = 0;

constexpr uint32_t MakeFourCC(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
         (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8) |
         (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24);
}
inline constexpr uint32_t streamtypeVIDEO = MakeFourCC('v', 'i', 'd', 's');  // 0x73646976
inline constexpr uint32_t streamtypeAUDIO = MakeFourCC('a', 'u', 'd', 's');

struct AviFile;      // an opened AVI file (platform/avifile)
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
// lpbiWanted: null or 24-bit BI_RGB (width/height ignored). Null result = no decompressor.
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

// ---- Painting --------------------------------------------------------------------------------

class DeviceContext;  // platform/gdi: a 32-bit pixel surface, (0, 0) at the top-left
using HDC = DeviceContext*;

struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
};

// Paints the rectangle (xSrc, ySrc, w, h) of a DIB, whose lower-left is (0, 0), at
// (xDest, yDest). lpvBits holds cLines scan lines starting at uStartScan. Returns the scan
// lines taken from lpvBits, 0 on failure.
int SetDIBitsToDevice(HDC hdc, int32_t xDest, int32_t yDest, uint32_t w, uint32_t h, int32_t xSrc,
                      int32_t ySrc, uint32_t uStartScan, uint32_t cLines, const void* lpvBits,
                      const BITMAPINFO* lpbmi, uint32_t fuColorUse);

// ---- Memory ----------------------------------------------------------------------------------

void RtlMoveMemory(void* dst, const void* src, size_t length);
