// Block moves between the decompressor's output and the frame source's arrays.
#include <cstring>

#include "mdlHeadder.h"

void RtlMoveMemory(void* dst, const void* src, size_t length) {
  if (length) std::memmove(dst, src, length);
}
