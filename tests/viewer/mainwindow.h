// The main window under test: a fixture that shows a fresh window with the seams recorded, makes
// clips and checks what the window shows.
#pragma once

#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "frmMain.h"
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

  // Every pixel of the device context: the frame buffer's lower-left 720 x 480 at (0, 20),
  // the desktop colour everywhere else.
  void ExpectPicture(classBMPAVI& source) {
    HDC dc = form->hDC();
    const int width = source.biWidth(), height = source.biHeight();
    const size_t stride = static_cast<size_t>(DibStride(width, 24));
    const std::vector<uint8_t>& bits = Peek(source).DIBBits();
    int wrong = 0;
    for (int y = 0; y < dc->height(); ++y)
      for (int x = 0; x < dc->width(); ++x) {
        uint32_t want = kDesktop;
        const int row = 499 - y;  // rows from the bottom: row 479 at y = 20
        if (y >= 20 && x < 720 && x < width && row < height) {
          const uint8_t* p = bits.data() + row * stride + 3 * x;
          want = uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
        }
        if ((dc->pixel(x, y) & 0xFFFFFF) != want && ++wrong <= 5)
          ADD_FAILURE() << "pixel (" << x << ", " << y << ") is " << std::hex << dc->pixel(x, y)
                        << ", wanted " << want;
      }
    EXPECT_EQ(wrong, 0);
  }

  std::unique_ptr<frmMain> form;

 private:
  testutil::TempDir dir_;
};
