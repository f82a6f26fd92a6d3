// Inside the painting calls: the area-averaging stretch in the surface's own device pixels.
#pragma once

#include <cstdint>

#include "dib.h"

class DeviceContext;
using HDC = DeviceContext*;

// Paints the rectangle (xSrc, ySrc, srcWidth, srcHeight) of a 24-bit DIB, (0, 0) at its
// lower-left, into the device rectangle (x, y, width, height), clipped to the surface. The
// caller has checked the header and that the rectangle lies inside the picture.
void StretchToDevice(HDC hdc, int64_t x, int64_t y, int64_t width, int64_t height, int64_t xSrc,
                     int64_t ySrc, int64_t srcWidth, int64_t srcHeight, const void* bits,
                     const BITMAPINFOHEADER& bi);
