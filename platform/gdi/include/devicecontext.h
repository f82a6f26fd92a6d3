// Our device context: a 32-bit pixel surface (0x00RRGGBB per pixel), (0, 0) at the top-left,
// in the window's logical pixels. It either owns its pixels (tests, tools) or draws into memory
// that its owner keeps (the window's backing image). Who shows the pixels hears of each paint.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "gdi.h"

struct PaintRect {
  int32_t x = 0, y = 0, width = 0, height = 0;
};

class DeviceContext {
 public:
  DeviceContext(int32_t width, int32_t height);  // owns a surface of that size, filled black
  DeviceContext(uint32_t* bits, int32_t width, int32_t height, int32_t pitchPixels);  // borrowed

  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  uint32_t* row(int32_t y) { return bits_ + static_cast<int64_t>(y) * pitch_; }
  const uint32_t* row(int32_t y) const { return bits_ + static_cast<int64_t>(y) * pitch_; }
  uint32_t pixel(int32_t x, int32_t y) const { return row(y)[x]; }

  void Fill(uint32_t rgb);  // the whole surface
  // Called with the area just painted, so that a window can show it.
  void SetPaintNotifier(std::function<void(const PaintRect&)> notify) {
    notify_ = std::move(notify);
  }
  void NotifyPainted(const PaintRect& r) {
    if (notify_) notify_(r);
  }

 private:
  std::vector<uint32_t> owned_;
  uint32_t* bits_;
  int32_t width_, height_, pitch_;
  std::function<void(const PaintRect&)> notify_;
};
