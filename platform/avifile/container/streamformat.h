// A video stream's format (its strf bytes) read once for every decoder: the bitmap header, the
// colour table of a stream of 8 bits or fewer, and where the codec data lies.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "avifile.h"
#include "dib.h"
#include "track.h"  // Palette

struct StreamFormat {
  BITMAPINFOHEADER header;
  int32_t width = 0, height = 0;           // pixels; height positive whatever the row order
  std::shared_ptr<const Palette> palette;  // 1 to 8 bits: entries the format lacks are black
  // The format's bytes after the header that are the codec's own (HuffYUV's tables, an avcC
  // record, ...): [codecDataFrom, codecDataTo).
  size_t codecDataFrom = 0, codecDataTo = 0;
};

// Null when the format is shorter than a bitmap header.
std::optional<StreamFormat> ReadStreamFormat(const std::vector<uint8_t>& format);
