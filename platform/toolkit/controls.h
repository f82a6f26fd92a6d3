// The controls of a window: menu items, the horizontal scroll bar and the label. Each is a thin
// layer over its Qt widget; a Form creates them and keeps them for its whole life. Every event
// the user raises runs its handler through Dispatch.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QLabel;
class QMenu;
class QScrollBar;

namespace tk {

class Form;

// A menu-bar entry or an item of its menu. Captions are plain text: '&' marks no access key.
class Menu {
 public:
  Menu(const Menu&) = delete;
  Menu& operator=(const Menu&) = delete;
  ~Menu();

  Menu& AddItem(const std::string& caption);    // an item of this menu-bar entry, at the end
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

// A horizontal scroll bar with 16-bit signed value and maximum, minimum 0, small and large
// change 1. A program assignment that changes the value, or a maximum below the value, raises
// the change event at once, nested in the caller (an error in it passes to the caller). The user
// raises the change event with the arrows, the trough, the keys and the release of a dragged
// thumb, and the scroll event for each position the thumb is dragged to.
class HScrollBar {
 public:
  HScrollBar(const HScrollBar&) = delete;
  HScrollBar& operator=(const HScrollBar&) = delete;

  int16_t Value() const;         // during a drag: the thumb's position
  void SetValue(int16_t value);  // RuntimeError 380 outside the range
  int16_t Max() const { return max_; }
  void SetMax(int16_t max);
  int16_t Min() const { return 0; }
  int16_t SmallChange() const { return 1; }
  int16_t LargeChange() const { return 1; }
  bool Enabled() const;
  void SetEnabled(bool enabled);
  void SetFocus();  // the keys then move it

  void OnChange(std::function<void()> handler);
  void OnScroll(std::function<void()> handler);

  QScrollBar* Widget() const { return bar_; }

 private:
  friend class Form;
  explicit HScrollBar(QScrollBar* bar);
  void RaiseChange();  // the program's change: nested, errors pass to the caller

  QScrollBar* bar_;
  int16_t max_ = 32767;
  int pressValue_ = 0;  // value when the thumb was taken
  std::function<void()> change_, scroll_;
};

// A label showing one line of plain text.
class Label {
 public:
  enum class Alignment { kLeft, kRight, kCenter };

  Label(const Label&) = delete;
  Label& operator=(const Label&) = delete;

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption);
  void SetAlignment(Alignment alignment);
  // The first installed face of the list (any serif if none is), size in points at 96 dpi.
  void SetFont(const std::vector<std::string>& faces, double points);
  void SetBackColor(uint32_t rgb);  // 0x00RRGGBB
  void SetForeColor(uint32_t rgb);

  QLabel* Widget() const { return label_; }

 private:
  friend class Form;
  explicit Label(QLabel* label);

  QLabel* label_;
  std::string caption_;
};

}  // namespace tk
