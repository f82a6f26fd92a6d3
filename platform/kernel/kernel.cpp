#include "kernel.h"

#include <cstring>

void RtlMoveMemory(void* dst, const void* src, size_t length) {
  if (length) std::memmove(dst, src, length);
}
