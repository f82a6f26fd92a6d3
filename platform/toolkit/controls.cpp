#include "controls.h"

#include <QAction>
#include <QEvent>
#include <QFont>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStringList>
#include <algorithm>
#include <cmath>

#include "checked.h"
#include "program.h"

namespace tk {

namespace {

// Qt reads '&' as an access-key marker; ours are plain text.
QString PlainCaption(const std::string& caption) {
  return QString::fromStdString(caption).replace(QLatin1Char('&'), QLatin1String("&&"));
}

QColor Rgb(uint32_t rgb) {
  return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

// The platform's keys for a focused scroll bar: left and up, page up step towards the minimum,
// right and down, page down towards the maximum; Home and End go to the ends. (Qt's horizontal
// bar runs the arrow keys the other way.)
class ScrollKeys : public QObject {
 public:
  explicit ScrollKeys(QScrollBar* bar) : QObject(bar), bar_(bar) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != bar_ || event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->modifiers() & ~Qt::KeypadModifier) return false;
    QAbstractSlider::SliderAction action;
    switch (key->key()) {
      case Qt::Key_Left:
      case Qt::Key_Up:
        action = QAbstractSlider::SliderSingleStepSub;
        break;
      case Qt::Key_Right:
      case Qt::Key_Down:
        action = QAbstractSlider::SliderSingleStepAdd;
        break;
      case Qt::Key_PageUp:
        action = QAbstractSlider::SliderPageStepSub;
        break;
      case Qt::Key_PageDown:
        action = QAbstractSlider::SliderPageStepAdd;
        break;
      case Qt::Key_Home:
        action = QAbstractSlider::SliderToMinimum;
        break;
      case Qt::Key_End:
        action = QAbstractSlider::SliderToMaximum;
        break;
      default:
        return false;
    }
    bar_->triggerAction(action);
    return true;
  }

 private:
  QScrollBar* bar_;
};

}  // namespace

// ---- Menu ---------------------------------------------------------------------------------------

Menu::Menu(QMenu* menu, const std::string& caption)
    : menu_(menu), action_(menu->menuAction()), caption_(caption) {
  menu_->setTitle(PlainCaption(caption));
  QObject::connect(menu_, &QMenu::aboutToShow, menu_, [this] { Dispatch(click_); });
}

Menu::Menu(QAction* action, const std::string& caption) : action_(action), caption_(caption) {
  action_->setText(PlainCaption(caption));
  QObject::connect(action_, &QAction::triggered, action_, [this] { Dispatch(click_); });
}

Menu::~Menu() = default;

Menu& Menu::AddItem(const std::string& caption) {
  QAction* action = menu_->addAction(QString());
  action->setShortcutContext(Qt::WidgetShortcut);  // no shortcut key reaches it
  items_.push_back(std::unique_ptr<Menu>(new Menu(action, caption)));
  return *items_.back();
}

void Menu::OnClick(std::function<void()> handler) {
  click_ = std::move(handler);
}

void Menu::SetCaption(const std::string& caption) {
  caption_ = caption;
  if (menu_) {
    menu_->setTitle(PlainCaption(caption));
  } else {
    action_->setText(PlainCaption(caption));
  }
}

bool Menu::Enabled() const {
  return action_->isEnabled();
}
void Menu::SetEnabled(bool enabled) {
  action_->setEnabled(enabled);
}

// ---- HScrollBar -------------------------------------------------------------------------------

HScrollBar::HScrollBar(QScrollBar* bar) : bar_(bar) {
  bar_->setRange(0, max_);
  bar_->setValue(0);
  bar_->setSingleStep(1);
  bar_->setPageStep(1);
  bar_->setTracking(true);
  bar_->setFocusPolicy(Qt::StrongFocus);
  bar_->installEventFilter(new ScrollKeys(bar_));
  // During a drag the value follows the thumb and each position raises the scroll event once;
  // the release then counts as one change. Everything else that moves the value is a change.
  QObject::connect(bar_, &QScrollBar::valueChanged, bar_,
                   [this](int) { Dispatch(bar_->isSliderDown() ? scroll_ : change_); });
  QObject::connect(bar_, &QScrollBar::sliderPressed, bar_, [this] { pressValue_ = bar_->value(); });
  QObject::connect(bar_, &QScrollBar::sliderReleased, bar_, [this] {
    if (bar_->value() != pressValue_) Dispatch(change_);
  });
}

int16_t HScrollBar::Value() const {
  return static_cast<int16_t>(bar_->value());
}

void HScrollBar::SetValue(int16_t value) {
  if (value < bar_->minimum() || value > bar_->maximum())
    throw RuntimeError(380, "Invalid property value");
  if (value == bar_->value()) return;
  {
    const QSignalBlocker quiet(bar_);
    bar_->setValue(value);
  }
  pressValue_ = value;
  RaiseChange();
}

void HScrollBar::SetMax(int16_t max) {
  const int before = bar_->value();
  max_ = max;
  {
    const QSignalBlocker quiet(bar_);
    bar_->setRange(std::min<int>(0, max), std::max<int>(0, max));  // Qt moves the value inside
  }
  if (bar_->value() != before) {
    pressValue_ = bar_->value();
    RaiseChange();
  }
}

void HScrollBar::RaiseChange() {
  if (!ProgramEnded() && change_) change_();
}

bool HScrollBar::Enabled() const {
  return bar_->isEnabled();
}
void HScrollBar::SetEnabled(bool enabled) {
  bar_->setEnabled(enabled);
}
void HScrollBar::SetFocus() {
  bar_->setFocus(Qt::OtherFocusReason);
}

void HScrollBar::OnChange(std::function<void()> handler) {
  change_ = std::move(handler);
}
void HScrollBar::OnScroll(std::function<void()> handler) {
  scroll_ = std::move(handler);
}

// ---- Label --------------------------------------------------------------------------------------

Label::Label(QLabel* label) : label_(label) {
  label_->setTextFormat(Qt::PlainText);
  label_->setFrameShape(QFrame::NoFrame);
  label_->setContentsMargins(0, 0, 0, 0);
  label_->setMargin(0);
  label_->setFocusPolicy(Qt::NoFocus);
  label_->setAutoFillBackground(true);
}

void Label::SetCaption(const std::string& caption) {
  caption_ = caption;
  label_->setText(QString::fromStdString(caption));
}

void Label::SetAlignment(Alignment alignment) {
  const Qt::Alignment h = alignment == Alignment::kCenter  ? Qt::AlignHCenter
                          : alignment == Alignment::kRight ? Qt::AlignRight
                                                           : Qt::AlignLeft;
  label_->setAlignment(h | Qt::AlignVCenter);
}

void Label::SetFont(const std::vector<std::string>& faces, double points) {
  QStringList families;
  for (const std::string& face : faces) families << QString::fromStdString(face);
  QFont font = label_->font();
  font.setFamilies(families);
  font.setStyleHint(QFont::Serif);
  // Pixels of the 96-dpi layout, so that the text keeps its size relative to the controls.
  font.setPixelSize(std::max(1, static_cast<int>(std::lround(points * 96.0 / 72.0))));
  label_->setFont(font);
}

void Label::SetBackColor(uint32_t rgb) {
  QPalette palette = label_->palette();
  palette.setColor(QPalette::Window, Rgb(rgb));
  label_->setPalette(palette);
}

void Label::SetForeColor(uint32_t rgb) {
  QPalette palette = label_->palette();
  palette.setColor(QPalette::WindowText, Rgb(rgb));
  label_->setPalette(palette);
}

}  // namespace tk
