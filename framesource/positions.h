// How a scroll position maps to a frame and a field. In the 1/30 view a position is a frame,
// shown whole (type -1). In the 1/60 view each frame has two positions, one per field; the
// priority (0 even lines first, 1 odd lines first) says which field comes first.
#pragma once

#include <cstdint>

inline int32_t FrameOfPosition(int16_t position, bool whole) {
  return whole ? position : static_cast<int16_t>(position / 2);
}

inline int16_t SeparateTypeOfPosition(int16_t position, bool whole, int16_t priority) {
  return whole ? int16_t{-1} : static_cast<int16_t>(((position % 2) + priority) % 2);
}

// Largest scroll position for a video of frameCount frames, within the 16-bit range.
inline int16_t LastPosition(int64_t frameCount, bool whole) {
  int64_t last = frameCount - 1;
  if (whole) return static_cast<int16_t>(last > 32767 ? 32767 : last);
  return static_cast<int16_t>(2 * (last > 16383 ? 16383 : last));
}
