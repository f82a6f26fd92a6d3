// Qt's own texts in Japanese, boxes and dialogs centred over the program's window on its own
// screen, the scroll bar over the label's last column, the busy cursor during a load.
#include <QCursor>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLibraryInfo>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QTranslator>

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
  const auto* buttons = dialog.findChild<QDialogButtonBox*>();
  ASSERT_NE(buttons, nullptr);
  EXPECT_EQ(buttons->button(QDialogButtonBox::Cancel)->text(), installed ? "キャンセル" : "Cancel");
  if (translator) {
    QCoreApplication::removeTranslator(translator);
    delete translator;
  }
}

// A modal window as it was shown: caught from inside its event loop, then closed.
struct Shown {
  QRect frame;
  QScreen* screen = nullptr;
  int cursor = -1;  // the override cursor's shape meanwhile; -1 for none
};
Shown WhileShown(const std::function<void()>& show) {
  Shown seen;
  QTimer::singleShot(0, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    ASSERT_NE(modal, nullptr);
    seen = {modal->frameGeometry(), modal->screen(), -1};
    if (const QCursor* cursor = QGuiApplication::overrideCursor()) seen.cursor = cursor->shape();
    modal->close();
  });
  show();
  return seen;
}

TEST_F(MainWindow, BoxesAndTheSaveDialogAreCentredOverTheWindowOnItsScreen) {
  QWidget* window = form->hWnd();
  QScreen* screen = QGuiApplication::screens().back();  // the second, where there are two
  window->setScreen(screen);
  window->move(screen->availableGeometry().topLeft() + QPoint(60, 50));
  QCoreApplication::processEvents();
  ASSERT_EQ(window->screen(), screen);
  const QPoint centre = window->frameGeometry().center();
  const auto expectOver = [&](const Shown& shown, const char* what) {
    EXPECT_EQ(shown.screen, screen) << what;
    EXPECT_LE((shown.frame.center() - centre).manhattanLength(), 8)
        << what << " at " << shown.frame.x() << ", " << shown.frame.y() << " size "
        << shown.frame.width() << " x " << shown.frame.height();
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
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
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
