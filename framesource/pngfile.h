// A 24-bit picture as a PNG file's bytes, lossless, by libpng.
#pragma once

#include <cstdint>
#include <vector>

// pixels: height rows of width BGR pixels, bottom row first, each row `stride` bytes apart (the
// DIB layout). False when libpng fails or the size is not one it takes; *out is then empty.
bool EncodePng(int32_t width, int32_t height, const uint8_t* pixels, int64_t stride,
               std::vector<uint8_t>* out);
