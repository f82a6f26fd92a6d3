#include "program.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QIcon>
#include <QImage>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QScreen>
#include <QShowEvent>
#include <QTranslator>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string_view>
#include <system_error>
#include <utility>

#include "appicon.h"
#include "checked.h"
#include "dib.h"
#include "form.h"
#include "msgbox.h"

namespace tk {

// ---- Application ------------------------------------------------------------------------------

std::string App::Title() {
  return std::string(kAppTitle);
}

std::string App::Path() {
  std::error_code error;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return ".";
  std::string folder = exe.parent_path().string();
  return folder.empty() ? "/" : folder;
}

int App::Major() {
  return DOVREL_VERSION_MAJOR;
}
int App::Minor() {
  return DOVREL_VERSION_MINOR;
}
int App::Revision() {
  return DOVREL_VERSION_PATCH;
}

std::optional<int32_t> GetAttr(const std::string& path) {
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return std::nullopt;
  int32_t attr = S_ISDIR(st.st_mode) ? vbDirectory : vbNormal;
  if (::access(path.c_str(), W_OK) != 0) attr |= vbReadOnly;
  std::string_view name = path;
  while (name.size() > 1 && name.back() == '/') name.remove_suffix(1);
  const size_t slash = name.rfind('/');
  if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
  if (name.size() > 1 && name[0] == '.' && name != "..") attr |= vbHidden;
  return attr;
}

// ---- Dispatch and the error box ---------------------------------------------------------------

namespace {

ErrorBoxHandler& ErrorBoxSlot() {
  static ErrorBoxHandler handler;
  return handler;
}

struct EndState {
  bool ended = false;
  int status = 0;
  EndHandler handler;
};
EndState& Ending() {
  static EndState state;
  return state;
}

bool HaveGui() {
  return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

// A box of the program's own kind: OK only, plain text, no icon on the button, centred over the
// window that shows it.
class Box : public QMessageBox {
 public:
  Box(Icon icon, const std::string& text)
      : QMessageBox(icon, QString::fromStdString(App::Title()), QString::fromStdString(text), Ok,
                    ProgramWindow()) {
    setTextFormat(Qt::PlainText);
    button(Ok)->setIcon(QIcon());
  }

 protected:
  void showEvent(QShowEvent* event) override {
    QMessageBox::showEvent(event);  // sizes the box
    if (!event->spontaneous()) CentreOver(this, parentWidget());
  }
};

// The arrow over a box while a busy cursor is up: the box wants a click.
class ArrowCursor {
 public:
  ArrowCursor() : set_(QGuiApplication::overrideCursor() != nullptr) {
    if (set_) QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
  }
  ~ArrowCursor() {
    if (set_) QGuiApplication::restoreOverrideCursor();
  }
  ArrowCursor(const ArrowCursor&) = delete;
  ArrowCursor& operator=(const ArrowCursor&) = delete;

 private:
  bool set_;
};

void ShowBox(QMessageBox::Icon icon, const std::string& text) {
  HideProgressBox();
  Box box(icon, text);
  const ArrowCursor arrow;
  box.exec();
}

void ShowErrorBox(const std::string& text) {
  if (!HaveGui()) {
    std::fprintf(stderr, "%s\n", text.c_str());
    return;
  }
  ShowBox(QMessageBox::Critical, text);
}

void DefaultEnd(int status) {
  if (!HaveGui()) std::exit(status);
  for (QWidget* w : QApplication::topLevelWidgets()) w->hide();
  QCoreApplication::exit(status);  // every running event loop returns
}

void Fail(const std::string& text) {
  ErrorBox(text);
  End(1);
}

// The error box's text, in the program's language.
std::string RunTimeErrorText(int number, const std::string& description) {
  std::string text = "実行時エラー '" + std::to_string(number) + "':\n\n";
  switch (number) {
    case 6:
      return text + "オーバーフローしました。";
    case 7:
      return text + "メモリが不足しています。";
    case 9:
      return text + "インデックスが有効範囲にありません。";
    case 380:
      return text + "プロパティの値が不正です。";
    default:
      return text + description;
  }
}

}  // namespace

void Dispatch(const std::function<void()>& handler) {
  if (ProgramEnded() || !handler) return;
  try {
    handler();
  } catch (const RuntimeError& e) {
    Fail(RunTimeErrorText(e.number(), e.what()));
  } catch (const std::bad_alloc&) {
    Fail(RunTimeErrorText(7, ""));
  } catch (const std::exception& e) {
    Fail(std::string("実行時エラー:\n\n") + e.what());
  } catch (...) {
    Fail("実行時エラー:\n\n原因不明のエラーです。");
  }
}

ErrorBoxHandler SetErrorBoxHandler(ErrorBoxHandler handler) {
  return std::exchange(ErrorBoxSlot(), std::move(handler));
}

void ErrorBox(const std::string& text) {
  if (ErrorBoxSlot()) {
    ErrorBoxSlot()(text);
  } else {
    ShowErrorBox(text);
  }
}

// ---- End of the program -----------------------------------------------------------------------

void End(int status) {
  EndState& s = Ending();
  if (s.ended) return;
  s.ended = true;
  s.status = status;
  if (s.handler) {
    s.handler(status);
  } else {
    DefaultEnd(status);
  }
}

bool ProgramEnded() {
  return Ending().ended;
}
int EndStatus() {
  return Ending().status;
}

EndHandler SetEndHandler(EndHandler handler) {
  return std::exchange(Ending().handler, std::move(handler));
}

void ResetProgramEnd() {
  Ending().ended = false;
  Ending().status = 0;
}

// ---- Placement, cursor and language of the program's windows -------------------------------

QWidget* ProgramWindow() {
  if (const Form* form = Form::Active(); form && form->Visible()) return form->hWnd();
  return HaveGui() ? QApplication::activeWindow() : nullptr;
}

void CentreOver(QWidget* dialog, const QWidget* window) {
  QScreen* screen = window ? window->screen() : QGuiApplication::primaryScreen();
  if (!dialog || !screen) return;
  const QRect area = screen->availableGeometry();  // device-independent pixels, as the window's
  QRect placed(QPoint(0, 0), dialog->frameGeometry().size());
  placed.moveCenter(window ? window->frameGeometry().center() : screen->geometry().center());
  // Inside the screen; a box larger than it keeps its caption bar reachable.
  placed.moveRight(std::min(placed.right(), area.right()));
  placed.moveBottom(std::min(placed.bottom(), area.bottom()));
  placed.moveLeft(std::max(placed.left(), area.left()));
  placed.moveTop(std::max(placed.top(), area.top()));
  if (dialog->screen() != screen) dialog->setScreen(screen);
  dialog->move(placed.topLeft());
}

BusyCursor::BusyCursor() : set_(HaveGui()) {
  if (set_) QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

BusyCursor::~BusyCursor() {
  if (set_) QGuiApplication::restoreOverrideCursor();
}

QTranslator* InstallJapaneseTranslations() {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return nullptr;
  auto* translator = new QTranslator(app);
  if (!translator->load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qtbase"),
                        QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return nullptr;
  }
  QCoreApplication::installTranslator(translator);
  return translator;
}

// ---- The application object -------------------------------------------------------------------

Application::Application(int& argc, char** argv) {
  app_ = std::make_unique<QApplication>(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("dovrel"));
  QCoreApplication::setApplicationVersion(
      QStringLiteral("%1.%2.%3").arg(App::Major()).arg(App::Minor()).arg(App::Revision()));
  QApplication::setWindowIcon(ProgramIcon());  // message boxes and file dialogs too
  QGuiApplication::setDesktopFileName(QStringLiteral("dovrel"));  // our menu entry
  // Every text of the program is Japanese, so Qt's are too, whatever the user's locale.
  InstallJapaneseTranslations();
  SetMessageBoxHandler(ShowMessageBox);
}

Application::~Application() {
  SetMessageBoxHandler({});
  app_.reset();
}

int Application::Run() {
  if (ProgramEnded()) return EndStatus();  // ended before the loop began (an error at load)
  const int status = QApplication::exec();
  return ProgramEnded() ? EndStatus() : status;
}

void ShowMessageBox(const std::string& text) {
  ShowBox(QMessageBox::NoIcon, text);
}

bool SetClipboardPicture(int32_t width, int32_t height, const std::vector<uint8_t>& pixels) {
  const int64_t stride = DibStride(width, 24);
  if (width <= 0 || height <= 0 || static_cast<int64_t>(pixels.size()) < stride * height)
    return false;
  // The DIB's rows bottom up, its bytes blue first: read as they are, turned the right way up,
  // and copied, so the clipboard holds its own picture.
  const QImage dib(pixels.data(), width, height, static_cast<qsizetype>(stride),
                   QImage::Format_BGR888);
  QGuiApplication::clipboard()->setImage(dib.mirrored(false, true));
  return true;
}

}  // namespace tk
