// For a look at what a user meets in the first minute, under scripts/screenshot: the main window
// with a file dialog, a message box or the error box over it, or in a long load; on the last
// screen where there are several.
//   dovrel-ui-preview open|cancel|save|failed|error|busy [FILE]
//   dovrel-ui-preview show FILE [POSITION [1/60]]      a video at a position, in either view
// Once the thing to look at is up it puts the mouse pointer over it and creates the file named
// by DOVREL_PREVIEW_READY. busy writes FILE first when it is missing: an AVI without an index of
// many small frames, so that opening it scans for seconds.
#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QFile>
#include <QMimeData>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

#include "aviwriter.h"
#include "checked.h"
#include "frmMain.h"
#include "program.h"
#include "windowprobes.h"

namespace {

void Ready(const QWidget* over) {
  if (over) QCursor::setPos(over->frameGeometry().center());
  QFile ready(qEnvironmentVariable("DOVREL_PREVIEW_READY"));
  if (!ready.fileName().isEmpty()) ready.open(QIODevice::WriteOnly);
}

// The modal window that is up by then, once its loop runs.
void ReadyWhenModal() {
  QTimer::singleShot(500, [] { Ready(QApplication::activeModalWidget()); });
}

void Choose(frmMain& form, const char* caption) {
  for (QAction* action : form.hWnd()->findChildren<QAction*>())
    if (action->text() == QString::fromUtf8(caption)) action->trigger();
}

void Drop(frmMain& form, const std::string& path) {
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
  SimulateDrop(form, data, 360, 260);
}

void WriteLongClip(const std::string& path) {
  if (std::filesystem::exists(path)) return;
  AviWriterOptions options;
  options.index = AviWriterOptions::Index::kNone;
  AviWriter writer(path, AviWriter::Format(4, 4, 24), options);
  const std::vector<uint8_t> frame(48, 0x80);
  for (int i = 0; i < 6'000'000; ++i) writer.AddFrame(frame);
  writer.Close();
}

}  // namespace

int main(int argc, char** argv) {
  tk::Application app(argc, argv);
  const std::string mode = argc > 1 ? argv[1] : "";
  const std::string file = argc > 2           ? argv[2]
                           : mode == "failed" ? "/tmp/dovrel-preview-not-a-video.avi"
                                              : "/tmp/dovrel-preview-long.avi";
  if (mode == "busy") WriteLongClip(file);
  frmMain form;
  form.Show();
  // Where there are more screens, on the last one, away from its corner.
  if (QGuiApplication::screens().size() > 1)
    form.hWnd()->move(QGuiApplication::screens().back()->availableGeometry().topLeft() +
                      QPoint(100, 80));
  QTimer::singleShot(500, [&] {
    if (mode == "open" || mode == "cancel") {
      if (mode == "open") {
        ReadyWhenModal();
      } else {
        QTimer::singleShot(300, [] { QApplication::activeModalWidget()->close(); });
        QTimer::singleShot(600, ReadyWhenModal);
      }
      Choose(form, " AVIを開く(O)");
    } else if (mode == "save") {
      Drop(form, tk::App::Path() + "/sample.avi");
      ReadyWhenModal();
      Choose(form, " BMPを保存(S)");
    } else if (mode == "failed") {
      std::FILE* text = std::fopen(file.c_str(), "w");
      if (text) std::fclose(text);
      ReadyWhenModal();
      Drop(form, file);
    } else if (mode == "error") {
      ReadyWhenModal();
      tk::Dispatch([] { throw OverflowError(); });
    } else if (mode == "show") {
      // Each step once the one before has run its course through the event loop.
      Drop(form, file);
      QTimer::singleShot(300, [&form, argc, argv] {
        frmMainProbe probe(form);
        if (argc > 4 && std::string(argv[4]) == "1/60") probe.Separate60();
        QTimer::singleShot(300, [&form, argc, argv] {
          tk::HScrollBar& scroll = frmMainProbe(form).HScroll();
          if (argc > 3) scroll.SetValue(std::clamp(std::stoi(argv[3]), scroll.Min(), scroll.Max()));
          QTimer::singleShot(300, [] { Ready(nullptr); });
        });
      });
    } else if (mode == "busy") {
      // The progress box shows half a second into the scan; the timer runs in its updates.
      QTimer::singleShot(1500, [] { Ready(QApplication::activeModalWidget()); });
      Drop(form, file);
    }
  });
  return app.Run();
}
