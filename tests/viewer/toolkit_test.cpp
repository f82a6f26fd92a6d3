// The window toolkit: events and their order, the scroll bar's nested change, the error box at
// the dispatch edge, the end of the program, the picture the window keeps, the dialog controls
// and frame, drops, the program's icon.
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWindow>
#include <cstdio>
#include <filesystem>
#include <set>
#include <stdexcept>

#include "appicon.h"
#include "checked.h"
#include "form.h"
#include "labelprobe.h"
#include "recorders.h"
#include "testutil.h"
#include "windowprobes.h"

namespace {

using Toolkit = SeamTest;

TEST_F(Toolkit, ApplicationPropertiesAndFileAttributes) {
  EXPECT_EQ(tk::App::Title(), "Quorlin");
  EXPECT_EQ(tk::App::Major(), 3);
  EXPECT_EQ(tk::App::Minor(), 1);
  EXPECT_EQ(tk::App::Revision(), 0);
  EXPECT_EQ(tk::App::Path(), QCoreApplication::applicationDirPath().toStdString());

  const testutil::TempDir temp;
  const std::filesystem::path dir = temp.path();
  std::filesystem::create_directories(dir / "sub");
  std::FILE* f = std::fopen((dir / "clip.avi").c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  f = std::fopen((dir / ".hidden").c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_EQ(tk::GetAttr((dir / "sub").string()), tk::vbDirectory);
  EXPECT_EQ(tk::GetAttr((dir / "sub/").string()), tk::vbDirectory);
  EXPECT_EQ(tk::GetAttr((dir / "clip.avi").string()), tk::vbNormal);
  EXPECT_EQ(tk::GetAttr((dir / ".hidden").string()), tk::vbHidden);
  EXPECT_FALSE(tk::GetAttr((dir / "missing.avi").string()).has_value());
  EXPECT_FALSE(tk::GetAttr("").has_value());
  // Root may write anything: the read-only attribute is seen by another user, the file's owner.
  ::chmod((dir / "clip.avi").c_str(), 0444);
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown((dir / "clip.avi").c_str(), 65534, 65534), 0);
  }
  ::chmod(temp.path().c_str(), 0711);
  if (!testutil::AsUnprivilegedUser(
          [&] { EXPECT_EQ(tk::GetAttr((dir / "clip.avi").string()), tk::vbReadOnly); }))
    GTEST_SKIP() << "root could not become user nobody: the read-only attribute is not checked";
}

TEST_F(Toolkit, LoadRunsOnceBeforeTheFirstShowWhichActivates) {
  std::vector<std::string> log;
  tk::Form form(200, 100);
  form.OnLoad([&] { log.push_back("load:" + std::to_string(form.Visible())); });
  form.OnActivate([&] { log.push_back("activate:" + std::to_string(form.Visible())); });
  form.Load();
  form.Load();
  form.Show();
  form.Show();  // shown already: not activated again
  EXPECT_EQ(log, (std::vector<std::string>{"load:0", "activate:1"}));
  EXPECT_EQ(form.ClientWidth(), 200);
  EXPECT_EQ(form.ClientHeight(), 100);
}

TEST_F(Toolkit, ClosingAModalFormActivatesTheFormThatWasActive) {
  std::vector<std::string> log;
  tk::Form main(300, 200), box(100, 50);
  main.OnActivate([&] { log.push_back("main activate"); });
  box.OnLoad([&] { log.push_back("box load"); });
  box.OnActivate([&] { log.push_back("box activate"); });
  box.OnUnload([&] { log.push_back("box unload"); });
  main.Show();
  for (int round = 0; round < 2; ++round) {
    QTimer::singleShot(0, [&] {
      log.push_back("box shown:" + std::to_string(box.Visible()));
      box.Close();
    });
    box.ShowModal();
    log.push_back("returned");
  }
  EXPECT_EQ(log,
            (std::vector<std::string>{"main activate",                                          //
                                      "box load", "box activate", "box shown:1", "box unload",  //
                                      "main activate", "returned",                              //
                                      "box load", "box activate", "box shown:1", "box unload",  //
                                      "main activate", "returned"}));
  EXPECT_FALSE(box.Visible());
}

TEST_F(Toolkit, ClickIsALeftClickOnTheClientAreaOutsideTheControls) {
  tk::Form form(300, 200);
  tk::HScrollBar& bar = form.AddHScrollBar(100, 0, 200, 19);
  form.AddLabel(0, 0, 101, 19);
  int clicks = 0;
  form.OnClick([&] { ++clicks; });
  form.Show();
  QWidget* client = form.Client();
  QTest::mouseClick(client, Qt::LeftButton, {}, QPoint(150, 100));
  EXPECT_EQ(clicks, 1);
  QTest::mouseClick(client, Qt::RightButton, {}, QPoint(150, 100));
  QTest::mouseClick(client, Qt::LeftButton, {}, QPoint(50, 10));   // on the label
  QTest::mouseClick(client, Qt::LeftButton, {}, QPoint(200, 10));  // on the scroll bar
  bar.SetEnabled(false);
  QTest::mouseClick(client, Qt::LeftButton, {}, QPoint(200, 10));  // on it, disabled
  EXPECT_EQ(clicks, 1);
}

TEST_F(Toolkit, CaptionsArePlainText) {
  tk::Form form(300, 200);
  tk::Menu& bar = form.AddMenu(" R&D(F)");
  tk::Menu& item = bar.AddItem("a & b");
  form.SetCaption("Dovrel  /v/[*]&x.avi");
  form.Show();
  EXPECT_EQ(bar.Caption(), " R&D(F)");
  EXPECT_EQ(bar.SubMenu()->title().toStdString(), " R&&D(F)");
  EXPECT_EQ(item.Action()->text().toStdString(), "a && b");
  EXPECT_EQ(form.Caption(), "Dovrel  /v/[*]&x.avi");
  EXPECT_EQ(form.hWnd()->windowHandle()->title().toStdString(), "Dovrel  /v/[*]&x.avi");

  bar.SetEnabled(false);  // the bar entry greyed: its menu cannot be opened
  EXPECT_FALSE(bar.Action()->isEnabled());
  EXPECT_TRUE(item.Enabled());
}

TEST_F(Toolkit, ScrollBarAssignmentsRaiseTheChangeAtOnceNestedInTheCaller) {
  tk::Form form(300, 200);
  tk::HScrollBar& bar = form.AddHScrollBar(0, 0, 300, 19);
  EXPECT_EQ(bar.Min(), 0);
  EXPECT_EQ(bar.Max(), 32767);
  EXPECT_EQ(bar.Value(), 0);
  EXPECT_EQ(bar.SmallChange(), 1);
  EXPECT_EQ(bar.LargeChange(), 1);
  EXPECT_TRUE(bar.Enabled());

  std::vector<std::string> log;
  bar.OnChange([&] { log.push_back("change " + std::to_string(bar.Value())); });
  bar.OnScroll([&] { log.push_back("scroll " + std::to_string(bar.Value())); });
  auto step = [&](const std::string& what, auto&& action) {
    log.push_back(what);
    action();
    log.push_back("back");
  };
  step("value 5", [&] { bar.SetValue(5); });
  step("value 5 again", [&] { bar.SetValue(5); });  // no change, no event
  step("max 3", [&] { bar.SetMax(3); });            // below the value: moves it
  step("max 10", [&] { bar.SetMax(10); });          // above: the value stays
  step("value 0", [&] { bar.SetValue(0); });
  EXPECT_EQ(log, (std::vector<std::string>{"value 5", "change 5", "back",  //
                                           "value 5 again", "back",        //
                                           "max 3", "change 3", "back",    //
                                           "max 10", "back",               //
                                           "value 0", "change 0", "back"}));
  EXPECT_EQ(bar.Max(), 10);
  EXPECT_EQ(bar.Widget()->maximum(), 10);
  log.clear();  // 32-bit positions, to the largest
  bar.SetMax(INT32_MAX);
  bar.SetValue(INT32_MAX);
  bar.SetMax(431566);
  EXPECT_EQ(log, (std::vector<std::string>{"change 2147483647", "change 431566"}));
  bar.SetMax(10);

  // Outside the range: the toolkit's "invalid property value".
  for (int16_t bad : {int16_t{11}, int16_t{-1}}) {
    try {
      bar.SetValue(bad);
      ADD_FAILURE() << "no error for " << bad;
    } catch (const RuntimeError& e) {
      EXPECT_EQ(e.number(), 380);
    }
  }
  // An error in the nested change passes to the caller, not to the error box.
  bar.OnChange([] { throw OverflowError(); });
  EXPECT_THROW(bar.SetValue(4), OverflowError);
  EXPECT_EQ(bar.Value(), 4);
  EXPECT_TRUE(errors.empty());
  EXPECT_TRUE(ends.empty());
}

TEST_F(Toolkit, TheUserMovesTheScrollBar) {
  tk::Form form(400, 200);
  tk::HScrollBar& bar = form.AddHScrollBar(0, 0, 400, 19);
  bar.SetMax(100);
  form.Show();
  std::vector<std::string> log;
  bar.OnChange([&] { log.push_back("change " + std::to_string(bar.Value())); });
  bar.OnScroll([&] { log.push_back("scroll " + std::to_string(bar.Value())); });
  QScrollBar* w = bar.Widget();
  bar.SetFocus();
  for (Qt::Key key : {Qt::Key_Right, Qt::Key_Down, Qt::Key_PageDown, Qt::Key_Left, Qt::Key_Up,
                      Qt::Key_PageUp, Qt::Key_PageUp, Qt::Key_End, Qt::Key_Right, Qt::Key_Home})
    QTest::keyClick(w, key);
  EXPECT_EQ(log, (std::vector<std::string>{"change 1", "change 2", "change 3", "change 2",
                                           "change 1", "change 0", "change 100", "change 0"}));

  // Dragging the thumb: one scroll event per position, one change at the release.
  log.clear();
  QStyleOptionSlider option;
  option.initFrom(w);
  option.orientation = Qt::Horizontal;
  option.minimum = w->minimum();
  option.maximum = w->maximum();
  option.sliderPosition = w->sliderPosition();
  option.sliderValue = w->value();
  option.singleStep = w->singleStep();
  option.pageStep = w->pageStep();
  option.upsideDown = w->invertedAppearance();
  const QRect thumb =
      w->style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, w);
  const QPoint from = thumb.center();
  QTest::mousePress(w, Qt::LeftButton, {}, from);
  for (int dx : {40, 80, 80, 120}) {
    QMouseEvent move(QEvent::MouseMove, QPointF(from + QPoint(dx, 0)),
                     w->mapToGlobal(QPointF(from + QPoint(dx, 0))), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(w, &move);
    QCoreApplication::processEvents();  // the event loop comes round between moves
  }
  QTest::mouseRelease(w, Qt::LeftButton, {}, from + QPoint(120, 0));
  ASSERT_GE(log.size(), 4u);
  std::vector<std::string> scrolls(log.begin(), log.end() - 1);
  for (size_t i = 0; i < scrolls.size(); ++i) {
    EXPECT_EQ(scrolls[i].rfind("scroll ", 0), 0u) << scrolls[i];
    if (i > 0) {
      EXPECT_NE(scrolls[i], scrolls[i - 1]);  // each position once
    }
  }
  EXPECT_EQ(scrolls.size(), 3u);
  EXPECT_EQ(log.back(), "change " + std::to_string(bar.Value()));
  EXPECT_GT(bar.Value(), 0);

  // Moves queued behind a slow handler: one scroll event, at the newest position.
  bar.SetValue(0);  // the thumb back where it was measured
  log.clear();
  QTest::mousePress(w, Qt::LeftButton, {}, thumb.center());
  for (int dx : {20, 40, 60}) {
    const QPointF at(thumb.center() + QPoint(dx, 0));
    QCoreApplication::postEvent(w, new QMouseEvent(QEvent::MouseMove, at, w->mapToGlobal(at),
                                                   Qt::NoButton, Qt::LeftButton, Qt::NoModifier));
  }
  QCoreApplication::processEvents();  // the queued moves
  QCoreApplication::processEvents();  // the next time round: the scroll event
  EXPECT_EQ(log, std::vector<std::string>{"scroll " + std::to_string(w->sliderPosition())});
  QTest::mouseRelease(w, Qt::LeftButton, {}, thumb.center() + QPoint(60, 0));

  // A drag that ends where it began is no change.
  log.clear();
  w->setSliderDown(true);
  w->setSliderPosition(w->value() + 1);
  QCoreApplication::processEvents();
  w->setSliderPosition(w->value() - 1);
  QCoreApplication::processEvents();
  w->setSliderDown(false);
  EXPECT_EQ(log.size(), 2u);
  for (const std::string& entry : log) EXPECT_EQ(entry.rfind("scroll ", 0), 0u) << entry;
}

TEST_F(Toolkit, AnErrorLeavingAHandlerIsShownAndEndsTheProgram) {
  tk::Form form(300, 200);
  tk::Menu& menu = form.AddMenu("m");
  tk::Menu& item = menu.AddItem("i");
  tk::HScrollBar& bar = form.AddHScrollBar(0, 0, 300, 19);
  int later = 0;
  item.OnClick([] { throw OverflowError(); });
  bar.OnChange([&] { ++later; });
  form.OnClick([&] { ++later; });
  form.Show();
  item.Action()->trigger();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "実行時エラー '6':\n\nオーバーフローしました。");
  EXPECT_EQ(ends, std::vector<int>{1});
  EXPECT_TRUE(tk::ProgramEnded());
  EXPECT_EQ(tk::EndStatus(), 1);

  // Ended: no further event handler runs.
  QTest::mouseClick(form.Client(), Qt::LeftButton, {}, QPoint(150, 100));
  bar.SetValue(3);
  bar.Widget()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(later, 0);
  EXPECT_EQ(ends.size(), 1u);

  // Any other exception, here from a change the user made.
  tk::ResetProgramEnd();
  errors.clear();
  ends.clear();
  bar.OnChange([] { throw std::runtime_error("broken"); });
  bar.Widget()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(errors, std::vector<std::string>{"実行時エラー:\n\nbroken"});
  EXPECT_EQ(ends, std::vector<int>{1});
}

TEST_F(Toolkit, TheRealEndHidesEveryWindowAndStopsTheEventLoop) {
  tk::SetEndHandler({});
  tk::Form form(100, 50);
  int unloads = 0;
  form.OnUnload([&] { ++unloads; });
  form.Show();
  QTimer::singleShot(0, [] { tk::End(3); });
  EXPECT_EQ(QApplication::exec(), 3);
  EXPECT_FALSE(form.Visible());
  EXPECT_EQ(unloads, 0);
  EXPECT_EQ(tk::EndStatus(), 3);
}

TEST_F(Toolkit, TheWindowShowsWhatWasLastPaintedThroughResizes) {
  tk::Form form(200, 100);
  form.SetBackColor(0x336699);
  form.Show();
  HDC dc = form.hDC();
  ASSERT_EQ(dc->width(), 200);
  ASSERT_EQ(dc->height(), 100);
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 200; ++x) ASSERT_EQ(dc->pixel(x, y) & 0xFFFFFF, 0x336699u);
  for (int y = 40; y < 60; ++y)
    for (int x = 10; x < 30; ++x) dc->row(y)[x] = 0xFF0000;
  dc->NotifyPainted({10, 40, 20, 20});

  auto shown = [&](int x, int y) { return form.Client()->grab().toImage().pixel(x, y) & 0xFFFFFF; };
  EXPECT_EQ(shown(15, 45), 0xFF0000u);
  EXPECT_EQ(shown(5, 45), 0x336699u);

  QWidget* window = form.hWnd();
  window->resize(window->width() - 150, window->height());       // the picture is cut off...
  window->resize(window->width() + 250, window->height() + 50);  // ...and comes back
  ASSERT_GE(form.ClientWidth(), 300);
  EXPECT_EQ(shown(15, 45), 0xFF0000u);
  EXPECT_EQ(shown(250, 120), 0x336699u);  // new area in the background colour
  dc = form.hDC();
  EXPECT_GE(dc->width(), 300);
  EXPECT_EQ(dc->pixel(15, 45) & 0xFFFFFF, 0xFF0000u);

  window->showMinimized();
  window->showNormal();
  EXPECT_EQ(shown(15, 45), 0xFF0000u);

  form.Cls();
  EXPECT_EQ(shown(15, 45), 0x336699u);
  EXPECT_EQ(form.hDC()->pixel(15, 45) & 0xFFFFFF, 0x336699u);
}

// ---- The dialog controls and frame ------------------------------------------------------------

TEST_F(Toolkit, EnterAndEscPressTheDefaultAndCancelButtonsAndTheFocusFollowsTheTabIndex) {
  tk::Form form(300, 100);
  tk::CommandButton& apply = form.AddCommandButton(10, 10, 80, 23);
  tk::CommandButton& ok = form.AddCommandButton(100, 10, 80, 23);
  tk::CommandButton& cancel = form.AddCommandButton(190, 10, 80, 23);
  tk::HScrollBar& bar = form.AddHScrollBar(0, 60, 300, 19);
  bar.SetEnabled(false);  // out of the tab order for now
  apply.SetCaption("A&pply");
  ok.SetCaption("OK");
  cancel.SetCaption("Cancel");
  apply.SetDefault(true);
  ok.SetDefault(true);  // takes it from the first
  cancel.SetCancel(true);
  ok.SetTabIndex(0);
  cancel.SetTabIndex(1);
  apply.SetTabIndex(2);
  std::vector<std::string> log;
  apply.OnClick([&] { log.push_back("apply"); });
  ok.OnClick([&] { log.push_back("ok"); });
  cancel.OnClick([&] { log.push_back("cancel"); });
  form.Show();

  EXPECT_EQ(apply.Widget()->text().toStdString(), "A&&pply");  // plain text
  EXPECT_FALSE(apply.Default());
  EXPECT_FALSE(apply.Widget()->isDefault());
  EXPECT_TRUE(ok.Default());
  EXPECT_TRUE(ok.Widget()->isDefault());
  EXPECT_TRUE(cancel.Cancel());
  EXPECT_EQ(ok.Widget()->geometry(), QRect(100, 10, 80, 23));
  QWidget* window = form.hWnd();
  EXPECT_EQ(window->focusWidget(), ok.Widget());  // lowest tab index
  QTest::keyClick(ok.Widget(), Qt::Key_Tab);
  EXPECT_EQ(window->focusWidget(), cancel.Widget());
  QTest::keyClick(cancel.Widget(), Qt::Key_Tab);
  EXPECT_EQ(window->focusWidget(), apply.Widget());
  QTest::keyClick(apply.Widget(), Qt::Key_Tab);
  EXPECT_EQ(window->focusWidget(), ok.Widget());

  QTest::keyClick(ok.Widget(), Qt::Key_Return);  // the default button, focused
  QTest::keyClick(ok.Widget(), Qt::Key_Escape);  // the cancel button, wherever the focus is
  cancel.SetFocus();
  QTest::keyClick(cancel.Widget(), Qt::Key_Enter);  // a focused button is pressed by Enter
  apply.SetFocus();
  QTest::keyClick(apply.Widget(), Qt::Key_Space);
  QTest::keyClick(apply.Widget(), Qt::Key_Escape);
  QTest::mouseClick(ok.Widget(), Qt::LeftButton);
  QTest::keyClick(form.hWnd(), Qt::Key_Return);  // no button focused: the default one
  EXPECT_EQ(log,
            (std::vector<std::string>{"ok", "cancel", "cancel", "apply", "cancel", "ok", "ok"}));

  // Without a default or cancel button, and with a disabled one, the keys press nothing while
  // no button has the focus.
  log.clear();
  ok.SetDefault(false);
  cancel.SetEnabled(false);
  EXPECT_FALSE(ok.Default());
  bar.SetEnabled(true);
  bar.SetFocus();
  QTest::keyClick(form.hWnd(), Qt::Key_Return);
  QTest::keyClick(form.hWnd(), Qt::Key_Escape);
  QTest::keyClick(form.hWnd(), Qt::Key_Escape, Qt::ShiftModifier);
  EXPECT_TRUE(log.empty());

  // A click that fails goes to the error box like any handler.
  ok.OnClick([] { throw OverflowError(); });
  QTest::mouseClick(ok.Widget(), Qt::LeftButton);
  EXPECT_EQ(errors, std::vector<std::string>{"実行時エラー '6':\n\nオーバーフローしました。"});
  EXPECT_EQ(ends, std::vector<int>{1});
}

TEST_F(Toolkit, PictureBoxSizedToItsPictureAndLinesPaintTheirPixelsOnly) {
  tk::Form form(120, 80);
  form.SetBackColor(0xF0F0F0);
  tk::PictureBox& fitted = form.AddPictureBox(16, 16, 50, 10);
  tk::PictureBox& fixed = form.AddPictureBox(70, 0, 20, 20);
  tk::Line& thin = form.AddLine(6, 63, 100, 63);
  tk::Line& wide = form.AddLine(7, 64, 100, 64);
  tk::Line& upright = form.AddLine(110, 70, 110, 10);  // drawn upwards
  thin.SetColor(0x808080);
  wide.SetColor(0xFF0000);
  wide.SetWidth(2);
  upright.SetColor(0x0000FF);
  int clicks = 0;
  form.OnClick([&] { ++clicks; });
  QImage picture(32, 32, QImage::Format_ARGB32);
  picture.fill(0xFF00FF00);
  picture.setPixel(0, 0, 0xFFFF0000);
  fitted.SetAutoSize(true);
  fitted.SetPicture(picture);
  fixed.SetPicture(picture);
  form.Show();

  EXPECT_EQ(fitted.BorderWidth(), 2);
  EXPECT_EQ(fitted.Widget()->geometry(), QRect(16, 16, 36, 36));  // the picture and the border
  EXPECT_EQ(fixed.Widget()->geometry(), QRect(70, 0, 20, 20));
  EXPECT_EQ(thin.Color(), 0x808080u);
  EXPECT_EQ(wide.Width(), 2);

  const QImage shown = form.Client()->grab().toImage();
  auto at = [&](int x, int y) { return shown.pixel(x, y) & 0xFFFFFF; };
  EXPECT_EQ(at(18, 18), 0xFF0000u);  // the picture inside the border
  EXPECT_EQ(at(30, 30), 0x00FF00u);
  EXPECT_NE(at(16, 16), 0x00FF00u);  // the border
  EXPECT_EQ(at(72, 2), 0xFF0000u);   // the other box cuts the picture at its edge
  EXPECT_EQ(at(86, 16), 0x00FF00u);
  EXPECT_NE(at(89, 19), 0x00FF00u);
  EXPECT_EQ(at(95, 10), 0xF0F0F0u);
  // The grey line on row 63 from x 6 to 99, the red one on rows 64 and 65 from x 7 to 99.
  for (int x = 0; x < 105; ++x) {
    SCOPED_TRACE(x);
    EXPECT_EQ(at(x, 62), 0xF0F0F0u);
    EXPECT_EQ(at(x, 63), x >= 6 && x < 100 ? 0x808080u : 0xF0F0F0u);
    EXPECT_EQ(at(x, 64), x >= 7 && x < 100 ? 0xFF0000u : 0xF0F0F0u);
    EXPECT_EQ(at(x, 65), x >= 7 && x < 100 ? 0xFF0000u : 0xF0F0F0u);
    EXPECT_EQ(at(x, 66), 0xF0F0F0u);
  }
  // Upwards from (110, 70) to (110, 10): rows 11 to 70.
  EXPECT_EQ(at(110, 10), 0xF0F0F0u);
  EXPECT_EQ(at(110, 11), 0x0000FFu);
  EXPECT_EQ(at(110, 70), 0x0000FFu);
  EXPECT_EQ(at(111, 40), 0xF0F0F0u);

  // A click on a line is a click on the window.
  QTest::mouseClick(form.Client(), Qt::LeftButton, {}, QPoint(50, 64));
  EXPECT_EQ(clicks, 1);
}

TEST_F(Toolkit, AFixedDialogFrameAtItsPlaceWithItsDialogFont) {
  tk::Form dialog(382, 237);
  tk::Label& wrapped = dialog.AddLabel(10, 10, 100, 60);
  wrapped.SetWordWrap(true);
  wrapped.SetCaption("ひらがなとカタカナと漢字の混じった長い文は、ラベルの幅で折り返されます。");
  dialog.SetBorderStyle(tk::Form::BorderStyle::kFixedDialog);
  dialog.SetClientPosition(156, 129);
  dialog.Show();

  QWidget* window = dialog.hWnd();
  const Qt::WindowFlags flags = window->windowFlags();
  EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Dialog);
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_TRUE(flags & Qt::WindowTitleHint);
  EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(window->minimumSize(), QSize(382, 237));
  EXPECT_EQ(window->maximumSize(), QSize(382, 237));
  EXPECT_EQ(dialog.ClientWidth(), 382);
  EXPECT_EQ(dialog.ClientHeight(), 237);
  EXPECT_EQ(dialog.Client()->mapToGlobal(QPoint(0, 0)), QPoint(156, 129));
  EXPECT_EQ(window->windowHandle()->transientParent(), nullptr);  // owned by no window

  EXPECT_EQ(wrapped.Widget()->font().pixelSize(), 11);
  const tk::LabelProbe lines(wrapped);
  EXPECT_EQ(lines.LinePitch(), 11);
  EXPECT_GE(lines.LineCount(), 3);  // 37 characters of 11 pixels in 100
  EXPECT_LE(lines.LineCount() * lines.LinePitch(), 60);

  // An ordinary window keeps its frame and the window system's placement.
  tk::Form plain(100, 50);
  plain.Show();
  EXPECT_EQ(plain.hWnd()->windowFlags() & Qt::WindowType_Mask, Qt::Window);
  EXPECT_NE(plain.hWnd()->maximumSize(), QSize(100, 50));
}

// ---- Drops --------------------------------------------------------------------------------------

QMimeData* Files(const std::vector<std::string>& urls) {
  auto* data = new QMimeData;
  QList<QUrl> list;
  for (const std::string& url : urls) list << QUrl(QString::fromStdString(url));
  data->setUrls(list);
  return data;
}

TEST_F(Toolkit, EveryDropReachesTheHandlerWithItsFileListAsNativePaths) {
  tk::Form form(300, 200);
  tk::HScrollBar& bar = form.AddHScrollBar(100, 0, 200, 19);
  struct Drop {
    bool files, text;
    std::vector<std::string> list;
    int32_t effect;
    int16_t button;
    float x, y;
  };
  std::vector<Drop> drops;
  form.OnOLEDragDrop(
      [&](tk::DataObject& data, int32_t& effect, int16_t button, int16_t, float x, float y) {
        Drop drop{
            data.GetFormat(tk::vbCFFiles), data.GetFormat(tk::vbCFText), {}, effect, button, x, y};
        for (int32_t i = 1; i <= data.FilesCount(); ++i) drop.list.push_back(data.Files(i));
        drops.push_back(drop);
      });
  form.Show();

  // Three files, a Japanese name among them, a name that is not UTF-8, and a web address.
  std::unique_ptr<QMimeData> three(
      Files({"file:///tmp/b.avi", "file:///tmp/%E5%8B%95%E7%94%BB/%E3%83%93%E3%83%87%E3%82%AA.avi",
             "https://example.invalid/c.avi", "file:///tmp/%E9t%C3.AVI"}));
  EXPECT_TRUE(SimulateDrop(form, *three, 150, 100));
  ASSERT_EQ(drops.size(), 1u);
  EXPECT_TRUE(drops[0].files);
  EXPECT_EQ(drops[0].list,
            (std::vector<std::string>{"/tmp/b.avi", "/tmp/動画/ビデオ.avi", "/tmp/\xE9t\xC3.AVI"}));
  EXPECT_EQ(drops[0].effect, tk::vbDropEffectCopy);
  EXPECT_EQ(drops[0].button, 1);
  EXPECT_FLOAT_EQ(drops[0].x, 150 * 15);  // the form's logical scale: twips
  EXPECT_FLOAT_EQ(drops[0].y, 100 * 15);

  // Text, nothing at all, a web address only: still reach the handler, with no file list.
  QMimeData text;
  text.setText("/tmp/b.avi");
  QMimeData nothing;
  std::unique_ptr<QMimeData> web(Files({"https://example.invalid/c.avi"}));
  for (const QMimeData* data : {&text, &nothing, web.get()})
    EXPECT_TRUE(SimulateDrop(form, *data, 10, 150, tk::vbDropEffectMove));
  ASSERT_EQ(drops.size(), 4u);
  for (size_t i = 1; i < 4; ++i) {
    EXPECT_FALSE(drops[i].files) << i;
    EXPECT_TRUE(drops[i].list.empty()) << i;
    EXPECT_EQ(drops[i].effect, tk::vbDropEffectMove) << i;
  }
  EXPECT_TRUE(drops[1].text);
  EXPECT_FALSE(drops[2].text);

  // On a control: the window takes it all the same.
  std::unique_ptr<QMimeData> one(Files({"file:///tmp/on%20bar.avi"}));
  EXPECT_TRUE(SimulateDrop(form, *one, 200, 10));
  ASSERT_EQ(drops.size(), 5u);
  EXPECT_EQ(drops[4].list, std::vector<std::string>{"/tmp/on bar.avi"});
  EXPECT_NE(form.Client()->childAt(200, 10), nullptr);
  EXPECT_EQ(form.Client()->childAt(200, 10), bar.Widget());

  // Entries are numbered from 1; outside the list is "subscript out of range".
  std::unique_ptr<QMimeData> two(Files({"file:///a.avi", "file:///b.avi"}));
  tk::DataObject data(*two);
  EXPECT_EQ(data.FilesCount(), 2);
  EXPECT_EQ(data.Files(1), "/a.avi");
  EXPECT_EQ(data.Files(2), "/b.avi");
  for (int32_t bad : {0, 3, -1}) {
    try {
      data.Files(bad);
      ADD_FAILURE() << "no error for " << bad;
    } catch (const RuntimeError& e) {
      EXPECT_EQ(e.number(), 9);
    }
  }
  EXPECT_FALSE(data.GetFormat(2));  // a bitmap

  // An error in the handler is reported like any other; a window without one takes no drops.
  form.OnOLEDragDrop(
      [](tk::DataObject& d, int32_t&, int16_t, int16_t, float, float) { d.Files(1); });
  EXPECT_TRUE(SimulateDrop(form, text));
  EXPECT_EQ(errors,
            std::vector<std::string>{"実行時エラー '9':\n\nインデックスが有効範囲にありません。"});
  tk::ResetProgramEnd();
  tk::Form closed(100, 50);
  closed.Show();
  EXPECT_FALSE(SimulateDrop(closed, *one));
  EXPECT_FALSE(closed.hWnd()->acceptDrops());
  // Hidden: the events go to the window itself.
  tk::Form hidden(100, 50);
  int count = 0;
  hidden.OnOLEDragDrop([&](tk::DataObject&, int32_t&, int16_t, int16_t, float, float) { ++count; });
  EXPECT_TRUE(SimulateDrop(hidden, *one));
  EXPECT_EQ(count, 1);
}

// ---- The program's icon -------------------------------------------------------------------------

TEST_F(Toolkit, TheProgramsIconIsSixteenColoursAtEverySizeAndEveryWindowCarriesIt) {
  const std::set<QRgb> standard = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                                   0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00,
                                   0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
  for (int size : {16, 32, 48, 64, 128, 256}) {
    SCOPED_TRACE(size);
    const QImage image = tk::ProgramIconImage(size);
    ASSERT_EQ(image.size(), QSize(size, size));
    std::set<QRgb> colours;
    int transparent = 0;
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size; ++x) {
        const QRgb p = image.pixel(x, y);
        if (qAlpha(p) == 0) {
          ++transparent;
        } else {
          EXPECT_EQ(qAlpha(p), 255);
          colours.insert(p & 0xFFFFFF);
        }
      }
    for (QRgb c : colours) EXPECT_TRUE(standard.count(c)) << std::hex << c;
    EXPECT_GE(colours.size(), 4u);  // a picture, not a blot
    EXPECT_GT(transparent, 0);
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
    // Scaled without smoothing: each drawn pixel is a whole block.
    const int drawn = size % 32 == 0 ? 32 : 16;
    const QImage from = tk::ProgramIconImage(drawn);
    const int k = size / drawn;
    for (int y = 0; y < size; y += 7)
      for (int x = 0; x < size; x += 5)
        ASSERT_EQ(image.pixel(x, y), from.pixel(x / k, y / k)) << x << "," << y;
  }
  // The picture's lines alternate in pairs (32) or singly (16) between the two fields.
  const QImage big = tk::ProgramIconImage(32), small = tk::ProgramIconImage(16);
  EXPECT_EQ(big.pixel(3, 7), big.pixel(3, 8));
  EXPECT_NE(big.pixel(3, 8), big.pixel(3, 9));
  EXPECT_EQ(big.pixel(3, 9), big.pixel(3, 10));
  EXPECT_NE(small.pixel(2, 4), small.pixel(2, 5));

  tk::Form a(100, 50), b(60, 40);
  for (tk::Form* form : {&a, &b}) {
    const QIcon icon = form->hWnd()->windowIcon();
    for (int size : {16, 32}) {
      SCOPED_TRACE(size);
      EXPECT_TRUE(icon.availableSizes().contains(QSize(size, size)));
      EXPECT_EQ(icon.pixmap(QSize(size, size)).toImage().convertToFormat(QImage::Format_ARGB32),
                tk::ProgramIconImage(size));
    }
  }
}

}  // namespace
