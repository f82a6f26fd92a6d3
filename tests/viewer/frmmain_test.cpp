// The main window: start-up state, layout, quitting and closing, painting the frame buffer into
// the window, and a run-time error in one of its handlers.
#include "frmMain.h"

#include <unistd.h>

#include <QAction>
#include <QFontInfo>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <memory>

#include "aviwriter.h"
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

namespace {

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

  // A raw 24-bit clip whose pixels all differ; returns its path.
  std::string MakeClip(const std::string& name, int width, int height, int frames = 2) {
    const std::string path = (dir_ / name).string();
    AviWriter writer(path, AviWriter::Format(width, height, 24));
    const size_t stride = static_cast<size_t>(DibStride(width, 24));
    std::vector<uint8_t> frame(stride * height);
    for (int f = 0; f < frames; ++f) {
      for (int row = 0; row < height; ++row)
        for (int x = 0; x < width; ++x) {
          uint8_t* p = frame.data() + row * stride + 3 * x;
          p[0] = static_cast<uint8_t>(x);
          p[1] = static_cast<uint8_t>(row);
          p[2] = static_cast<uint8_t>(x / 256 * 16 + row / 256 * 64 + f + 1);
        }
      writer.AddFrame(frame);
    }
    EXPECT_TRUE(writer.Close());
    return path;
  }

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

TEST_F(MainWindow, StartUpState) {
  frmMainProbe probe(*form);
  EXPECT_EQ(form->Caption(), "Dovrel  ");
  EXPECT_EQ(form->hWnd()->windowTitle().toStdString(), "Dovrel  ");

  const std::vector<std::string> barCaptions = {" ﾌｧｲﾙ(F)", " ﾌﾚｰﾑﾚｰﾄ(S)", " 分離優先行(D)",
                                                " ﾍﾙﾌﾟ(H)"};
  const std::vector<bool> barEnabled = {true, false, false, true};
  auto bars = probe.BarEntries();
  for (size_t i = 0; i < bars.size(); ++i) {
    EXPECT_EQ(bars[i]->Caption(), barCaptions[i]);
    EXPECT_EQ(bars[i]->SubMenu()->title().toStdString(), barCaptions[i]);  // no '&' in them
    EXPECT_EQ(bars[i]->Action()->isEnabled(), barEnabled[i]) << barCaptions[i];
    EXPECT_TRUE(bars[i]->Action()->isVisible());
  }
  const std::vector<std::string> itemCaptions = {" AVIを開く(O)", " BMPを保存(S)",     " 終了(Q)",
                                                 "1/30(3)",       "1/60(6)",           "奇数行(O)",
                                                 "偶数行(E)",     " Dovrelについて(A)"};
  auto items = probe.Items();
  for (size_t i = 0; i < items.size(); ++i) {
    EXPECT_EQ(items[i]->Action()->text().toStdString(), itemCaptions[i]);
    EXPECT_EQ(items[i]->Enabled(), i != 1) << itemCaptions[i];  // only the save command greyed
    EXPECT_TRUE(items[i]->Action()->shortcut().isEmpty());
    EXPECT_FALSE(items[i]->Action()->isCheckable());
  }
  // The items sit under their bar entries, in order.
  EXPECT_EQ(probe.BarEntries()[0]->SubMenu()->actions().size(), 3);
  EXPECT_EQ(probe.BarEntries()[1]->SubMenu()->actions().size(), 2);
  EXPECT_EQ(probe.BarEntries()[2]->SubMenu()->actions().size(), 2);
  EXPECT_EQ(probe.BarEntries()[3]->SubMenu()->actions().size(), 1);
  EXPECT_EQ(probe.BarEntries()[2]->SubMenu()->actions()[1], items[6]->Action());

  tk::HScrollBar& bar = probe.HScroll();
  EXPECT_FALSE(bar.Enabled());
  EXPECT_EQ(bar.Value(), 0);
  EXPECT_EQ(bar.Max(), 32767);
  EXPECT_EQ(probe.Label().Caption(), "");
  EXPECT_TRUE(probe.Label().Widget()->text().isEmpty());

  ASSERT_NE(probe.Source(), nullptr);
  EXPECT_EQ(probe.Source()->biWidth(), 0);
  EXPECT_FALSE(probe.Source()->IsOpen());
  EXPECT_TRUE(probe.strAVIFile().empty());

  // A click paints nothing: the client area stays in the desktop colour.
  ClickPicture();
  ExpectPicture(*probe.Source());
  EXPECT_TRUE(errors.empty());
  EXPECT_TRUE(ends.empty());
}

TEST_F(MainWindow, Layout) {
  frmMainProbe probe(*form);
  EXPECT_EQ(form->ClientWidth(), 723);
  EXPECT_EQ(form->ClientHeight(), 499);
  EXPECT_EQ(form->hDC()->width(), 723);
  EXPECT_EQ(form->hDC()->height(), 499);
  EXPECT_EQ(form->ScaleWidth(), 10845);
  EXPECT_EQ(form->ScaleHeight(), 7485);
  EXPECT_EQ(probe.HScroll().Widget()->geometry(), QRect(168, 0, 553, 19));
  EXPECT_EQ(probe.Label().Widget()->geometry(), QRect(0, 0, 169, 19));
  EXPECT_EQ(probe.Label().Widget()->parentWidget(), form->Client());
  EXPECT_EQ(probe.HScroll().Widget()->parentWidget(), form->Client());

  QLabel* label = probe.Label().Widget();
  EXPECT_EQ(label->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
  EXPECT_EQ(label->font().pixelSize(), 16);  // 12 points at 96 dpi
  EXPECT_EQ(QFontInfo(label->font()).styleHint(), QFont::Serif);
  EXPECT_EQ(label->focusPolicy(), Qt::NoFocus);
  EXPECT_NE(probe.HScroll().Widget()->focusPolicy(), Qt::NoFocus);

  // The controls stay where they are when the window grows.
  QWidget* window = form->hWnd();
  window->resize(window->width() + 100, window->height() + 100);
  EXPECT_EQ(probe.HScroll().Widget()->geometry(), QRect(168, 0, 553, 19));
  EXPECT_EQ(probe.Label().Widget()->geometry(), QRect(0, 0, 169, 19));
  EXPECT_EQ(form->ClientWidth(), 823);
}

TEST_F(MainWindow, QuitReleasesTheFrameSourceOnceAndEnds) {
  frmMainProbe probe(*form);
  probe.Open(MakeClip("quit.avi", 720, 480));
  EXPECT_EQ(AVIFileUseCount(), 1);
  probe.QuitFileMenu().Action()->trigger();
  EXPECT_EQ(probe.Source(), nullptr);
  EXPECT_EQ(AVIFileUseCount(), 0);
  EXPECT_EQ(ends, std::vector<int>{0});
  // The window's close that follows the end runs nothing more.
  form->Close();
  EXPECT_EQ(ends, std::vector<int>{0});
  EXPECT_TRUE(errors.empty());
}

TEST_F(MainWindow, CloseReleasesTheFrameSourceOnceAndEnds) {
  frmMainProbe probe(*form);
  probe.Open(MakeClip("close.avi", 720, 480));
  EXPECT_EQ(AVIFileUseCount(), 1);
  form->Close();  // the close box
  EXPECT_EQ(probe.Source(), nullptr);
  EXPECT_EQ(AVIFileUseCount(), 0);
  EXPECT_EQ(ends, std::vector<int>{0});
  probe.QuitFileMenu().Action()->trigger();  // nothing runs after the end
  EXPECT_EQ(ends, std::vector<int>{0});

  // Without a video the close ends the program just the same.
  form = std::make_unique<frmMain>();
  tk::ResetProgramEnd();
  ends.clear();
  form->Show();
  form->Close();
  EXPECT_EQ(frmMainProbe(*form).Source(), nullptr);
  EXPECT_EQ(ends, std::vector<int>{0});
}

TEST_F(MainWindow, ClickAndActivateRepaintTheFrameBufferCleared) {
  frmMainProbe probe(*form);
  for (auto [width, height] :
       {std::pair{720, 480}, std::pair{800, 600}, std::pair{321, 241}, std::pair{721, 479}}) {
    SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
    probe.Open(MakeClip("clip.avi", width, height));
    form->hDC()->Fill(0x123456);  // something else was there
    ClickPicture();
    ExpectPicture(*probe.Source());
  }
  // The window shows what was painted, also after being hidden and shown again.
  form->hWnd()->hide();
  form->hWnd()->show();
  const QImage shown = form->Client()->grab().toImage();
  EXPECT_EQ(shown.pixel(100, 300) & 0xFFFFFF, form->hDC()->pixel(100, 300) & 0xFFFFFF);
  EXPECT_EQ(shown.pixel(722, 300) & 0xFFFFFF, kDesktop);

  // Closing a modal window of the program activates the main window: repainted.
  probe.Open(MakeClip("again.avi", 720, 480));
  form->hDC()->Fill(0x123456);
  tk::Form box(100, 50);
  QTimer::singleShot(0, [&] { box.Close(); });
  box.ShowModal();
  ExpectPicture(*probe.Source());
  EXPECT_TRUE(errors.empty());
}

TEST_F(MainWindow, ARunTimeErrorInAHandlerShowsTheErrorBoxAndEndsTheProgram) {
  frmMainProbe probe(*form);
  probe.PretendLoaded();  // painting a buffer that was never filled: out of range
  ClickPicture();
  EXPECT_EQ(errors, std::vector<std::string>{"Run-time error '9':\n\nSubscript out of range"});
  EXPECT_EQ(ends, std::vector<int>{1});
  EXPECT_TRUE(tk::ProgramEnded());
}

}  // namespace
