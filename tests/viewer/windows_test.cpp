// Qt's texts in Japanese, boxes centred over the window, the controls' stacking, the busy cursor.
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLibraryInfo>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QTranslator>
#include <cstdio>

#include "checked.h"
#include "commdlg.h"
#include "mainwindow.h"

namespace {

TEST(QtTexts, AreJapaneseWhereQtsTranslationsAreInstalled) {
  const bool installed = QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) +
                                       QStringLiteral("/qtbase_ja.qm"));
  QTranslator* translator = tk::InstallJapaneseTranslations();
  ASSERT_EQ(translator != nullptr, installed);  // without them Qt's English stays
  QFileDialog dialog;
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  EXPECT_EQ(dialog.windowTitle(), installed ? "名前を付けて保存" : "Save As");
  EXPECT_EQ(dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->text(),
            installed ? "キャンセル" : "Cancel");
  QCoreApplication::removeTranslator(translator);  // the other tests see Qt's own texts
  delete translator;
}

// A modal window as it was shown, and the override cursor meanwhile (-1 for none).
struct Shown {
  QRect frame;
  QScreen* screen = nullptr;
  int cursor = -1;
};
Shown WhileShown(const std::function<void()>& show) {
  Shown seen;
  QTimer::singleShot(0, [&] {  // from inside its event loop
    QWidget* modal = QApplication::activeModalWidget();
    ASSERT_NE(modal, nullptr);
    const QCursor* cursor = QGuiApplication::overrideCursor();
    seen = {modal->frameGeometry(), modal->screen(), cursor ? cursor->shape() : -1};
    modal->close();
  });
  show();
  return seen;
}

TEST_F(MainWindow, BoxesAndTheSaveDialogAreCentredOverTheWindowOnItsScreen) {
  QWidget* window = form->hWnd();
  QScreen* screen = QGuiApplication::screens().back();  // the second, where there are two
  std::printf("screens: %d\n", static_cast<int>(QGuiApplication::screens().size()));
  window->setScreen(screen);
  window->move(screen->availableGeometry().topLeft() + QPoint(60, 50));
  QCoreApplication::processEvents();
  ASSERT_EQ(window->screen(), screen);
  const QPoint centre = window->frameGeometry().center();
  const auto expectOver = [&](const Shown& shown, const char* what) {
    EXPECT_EQ(shown.screen, screen) << what;
    EXPECT_LE((shown.frame.center() - centre).manhattanLength(), 8) << what;
  };

  // As after a drop from a file manager: another program has the focus.
  QApplication::setActiveWindow(nullptr);
  Shown box;
  {
    const tk::BusyCursor busy;
    box = WhileShown([] { tk::ShowMessageBox("キャンセルされました"); });
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
  }
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  expectOver(box, "message box");
  EXPECT_EQ(box.cursor, Qt::ArrowCursor);  // the box wants a click, even during a load

  std::vector<char> file(256, '\0');
  OPENFILENAME record;  // no owner window
  record.lpstrFile = file.data();
  record.nMaxFile = static_cast<uint32_t>(file.size());
  expectOver(WhileShown([&] { EXPECT_EQ(GetSaveFileNameA(&record), 0); }), "save dialog");
}

TEST_F(MainWindow, TheScrollBarLiesOverTheLabelsLastColumn) {
  frmMainProbe probe(*form);
  EXPECT_EQ(form->Client()->childAt(167, 9), probe.Label().Widget());
  EXPECT_EQ(form->Client()->childAt(168, 9), probe.HScroll().Widget());
}

TEST_F(MainWindow, TheBusyCursorIsUpDuringALoadAndGoneAfterItHoweverItEnds) {
  frmMainProbe probe(*form);
  std::vector<int> shapes;  // the override cursor at each message
  bool fault = false;
  SetMessageBoxHandler([&](const std::string&) {
    const QCursor* cursor = QGuiApplication::overrideCursor();
    shapes.push_back(cursor ? cursor->shape() : -1);
    if (fault) throw OverflowError();
  });
  probe.Load(MakeClip("good.avi", 64, 48));
  probe.Load(PathIn("missing.avi"));  // the frame source's message, then the previous video again
  EXPECT_EQ(shapes, std::vector<int>{Qt::WaitCursor});
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

  fault = true;  // a run-time error in the middle of a load
  tk::Dispatch([&] { probe.Load(PathIn("missing.avi")); });
  EXPECT_EQ(shapes.size(), 2u);
  EXPECT_EQ(errors.size(), 1u);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

}  // namespace
