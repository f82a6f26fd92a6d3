// The window toolkit: events and their order, the scroll bar's nested change, the error box at
// the dispatch edge, the end of the program, the picture the window keeps.
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "checked.h"
#include "form.h"
#include "recorders.h"

namespace {

using Toolkit = SeamTest;

TEST_F(Toolkit, ApplicationPropertiesAndFileAttributes) {
  EXPECT_EQ(tk::App::Title(), "Quorlin");
  EXPECT_EQ(tk::App::Major(), 3);
  EXPECT_EQ(tk::App::Minor(), 1);
  EXPECT_EQ(tk::App::Revision(), 0);
  EXPECT_EQ(tk::App::Path(), QCoreApplication::applicationDirPath().toStdString());

  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("dovrel-attr-" + std::to_string(::getpid()));
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
  if (::geteuid() != 0) {  // root may write anything
    ::chmod((dir / "clip.avi").c_str(), 0444);
    EXPECT_EQ(tk::GetAttr((dir / "clip.avi").string()), tk::vbReadOnly);
  }
  std::filesystem::remove_all(dir);
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

  // A drag that ends where it began is no change.
  log.clear();
  w->setSliderDown(true);
  w->setSliderPosition(w->value() + 1);
  w->setSliderPosition(w->value() - 1);
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
  EXPECT_EQ(errors[0], "Run-time error '6':\n\nOverflow");
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
  EXPECT_EQ(errors, std::vector<std::string>{"Run-time error:\n\nbroken"});
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

}  // namespace
