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
#include <tuple>

#include "aviwriter.h"
#include "mainwindow.h"
#include "recorders.h"
#include "sourceprobe.h"

namespace {

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
  // The later commands: greyed until a video (with recording times) is there, each with its key.
  const std::tuple<tk::Menu*, std::string, std::string> later[] = {
      {&probe.Copy(), " ｺﾋﾟｰ(C)", "Ctrl+C"},
      {&probe.NextScene(), "次のシーン(N)", "N"},
      {&probe.PrevScene(), "前のシーン(P)", "P"}};
  for (const auto& [item, caption, keys] : later) {
    EXPECT_EQ(item->Action()->text().toStdString(), caption);
    EXPECT_FALSE(item->Enabled()) << caption;
    EXPECT_EQ(item->Action()->shortcut().toString().toStdString(), keys);
  }
  // The items sit under their bar entries, in order: copy before quitting, the scenes after a
  // line below the views.
  EXPECT_EQ(probe.BarEntries()[0]->SubMenu()->actions().size(), 4);
  EXPECT_EQ(probe.BarEntries()[0]->SubMenu()->actions()[2], probe.Copy().Action());
  EXPECT_EQ(probe.BarEntries()[1]->SubMenu()->actions().size(), 5);
  EXPECT_TRUE(probe.BarEntries()[1]->SubMenu()->actions()[2]->isSeparator());
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
  EXPECT_FALSE(Peek(*probe.Source()).IsOpen());
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
  // The face shown is the one fontconfig gives for Times New Roman: a metric twin, else a serif.
  const testutil::RunResult face =
      testutil::RunProgram({"fc-match", "-f", "%{family[0]}", "Times New Roman"});
  EXPECT_EQ(face.exitCode, 0) << "fc-match (scripts/setup installs fontconfig) failed";
  EXPECT_EQ(QFontInfo(label->font()).family().toStdString(), face.out);
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
  ASSERT_TRUE(probe.Open(MakeClip("quit.avi", 720, 480)));
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
  ASSERT_TRUE(probe.Open(MakeClip("close.avi", 720, 480)));
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
    ASSERT_TRUE(probe.Open(MakeClip("clip.avi", width, height)));
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
  ASSERT_TRUE(probe.Open(MakeClip("again.avi", 720, 480)));
  form->hDC()->Fill(0x123456);
  tk::Form box(100, 50);
  QTimer::singleShot(0, [&] { box.Close(); });
  box.ShowModal();
  ExpectPicture(*probe.Source());
  EXPECT_TRUE(errors.empty());
}

// Every picture whole at (0, 20): at its own size where the screen the window is on has room for
// it, else the largest of its shape that fits; the window on that screen, and no smaller than at
// creation where the screen allows. Run on other screens too (CMakeLists.txt).
TEST_F(MainWindow, EveryPictureIsShownWholeInAWindowThatFitsItsScreen) {
  frmMainProbe probe(*form);
  QWidget* window = form->hWnd();
  for (auto [width, height] : {std::pair{720, 480}, {720, 576}, {1920, 1080}, {176, 144}}) {
    SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
    probe.Load(MakeClip("clip.avi", width, height));
    const QRect screen = window->screen()->availableGeometry();
    EXPECT_TRUE(screen.contains(window->frameGeometry()));
    // The room for the client area: the screen less the frame and the menu bar.
    const QSize around = window->frameGeometry().size() - form->Client()->size();
    const int roomWidth = screen.width() - around.width();
    const int roomHeight = screen.height() - around.height();
    // The picture fits with the status line below it.
    const double scale =
        std::min({1.0, 1.0 * roomWidth / width, (roomHeight - 20.0 - 19.0) / height});
    const int shownWidth = probe.lngDispWidth(), shownHeight = probe.lngDispHeight();
    EXPECT_NEAR(shownWidth, width * scale, 1.0);
    EXPECT_NEAR(shownHeight, height * scale, 1.0);
    EXPECT_EQ(form->ClientWidth(), std::min(std::max(723, shownWidth), roomWidth));
    EXPECT_EQ(form->ClientHeight(), std::min(std::max(499, 20 + shownHeight + 19), roomHeight));
    EXPECT_EQ(probe.HScroll().Widget()->geometry(), QRect(168, 0, form->ClientWidth() - 170, 19));
    ExpectPicture(*probe.Source());
  }
}

TEST_F(MainWindow, ARunTimeErrorInAHandlerShowsTheErrorBoxAndEndsTheProgram) {
  frmMainProbe probe(*form);
  probe.PretendLoaded();  // painting a buffer that was never filled: out of range
  ClickPicture();
  EXPECT_EQ(errors,
            std::vector<std::string>{"実行時エラー '9':\n\nインデックスが有効範囲にありません。"});
  EXPECT_EQ(ends, std::vector<int>{1});
  EXPECT_TRUE(tk::ProgramEnded());
}

}  // namespace
