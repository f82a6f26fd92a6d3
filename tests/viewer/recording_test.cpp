// A DV capture's recording on the status line below the picture, the scene commands, the copy to
// the clipboard and the PNG beside the BMP in the save dialog.
#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QScrollBar>

#include "commdlg.h"
#include "mainwindow.h"

namespace {

TEST_F(MainWindow, StatusLineAndSceneCommandsFollowTheRecording) {
  frmMainProbe probe(*form);
  const std::string dv = PathIn("scenes.avi");
  ASSERT_TRUE(testutil::WriteDvSceneClip(dv));
  probe.Load(dv);
  ASSERT_EQ(probe.strAVIFile(), dv);
  QLabel* status = probe.Status().Widget();
  // Below the picture, the whole width, in a client area grown by its height.
  EXPECT_EQ(status->geometry(), QRect(0, 500, form->ClientWidth(), 19));
  EXPECT_EQ(form->ClientHeight(), 519);
  EXPECT_EQ(probe.Status().Caption(), " 00:12:34;05");  // frame 0: a time code, no date
  EXPECT_TRUE(status->isVisible());
  EXPECT_TRUE(probe.NextScene().Enabled() && probe.PrevScene().Enabled());

  // Each command moves the scroll bar; the label, picture and status line follow it.
  const std::pair<tk::Menu*, int> steps[] = {{&probe.NextScene(), 2},  {&probe.NextScene(), 12},
                                             {&probe.NextScene(), 20}, {&probe.NextScene(), 25},
                                             {&probe.NextScene(), 25}, {&probe.PrevScene(), 20}};
  for (const auto& [command, position] : steps) {
    command->Action()->trigger();
    EXPECT_EQ(probe.HScroll().Value(), position);
    EXPECT_EQ(probe.Label().Caption(), " " + std::to_string(position));
  }
  EXPECT_EQ(probe.Status().Caption(), " 1999/12/31 23:59:58  00:12:34;25");
  EXPECT_TRUE(status->isVisible());
  form->hWnd()->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form->hWnd()));
  QTest::keyClick(probe.HScroll().Widget(), Qt::Key_P);  // the key, with the scroll bar focused
  EXPECT_EQ(probe.HScroll().Value(), 12);
  probe.Separate60();  // the first field's position of each scene's first frame
  probe.NextScene().Action()->trigger();
  EXPECT_EQ(probe.HScroll().Value(), 4);
  ExpectPicture(*probe.Source());

  // Video without recording times: the commands are greyed and the status line says nothing.
  probe.Load(MakeClip("rgb.avi", 64, 48));
  EXPECT_FALSE(probe.NextScene().Enabled() || probe.PrevScene().Enabled());
  EXPECT_FALSE(status->isVisible());
}

TEST_F(MainWindow, CopyAndPngHoldThePictureAsSaved) {
  frmMainProbe probe(*form);
  probe.Load(MakeClip("copy.avi", 37, 10, 3));
  probe.Separate60();
  probe.HScroll().SetValue(3);  // a line-doubled field
  const std::vector<std::optional<std::string>> names = {PathIn("shot"), PathIn("shot.png")};
  size_t next = 0;
  const FileDialogAnswerer previous = SetFileDialogAnswerer(
      [&](const FileDialogRequest&) -> std::optional<std::string> { return names[next++]; });
  for (size_t i = 0; i < names.size(); ++i) probe.Items()[1]->Action()->trigger();
  SetFileDialogAnswerer(previous);

  const std::vector<uint8_t> bmp = testutil::ReadFile(PathIn("shot.bmp"));
  ASSERT_GT(bmp.size(), 54u);
  const std::vector<uint8_t> pixels(bmp.begin() + 54, bmp.end());
  const auto png = testutil::FfmpegFrames(PathIn("shot.png"), 37, 10);
  ASSERT_EQ(png.size(), 1u);
  EXPECT_TRUE(testutil::SameDib(pixels, png[0], 37, 10));

  probe.Copy().Action()->trigger();
  const QImage copied =
      QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB888);
  ASSERT_EQ(copied.size(), QSize(37, 10));
  std::vector<uint8_t> dib(pixels.size());
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 37; ++x)
      for (int c = 0; c < 3; ++c)  // bottom row first, blue first
        dib[(9 - y) * testutil::Stride(37) + 3 * x + c] = copied.constScanLine(y)[3 * x + 2 - c];
  EXPECT_TRUE(testutil::SameDib(pixels, dib, 37, 10));
}

}  // namespace
