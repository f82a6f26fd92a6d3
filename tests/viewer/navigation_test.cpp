// Loading a video, stepping through it in the 1/30 and 1/60 views, the field priority, the
// restore after a failed load, and videos longer than the 16-bit range.
#include <QScrollBar>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "mainwindow.h"
#include "sourceprobe.h"

namespace {

const std::string kNoStream = kMsgNoStream;

class Navigation : public MainWindow {
 protected:
  // The buffer after separating frame f of a clip from testutil::Pattern: rows copied as the field
  // rule says, the rest as it was.
  static std::vector<uint8_t> Separated(int width, int height, int f, int type) {
    std::vector<uint8_t> frame = testutil::Pattern(width, height, f);
    const size_t stride = static_cast<size_t>(DibStride(width, 24));
    for (int row = type; row <= height - 2; row += 2)
      std::copy_n(frame.begin() + row * stride, width * 3, frame.begin() + (row + 1) * stride);
    return frame;
  }

  int32_t Value() { return frmMainProbe(*form).HScroll().Value(); }
  void SetValue(int32_t v) { frmMainProbe(*form).HScroll().SetValue(v); }
  std::string LabelText() { return frmMainProbe(*form).Label().Caption(); }
  const std::vector<uint8_t>& Buffer() { return Peek(*frmMainProbe(*form).Source()).DIBBits(); }

  // The window as at start-up: no path, the video commands greyed, the label blank.
  void ExpectNoVideo() {
    frmMainProbe probe(*form);
    EXPECT_EQ(form->Caption(), "Dovrel  ");
    EXPECT_TRUE(probe.strAVIFile().empty());
    EXPECT_FALSE(probe.SaveEnabled());
    EXPECT_FALSE(probe.SeparateMenuEnabled());
    EXPECT_FALSE(probe.DivMenuEnabled());
    EXPECT_FALSE(probe.HScroll().Enabled());
    EXPECT_EQ(LabelText(), "");
  }
};

TEST_F(Navigation, AFailedLoadWithNothingLoadedChangesNothing) {
  frmMainProbe probe(*form);
  probe.Load(PathIn("missing.avi"));
  EXPECT_EQ(messages, std::vector<std::string>{kNoStream});
  ExpectNoVideo();
  ExpectPicture(*probe.Source());  // the desktop colour only
  EXPECT_EQ(AVIFileUseCount(), 0);
}

TEST_F(Navigation, LoadingShowsFrameZeroInTheWholeFrameView) {
  frmMainProbe probe(*form);
  const std::string path =
      MakeClip("ビデオ クリップ.avi", 720, 481, 10);  // odd height, Japanese name
  form->hDC()->Fill(0x123456);
  probe.Load(path);
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(form->Caption(), "Dovrel  " + path);
  EXPECT_EQ(form->hWnd()->windowTitle().toStdString(), "Dovrel  " + path);
  EXPECT_EQ(probe.strAVIFile(), path);
  EXPECT_TRUE(probe.SaveEnabled());
  EXPECT_TRUE(probe.SeparateMenuEnabled());
  EXPECT_FALSE(probe.DivMenuEnabled());
  EXPECT_TRUE(probe.HScroll().Enabled());
  EXPECT_EQ(form->hWnd()->focusWidget(), probe.HScroll().Widget());
  EXPECT_EQ(probe.HScroll().Max(), 9);
  EXPECT_EQ(Value(), 0);
  EXPECT_EQ(LabelText(), " 0");
  EXPECT_EQ(probe.bln30Mode(), kTrue);
  EXPECT_EQ(probe.intDivLine(), 0);
  EXPECT_EQ(probe.intSepType(), -1);
  EXPECT_EQ(form->ScaleWidth(), 10845);
  EXPECT_EQ(form->ScaleHeight(), 9640);  // 20 units a display row, and 20: 481 rows shown
  EXPECT_EQ(Buffer(), testutil::Pattern(720, 481, 0));
  ExpectPicture(*probe.Source());  // cleared, then frame 0 at (0, 20)

  SetValue(9);  // the last frame
  EXPECT_EQ(LabelText(), " 9");
  EXPECT_EQ(probe.lngFrameNo(), 9);
  EXPECT_EQ(Buffer(), testutil::Pattern(720, 481, 9));
  ExpectPicture(*probe.Source());

  // Loading the same file again resets everything as for a new one.
  probe.Separate60();
  SetValue(5);
  probe.Load(path);
  EXPECT_EQ(probe.bln30Mode(), kTrue);
  EXPECT_EQ(Value(), 0);
  EXPECT_EQ(probe.HScroll().Max(), 9);
  EXPECT_EQ(Buffer(), testutil::Pattern(720, 481, 0));
  EXPECT_EQ(AVIFileUseCount(), 1);
}

TEST_F(Navigation, FieldViewMapsTwoPositionsToEachFrame) {
  frmMainProbe probe(*form);
  probe.Load(MakeClip("ten.avi", 720, 480, 10));
  SetValue(7);
  probe.Separate60();
  EXPECT_EQ(probe.bln30Mode(), kFalse);
  EXPECT_TRUE(probe.DivMenuEnabled());
  EXPECT_EQ(probe.HScroll().Max(), 18);  // the last frame has only its first field's position
  EXPECT_EQ(Value(), 0);
  EXPECT_EQ(LabelText(), " 0");

  struct Step {
    int16_t position;
    int frame, typeEven, typeOdd;
  };
  for (int16_t priority : {0, 1}) {
    if (priority) probe.Odd();
    for (Step s : {Step{0, 0, 0, 1}, Step{1, 0, 1, 0}, Step{2, 1, 0, 1}, Step{3, 1, 1, 0},
                   Step{18, 9, 0, 1}}) {
      SCOPED_TRACE("priority " + std::to_string(priority) + ", position " +
                   std::to_string(s.position));
      SetValue(s.position == 0 ? 1 : s.position);
      SetValue(s.position);
      const int type = priority ? s.typeOdd : s.typeEven;
      EXPECT_EQ(LabelText(), " " + std::to_string(s.position));
      EXPECT_EQ(probe.lngFrameNo(), s.frame);
      EXPECT_EQ(probe.intSepType(), type);
      EXPECT_EQ(Buffer(), Separated(720, 480, s.frame, type));
      ExpectPicture(*probe.Source());
    }
  }

  // Back to whole frames: position 0, frame 0 unseparated, the priority menu greyed.
  SetValue(7);
  probe.Separate30();
  EXPECT_EQ(probe.bln30Mode(), kTrue);
  EXPECT_FALSE(probe.DivMenuEnabled());
  EXPECT_EQ(probe.HScroll().Max(), 9);
  EXPECT_EQ(Value(), 0);
  EXPECT_EQ(probe.intSepType(), -1);
  EXPECT_EQ(probe.intDivLine(), 1);  // a switch keeps the priority
  EXPECT_EQ(Buffer(), testutil::Pattern(720, 480, 0));
}

TEST_F(Navigation, PriorityTakesEffectAtTheNextPositionAndSwitchesReset) {
  frmMainProbe probe(*form);
  probe.Load(MakeClip("ten.avi", 720, 480, 10));
  probe.Separate60();
  SetValue(4);
  const std::vector<uint8_t> shown = Buffer();
  const uint32_t pixel = form->hDC()->pixel(10, 30);
  probe.Odd();
  EXPECT_EQ(Buffer(), shown);  // nothing repainted
  EXPECT_EQ(form->hDC()->pixel(10, 30), pixel);
  SetValue(5);
  SetValue(4);
  EXPECT_EQ(probe.lngFrameNo(), 2);
  EXPECT_EQ(probe.intSepType(), 1);
  EXPECT_EQ(Buffer(), Separated(720, 480, 2, 1));

  // Choosing the active view again goes back to position 0 and repaints it.
  SetValue(9);
  form->hDC()->Fill(0x123456);
  probe.Separate60();
  EXPECT_EQ(Value(), 0);
  EXPECT_EQ(probe.intSepType(), 1);
  EXPECT_EQ(Buffer(), Separated(720, 480, 0, 1));
  // Type 1 copies buffer row 2k - 1 onto row 2k: screen lines 31 and 32 (rows 468 and 467).
  EXPECT_EQ(form->hDC()->pixel(10, 31), form->hDC()->pixel(10, 32));

  // A one-frame video has the single position 0 in both views.
  probe.Load(MakeClip("one.avi", 720, 480, 1));
  EXPECT_EQ(probe.HScroll().Max(), 0);
  probe.Separate60();
  EXPECT_EQ(probe.HScroll().Max(), 0);
  EXPECT_EQ(Buffer(), Separated(720, 480, 0, 0));
}

TEST_F(Navigation, LoadingWhileTheOddFieldViewIsActiveResetsTheView) {
  frmMainProbe probe(*form);
  probe.Load(MakeClip("a.avi", 720, 480, 10));
  probe.Separate60();
  probe.Odd();
  SetValue(11);
  probe.Load(MakeClip("b.avi", 720, 480, 4));
  EXPECT_EQ(probe.bln30Mode(), kTrue);
  EXPECT_FALSE(probe.DivMenuEnabled());
  EXPECT_EQ(probe.intDivLine(), 0);
  EXPECT_EQ(Value(), 0);
  EXPECT_EQ(probe.HScroll().Max(), 3);
  EXPECT_EQ(Buffer(), testutil::Pattern(720, 480, 0));
  ExpectPicture(*probe.Source());
}

TEST_F(Navigation, AFailedLoadKeepsTheVideoAndRepaintsItsFrameWhole) {
  frmMainProbe probe(*form);
  const std::string path = MakeClip("kept.avi", 720, 480, 10);
  probe.Load(path);
  probe.Separate60();
  probe.Odd();
  SetValue(7);
  form->hDC()->Fill(0x123456);
  probe.Load(PathIn("missing.avi"));
  EXPECT_EQ(messages, std::vector<std::string>{kNoStream});
  EXPECT_EQ(form->Caption(), "Dovrel  " + path);
  EXPECT_EQ(probe.strAVIFile(), path);
  EXPECT_EQ(probe.HScroll().Max(), 18);
  EXPECT_EQ(Value(), 7);
  EXPECT_EQ(LabelText(), " 7");
  EXPECT_EQ(probe.bln30Mode(), kFalse);
  EXPECT_TRUE(probe.DivMenuEnabled());
  EXPECT_EQ(probe.intDivLine(), 1);
  EXPECT_EQ(Buffer(), testutil::Pattern(720, 480, 3));  // frame 3, whole
  ExpectPicture(*probe.Source());
  EXPECT_EQ(AVIFileUseCount(), 1);

  // The next position paints normally again.
  SetValue(6);
  EXPECT_EQ(Buffer(), Separated(720, 480, 3, 1));
}

// A kept video replaced on disk by a shorter one of another size: after a failed load the range,
// the position and the display follow the file as reopened. A position the stream does not hold
// (the old range's) leaves the picture as it was, however often it is visited.
TEST_F(Navigation, AKeptVideoThatChangedOnDiskIsFollowed) {
  frmMainProbe probe(*form);
  probe.Load(MakeClip("kept.avi", 720, 480, 10));
  probe.Separate60();
  SetValue(5);
  MakeClip("kept.avi", 320, 240, 3);
  probe.Load(PathIn("missing.avi"));
  EXPECT_EQ(probe.HScroll().Max(), 4);
  EXPECT_EQ(Value(), 4);
  EXPECT_EQ(LabelText(), " 4");
  EXPECT_EQ(Buffer(), testutil::Pattern(320, 240, 2));  // frame 2, whole, as after any restore
  ExpectPicture(*probe.Source());

  probe.HScroll().SetMax(18);
  for (int round = 0; round < 3; ++round) {
    SetValue(3);
    EXPECT_EQ(Buffer(), Separated(320, 240, 1, 1));
    SetValue(6);  // frame 3
    EXPECT_EQ(Buffer(), Separated(320, 240, 1, 1)) << "round " << round;
  }
}

// After a load the field shot first comes first: the pictures' word (the H.264 stream is written
// top first, its file's field description says bottom first; DV's fields are bottom first by its
// format), else the file's field description. The menu overrides until the next load.
TEST_F(Navigation, ALoadStartsWithTheFieldShotFirst) {
  frmMainProbe probe(*form);
  struct Case {
    const char* name;
    std::vector<std::string> codec;
    int16_t priority;
  };
  for (const Case& c :
       {Case{"dv.avi", {"-c:v", "dvvideo", "-pix_fmt", "yuv411p"}, 0},
        Case{"tff.avi",
             {"-c:v", "libx264", "-flags", "+ildct+ilme", "-top", "1", "-field_order", "bb",
              "-pix_fmt", "yuv420p"},
             1},
        Case{"raw-tt.avi", {"-c:v", "rawvideo", "-pix_fmt", "bgr24", "-field_order", "tt"}, 1},
        Case{"raw-bb.avi", {"-c:v", "rawvideo", "-pix_fmt", "bgr24", "-field_order", "bb"}, 0}}) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(testutil::MakeFfmpegClip(PathIn(c.name), 720, 480, 2, c.codec));
    probe.Load(PathIn(c.name));
    EXPECT_EQ(probe.intDivLine(), c.priority);
    probe.Separate60();
    EXPECT_EQ(probe.intSepType(), c.priority);  // position 0 shows the first field
  }
  probe.Even();
  EXPECT_EQ(probe.intDivLine(), 0);
  probe.Load(PathIn("tff.avi"));
  EXPECT_EQ(probe.intDivLine(), 1);
}

TEST_F(Navigation, APreviousVideoThatHasGoneLeavesTheStartUpState) {
  frmMainProbe probe(*form);
  const std::string path = MakeClip("gone.avi", 720, 480, 3);
  probe.Load(path);
  SetValue(2);
  std::filesystem::remove(path);
  probe.Load(PathIn("missing.avi"));
  EXPECT_EQ(messages,
            (std::vector<std::string>{kNoStream, kNoStream}));  // the new file, then the old
  ExpectNoVideo();
  EXPECT_FALSE(Peek(*probe.Source()).IsOpen());
  EXPECT_EQ(AVIFileUseCount(), 0);
  for (int y = 0; y < form->hDC()->height(); y += 7)
    for (int x = 0; x < form->hDC()->width(); x += 7)
      ASSERT_EQ(form->hDC()->pixel(x, y) & 0xFFFFFF, kDesktop);
  ClickPicture();  // nothing is painted from the closed source
  EXPECT_TRUE(errors.empty());

  // And the window works as after start-up.
  probe.Load(MakeClip("next.avi", 720, 480, 2));
  EXPECT_TRUE(probe.HScroll().Enabled());
  EXPECT_EQ(Buffer(), testutil::Pattern(720, 480, 0));
}

// Whatever the command, the video commands follow the state: enabled exactly while a video is
// loaded, the priority menu only in the 1/60 view.
TEST_F(Navigation, TheCommandsFollowTheStateAfterEveryCommand) {
  frmMainProbe probe(*form);
  const std::string clip = MakeClip("a.avi", 720, 480, 3), gone = MakeClip("gone.avi", 720, 480);
  const std::string missing = PathIn("missing.avi");
  const std::vector<std::pair<const char*, std::function<void()>>> steps = {
      {"start-up", [] {}},
      {"failed load, none before", [&] { probe.Load(missing); }},
      {"load", [&] { probe.Load(clip); }},
      {"1/60", [&] { probe.Separate60(); }},
      {"failed load in 1/60", [&] { probe.Load(missing); }},
      {"1/30", [&] { probe.Separate30(); }},
      {"load in 1/60", [&] { probe.Separate60(), probe.Load(gone); }},
      {"previous video gone in 1/60",
       [&] { probe.Separate60(), std::filesystem::remove(gone), probe.Load(missing); }}};
  for (const auto& [name, step] : steps) {
    SCOPED_TRACE(name);
    step();
    const bool loaded = !probe.strAVIFile().empty();
    EXPECT_EQ(probe.SaveEnabled(), loaded);
    EXPECT_EQ(probe.SeparateMenuEnabled(), loaded);
    EXPECT_EQ(probe.HScroll().Enabled(), loaded);
    EXPECT_EQ(probe.DivMenuEnabled(), loaded && probe.bln30Mode() == kFalse);
  }
  EXPECT_TRUE(probe.strAVIFile().empty());
}

TEST_F(Navigation, KeysAndTheDraggedThumbPaintEachPosition) {
  frmMainProbe probe(*form);
  probe.Load(MakeClip("keys.avi", 720, 480, 6));
  QScrollBar* bar = probe.HScroll().Widget();
  bar->setFocus();
  QTest::keyClick(bar, Qt::Key_Right);
  EXPECT_EQ(Value(), 1);
  EXPECT_EQ(Buffer(), testutil::Pattern(720, 480, 1));
  QTest::keyClick(bar, Qt::Key_End);
  EXPECT_EQ(Value(), 5);
  EXPECT_EQ(LabelText(), " 5");
  EXPECT_EQ(Buffer(), testutil::Pattern(720, 480, 5));
  QTest::keyClick(bar, Qt::Key_PageUp);
  EXPECT_EQ(Value(), 4);
  QTest::keyClick(bar, Qt::Key_Home);
  EXPECT_EQ(Value(), 0);
  EXPECT_EQ(Buffer(), testutil::Pattern(720, 480, 0));

  // While the thumb is dragged, every position it reaches is shown and named by the label.
  bar->setSliderDown(true);
  for (int p : {1, 2, 4, 3}) {
    bar->setSliderPosition(p);
    QCoreApplication::processEvents();
    EXPECT_EQ(LabelText(), " " + std::to_string(p));
    EXPECT_EQ(Buffer(), testutil::Pattern(720, 480, p));
    ExpectPicture(*probe.Source());
  }
  bar->setSliderDown(false);
  EXPECT_EQ(Value(), 3);
  EXPECT_EQ(Buffer(), testutil::Pattern(720, 480, 3));
}

TEST_F(Navigation, CompressedVideoPaintsWhatTheFrameSourceDecoded) {
  frmMainProbe probe(*form);
  for (const std::string codec : {"-c:v dvvideo -pix_fmt yuv411p", "-c:v mjpeg -q:v 3"}) {
    SCOPED_TRACE(codec);
    const std::string path = PathIn("coded.avi");
    const std::string cmd =
        "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "
        "testsrc2=size=720x480:rate=30000/1001 -frames:v 4 " +
        codec + " '" + path + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    probe.Load(path);
    ASSERT_TRUE(messages.empty());
    probe.Separate60();
    SetValue(5);
    EXPECT_EQ(probe.lngFrameNo(), 2);
    ExpectPicture(*probe.Source());
    // Position 5 shows field type 1: screen lines 21 and 22, 23 and 24, ... are equal.
    for (int y = 21; y + 1 < 499; y += 2)
      ASSERT_EQ(form->hDC()->pixel(100, y), form->hDC()->pixel(100, y + 1)) << y;
  }
}

// Tiny frames, tens of thousands of them: positions past the 16-bit range in both views.
TEST_F(Navigation, ALongVideoIsReachedToItsLastFrameInBothViews) {
  frmMainProbe probe(*form);
  probe.Load(MakeClip("long.avi", 16, 8, 40000));
  QScrollBar* bar = probe.HScroll().Widget();
  bar->setFocus();
  auto expect = [&](int position, int frame, int type) {
    SCOPED_TRACE(position);
    EXPECT_EQ(LabelText(), " " + std::to_string(position));
    EXPECT_EQ(probe.lngFrameNo(), frame);
    EXPECT_EQ(probe.intSepType(), type);
    EXPECT_EQ(Buffer(), type < 0 ? testutil::Pattern(16, 8, frame) : Separated(16, 8, frame, type));
    ExpectPicture(*probe.Source());
  };
  EXPECT_EQ(probe.HScroll().Max(), 39999);
  QTest::keyClick(bar, Qt::Key_End);
  expect(39999, 39999, -1);
  QTest::keyClick(bar, Qt::Key_Left);
  expect(39998, 39998, -1);

  probe.Separate60();
  EXPECT_EQ(probe.HScroll().Max(), 79998);
  QTest::keyClick(bar, Qt::Key_End);
  expect(79998, 39999, 0);
  QTest::keyClick(bar, Qt::Key_Left);
  expect(79997, 39998, 1);
  QTest::keyClick(bar, Qt::Key_Home);
  bar->setSliderDown(true);  // the thumb taken to the end
  bar->setSliderPosition(79998);
  QCoreApplication::processEvents();
  expect(79998, 39999, 0);
  bar->setSliderDown(false);
  EXPECT_TRUE(messages.empty());
  EXPECT_TRUE(errors.empty());
}

}  // namespace
