// Our device context: a 32-bit pixel surface (0x00RRGGBB per pixel), (0, 0) at the top-left. It
// either owns its pixels (tests, tools) or draws into memory that its owner keeps (the window's
// backing image). Who shows the pixels hears of each paint.
//
// The surface is in device pixels, `scale()` of them to the logical pixel the painting calls are
// given (1 unless a HiDPI window says otherwise): at scale s they paint the device rectangle
// (x s, y s, w s, h s), so that a picture uses every device pixel the screen has for it.
#pragma once

#include <cmath>
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
  // Borrowed: width x height device pixels.
  DeviceContext(uint32_t* bits, int32_t width, int32_t height, int32_t pitchPixels,
                double scale = 1);

  // The surface, in device pixels.
  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  uint32_t* row(int32_t y) { return bits_ + static_cast<int64_t>(y) * pitch_; }
  const uint32_t* row(int32_t y) const { return bits_ + static_cast<int64_t>(y) * pitch_; }
  uint32_t pixel(int32_t x, int32_t y) const { return row(y)[x]; }

  double scale() const { return scale_; }
  // A logical coordinate's device one: edges are rounded, so that rectangles side by side stay
  // side by side.
  int64_t ToDevice(int64_t logical) const {
    return scale_ == 1 ? logical : std::llround(static_cast<double>(logical) * scale_);
  }

  void Fill(uint32_t rgb);  // the whole surface
  // Called with the area just painted, in device pixels, so that a window can show it.
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
  double scale_ = 1;
  std::function<void(const PaintRect&)> notify_;
};
