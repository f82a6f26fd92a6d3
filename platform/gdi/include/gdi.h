// Painting: the DIB painting calls on our device context (devicecontext.h), one at the picture's
// own size and one scaled.
#pragma once

#include <cstdint>

#include "dib.h"

class DeviceContext;  // a 32-bit pixel surface, (0, 0) at the top-left
using HDC = DeviceContext*;

inline constexpr uint32_t DIB_RGB_COLORS = 0;
inline constexpr uint32_t SRCCOPY = 0x00CC0020;  // the only raster operation: the picture as it is

// Paints the rectangle (xSrc, ySrc, w, h) of a DIB, whose lower-left is (0, 0), at
// (xDest, yDest). lpvBits holds cLines scan lines starting at uStartScan. Returns the scan
// lines taken from lpvBits, 0 on failure.
int SetDIBitsToDevice(HDC hdc, int32_t xDest, int32_t yDest, uint32_t w, uint32_t h, int32_t xSrc,
                      int32_t ySrc, uint32_t uStartScan, uint32_t cLines, const void* lpvBits,
                      const BITMAPINFO* lpbmi, uint32_t fuColorUse);

// Paints the rectangle (xSrc, ySrc, srcWidth, srcHeight) of a DIB, whose lower-left is (0, 0),
// scaled to destWidth x destHeight at (xDest, yDest). Smoothly filtered, as the platform's
// HALFTONE stretching mode: each device pixel is the average of the part of the picture it
// covers. lpBits holds the whole picture; the rectangle must lie inside it. Returns the scan
// lines of the rectangle, 0 on failure (nothing painted).
int StretchDIBits(HDC hdc, int32_t xDest, int32_t yDest, int32_t destWidth, int32_t destHeight,
                  int32_t xSrc, int32_t ySrc, int32_t srcWidth, int32_t srcHeight,
                  const void* lpBits, const BITMAPINFO* lpbmi, uint32_t iUsage, uint32_t rop);
