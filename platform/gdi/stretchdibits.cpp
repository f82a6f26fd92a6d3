// The scaled DIB painting call on our device context: 24-bit BI_RGB rows, either order. Each
// device pixel is the average of the picture area it covers (weights in 1/256 of a pixel), one
// axis after the other: the rows a device row covers are summed first, then the columns. Only
// the device pixels on the surface are worked out.
#include <algorithm>
#include <cstdlib>
#include <vector>
#if defined(__x86_64__) || defined(__i386__)
#include <emmintrin.h>
#endif

#include "devicecontext.h"
#include "gdi.h"

namespace {

constexpr int64_t kWeightOne = 256;  // the weights of one device pixel add up to this

// For each device pixel along one axis: the source pixels it covers and how much of each.
struct Taps {
  int64_t most = 0;               // source pixels a device pixel covers at most
  std::vector<int64_t> first;     // the first one it covers
  std::vector<int32_t> count;     // how many
  std::vector<uint16_t> weights;  // `most` per device pixel: the covered share, adding up to 256
};

// Device pixels [from, to) of dst along an axis of src source pixels.
Taps AreaTaps(int64_t src, int64_t dst, int64_t from, int64_t to) {
  Taps t;
  t.most = src / dst + 2;
  const size_t n = static_cast<size_t>(to - from);
  t.first.resize(n);
  t.count.resize(n);
  t.weights.assign(n * static_cast<size_t>(t.most), 0);
  for (int64_t o = from; o < to; ++o) {
    // In units of 1/dst of a source pixel, the device pixel covers [begin, end).
    const int64_t begin = o * src, end = begin + src;
    const int64_t i0 = begin / dst, i1 = (end - 1) / dst;
    const size_t k = static_cast<size_t>(o - from);
    t.first[k] = i0;
    t.count[k] = static_cast<int32_t>(i1 - i0 + 1);
    // The running total is rounded, not each share: the shares then add up to exactly 256.
    int64_t covered = 0, given = 0;
    for (int64_t i = i0; i <= i1; ++i) {
      covered += std::min((i + 1) * dst, end) - std::max(i * dst, begin);
      const int64_t upTo = (covered * kWeightOne + src / 2) / src;
      t.weights[k * static_cast<size_t>(t.most) + static_cast<size_t>(i - i0)] =
          static_cast<uint16_t>(upTo - given);
      given = upTo;
    }
  }
  return t;
}

// sum[i] += w * row[i] for n bytes. A sum stays below 2^16: its weights add up to 256.
void AddRowPlain(uint16_t* sum, const uint8_t* row, size_t n, uint16_t w) {
  for (size_t i = 0; i < n; ++i) sum[i] = static_cast<uint16_t>(sum[i] + w * row[i]);
}

void AddRow(uint16_t* sum, const uint8_t* row, size_t n, uint16_t w) {
  size_t i = 0;
#if defined(__x86_64__) || defined(__i386__)
  const __m128i weight = _mm_set1_epi16(static_cast<int16_t>(w)), zero = _mm_setzero_si128();
  for (; i + 16 <= n; i += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
    auto* s = reinterpret_cast<__m128i*>(sum + i);
    _mm_storeu_si128(s, _mm_add_epi16(_mm_loadu_si128(s),
                                      _mm_mullo_epi16(_mm_unpacklo_epi8(bytes, zero), weight)));
    _mm_storeu_si128(s + 1, _mm_add_epi16(_mm_loadu_si128(s + 1),
                                          _mm_mullo_epi16(_mm_unpackhi_epi8(bytes, zero), weight)));
  }
#endif
  AddRowPlain(sum + i, row + i, n - i, w);
}

}  // namespace

int StretchDIBits(HDC hdc, int32_t xDest, int32_t yDest, int32_t destWidth, int32_t destHeight,
                  int32_t xSrc, int32_t ySrc, int32_t srcWidth, int32_t srcHeight,
                  const void* lpBits, const BITMAPINFO* lpbmi, uint32_t iUsage, uint32_t rop) {
  if (!hdc || !lpBits || !lpbmi || iUsage != DIB_RGB_COLORS || rop != SRCCOPY) return 0;
  const BITMAPINFOHEADER& bi = lpbmi->bmiHeader;
  if (bi.biBitCount != 24 || bi.biCompression != BI_RGB || bi.biWidth <= 0 || bi.biHeight == 0)
    return 0;
  const int64_t width = bi.biWidth, height = std::abs(int64_t{bi.biHeight});
  if (destWidth <= 0 || destHeight <= 0 || srcWidth <= 0 || srcHeight <= 0 || xSrc < 0 ||
      ySrc < 0 || int64_t{xSrc} + srcWidth > width || int64_t{ySrc} + srcHeight > height)
    return 0;

  // The device pixels that lie on the surface.
  const int64_t x0 = std::max<int64_t>(0, -int64_t{xDest});
  const int64_t x1 = std::min<int64_t>(destWidth, int64_t{hdc->width()} - xDest);
  const int64_t y0 = std::max<int64_t>(0, -int64_t{yDest});
  const int64_t y1 = std::min<int64_t>(destHeight, int64_t{hdc->height()} - yDest);
  if (x1 <= x0 || y1 <= y0) return srcHeight;

  const Taps cols = AreaTaps(srcWidth, destWidth, x0, x1);
  const Taps rows = AreaTaps(srcHeight, destHeight, y0, y1);
  // Source columns [c0, c1) of the rectangle feed the device columns on the surface.
  const int64_t c0 = cols.first.front(), c1 = cols.first.back() + cols.count.back();
  const size_t rowBytes = static_cast<size_t>(c1 - c0) * 3;
  std::vector<uint16_t> sum(rowBytes);
  const int64_t stride = DibStride(width, 24);
  const auto* bits = static_cast<const uint8_t*>(lpBits);
  for (int64_t y = y0; y < y1; ++y) {
    const size_t k = static_cast<size_t>(y - y0);
    std::fill(sum.begin(), sum.end(), uint16_t{0});
    for (int32_t j = 0; j < rows.count[k]; ++j) {
      const uint16_t w = rows.weights[k * static_cast<size_t>(rows.most) + static_cast<size_t>(j)];
      if (w == 0) continue;
      // Row t of the rectangle counts from its top; the buffer's rows from the picture's bottom
      // (bottom-up) or top (top-down).
      const int64_t t = rows.first[k] + j;
      const int64_t fromBottom = ySrc + srcHeight - 1 - t;
      const int64_t index = bi.biHeight < 0 ? height - 1 - fromBottom : fromBottom;
      AddRow(sum.data(), bits + index * stride + (xSrc + c0) * 3, rowBytes, w);
    }
    uint32_t* dst = hdc->row(static_cast<int32_t>(yDest + y)) + xDest;
    for (int64_t x = x0; x < x1; ++x) {
      const size_t c = static_cast<size_t>(x - x0);
      const uint16_t* weights = cols.weights.data() + c * static_cast<size_t>(cols.most);
      const uint16_t* v = sum.data() + (cols.first[c] - c0) * 3;
      uint32_t b = 1u << 15, g = 1u << 15, r = 1u << 15;  // rounding to the nearest level
      for (int32_t j = 0; j < cols.count[c]; ++j, v += 3) {
        b += uint32_t{weights[j]} * v[0];
        g += uint32_t{weights[j]} * v[1];
        r += uint32_t{weights[j]} * v[2];
      }
      dst[x] = (r >> 16) << 16 | (g >> 16) << 8 | (b >> 16);
    }
  }
  hdc->NotifyPainted({static_cast<int32_t>(xDest + x0), static_cast<int32_t>(yDest + y0),
                      static_cast<int32_t>(x1 - x0), static_cast<int32_t>(y1 - y0)});
  return srcHeight;
}
