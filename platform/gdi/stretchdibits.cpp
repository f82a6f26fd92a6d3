// The scaled DIB painting call on our device context: 24-bit BI_RGB rows, either order. Each
// device pixel is the average of the picture area it covers, one axis after the other: the rows
// a device row covers are summed first, then the columns. Only the device pixels on the surface
// are worked out.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "devicecontext.h"
#include "gdi.h"
#include "stretch.h"

namespace {

// The weights of one device row add up to kRowOne, of one device column to kColumnOne: a row's
// weights fit in signed bytes and its sums of 8-bit values in 15 bits, a pixel's in 24.
constexpr int64_t kRowOne = 64, kColumnOne = 512;
constexpr int kShift = 15;  // log2(kRowOne * kColumnOne)

// For each device pixel along one axis: the source pixels it covers and how much of each.
struct Taps {
  int64_t most = 0;               // source pixels a device pixel covers at most
  std::vector<int64_t> first;     // the first one it covers
  std::vector<int32_t> count;     // how many
  std::vector<uint16_t> weights;  // `most` per device pixel: the covered shares, adding up to one
};

// Device pixels [from, to) of dst along an axis of src source pixels; `one` is the whole.
Taps AreaTaps(int64_t src, int64_t dst, int64_t from, int64_t to, int64_t one) {
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
    // The running total is rounded, not each share: the shares then add up to exactly one.
    int64_t covered = 0, given = 0;
    for (int64_t i = i0; i <= i1; ++i) {
      covered += std::min((i + 1) * dst, end) - std::max(i * dst, begin);
      const int64_t upTo = (covered * one + src / 2) / src;
      t.weights[k * static_cast<size_t>(t.most) + static_cast<size_t>(i - i0)] =
          static_cast<uint16_t>(upTo - given);
      given = upTo;
    }
  }
  return t;
}

// A device row's sums: one 16-bit sum for each byte of the source rows' pixels,
// sums[i] = the sum over the taps t of w[t] * rows[t][i], bytes [from, to).
void SumRowsPlain(int16_t* sums, const uint8_t* const* rows, const int16_t* w, int32_t taps,
                  int64_t from, int64_t to) {
  for (int64_t i = from; i < to; ++i) {
    int32_t sum = 0;
    for (int32_t t = 0; t < taps; ++t) sum += w[t] * rows[t][i];
    sums[i] = static_cast<int16_t>(sum);
  }
}

#if defined(__x86_64__) || defined(__i386__)
// Sixteen bytes a step, two rows at once: their bytes interleaved, each pair multiplied by its
// two weights and added in one instruction. kTaps rows (any number when 0), so that the usual
// two or three unroll.
template <int32_t kTaps>
__attribute__((target("ssse3"))) void SumRowsSsse3(int16_t* sums, const uint8_t* const* rows,
                                                   const int16_t* w, int32_t taps, int64_t bytes) {
  const int32_t n = kTaps ? kTaps : taps;
  const __m128i zero = _mm_setzero_si128();
  // The weights of rows t and t + 1 (0 past the last), as signed bytes.
  const auto weights = [&](int32_t t) {
    const int16_t second = t + 1 < n ? w[t + 1] : 0;
    return _mm_set1_epi16(static_cast<int16_t>(second << 8 | w[t]));
  };
  __m128i unrolled[2] = {zero, zero};
  if (kTaps) unrolled[0] = weights(0);
  if (kTaps > 2) unrolled[1] = weights(2);
  int64_t i = 0;
  for (; i + 16 <= bytes; i += 16) {
    __m128i low = zero, high = zero;
    for (int32_t t = 0; t < n; t += 2) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[t] + i));
      const __m128i b =
          t + 1 < n ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[t + 1] + i)) : zero;
      const __m128i pair = kTaps ? unrolled[t / 2] : weights(t);
      low = _mm_add_epi16(low, _mm_maddubs_epi16(_mm_unpacklo_epi8(a, b), pair));
      high = _mm_add_epi16(high, _mm_maddubs_epi16(_mm_unpackhi_epi8(a, b), pair));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + i), low);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + i + 8), high);
  }
  SumRowsPlain(sums, rows, w, taps, i, bytes);
}

// One device pixel from its columns' sums, two columns a step: p[4 k] (four times over) holds
// the weights of columns 2k and 2k + 1, 0 past the columns the pixel covers (their sums are read
// but count nothing).
template <size_t kPairs>
__attribute__((target("ssse3"), always_inline)) inline __m128i PixelSsse3(const int16_t* v,
                                                                          const int32_t* p,
                                                                          size_t pairs) {
  const size_t steps = kPairs ? kPairs : pairs;
  // Two pixels' sums (b g r b g r) as b b g g r r 0 0.
  const __m128i gather = _mm_setr_epi8(0, 1, 6, 7, 2, 3, 8, 9, 4, 5, 10, 11, -1, -1, -1, -1);
  __m128i total = _mm_set1_epi32(1 << (kShift - 1));  // rounding to the nearest level
  for (size_t k = 0; k < steps; ++k, v += 6) {
    const __m128i lanes =
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v)), gather);
    const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4 * k));
    total = _mm_add_epi32(total, _mm_madd_epi16(lanes, w));
  }
  return _mm_srli_epi32(total, kShift);
}

// The n device pixels of a row from dst on. Every pixel takes kPairs steps (as many as the
// widest, when 0), and two pixels are worked out side by side: no branch to mispredict, no wait
// for one sum.
template <size_t kPairs>
__attribute__((target("ssse3"))) void ColumnsSsse3(uint32_t* dst, size_t n, const int16_t* sums,
                                                   const int64_t* offsets, const int32_t* pairs,
                                                   size_t pairsEach) {
  const size_t each = pairsEach * 4;
  size_t c = 0;
  for (; c + 2 <= n; c += 2) {
    const __m128i first = PixelSsse3<kPairs>(sums + offsets[c], pairs + c * each, pairsEach);
    const __m128i second =
        PixelSsse3<kPairs>(sums + offsets[c + 1], pairs + (c + 1) * each, pairsEach);
    const __m128i words = _mm_packs_epi32(first, second);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + c), _mm_packus_epi16(words, words));
  }
  if (c < n) {
    const __m128i only = PixelSsse3<kPairs>(sums + offsets[c], pairs + c * each, pairsEach);
    const __m128i words = _mm_packs_epi32(only, only);
    dst[c] = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(words, words)));
  }
}
#endif

inline uint32_t ColumnsPlain(const int16_t* v, const uint16_t* weights, int32_t count) {
  int32_t b = 1 << (kShift - 1), g = b, r = b;
  for (int32_t j = 0; j < count; ++j, v += 3) {
    b += weights[j] * v[0];
    g += weights[j] * v[1];
    r += weights[j] * v[2];
  }
  return static_cast<uint32_t>(r >> kShift) << 16 | static_cast<uint32_t>(g >> kShift) << 8 |
         static_cast<uint32_t>(b >> kShift);
}

}  // namespace

void StretchToDevice(HDC hdc, int64_t xDest, int64_t yDest, int64_t destWidth, int64_t destHeight,
                     int64_t xSrc, int64_t ySrc, int64_t srcWidth, int64_t srcHeight,
                     const void* lpBits, const BITMAPINFOHEADER& bi) {
  if (destWidth <= 0 || destHeight <= 0) return;
  const int64_t width = bi.biWidth, height = std::abs(int64_t{bi.biHeight});
  // The device pixels that lie on the surface.
  const int64_t x0 = std::max<int64_t>(0, -xDest);
  const int64_t x1 = std::min<int64_t>(destWidth, int64_t{hdc->width()} - xDest);
  const int64_t y0 = std::max<int64_t>(0, -yDest);
  const int64_t y1 = std::min<int64_t>(destHeight, int64_t{hdc->height()} - yDest);
  if (x1 <= x0 || y1 <= y0) return;

  const Taps cols = AreaTaps(srcWidth, destWidth, x0, x1, kColumnOne);
  const Taps rows = AreaTaps(srcHeight, destHeight, y0, y1, kRowOne);
  // Source columns [c0, c1) of the rectangle feed the device columns on the surface; the sums
  // of a few more, always 0, let every device pixel take as many pairs of columns, read 16
  // bytes at a time.
  const int64_t c0 = cols.first.front(), c1 = cols.first.back() + cols.count.back();
  const size_t pairsEach = static_cast<size_t>(cols.most + 1) / 2;
  const int64_t rowBytes = (c1 - c0) * 3;
  std::vector<int16_t> sums(static_cast<size_t>(rowBytes) + 6 * pairsEach + 8, 0);
  std::vector<int32_t> pairs(cols.count.size() * pairsEach * 4, 0);  // each one four times
  std::vector<int64_t> offsets(cols.count.size());  // of each device pixel's first column's sums
  for (size_t c = 0; c < cols.count.size(); ++c) offsets[c] = (cols.first[c] - c0) * 3;
  for (size_t c = 0; c < cols.count.size(); ++c)
    for (int32_t j = 0; j < cols.count[c]; ++j)
      for (size_t lane = 0; lane < 4; ++lane)
        pairs[(c * pairsEach + static_cast<size_t>(j / 2)) * 4 + lane] |=
            int32_t{cols.weights[c * static_cast<size_t>(cols.most) + static_cast<size_t>(j)]}
            << (16 * (j % 2));
  const int64_t stride = DibStride(width, 24);
  const auto* bits = static_cast<const uint8_t*>(lpBits);
  std::vector<const uint8_t*> tapRows(static_cast<size_t>(rows.most));
  std::vector<int16_t> tapWeights(static_cast<size_t>(rows.most));
#if defined(__x86_64__) || defined(__i386__)
  static const bool ssse3 = __builtin_cpu_supports("ssse3");
#endif
  const auto most = static_cast<size_t>(rows.most);
  for (int64_t y = y0; y < y1; ++y) {
    const size_t k = static_cast<size_t>(y - y0);
    // Enlarged twice or more, neighbouring device rows cover the same part of one picture row:
    // the row above is then this one too.
    if (k > 0 && rows.first[k] == rows.first[k - 1] && rows.count[k] == rows.count[k - 1] &&
        std::equal(&rows.weights[k * most], &rows.weights[k * most] + most,
                   &rows.weights[(k - 1) * most])) {
      std::memcpy(hdc->row(static_cast<int32_t>(yDest + y)) + (xDest + x0),
                  hdc->row(static_cast<int32_t>(yDest + y - 1)) + (xDest + x0),
                  static_cast<size_t>(x1 - x0) * 4);
      continue;
    }
    int32_t taps = 0;
    for (int32_t j = 0; j < rows.count[k]; ++j) {
      const uint16_t w = rows.weights[k * static_cast<size_t>(rows.most) + static_cast<size_t>(j)];
      if (w == 0) continue;
      // Row t of the rectangle counts from its top; the buffer's rows from the picture's bottom
      // (bottom-up) or top (top-down).
      const int64_t t = rows.first[k] + j;
      const int64_t fromBottom = ySrc + srcHeight - 1 - t;
      const int64_t index = bi.biHeight < 0 ? height - 1 - fromBottom : fromBottom;
      tapRows[static_cast<size_t>(taps)] = bits + index * stride + (xSrc + c0) * 3;
      tapWeights[static_cast<size_t>(taps++)] = static_cast<int16_t>(w);
    }
#if defined(__x86_64__) || defined(__i386__)
    if (ssse3) {
      const auto sum = taps == 1   ? SumRowsSsse3<1>
                       : taps == 2 ? SumRowsSsse3<2>
                       : taps == 3 ? SumRowsSsse3<3>
                                   : SumRowsSsse3<0>;
      sum(sums.data(), tapRows.data(), tapWeights.data(), taps, rowBytes);
    } else
#endif
      SumRowsPlain(sums.data(), tapRows.data(), tapWeights.data(), taps, 0, rowBytes);
    // From the first device pixel on the surface: a pointer to one off it would leave the row.
    uint32_t* dst = hdc->row(static_cast<int32_t>(yDest + y)) + (xDest + x0);
#if defined(__x86_64__) || defined(__i386__)
    if (ssse3) {
      const auto columns = pairsEach == 1   ? ColumnsSsse3<1>
                           : pairsEach == 2 ? ColumnsSsse3<2>
                                            : ColumnsSsse3<0>;
      columns(dst, cols.count.size(), sums.data(), offsets.data(), pairs.data(), pairsEach);
      continue;
    }
#endif
    for (size_t c = 0; c < cols.count.size(); ++c)
      dst[c] =
          ColumnsPlain(sums.data() + offsets[c],
                       cols.weights.data() + c * static_cast<size_t>(cols.most), cols.count[c]);
  }
  hdc->NotifyPainted({static_cast<int32_t>(xDest + x0), static_cast<int32_t>(yDest + y0),
                      static_cast<int32_t>(x1 - x0), static_cast<int32_t>(y1 - y0)});
}

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
  // Averaged straight from the picture into the device pixels: on a HiDPI screen the picture
  // keeps the detail the screen can show.
  const int64_t x = hdc->ToDevice(xDest), y = hdc->ToDevice(yDest);
  StretchToDevice(hdc, x, y, hdc->ToDevice(int64_t{xDest} + destWidth) - x,
                  hdc->ToDevice(int64_t{yDest} + destHeight) - y, xSrc, ySrc, srcWidth, srcHeight,
                  lpBits, bi);
  return srcHeight;
}
