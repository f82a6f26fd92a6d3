// Block moves between the decompressor's output and the frame source's arrays.
#pragma once

#include <cstddef>

void RtlMoveMemory(void* dst, const void* src, size_t length);
