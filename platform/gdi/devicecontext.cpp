#include "devicecontext.h"

#include <algorithm>

DeviceContext::DeviceContext(int32_t width, int32_t height)
    : owned_(static_cast<size_t>(std::max(width, 0)) * std::max(height, 0), 0),
      bits_(owned_.data()),
      width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      pitch_(width_) {}

DeviceContext::DeviceContext(uint32_t* bits, int32_t width, int32_t height, int32_t pitchPixels,
                             double scale)
    : bits_(bits),
      width_(width),
      height_(height),
      pitch_(pitchPixels),
      scale_(std::isfinite(scale) && scale > 0 ? scale : 1) {}

void DeviceContext::Fill(uint32_t rgb) {
  for (int32_t y = 0; y < height_; ++y) std::fill_n(row(y), width_, rgb);
  NotifyPainted({0, 0, width_, height_});
}
