// The DIB painting call on our device context: 24-bit BI_RGB rows, either order, straight from
// the caller's bits into the surface, clipped to the surface and to the rows the caller holds.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "devicecontext.h"
#include "gdi.h"
#include "stretch.h"

namespace {

// Four pixels per step from 12 source bytes; the tail one by one.
void ConvertRowPlain(const uint8_t* src, uint32_t* dst, int32_t count) {
  int32_t i = 0;
  for (; i + 4 <= count; i += 4, src += 12) {
    dst[i + 0] = uint32_t{src[0]} | uint32_t{src[1]} << 8 | uint32_t{src[2]} << 16;
    dst[i + 1] = uint32_t{src[3]} | uint32_t{src[4]} << 8 | uint32_t{src[5]} << 16;
    dst[i + 2] = uint32_t{src[6]} | uint32_t{src[7]} << 8 | uint32_t{src[8]} << 16;
    dst[i + 3] = uint32_t{src[9]} | uint32_t{src[10]} << 8 | uint32_t{src[11]} << 16;
  }
  for (; i < count; ++i, src += 3)
    dst[i] = uint32_t{src[0]} | uint32_t{src[1]} << 8 | uint32_t{src[2]} << 16;
}

#if defined(__x86_64__) || defined(__i386__)
// Sixteen pixels per step from 48 source bytes, four byte shuffles; reads nothing past them.
__attribute__((target("ssse3"))) void ConvertRowSsse3(const uint8_t* src, uint32_t* dst,
                                                      int32_t count) {
  const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  int32_t i = 0;
  for (; i + 16 <= count; i += 16, src += 48) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 12));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 24));
    const __m128i d =
        _mm_srli_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 32)), 4);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_shuffle_epi8(a, spread));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i + 4), _mm_shuffle_epi8(b, spread));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i + 8), _mm_shuffle_epi8(c, spread));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i + 12), _mm_shuffle_epi8(d, spread));
  }
  ConvertRowPlain(src, dst + i, count - i);
}
#endif

void ConvertRow(const uint8_t* src, uint32_t* dst, int32_t count) {
#if defined(__x86_64__) || defined(__i386__)
  static const bool ssse3 = __builtin_cpu_supports("ssse3");
  if (ssse3) return ConvertRowSsse3(src, dst, count);
#endif
  ConvertRowPlain(src, dst, count);
}

// At a scale other than 1: the picture's part that the call shows, (x, y) its logical top-left,
// into the device rectangle that covers it. At a whole scale k every picture pixel becomes a k x k
// block, exactly; else the area-averaging stretch spreads it over the device pixels.
void PaintScaled(HDC hdc, int64_t x, int64_t y, int64_t columnsFrom, int64_t columnsTo,
                 int64_t rowLow, int64_t rowHigh, const uint8_t* bits, int64_t firstScan,
                 int64_t endScan, const BITMAPINFOHEADER& bi) {
  const int64_t left = hdc->ToDevice(x), top = hdc->ToDevice(y);
  const int64_t right = hdc->ToDevice(x + (columnsTo - columnsFrom));
  const int64_t bottom = hdc->ToDevice(y + (rowHigh - rowLow + 1));
  // The rows the caller holds, as a picture of their own.
  BITMAPINFOHEADER block = bi;
  block.biHeight =
      static_cast<int32_t>(bi.biHeight < 0 ? firstScan - endScan : endScan - firstScan);
  const double scale = hdc->scale();
  if (scale != std::floor(scale)) {
    StretchToDevice(hdc, left, top, right - left, bottom - top, columnsFrom, rowLow - firstScan,
                    columnsTo - columnsFrom, rowHigh - rowLow + 1, bits, block);
    return;
  }
  const auto k = static_cast<int64_t>(scale);
  const int64_t x0 = std::max<int64_t>(left, 0), x1 = std::min<int64_t>(right, hdc->width());
  const int64_t y0 = std::max<int64_t>(top, 0), y1 = std::min<int64_t>(bottom, hdc->height());
  if (x1 <= x0 || y1 <= y0) return;
  // The picture's columns under [x0, x1), converted once a row, then widened.
  const int64_t c0 = columnsFrom + (x0 - left) / k, c1 = columnsFrom + (x1 - 1 - left) / k + 1;
  std::vector<uint32_t> converted(static_cast<size_t>(c1 - c0));
  const int64_t stride = DibStride(bi.biWidth, 24);
  for (int64_t dy = y0; dy < y1; ++dy) {
    uint32_t* dst = hdc->row(static_cast<int32_t>(dy));
    if (dy > y0 && (dy - top) % k != 0) {  // the block's next row: as the one above
      std::memcpy(dst + x0, hdc->row(static_cast<int32_t>(dy - 1)) + x0,
                  static_cast<size_t>(x1 - x0) * 4);
      continue;
    }
    const int64_t scan = rowHigh - (dy - top) / k;  // from the picture's bottom
    const int64_t index = bi.biHeight < 0 ? endScan - 1 - scan : scan - firstScan;
    ConvertRow(bits + index * stride + c0 * 3, converted.data(), static_cast<int32_t>(c1 - c0));
    for (int64_t dx = x0; dx < x1; ++dx)
      dst[dx] = converted[static_cast<size_t>(columnsFrom + (dx - left) / k - c0)];
  }
  hdc->NotifyPainted({static_cast<int32_t>(x0), static_cast<int32_t>(y0),
                      static_cast<int32_t>(x1 - x0), static_cast<int32_t>(y1 - y0)});
}

}  // namespace

int SetDIBitsToDevice(HDC hdc, int32_t xDest, int32_t yDest, uint32_t w, uint32_t h, int32_t xSrc,
                      int32_t ySrc, uint32_t uStartScan, uint32_t cLines, const void* lpvBits,
                      const BITMAPINFO* lpbmi, uint32_t fuColorUse) {
  if (!hdc || !lpvBits || !lpbmi || fuColorUse != DIB_RGB_COLORS) return 0;
  const BITMAPINFOHEADER& bi = lpbmi->bmiHeader;
  if (bi.biBitCount != 24 || bi.biCompression != BI_RGB || bi.biWidth <= 0 || bi.biHeight == 0)
    return 0;
  const int64_t width = bi.biWidth;
  const int64_t height = bi.biHeight < 0 ? -int64_t{bi.biHeight} : bi.biHeight;
  const bool topDown = bi.biHeight < 0;
  const int64_t stride = DibStride(width, 24);

  // Scan lines (counted from the bottom of the picture) that lpvBits holds.
  const int64_t firstScan = std::min<int64_t>(uStartScan, height);
  const int64_t endScan = std::min<int64_t>(int64_t{uStartScan} + cLines, height);
  if (endScan <= firstScan) return 0;

  if (hdc->scale() != 1) {
    // What the call shows of the picture, wherever the surface ends.
    const int64_t x0 = std::max<int64_t>(xSrc, 0), x1 = std::min<int64_t>(int64_t{xSrc} + w, width);
    const int64_t top = int64_t{ySrc} + h - 1;
    const int64_t yLow = std::max<int64_t>(ySrc, firstScan), yHigh = std::min(top, endScan - 1);
    if (x1 > x0 && yHigh >= yLow)
      PaintScaled(hdc, xDest + (x0 - xSrc), yDest + (top - yHigh), x0, x1, yLow, yHigh,
                  static_cast<const uint8_t*>(lpvBits), firstScan, endScan, bi);
    return static_cast<int>(endScan - firstScan);
  }

  const int64_t x0 = std::max<int64_t>({xSrc, 0, int64_t{xSrc} - xDest});
  const int64_t x1 =
      std::min<int64_t>({int64_t{xSrc} + w, width, int64_t{xSrc} - xDest + hdc->width()});
  int64_t painted = 0;
  if (x1 > x0) {
    const int64_t top = int64_t{ySrc} + h - 1;  // picture row shown at yDest
    const int64_t yLow =
        std::max<int64_t>({ySrc, firstScan, top - (int64_t{hdc->height()} - 1 - yDest)});
    const int64_t yHigh = std::min<int64_t>({top, endScan - 1, top - (0 - int64_t{yDest})});
    const auto* bits = static_cast<const uint8_t*>(lpvBits);
    for (int64_t y = yLow; y <= yHigh; ++y) {
      // Row y from the bottom sits at (y - uStartScan) in a bottom-up block; top-down blocks
      // run the other way.
      const int64_t index = topDown ? (endScan - 1 - y) : (y - uStartScan);
      const uint8_t* src = bits + index * stride + x0 * 3;
      uint32_t* dst = hdc->row(static_cast<int32_t>(yDest + (top - y))) + (xDest + (x0 - xSrc));
      ConvertRow(src, dst, static_cast<int32_t>(x1 - x0));
    }
    if (yHigh >= yLow) {
      painted = yHigh - yLow + 1;
      hdc->NotifyPainted({static_cast<int32_t>(xDest + (x0 - xSrc)),
                          static_cast<int32_t>(yDest + (top - yHigh)),
                          static_cast<int32_t>(x1 - x0), static_cast<int32_t>(painted)});
    }
  }
  return static_cast<int>(endScan - firstScan);
}
