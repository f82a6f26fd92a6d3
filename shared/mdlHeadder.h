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

#include "avifile.h"  // platform/avifile: the calls, handles, AVISTREAMINFO, error codes

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
