// The program as the window toolkit sees it: the application's own properties, the file-attribute
// query, the dispatch of event handlers with its standard error box, and the end of the program.
#pragma once

#include <QPointer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QApplication;
class QTranslator;
class QWidget;

namespace tk {

// ---- Application ------------------------------------------------------------------------------

struct App {
  static std::string Title();  // "Quorlin": captions every message box
  static std::string Path();   // folder of the program file, without a trailing '/'
  static int Major();          // version 3.1.0
  static int Minor();
  static int Revision();
};

// Attribute bits of a path, as the platform reports them; nothing when it cannot be queried.
inline constexpr int32_t vbNormal = 0;
inline constexpr int32_t vbReadOnly = 1;  // we may not write it
inline constexpr int32_t vbHidden = 2;    // its name begins with '.'
inline constexpr int32_t vbDirectory = 16;
std::optional<int32_t> GetAttr(const std::string& path);

// ---- Dispatch and the error box ---------------------------------------------------------------

// Runs one event handler to completion. Nothing runs once the program has ended. A run-time error
// (or any other exception) that leaves the handler is shown in the error box, and the program
// then ends with status 1.
void Dispatch(const std::function<void()>& handler);

// The standard error box: modal, OK only, captioned "Quorlin". Tests replace it with a recorder;
// an empty handler restores the toolkit's own box.
using ErrorBoxHandler = std::function<void(const std::string& text)>;
ErrorBoxHandler SetErrorBoxHandler(ErrorBoxHandler handler);
void ErrorBox(const std::string& text);

// ---- End of the program -----------------------------------------------------------------------

// Ends the program at once: every window goes and no further event handler runs. The caller
// returns straight away; the event loop then stops and the process exits with the status.
void End(int status = 0);
bool ProgramEnded();
int EndStatus();

// What End does after marking the program as ended; tests observe it without exiting. An empty
// handler restores the default (windows hidden, event loop stopped).
using EndHandler = std::function<void(int status)>;
EndHandler SetEndHandler(EndHandler handler);
void ResetProgramEnd();  // tests: the next case starts with a running program

// ---- Placement, cursor and language of the program's windows -------------------------------

// The window the program's boxes and dialogs belong over: the active form's window while it is
// shown, else Qt's active window; none before anything is shown.
QWidget* ProgramWindow();

// Moves a top-level dialog, its size known, so that it sits centred over the window (none:
// centred on the primary screen), kept inside that window's screen. Call it from the dialog's
// show event, before the window system maps it.
void CentreOver(QWidget* dialog, const QWidget* window);

// The busy cursor over every window of the program while it lives, for work that keeps the
// event loop waiting (a load scans a whole tape). Boxes shown meanwhile keep the arrow.
class BusyCursor {
 public:
  BusyCursor();
  ~BusyCursor();
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;

 private:
  bool set_ = false;
};

// The progress of long work that runs on the program's own thread (a load that indexes a whole
// file), which calls Update now and then. Once the work has gone on for the delay, a modal box
// over the program's window shows the text, a bar and a cancel button; from then on each Update
// lets every window paint and the box take its cancel (its button, Esc, its close box). Before
// that nothing runs but the work, as under a busy cursor. A message box shown meanwhile hides it.
class ProgressBox {
 public:
  ProgressBox(const std::string& text, const std::string& cancelCaption);
  ~ProgressBox();
  ProgressBox(const ProgressBox&) = delete;
  ProgressBox& operator=(const ProgressBox&) = delete;

  // done of total (total 0: not known). False once the user cancelled or the program ended.
  bool Update(uint64_t done, uint64_t total);

  class Dialog;

 private:
  std::string text_, cancelCaption_;
  std::chrono::steady_clock::time_point started_, painted_;
  QPointer<Dialog> dialog_;  // once shown; owned here
  bool cancelled_ = false;
};
// How long work goes before its progress box shows: half a second, or what a test sets. Returns
// the delay it replaces.
std::chrono::milliseconds SetProgressDelay(std::chrono::milliseconds delay);
// Hides the progress box that is up, for a box over it.
void HideProgressBox();

// Qt's own texts (dialog buttons, file dialog labels) in Japanese, the language of every text of
// the program, whatever the user's locale. Returns the installed translator, owned by the
// application, or null when the translations are not installed (Qt's English texts stay).
QTranslator* InstallJapaneseTranslations();

// ---- The clipboard -----------------------------------------------------------------------------

// Puts a picture on the system clipboard as an image: height rows of width BGR pixels, bottom row
// first, each row padded to 4 bytes (a 24-bit DIB's pixels). False when the bytes are fewer.
bool SetClipboardPicture(int32_t width, int32_t height, const std::vector<uint8_t>& pixels);

// ---- The application object -------------------------------------------------------------------

// Owns the toolkit's application state for main(): puts the toolkit's message box behind MsgBox.
class Application {
 public:
  Application(int& argc, char** argv);
  ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  int Run();  // the event loop, until End; returns the end status

 private:
  std::unique_ptr<QApplication> app_;
};

// The toolkit's message box behind MsgBox: modal, OK only, no icon, caption "Quorlin".
void ShowMessageBox(const std::string& text);

}  // namespace tk
