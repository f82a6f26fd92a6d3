// What the decoders and the keyframe truth need to know of codec bitstreams without decoding
// them: MPEG-4 part 2 picture types, H.264 IDR slices and the picture size of H.264 sequence
// parameter sets.
#include "bitstream.h"

#include <algorithm>

int Mpeg4VopType(const uint8_t* p, size_t n) {
  for (size_t i = 0; i + 4 < n; ++i)
    if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && p[i + 3] == 0xB6) return p[i + 4] >> 6;
  return -1;
}

bool H264HasIdr(const uint8_t* p, size_t size, const std::vector<uint8_t>& extradata) {
  if (!extradata.empty() && extradata[0] == 1 && extradata.size() > 4) {
    size_t lengthSize = (extradata[4] & 3) + 1;
    for (size_t i = 0; i + lengthSize < size;) {
      size_t n = 0;
      for (size_t b = 0; b < lengthSize; ++b) n = n << 8 | p[i + b];
      i += lengthSize;
      if (i < size && (p[i] & 0x1F) == 5) return true;
      if (n > size - i) break;
      i += n;
    }
    return false;
  }
  for (size_t i = 0; i + 3 < size; ++i)
    if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && (p[i + 3] & 0x1F) == 5) return true;
  return false;
}

namespace {

// Reads the bits of an H.264 RBSP; past its end every read gives 0 and ok turns false.
struct BitReader {
  const std::vector<uint8_t>& b;
  size_t pos = 0;
  bool ok = true;
  uint32_t U(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i, ++pos) {
      if (pos >= b.size() * 8) ok = false;
      v = v << 1 | (ok ? (b[pos >> 3] >> (7 - (pos & 7))) & 1 : 0);
    }
    return v;
  }
  uint32_t Ue() {
    int zeros = 0;
    while (ok && U(1) == 0)
      if (++zeros > 31) ok = false;
    return ok ? ((1u << zeros) - 1) + U(zeros) : 0;
  }
  int64_t Se() {
    const uint32_t k = Ue();
    return k & 1 ? int64_t{k / 2} + 1 : -int64_t{k / 2};
  }
};

// Pixels of the picture an H.264 sequence parameter set declares (its NAL unit without the
// header byte), or -1 when it cannot be read.
int64_t H264SpsPixels(const uint8_t* nal, size_t n) {
  std::vector<uint8_t> rbsp;  // without the bytes that escape start codes
  for (size_t i = 0, zeros = 0; i < n && rbsp.size() < 4096; ++i) {
    if (zeros >= 2 && nal[i] == 3) {
      zeros = 0;
      continue;
    }
    zeros = nal[i] == 0 ? zeros + 1 : 0;
    rbsp.push_back(nal[i]);
  }
  BitReader r{rbsp};
  const uint32_t profile = r.U(8);
  r.U(16), r.Ue();  // constraints, level, id
  if (profile == 100 || profile == 110 || profile == 122 || profile == 244 || profile == 44 ||
      profile == 83 || profile == 86 || profile == 118 || profile == 128 || profile == 138 ||
      profile == 139 || profile == 134 || profile == 135) {
    const uint32_t chroma = r.Ue();
    if (chroma == 3) r.U(1);
    r.Ue(), r.Ue(), r.U(1);  // bit depths, lossless
    if (r.U(1))              // scaling matrices
      for (int list = 0; list < (chroma != 3 ? 8 : 12) && r.ok; ++list) {
        if (!r.U(1)) continue;
        int64_t last = 8, next = 8;
        for (int j = 0; j < (list < 6 ? 16 : 64) && r.ok; ++j) {
          if (next != 0) next = ((last + r.Se()) % 256 + 256) % 256;
          if (next != 0) last = next;
        }
      }
  }
  r.Ue();  // frame number bits
  const uint32_t pocType = r.Ue();
  if (pocType == 0) {
    r.Ue();
  } else if (pocType == 1) {
    r.U(1), r.Se(), r.Se();
    const uint32_t cycle = r.Ue();
    for (uint32_t i = 0; i < cycle && i < 256 && r.ok; ++i) r.Se();
  }
  r.Ue(), r.U(1);  // reference frames, gaps
  const int64_t widthMbs = int64_t{r.Ue()} + 1, heightUnits = int64_t{r.Ue()} + 1;
  const int64_t frameMbsOnly = r.U(1);
  if (!r.ok) return -1;
  // Each side is read as up to 2^32 macroblocks: past 2^20 it is beyond any picture anyway.
  if (widthMbs > (1 << 20) || heightUnits > (1 << 20)) return INT64_MAX;
  return widthMbs * 16 * heightUnits * 16 * (2 - frameMbsOnly);
}

}  // namespace

int64_t H264LargestSps(const uint8_t* p, size_t n, size_t lengthSize) {
  int64_t largest = 0;
  auto nal = [&](size_t at, size_t end) {
    if (at < end && (p[at] & 0x1F) == 7)
      largest = std::max(largest, H264SpsPixels(p + at + 1, end - at - 1));
  };
  if (lengthSize) {
    for (size_t i = 0; i + lengthSize <= n;) {
      size_t len = 0;
      for (size_t b = 0; b < lengthSize; ++b) len = len << 8 | p[i + b];
      i += lengthSize;
      nal(i, std::min(n, i + len));
      if (len > n - i) break;
      i += len;
    }
    return largest;
  }
  size_t start = SIZE_MAX;
  for (size_t i = 0; i + 3 <= n; ++i) {
    if (p[i] != 0 || p[i + 1] != 0 || p[i + 2] != 1) continue;
    if (start != SIZE_MAX) nal(start, i);
    start = i + 3;
    i += 2;
  }
  if (start != SIZE_MAX) nal(start, n);
  return largest;
}

std::function<bool(const uint8_t*, size_t)> KeyframeTest(AVCodecID id,
                                                         const std::vector<uint8_t>& extradata) {
  if (id == AV_CODEC_ID_MPEG4)
    return [](const uint8_t* p, size_t n) { return Mpeg4VopType(p, n) == 0; };
  if (id == AV_CODEC_ID_H264)
    return [extradata](const uint8_t* p, size_t n) { return H264HasIdr(p, n, extradata); };
  return nullptr;
}
