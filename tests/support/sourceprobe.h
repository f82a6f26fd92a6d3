// Reaches into a frame source: what tests, benchmarks and the fuzz target look at besides its
// public operations.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "classBMPAVI.h"

struct classBMPAVIProbe {
  explicit classBMPAVIProbe(const classBMPAVI& s) : s(s) {}
  const classBMPAVI& s;

  const std::vector<uint8_t>& DIBBits() const { return s.bytDIBBits; }
  const std::vector<uint8_t>& InfoHeaderBytes() const { return s.bytInfoHeader; }
  const BITMAPINFOHEADER& InfoHeader() const { return s.bih; }
  const BITMAPFILEHEADER& FileHeader() const { return s.bfh; }
  const std::string& FileName() const { return s.strAVIFileName; }
  PAVISTREAM Stream() const { return s.pAVIStream; }
  bool IsOpen() const { return s.pGetFrame != nullptr; }
  int32_t WorkLine() const { return s.lngLine; }  // SeparateDIB's current row, after the call
  // Frames the scene search has read so far; -1 without recording times.
  int64_t SceneReads() const { return s.scenes ? s.scenes->Reads() : -1; }
};

inline classBMPAVIProbe Peek(const classBMPAVI& source) {
  return classBMPAVIProbe(source);
}
