// Painting: the DIB painting call on our device context (devicecontext.h).
#pragma once

#include <cstdint>

#include "dib.h"

class DeviceContext;  // a 32-bit pixel surface, (0, 0) at the top-left
using HDC = DeviceContext*;

inline constexpr uint32_t DIB_RGB_COLORS = 0;

// Paints the rectangle (xSrc, ySrc, w, h) of a DIB, whose lower-left is (0, 0), at
// (xDest, yDest). lpvBits holds cLines scan lines starting at uStartScan. Returns the scan
// lines taken from lpvBits, 0 on failure.
int SetDIBitsToDevice(HDC hdc, int32_t xDest, int32_t yDest, uint32_t w, uint32_t h, int32_t xSrc,
                      int32_t ySrc, uint32_t uStartScan, uint32_t cLines, const void* lpvBits,
                      const BITMAPINFO* lpbmi, uint32_t fuColorUse);
