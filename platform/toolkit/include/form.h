// A top-level window of the toolkit: caption, optional menu bar, a client area of controls and a
// device context that paints into the client area. Sizes and places are logical pixels of the
// 96-dpi layout; Qt scales them to the screen, and the device context paints in the screen's
// own pixels (devicecontext.h).
//
// The device context is a picture the size of the client area that the window shows: what was
// last painted comes back by itself when the window is uncovered, resized or restored. Nothing
// else repaints it: clear it with Cls and paint it again where a full repaint is wanted.
#pragma once

#include <QPoint>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "controls.h"
#include "devicecontext.h"

class QDropEvent;
class QEventLoop;
class QMimeData;
class QWidget;

namespace tk {

// Clipboard formats a drop's data object may hold.
inline constexpr int16_t vbCFText = 1;
inline constexpr int16_t vbCFFiles = 15;  // a list of files
// Drop effects.
inline constexpr int32_t vbDropEffectNone = 0;
inline constexpr int32_t vbDropEffectCopy = 1;
inline constexpr int32_t vbDropEffectMove = 2;
inline constexpr int32_t vbDropEffectLink = 4;

// What a drop brought, as its handler sees it. A file list is the local files among the dropped
// URLs; other URLs are not files and are left out.
class DataObject {
 public:
  explicit DataObject(const QMimeData& data);

  bool GetFormat(int16_t format) const;  // vbCFFiles: at least one file; vbCFText: text
  int32_t FilesCount() const { return static_cast<int32_t>(files_.size()); }
  // A native path (the file system's bytes: UTF-8 names as they are). From 1; run-time error 9
  // outside 1 to FilesCount.
  const std::string& Files(int32_t index) const;

 private:
  std::vector<std::string> files_;
  bool text_ = false;
};

// The data, the effect the source proposed (the handler may change it), the mouse buttons (1
// left, 2 right, 4 middle), the keys (1 shift, 2 ctrl, 4 alt), and the place in the form's
// logical scale.
using DropHandler = std::function<void(DataObject& data, int32_t& effect, int16_t button,
                                       int16_t shift, float x, float y)>;

class Form {
 public:
  Form(int32_t clientWidth, int32_t clientHeight);  // hidden; nothing is raised yet
  virtual ~Form();
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  // Events, each run through Dispatch.
  void OnLoad(std::function<void()> handler);      // before the window is first shown
  void OnActivate(std::function<void()> handler);  // first showing; a modal form of ours closed
  void OnClick(std::function<void()> handler);     // a left click on the client area, not a control
  void OnUnload(std::function<void()> handler);    // being closed; closing is never refused
  // Drop mode manual: with a handler, every drag over the window is accepted, whatever it
  // carries, so that every drop reaches the handler. Without one the window takes no drops.
  void OnOLEDragDrop(DropHandler handler);

  void Load();       // raises the load event unless the window is loaded already
  void Show();       // loads first; the first showing raises the activate event
  void ShowModal();  // shown and waited for until closed; the form that was active is activated
  void Close();      // as the close box: the unload event, then the window goes (a later Show loads
                     // it again)
  bool Visible() const;
  // Runs the handler through Dispatch once the event loop is free, unless the window has gone.
  void Later(std::function<void()> handler);

  // The frame: sizable with minimise and maximise (the default), or a fixed dialog frame with a
  // caption and a close box only. A fixed dialog is a dialog window (transient, so the task bar
  // leaves it out) in the dialog font, 11 pixels. Set before the first showing and before the
  // controls' own fonts.
  enum class BorderStyle { kSizable, kFixedDialog };
  void SetBorderStyle(BorderStyle style);
  // The client area's top-left corner at the first showing, logical pixels from the top-left of
  // the screen the program's active window is on; by default the window system places it.
  void SetClientPosition(int32_t x, int32_t y);

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption);
  QWidget* hWnd() const;  // the top-level window: owner of dialogs
  static Form* Active();  // the program's active form: the last one activated; none at first
  HDC hDC();              // pixels from the client area's top-left corner
  void Cls();             // the whole client area in the background colour; controls stay
  uint32_t BackColor() const { return backColor_; }  // 0x00RRGGBB
  void SetBackColor(uint32_t rgb);                   // clears the window in it
  // The logical drawing scale: kept for the caller, no effect on painting.
  float ScaleWidth() const { return scaleWidth_; }
  float ScaleHeight() const { return scaleHeight_; }
  void SetScaleWidth(float width) { scaleWidth_ = width; }
  void SetScaleHeight(float height) { scaleHeight_ = height; }

  QWidget* Client() const;  // the client area, parent of the controls
  int32_t ClientWidth() const;
  int32_t ClientHeight() const;
  // The largest client area the window can have on the screen it is on: the screen's area less
  // the task bars, the window's frame and its menu bar. Logical pixels, as everything here.
  struct Extent {
    int32_t width = 0, height = 0;
  };
  Extent AvailableClientArea() const;
  // Sizes the shown window so that its client area is width x height, and moves it where it
  // would then reach past its screen's area. Controls keep their places.
  void SetClientSize(int32_t width, int32_t height);

  // Controls, in creation order; they stay where they are put when the window is resized.
  // Labels and lines are drawn on the window itself, so the other controls lie above every one
  // of them wherever they overlap; among themselves, a later one lies above an earlier one.
  Menu& AddMenu(const std::string& caption);  // a menu-bar entry, at the end of the bar
  HScrollBar& AddHScrollBar(int32_t x, int32_t y, int32_t width, int32_t height);
  Label& AddLabel(int32_t x, int32_t y, int32_t width, int32_t height);  // in the form's colour
  CommandButton& AddCommandButton(int32_t x, int32_t y, int32_t width, int32_t height);
  PictureBox& AddPictureBox(int32_t x, int32_t y, int32_t width, int32_t height);
  Line& AddLine(int32_t x1, int32_t y1, int32_t x2, int32_t y2);

 private:
  class Window;
  class ClientArea;
  friend class Window;
  friend class ClientArea;
  friend class CommandButton;

  void Activate();
  void Closing();          // the close event: unload, then ready to be loaded again
  void OrderTabs();        // the buttons' focus chain by tab index
  bool PressKey(int key);  // Enter and Esc: the default or focused, the cancel button
  void Dropped(QDropEvent* event);
  void StackDrawn(QWidget* drawn);  // a label or line: below every other control

  Window* window_;
  ClientArea* client_;
  int32_t initialWidth_, initialHeight_;  // client area at creation
  std::string caption_;
  uint32_t backColor_ = 0xF0F0F0;
  float scaleWidth_, scaleHeight_;  // twips at creation: 15 per pixel
  bool loaded_ = false, shown_ = false;
  std::function<void()> load_, activate_, click_, unload_;
  DropHandler drop_;
  BorderStyle borderStyle_ = BorderStyle::kSizable;
  bool placed_ = false;                // a client position was given
  int32_t clientX_ = 0, clientY_ = 0;  // on the screen, from its top-left corner
  QPoint screenOrigin_;                // of the screen the form was placed on
  std::vector<std::unique_ptr<Menu>> menus_;
  std::vector<std::unique_ptr<HScrollBar>> scrollBars_;
  std::vector<std::unique_ptr<Label>> labels_;
  std::vector<std::unique_ptr<CommandButton>> buttons_;
  std::vector<std::unique_ptr<PictureBox>> pictures_;
  std::vector<std::unique_ptr<Line>> lines_;
  CommandButton* defaultButton_ = nullptr;
  CommandButton* cancelButton_ = nullptr;
  QEventLoop* modalLoop_ = nullptr;  // of a running ShowModal
};

}  // namespace tk
