// How a scroll position maps to a frame and a field. In the 1/30 view a position is a frame,
// shown whole (type -1). In the 1/60 view each frame has two positions, one per field; the
// priority (0 even lines first, 1 odd lines first) says which field comes first.
#pragma once

#include <algorithm>
#include <cstdint>

#include "avifile.h"
#include "checked.h"

inline int32_t FrameOfPosition(int32_t position, bool whole) {
  return whole ? position : position / 2;
}

inline int16_t SeparateTypeOfPosition(int32_t position, bool whole, int16_t priority) {
  return whole ? int16_t{-1} : CInt(((position % 2) + priority) % 2);
}

// The priority a video starts with: odd lines first where its top field is the earlier, else even
// lines first (bottom field first, as DV; progressive; or nothing said).
inline int16_t PriorityOfFieldOrder(AviFieldOrder order) {
  return order == AviFieldOrder::kTopFirst ? int16_t{1} : int16_t{0};
}

// The last frame that has a position in the 1/60 view: twice it is the largest 32-bit position
// that is even. Only a damaged index claims more (2^30 frames are 414 days at 30 frames/s).
inline constexpr int32_t kFieldFrameMax = (int32_t{1} << 30) - 1;

// Largest scroll position for a video whose last frame index is frameMax: the frame itself in
// the 1/30 view, twice it in the 1/60 view (the last frame has only its first field's
// position), where frames past kFieldFrameMax have none.
inline int32_t LastPosition(int32_t frameMax, bool whole) {
  return whole ? frameMax : MulLng(2, std::min(frameMax, kFieldFrameMax));
}
