// The bitmap records every layer may use: the DIB header as files and decompressors carry it,
// the BMP file header as the frame source holds it, and the row stride of a DIB. The records
// keep their on-disk little-endian layout.
#pragma once

#include <cstdint>

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

// A DIB's description as painting takes it: the header alone, no colour table.
struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
};

inline constexpr uint32_t BI_RGB = 0;
inline constexpr uint32_t BI_RLE8 = 1;
inline constexpr uint32_t BI_RLE4 = 2;
inline constexpr uint32_t BI_BITFIELDS = 3;

// Row stride of a DIB: bits per row rounded up to whole 32-bit words; -1 if it does not fit.
inline int64_t DibStride(int64_t width, int bitCount) {
  if (width < 0 || bitCount <= 0) return -1;
  return ((width * bitCount + 31) / 32) * 4;
}
