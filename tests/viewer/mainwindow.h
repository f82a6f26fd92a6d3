// The main window under test: a probe that reaches into it, and a fixture that shows a fresh
// window with the seams recorded, makes clips and checks what the window shows.
#pragma once

#include <unistd.h>

#include <QAction>
#include <QTest>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "aviwriter.h"
#include "frmMain.h"
#include "recorders.h"

// Reaches into the window for the tests.
struct frmMainProbe {
  explicit frmMainProbe(frmMain& f) : f(f) {}
  frmMain& f;

  std::vector<tk::Menu*> BarEntries() {
    return {&f.FileManu, &f.SeparateMenu, &f.DivMenu, &f.HelpMenu};
  }
  std::vector<tk::Menu*> Items() {
    return {&f.OpenFileMenu,   &f.SaveFileManu, &f.QuitFileMenu, &f.Separate30Menu,
            &f.Separate60Menu, &f.OddDivMenu,   &f.EvenDivMenu,  &f.AboutHelpMenu};
  }
  tk::HScrollBar& HScroll() { return f.HScroll; }
  tk::Label& Label() { return f.Label; }
  classBMPAVI* Source() { return f.objBMPAVI.get(); }
  tk::Menu& QuitFileMenu() { return f.QuitFileMenu; }
  const std::string& strAVIFile() { return f.strAVIFile; }
  int16_t bln30Mode() { return f.bln30Mode; }
  int16_t intDivLine() { return f.intDivLine; }
  int32_t lngFrameNo() { return f.lngFrameNo; }
  int16_t intSepType() { return f.intSepType; }

  // What the open command and a drop do once they have a path.
  void Load(const std::string& path) {
    f.strOpenFile = path;
    f.LoadAVI();
  }
  void Separate30() { f.Separate30Menu.Action()->trigger(); }
  void Separate60() { f.Separate60Menu.Action()->trigger(); }
  void Odd() { f.OddDivMenu.Action()->trigger(); }
  void Even() { f.EvenDivMenu.Action()->trigger(); }
  bool DivMenuEnabled() { return f.DivMenu.Enabled(); }
  bool SeparateMenuEnabled() { return f.SeparateMenu.Enabled(); }
  bool SaveEnabled() { return f.SaveFileManu.Enabled(); }

  // What loading does to the fields that painting reads, without the rest of loading.
  void Open(const std::string& path) {
    ASSERT_EQ(f.objBMPAVI->GetEnable(path), kFalse);
    f.strAVIFile = path;
    f.lngDispWidth = 720;
    f.lngDispHeight = 480;
  }
  void PretendLoaded() {  // a path, but the frame source holds no video
    f.strAVIFile = "/nowhere.avi";
    f.lngDispWidth = 720;
    f.lngDispHeight = 480;
  }
};

constexpr uint32_t kDesktop = 0x008080;

class MainWindow : public SeamTest {
 protected:
  void SetUp() override {
    SeamTest::SetUp();
    dir_ = std::filesystem::temp_directory_path() / ("dovrel-viewer-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    form = std::make_unique<frmMain>();
    form->Show();
  }
  void TearDown() override {
    form.reset();
    std::filesystem::remove_all(dir_);
    EXPECT_EQ(AVIFileUseCount(), 0);
    SeamTest::TearDown();
  }

  // Frame f of the clips below: every pixel of a frame differs, and every frame from the others.
  static std::vector<uint8_t> FrameBytes(int width, int height, int f) {
    const size_t stride = static_cast<size_t>(DibStride(width, 24));
    std::vector<uint8_t> frame(stride * height);
    for (int row = 0; row < height; ++row)
      for (int x = 0; x < width; ++x) {
        uint8_t* p = frame.data() + row * stride + 3 * x;
        p[0] = static_cast<uint8_t>(x);
        p[1] = static_cast<uint8_t>(row);
        p[2] = static_cast<uint8_t>(x / 256 * 16 + row / 256 * 64 + 8 * f + 1);
      }
    return frame;
  }

  // A raw 24-bit clip of FrameBytes frames; returns its path.
  std::string MakeClip(const std::string& name, int width, int height, int frames = 2) {
    const std::string path = (dir_ / name).string();
    AviWriter writer(path, AviWriter::Format(width, height, 24));
    for (int f = 0; f < frames; ++f) writer.AddFrame(FrameBytes(width, height, f));
    EXPECT_TRUE(writer.Close());
    return path;
  }

  std::string PathIn(const std::string& name) const { return (dir_ / name).string(); }

  void ClickPicture() { QTest::mouseClick(form->Client(), Qt::LeftButton, {}, QPoint(360, 260)); }

  // Every pixel of the device context: the frame buffer's lower-left 720 x 480 at (0, 20),
  // the desktop colour everywhere else.
  void ExpectPicture(classBMPAVI& source) {
    HDC dc = form->hDC();
    const int width = source.biWidth(), height = source.biHeight();
    const size_t stride = static_cast<size_t>(DibStride(width, 24));
    const std::vector<uint8_t>& bits = source.DIBBits();
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
  std::filesystem::path dir_;
};
