// A top-level window of the toolkit: caption, optional menu bar, a client area of controls and a
// device context that paints into the client area. Sizes and places are logical pixels of the
// 96-dpi layout; Qt scales the whole client area, picture included, to the screen.
//
// The device context is a picture the size of the client area that the window shows: what was
// last painted comes back by itself when the window is uncovered, resized or restored. Nothing
// else repaints it: clear it with Cls and paint it again where a full repaint is wanted.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "controls.h"
#include "devicecontext.h"

class QEventLoop;
class QWidget;

namespace tk {

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

  void Load();       // raises the load event unless the window is loaded already
  void Show();       // loads first; the first showing raises the activate event
  void ShowModal();  // shown and waited for until closed; the form that was active is activated
  void Close();      // as the close box: the unload event, then the window goes (a later Show loads
                     // it again)
  bool Visible() const;

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption);
  QWidget* hWnd() const;  // the top-level window: owner of dialogs
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

  // Controls, in creation order; they stay where they are put when the window is resized.
  Menu& AddMenu(const std::string& caption);  // a menu-bar entry, at the end of the bar
  HScrollBar& AddHScrollBar(int32_t x, int32_t y, int32_t width, int32_t height);
  Label& AddLabel(int32_t x, int32_t y, int32_t width, int32_t height);

 private:
  class Window;
  class ClientArea;
  friend class Window;
  friend class ClientArea;

  void Activate();
  void Closing();  // the close event: unload, then ready to be loaded again

  Window* window_;
  ClientArea* client_;
  int32_t initialWidth_, initialHeight_;  // client area at creation
  std::string caption_;
  uint32_t backColor_ = 0xF0F0F0;
  float scaleWidth_, scaleHeight_;  // twips at creation: 15 per pixel
  bool loaded_ = false, shown_ = false;
  std::function<void()> load_, activate_, click_, unload_;
  std::vector<std::unique_ptr<Menu>> menus_;
  std::vector<std::unique_ptr<HScrollBar>> scrollBars_;
  std::vector<std::unique_ptr<Label>> labels_;
  QEventLoop* modalLoop_ = nullptr;  // of a running ShowModal
};

}  // namespace tk
