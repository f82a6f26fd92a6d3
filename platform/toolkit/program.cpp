#include "program.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <utility>

#include "appicon.h"
#include "checked.h"
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

// A box of the program's own kind: OK only, plain text, no icons on the button.
void ShowBox(QMessageBox::Icon icon, const std::string& text) {
  QMessageBox box(icon, QString::fromStdString(App::Title()), QString::fromStdString(text),
                  QMessageBox::Ok, QApplication::activeWindow());
  box.setTextFormat(Qt::PlainText);
  box.button(QMessageBox::Ok)->setIcon(QIcon());
  box.exec();
}

void ShowErrorBox(const std::string& text) {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
    std::fprintf(stderr, "%s\n", text.c_str());
    return;
  }
  ShowBox(QMessageBox::Critical, text);
}

void DefaultEnd(int status) {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) std::exit(status);
  for (QWidget* w : QApplication::topLevelWidgets()) w->hide();
  QCoreApplication::exit(status);  // every running event loop returns
}

void Fail(const std::string& text) {
  ErrorBox(text);
  End(1);
}

}  // namespace

void Dispatch(const std::function<void()>& handler) {
  if (ProgramEnded() || !handler) return;
  try {
    handler();
  } catch (const RuntimeError& e) {
    Fail("Run-time error '" + std::to_string(e.number()) + "':\n\n" + e.what());
  } catch (const std::exception& e) {
    Fail(std::string("Run-time error:\n\n") + e.what());
  } catch (...) {
    Fail("Run-time error:\n\nUnknown error");
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

// ---- The application object -------------------------------------------------------------------

Application::Application(int& argc, char** argv) {
  app_ = std::make_unique<QApplication>(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("dovrel"));
  QCoreApplication::setApplicationVersion(
      QStringLiteral("%1.%2.%3").arg(App::Major()).arg(App::Minor()).arg(App::Revision()));
  QApplication::setWindowIcon(ProgramIcon());  // message boxes and file dialogs too
  QGuiApplication::setDesktopFileName(QStringLiteral("dovrel"));  // our menu entry
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

}  // namespace tk
