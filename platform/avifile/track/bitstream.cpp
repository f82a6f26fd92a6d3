// What the decoders and the keyframe truth need to know of codec bitstreams without decoding
// them: picture types, whether a picture stands alone, and the picture size of H.264 sequence
// parameter sets.
#include "bitstream.h"

#include <algorithm>
#include <cstdint>

#include "dib.h"         // DibStride
#include "filereader.h"  // Le16

int Mpeg4VopType(const uint8_t* p, size_t n) {
  for (size_t i = 0; i + 4 < n; ++i)
    if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && p[i + 3] == 0xB6) return p[i + 4] >> 6;
  return -1;
}

size_t H264NalLengthSize(const std::vector<uint8_t>& extradata) {
  return extradata.size() > 4 && extradata[0] == 1 ? (extradata[4] & 3) + 1 : 0;
}

namespace {

// Reads the bits of an H.264 RBSP; past its end every read gives 0 and ok turns false.
struct BitReader {
  const uint8_t* b;
  size_t size;
  size_t pos = 0;
  bool ok = true;
  explicit BitReader(const std::vector<uint8_t>& v) : b(v.data()), size(v.size()) {}
  BitReader(const uint8_t* data, size_t n) : b(data), size(n) {}
  uint32_t U(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i, ++pos) {
      if (pos >= size * 8) ok = false;
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

// The first bytes of an H.264 NAL unit's payload without the bytes that escape start codes, into
// out; how many.
size_t Rbsp(const uint8_t* nal, size_t n, uint8_t* out, size_t limit) {
  size_t m = 0;
  for (size_t i = 0, zeros = 0; i < n && m < limit; ++i) {
    if (zeros >= 2 && nal[i] == 3) {
      zeros = 0;
      continue;
    }
    zeros = nal[i] == 0 ? zeros + 1 : 0;
    out[m++] = nal[i];
  }
  return m;
}

std::vector<uint8_t> Rbsp(const uint8_t* nal, size_t n, size_t limit) {
  std::vector<uint8_t> rbsp(std::min(n, limit));
  rbsp.resize(Rbsp(nal, n, rbsp.data(), rbsp.size()));
  return rbsp;
}

// Calls visit(nal, bytes) for each NAL unit of H.264 data (Annex B, or NAL units with
// lengthSize-byte lengths) until it returns false.
template <typename Visit>
void ForEachNal(const uint8_t* p, size_t n, size_t lengthSize, Visit visit) {
  if (lengthSize) {
    for (size_t i = 0; i + lengthSize <= n;) {
      size_t len = 0;
      for (size_t b = 0; b < lengthSize; ++b) len = len << 8 | p[i + b];
      i += lengthSize;
      const size_t end = std::min(n, i + std::min(len, n - i));
      if ((i < end && !visit(p + i, end - i)) || len > n - i) return;
      i += len;
    }
    return;
  }
  size_t start = SIZE_MAX;
  for (size_t i = 0; i + 3 <= n; ++i) {
    if (p[i] != 0 || p[i + 1] != 0 || p[i + 2] != 1) continue;
    if (start != SIZE_MAX && start < i && !visit(p + start, i - start)) return;
    start = i + 3;
    i += 2;
  }
  if (start != SIZE_MAX && start < n) visit(p + start, n - start);
}

// Index of the next start code (00 00 01) at or after i, or n.
size_t NextStartCode(const uint8_t* p, size_t i, size_t n) {
  for (i += 2; i < n;) {
    if (p[i] > 1)
      i += 3;
    else if (p[i] == 1 && p[i - 1] == 0 && p[i - 2] == 0)
      return i - 2;
    else
      ++i;
  }
  return n;
}

// Walks H.264 NAL units as they begin: visit(nal, bytes to the data's end, or to the unit's end
// where lengths tell it) until it returns false. Unlike ForEachNal, a unit is seen before the
// walk looks for its end.
template <typename Visit>
void ForEachNalStart(const uint8_t* p, size_t n, size_t lengthSize, Visit visit) {
  if (lengthSize) {
    ForEachNal(p, n, lengthSize, visit);
    return;
  }
  for (size_t i = NextStartCode(p, 0, n); i + 3 < n; i = NextStartCode(p, i + 3, n))
    if (!visit(p + i + 3, n - i - 3)) return;
}

// Calls visit(nal, bytes) for each NAL unit of H.264 codec data: an avcC record's sequence, then
// picture parameter sets, each with a 2-byte size; else Annex B.
template <typename Visit>
void ForEachCodecDataNal(const std::vector<uint8_t>& x, Visit visit) {
  if (x.empty()) return;
  if (x[0] != 1 || x.size() <= 6) {
    ForEachNal(x.data(), x.size(), 0, [&](const uint8_t* nal, size_t bytes) {
      visit(nal, bytes);
      return true;
    });
    return;
  }
  size_t i = 5;
  for (int kind = 0; kind < 2 && i < x.size(); ++kind) {
    size_t count = kind == 0 ? x[i] & 0x1F : x[i];
    for (++i; count > 0 && i + 2 <= x.size(); --count) {
      const size_t len = std::min<size_t>(size_t{x[i]} << 8 | x[i + 1], x.size() - i - 2);
      if (len > 0) visit(x.data() + i + 2, len);
      i += 2 + len;
    }
  }
}

// What an H.264 sequence parameter set (its NAL unit without the header byte) tells; pixels -1
// when it cannot be read.
struct SpsFacts {
  uint32_t id = 0;
  int64_t pixels = -1;
  H264ParamSets::Sps sps;
};

SpsFacts ReadSps(const uint8_t* nal, size_t n) {
  const std::vector<uint8_t> rbsp = Rbsp(nal, n, 4096);
  BitReader r{rbsp};
  SpsFacts out;
  const uint32_t profile = r.U(8);
  r.U(16);  // constraints, level
  out.id = r.Ue();
  if (profile == 100 || profile == 110 || profile == 122 || profile == 244 || profile == 44 ||
      profile == 83 || profile == 86 || profile == 118 || profile == 128 || profile == 138 ||
      profile == 139 || profile == 134 || profile == 135) {
    const uint32_t chroma = r.Ue();
    if (chroma == 3) out.sps.separateColourPlane = r.U(1);
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
  out.sps.frameNumBits = static_cast<uint8_t>(std::min<uint32_t>(r.Ue(), 12) + 4);
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
  out.sps.frameMbsOnly = frameMbsOnly;
  if (!r.ok) return out;
  out.sps.known = out.id < 32;
  // Each side is read as up to 2^32 macroblocks: past 2^20 it is beyond any picture anyway.
  out.pixels = widthMbs > (1 << 20) || heightUnits > (1 << 20)
                   ? INT64_MAX
                   : widthMbs * 16 * heightUnits * 16 * (2 - frameMbsOnly);
  return out;
}

int64_t H264SpsPixels(const uint8_t* nal, size_t n) {
  return ReadSps(nal, n).pixels;
}

}  // namespace

int64_t H264LargestSps(const uint8_t* p, size_t n, size_t lengthSize) {
  int64_t largest = 0;
  ForEachNal(p, n, lengthSize, [&](const uint8_t* nal, size_t bytes) {
    if ((nal[0] & 0x1F) == 7) largest = std::max(largest, H264SpsPixels(nal + 1, bytes - 1));
    return true;
  });
  return largest;
}

bool H264HasIdr(const uint8_t* p, size_t size, size_t lengthSize) {
  bool idr = false;
  ForEachNal(p, size, lengthSize, [&idr](const uint8_t* nal, size_t) {
    idr = (nal[0] & 0x1F) == 5;
    return !idr;
  });
  return idr;
}

int64_t H264LargestSps(const std::vector<uint8_t>& extradata) {
  int64_t largest = 0;
  ForEachCodecDataNal(extradata, [&](const uint8_t* nal, size_t bytes) {
    if ((nal[0] & 0x1F) == 7) largest = std::max(largest, H264SpsPixels(nal + 1, bytes - 1));
  });
  return largest;
}

namespace {

uint32_t Be16(const uint8_t* p) {
  return uint32_t{p[0]} << 8 | p[1];
}
uint32_t Be24(const uint8_t* p) {
  return uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
}

// An IDR picture, a recovery point (SEI message 6) or a picture whose first slice is intra-coded.
bool H264IsKey(const uint8_t* p, size_t n, size_t lengthSize) {
  bool key = false;
  // Each unit's first bytes tell: the walk need not find where an IDR slice ends.
  ForEachNalStart(p, n, lengthSize, [&](const uint8_t* nal, size_t bytes) {
    switch (nal[0] & 0x1F) {
      case 5:
        key = true;
        return false;
      case 6: {
        size_t i = 1, type = 0;
        for (; i < bytes && nal[i] == 0xFF; ++i) type += 255;
        key = i < bytes && type + nal[i] == 6;
        return !key;
      }
      case 1: {
        const std::vector<uint8_t> rbsp = Rbsp(nal + 1, bytes - 1, 16);
        BitReader r{rbsp};
        r.Ue();  // the slice's first macroblock
        const uint32_t type = r.Ue() % 5;
        key = r.ok && (type == 2 || type == 4);  // I or SI
        return false;
      }
      default:
        return true;
    }
  });
  return key;
}

// The first picture header's coding type is I.
bool Mpeg12IsIntra(const uint8_t* p, size_t n) {
  for (size_t i = 0; i + 5 < n; ++i)
    if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && p[i + 3] == 0)
      return ((p[i + 5] >> 3) & 7) == 1;
  return false;
}

// A frame (10 bytes of header, then up to 32 strips, each codebook chunks and then its image
// chunk) that sets every row, and every strip of it coded whole (an image chunk 0x30, or 0x32 of
// v1 vectors only; 0x31 skips blocks) from codebooks set in this frame: by a whole-codebook
// chunk (0x20, 0x24 for v4; 0x22, 0x26 for v1) or taken from the strip before, which strips do
// unless bit 0 of the frame's flags keeps each strip's codebooks from the frame before.
bool CinepakIsKey(const uint8_t* p, size_t n, int width, int height) {
  if (n < 10 || Be24(p + 1) != n) return false;  // Sega FILM variants: not worth the risk
  const bool ownCodebooks = p[0] & 1;
  const size_t strips = std::min<size_t>(Be16(p + 8), 32);
  int64_t covered = 0;  // rows set by the strips so far, from the top
  bool v4Before = false, v1Before = false;
  size_t at = 10;
  for (size_t i = 0; i < strips; ++i) {
    const uint8_t* strip = p + at;
    const size_t size = at + 12 <= n ? Be24(strip + 1) : 0;
    if (size < 12 || size > n - at) return false;
    // A strip's top of 0 means: below the strip before, its bottom then a height.
    const int64_t top = Be16(strip + 4) ? Be16(strip + 4) : covered;
    const int64_t bottom = Be16(strip + 4) ? Be16(strip + 8) : covered + Be16(strip + 8);
    if (top > covered || Be16(strip + 6) != 0 || Be16(strip + 10) < static_cast<uint32_t>(width))
      return false;
    covered = std::max(covered, bottom);
    bool v4 = !ownCodebooks && i > 0 && v4Before, v1 = !ownCodebooks && i > 0 && v1Before;
    int image = 0;
    for (size_t c = at + 12; c + 4 <= at + size && !image;) {
      const size_t bytes = Be24(p + c + 1);
      if (bytes < 4) return false;
      switch (p[c]) {
        case 0x20:
        case 0x24:
          v4 = true;
          break;
        case 0x22:
        case 0x26:
          v1 = true;
          break;
        case 0x30:
        case 0x31:
        case 0x32:
          image = p[c];
          break;
      }
      c += bytes;
    }
    if (!(image == 0x30 && v4 && v1) && !(image == 0x32 && v1)) return false;
    v4Before = v4, v1Before = v1;
    at += size;
  }
  return strips > 0 && covered >= height;
}

// Every 4x4 block coded: none skipped (codes 0x84xx to 0x87xx), none left without its data.
bool MsVideo1IsKey(const uint8_t* p, size_t n, int width, int height, bool eightBit) {
  const int64_t blocks = int64_t{width / 4} * (height / 4);
  size_t at = 0;
  for (int64_t b = 0; b < blocks; ++b) {
    if (n - at < 2) return false;
    const uint8_t code = p[at + 1];  // the high byte of the block's code
    at += 2;
    if ((code & 0xFC) == 0x84) return false;
    size_t colours = 0;  // bytes of colours after the code
    if (eightBit)
      colours = code < 0x80 ? 2 : code >= 0x90 ? 8 : 0;
    else if (code < 0x80)
      colours = n - at >= 2 && (Le16(p + at) & 0x8000) ? 16 : 4;
    if (colours > n - at) return false;
    at += colours;
  }
  return true;
}

// Every pixel of every line written: no delta codes, no line ended short, no run past a line's
// end (libavcodec drops such runs). A packet of a whole uncompressed picture is one too.
bool MsRleIsKey(const uint8_t* p, size_t n, int width, int height, int bits) {
  const int64_t stride = DibStride(width, bits);
  if (static_cast<int64_t>(n) == stride * height) return true;
  int64_t x = 0, lines = 0;
  for (size_t i = 0; i + 2 <= n && lines < height;) {
    const uint8_t count = p[i], code = p[i + 1];
    i += 2;
    if (count > 0 || code >= 3) {  // a run of one value, or literal pixels padded to 16 bits
      const int64_t pixels = count > 0 ? count : code;
      if (x + pixels > width) return false;
      x += pixels;
      if (count == 0) {
        const size_t bytes = bits == 8 ? code : (code + 1u) / 2;
        i += bytes + (bytes & 1);
      }
    } else if (code == 2) {
      return false;                   // a delta: the pixels it passes keep the picture before
    } else if (x > 0 || code == 0) {  // the end of a line, or of the picture after a line
      if (x < width) return false;
      ++lines, x = 0;
      if (code == 1) break;
    } else {
      break;  // the end of the picture
    }
  }
  return lines >= height || (lines == height - 1 && x == width);
}

}  // namespace

std::function<bool(const uint8_t*, size_t)> KeyframeTest(AVCodecID id,
                                                         const std::vector<uint8_t>& extradata,
                                                         int width, int height, int bitsPerPixel) {
  switch (id) {
    case AV_CODEC_ID_MPEG4:
      return [](const uint8_t* p, size_t n) { return Mpeg4VopType(p, n) == 0; };
    case AV_CODEC_ID_H264: {
      const size_t lengthSize = H264NalLengthSize(extradata);
      return [lengthSize](const uint8_t* p, size_t n) { return H264IsKey(p, n, lengthSize); };
    }
    case AV_CODEC_ID_MPEG1VIDEO:
    case AV_CODEC_ID_MPEG2VIDEO:
      return Mpeg12IsIntra;
    case AV_CODEC_ID_CINEPAK:
      return [=](const uint8_t* p, size_t n) { return CinepakIsKey(p, n, width, height); };
    case AV_CODEC_ID_MSVIDEO1:
      return [=](const uint8_t* p, size_t n) {
        return MsVideo1IsKey(p, n, width, height, bitsPerPixel == 8);
      };
    case AV_CODEC_ID_MSRLE:
      // libavcodec's RLE of 16 bits and more is rare enough to go by the index's flags.
      if (bitsPerPixel != 4 && bitsPerPixel != 8) return nullptr;
      return
          [=](const uint8_t* p, size_t n) { return MsRleIsKey(p, n, width, height, bitsPerPixel); };
    default:
      return nullptr;
  }
}

PictureStarts Mpeg12Pictures(const uint8_t* p, size_t n, bool* lowDelay) {
  PictureStarts out;
  int structure[2] = {3, 3};  // frame pictures unless a picture coding extension says otherwise
  for (size_t i = NextStartCode(p, 0, n); i + 4 < n; i = NextStartCode(p, i + 3, n)) {
    const uint8_t code = p[i + 3];
    if (code == 0x00) {  // a picture header
      if (out.count == 2) break;
      if (out.count == 0 && i + 5 < n) out.type = (p[i + 5] >> 3) & 7;
      ++out.count;
    } else if (code == 0xB5 && i + 9 < n) {
      const int id = p[i + 4] >> 4;
      if (id == 1) *lowDelay = p[i + 9] >> 7;                                 // sequence extension
      if (id == 8 && out.count > 0) structure[out.count - 1] = p[i + 6] & 3;  // picture coding
    } else if (code >= 0x01 && code <= 0xAF && out.count == 1 && structure[0] == 3) {
      break;  // the first picture's slices: a frame picture is the whole frame
    } else if (code >= 0x01 && code <= 0xAF && out.count == 2) {
      break;
    }
  }
  out.reference = out.type != 3;  // B pictures are never references
  if (out.count > 0 && (structure[0] == 1 || structure[0] == 2)) {
    out.field = true;
    out.bottom = structure[0] == 2;
    out.pair = out.count == 2 && structure[1] == 3 - structure[0];
  }
  return out;
}

namespace {

void ReadParamSet(const uint8_t* nal, size_t bytes, H264ParamSets* sets) {
  const int type = nal[0] & 0x1F;
  if (type == 7) {
    const SpsFacts facts = ReadSps(nal + 1, bytes - 1);
    if (facts.sps.known) sets->sps[facts.id] = facts.sps;
  } else if (type == 8) {
    uint8_t rbsp[16];
    BitReader r(rbsp, Rbsp(nal + 1, bytes - 1, rbsp, sizeof rbsp));
    const uint32_t pps = r.Ue(), sps = r.Ue();
    if (r.ok && pps < 256 && sps < 32) sets->ppsSps[pps] = static_cast<int8_t>(sps);
  }
}

}  // namespace

PictureStarts H264Pictures(const uint8_t* p, size_t n, size_t lengthSize, H264ParamSets* sets,
                           bool onePicture) {
  PictureStarts out;
  ForEachNalStart(p, n, lengthSize, [&](const uint8_t* nal, size_t bytes) {
    const int type = nal[0] & 0x1F;
    if (type == 7 || type == 8) {
      ReadParamSet(nal, bytes, sets);
      return true;
    }
    if (type != 1 && type != 5) return true;
    uint8_t rbsp[32];
    BitReader r(rbsp, Rbsp(nal + 1, bytes - 1, rbsp, sizeof rbsp));
    const uint32_t firstMb = r.Ue();
    r.Ue();  // slice type
    const uint32_t ppsId = r.Ue();
    // A picture begins with its first macroblock; a packet's first slice begins one anyway.
    if (firstMb != 0 && out.count > 0) return true;
    const int spsId = ppsId < 256 ? sets->ppsSps[ppsId] : -1;
    const H264ParamSets::Sps sps = spsId >= 0 ? sets->sps[spsId] : H264ParamSets::Sps{};
    if (sps.separateColourPlane) r.U(2);
    const uint32_t frameNum = r.U(sps.frameNumBits);
    const bool field = !sps.frameMbsOnly && r.U(1);
    const bool bottom = field && r.U(1);
    if (!r.ok) return true;
    if (++out.count == 1) {
      out.field = field;
      out.bottom = bottom;
      out.frameNum = frameNum;
      out.reference = (nal[0] >> 5) & 3;
      return field && !onePicture;  // a frame picture is the whole frame
    }
    out.pair = field && bottom != out.bottom && frameNum == out.frameNum;
    return false;
  });
  return out;
}

void H264ReadParamSets(const std::vector<uint8_t>& extradata, H264ParamSets* sets) {
  ForEachCodecDataNal(extradata,
                      [&](const uint8_t* nal, size_t bytes) { ReadParamSet(nal, bytes, sets); });
}
