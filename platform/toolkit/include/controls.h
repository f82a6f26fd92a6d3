// The controls of a window: menu items, the horizontal scroll bar, the label, the command button,
// the picture box and the line. Each is a thin layer over its Qt widget; a Form creates them and
// keeps them for its whole life. Every event the user raises runs its handler through Dispatch.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QImage;
class QLabel;
class QMenu;
class QPushButton;
class QScrollBar;
class QWidget;

namespace tk {

class Form;

// A menu-bar entry or an item of its menu. Captions are plain text: '&' marks no access key.
class Menu {
 public:
  Menu(const Menu&) = delete;
  Menu& operator=(const Menu&) = delete;
  ~Menu();

  Menu& AddItem(const std::string& caption);  // an item of this menu-bar entry, at the end
  void AddSeparator();                        // a line after the items so far
  // The key that chooses an item from anywhere in its window, e.g. "Ctrl+C" or "N"; shown
  // beside its caption. Items have none unless given one.
  void SetShortcut(const std::string& keys);
  void OnClick(std::function<void()> handler);  // item chosen (a bar entry: its menu opens)

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption);
  bool Enabled() const;
  void SetEnabled(bool enabled);  // a disabled menu-bar entry is greyed and cannot be opened

  QAction* Action() const { return action_; }  // of a bar entry: the action that opens its menu
  QMenu* SubMenu() const { return menu_; }     // the items' menu; null for an item

 private:
  friend class Form;
  Menu(QMenu* menu, const std::string& caption);      // a bar entry
  Menu(QAction* action, const std::string& caption);  // an item

  QMenu* menu_ = nullptr;
  QAction* action_ = nullptr;
  std::string caption_;
  std::function<void()> click_;
  std::vector<std::unique_ptr<Menu>> items_;
};

// A horizontal scroll bar with 32-bit signed value and maximum, minimum 0, small and large
// change 1. A program assignment that changes the value, or a maximum below the value, raises
// the change event at once, nested in the caller (an error in it passes to the caller). The user
// raises the change event with the arrows, the trough, the keys and the release of a dragged
// thumb, and the scroll event while the thumb is dragged: once for the newest position each
// time the event loop comes round, so moves that queue up behind a slow handler are not worked
// off one by one after the mouse has stopped.
class HScrollBar {
 public:
  HScrollBar(const HScrollBar&) = delete;
  HScrollBar& operator=(const HScrollBar&) = delete;

  int32_t Value() const;         // during a drag: the thumb's position
  void SetValue(int32_t value);  // RuntimeError 380 outside the range
  int32_t Max() const { return max_; }
  void SetMax(int32_t max);
  int32_t Min() const { return 0; }
  int16_t SmallChange() const { return 1; }
  int16_t LargeChange() const { return 1; }
  bool Enabled() const;
  void SetEnabled(bool enabled);
  void SetFocus();                                                 // the keys then move it
  void Move(int32_t x, int32_t y, int32_t width, int32_t height);  // client-area pixels

  void OnChange(std::function<void()> handler);
  void OnScroll(std::function<void()> handler);

  QScrollBar* Widget() const { return bar_; }

 private:
  friend class Form;
  explicit HScrollBar(QScrollBar* bar);
  void RaiseChange();  // the program's change: nested, errors pass to the caller
  void Dragged();      // the thumb moved: the scroll event, once the queued moves are in
  void RaiseScroll();

  QScrollBar* bar_;
  int32_t max_ = 32767;
  int pressValue_ = 0;          // value when the thumb was taken
  bool scrollPending_ = false;  // a drag position waits for its scroll event
  std::function<void()> change_, scroll_;
};

// A label of plain text, from its top-left corner; one line unless it wraps. Wrapped lines are
// set one em apart, as the platform's UI fonts set them (Qt's fallback faces for Japanese would
// space them half as much again).
class Label {
 public:
  enum class Alignment { kLeft, kRight, kCenter };

  Label(const Label&) = delete;
  Label& operator=(const Label&) = delete;

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption);
  void SetAlignment(Alignment alignment);
  void SetWordWrap(bool wrap);  // broken into lines at the label's width, from the top
  // The first installed face of the list (any serif if none is), size in points at 96 dpi.
  void SetFont(const std::vector<std::string>& faces, double points);
  void SetBackColor(uint32_t rgb);  // 0x00RRGGBB
  void SetForeColor(uint32_t rgb);
  void Move(int32_t x, int32_t y, int32_t width, int32_t height);  // client-area pixels
  void SetVisible(bool visible);                                   // shown at creation

  QLabel* Widget() const;

 private:
  friend class Form;
  friend struct LabelProbe;  // tests count the wrapped lines
  class Text;
  explicit Label(QWidget* parent);

  Text* label_;
  std::string caption_;
};

// A push button. Enter presses the form's default button (or the focused button), Esc its cancel
// button; a form has at most one of each. The button with the lowest tab index takes the focus
// when the form is first shown, and Tab goes through the buttons in tab-index order.
class CommandButton {
 public:
  CommandButton(const CommandButton&) = delete;
  CommandButton& operator=(const CommandButton&) = delete;

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption);
  bool Default() const;
  void SetDefault(bool isDefault);  // the form's other buttons stop being default
  bool Cancel() const;
  void SetCancel(bool isCancel);  // the form's other buttons stop being cancel
  int16_t TabIndex() const { return tabIndex_; }
  void SetTabIndex(int16_t index);
  bool Enabled() const;
  void SetEnabled(bool enabled);
  void SetFocus();

  void OnClick(std::function<void()> handler);  // mouse, space, Enter or Esc as above

  QPushButton* Widget() const { return button_; }

 private:
  friend class Form;
  CommandButton(Form* form, QPushButton* button, int16_t tabIndex);

  Form* form_;
  QPushButton* button_;
  std::string caption_;
  int16_t tabIndex_;
  std::function<void()> click_;
};

// A picture in a sunken 2-pixel border (or none). Sized to its picture, the box keeps its place
// and takes the picture's size plus the border; otherwise the picture sits at the top-left and
// is cut off at the box's edge.
class PictureBox {
 public:
  PictureBox(const PictureBox&) = delete;
  PictureBox& operator=(const PictureBox&) = delete;

  void SetPicture(const QImage& picture);
  void SetAutoSize(bool sizedToPicture);
  void SetBorder(bool border);  // a border at creation
  int32_t BorderWidth() const;  // pixels on each side

  QLabel* Widget() const { return box_; }

 private:
  friend class Form;
  explicit PictureBox(QLabel* box);
  void Fit();

  QLabel* box_;
  bool autoSize_ = false;
};

// A straight line from (x1, y1) to (x2, y2) in client-area pixels, the end point left out as the
// platform draws it. A line of width w covers w pixels from its coordinates down (horizontal) or
// to the right (vertical). It takes no input: clicks pass through to the window.
class Line {
 public:
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  void SetPoints(int32_t x1, int32_t y1, int32_t x2, int32_t y2);
  void SetColor(uint32_t rgb);    // 0x00RRGGBB; black at creation
  void SetWidth(int32_t pixels);  // 1 at creation
  uint32_t Color() const { return rgb_; }
  int32_t Width() const { return width_; }

  QWidget* Widget() const { return widget_; }

 private:
  friend class Form;
  class Painter;
  Line(QWidget* parent, int32_t x1, int32_t y1, int32_t x2, int32_t y2);
  void Place();

  QWidget* widget_;
  int32_t x1_, y1_, x2_, y2_;
  uint32_t rgb_ = 0;
  int32_t width_ = 1;
};

}  // namespace tk
