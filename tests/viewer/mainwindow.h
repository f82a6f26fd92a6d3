// The main window under test: a fixture that shows a fresh window with the seams recorded, makes
// clips and checks what the window shows.
#pragma once

#include <QColor>
#include <QImage>
#include <QTest>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "devicecontext.h"
#include "frmMain.h"
#include "gdi.h"
#include "recorders.h"
#include "sourceprobe.h"
#include "testutil.h"
#include "windowprobes.h"

constexpr uint32_t kDesktop = 0x008080;

class MainWindow : public SeamTest {
 protected:
  void SetUp() override {
    SeamTest::SetUp();
    form = std::make_unique<frmMain>();
    form->Show();
  }
  void TearDown() override {
    form.reset();
    EXPECT_EQ(AVIFileUseCount(), 0);
    SeamTest::TearDown();
  }

  // A raw 24-bit clip of testutil::Pattern frames; returns its path.
  std::string MakeClip(const std::string& name, int width, int height, int frames = 2) {
    const std::string path = dir_.File(name);
    testutil::WritePatternClip(path, width, height, frames);
    return path;
  }

  std::string PathIn(const std::string& name) const { return dir_.File(name); }

  void ClickPicture() { QTest::mouseClick(form->Client(), Qt::LeftButton, {}, QPoint(360, 260)); }

  // Every pixel of the device context, in the screen's own pixels: the frame buffer in the
  // display rectangle at (0, 20), the desktop colour everywhere else. At the picture's own size
  // each picture pixel a block of the screen's scale, exactly; scaled down, as Qt's smooth
  // scaling makes it, within a few levels; enlarged (not an area average in Qt), as the stretch,
  // checked against the areas in its own test, paints it at scale 1.
  void ExpectPicture(classBMPAVI& source) {
    frmMainProbe probe(*form);
    HDC dc = form->hDC();
    EXPECT_EQ(dc->scale(), form->Client()->devicePixelRatio());  // as sharp as the screen allows
    const int width = source.biWidth(), height = source.biHeight(), top = dc->ToDevice(20);
    const int shownWidth = dc->ToDevice(probe.lngDispWidth()),
              shownHeight = dc->ToDevice(probe.lngDispHeight());
    const std::vector<uint8_t>& bits = Peek(source).DIBBits();
    QImage picture(std::max(width, 1), std::max(height, 1), QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const uint8_t* p = bits.data() + (height - 1 - y) * DibStride(width, 24) + 3 * x;
        picture.setPixel(x, y, qRgb(p[2], p[1], p[0]));
      }
    const bool scaled = probe.lngDispWidth() != width || probe.lngDispHeight() != height;
    if (scaled && (shownWidth > width || shownHeight > height)) {
      DeviceContext stretched(shownWidth, shownHeight);
      const BITMAPINFO info{{.biWidth = width, .biHeight = height}};
      StretchDIBits(&stretched, 0, 0, shownWidth, shownHeight, 0, 0, width, height, bits.data(),
                    &info, DIB_RGB_COLORS, SRCCOPY);
      picture = QImage(reinterpret_cast<const uchar*>(stretched.row(0)), shownWidth, shownHeight,
                       QImage::Format_RGB32)
                    .copy();
    } else {
      picture = picture.scaled(shownWidth, shownHeight, Qt::IgnoreAspectRatio,
                               scaled ? Qt::SmoothTransformation : Qt::FastTransformation);
    }
    const int tolerance = scaled ? 10 : 0;  // Qt weighs a little otherwise near 1:1
    int wrong = 0;
    for (int y = 0; y < dc->height(); ++y)
      for (int x = 0; x < dc->width(); ++x) {
        const int row = y - top;  // of the picture, from its top
        const bool inside = !bits.empty() && row >= 0 && x < shownWidth && row < shownHeight;
        const QColor want(inside ? picture.pixel(x, row) : QRgb{kDesktop}), got(dc->pixel(x, y));
        if (std::max({std::abs(got.red() - want.red()), std::abs(got.green() - want.green()),
                      std::abs(got.blue() - want.blue())}) > tolerance &&
            ++wrong <= 5)
          ADD_FAILURE() << "pixel (" << x << ", " << y << ") is " << std::hex << got.rgb()
                        << ", wanted " << want.rgb();
      }
    EXPECT_EQ(wrong, 0);
  }

  std::unique_ptr<frmMain> form;

 private:
  testutil::TempDir dir_;
};
