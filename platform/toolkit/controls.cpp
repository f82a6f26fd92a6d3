#include "controls.h"

#include <QAction>
#include <QEvent>
#include <QFont>
#include <QFontInfo>
#include <QImage>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStringList>
#include <QTextLayout>
#include <QTextOption>
#include <algorithm>
#include <cmath>
#include <utility>

#include "checked.h"
#include "form.h"
#include "labeltext.h"
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

void Menu::AddSeparator() {
  menu_->addSeparator();
}

void Menu::SetShortcut(const std::string& keys) {
  action_->setShortcut(QKeySequence(QString::fromStdString(keys)));
  action_->setShortcutContext(Qt::WindowShortcut);
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
  // Everything that moves the value outside a drag is a change, raised at once. During a drag the
  // value follows the thumb and the scroll event shows its newest position; the release then
  // counts as one change.
  QObject::connect(bar_, &QScrollBar::valueChanged, bar_, [this](int) {
    if (bar_->isSliderDown()) {
      Dragged();
    } else {
      Dispatch(change_);
    }
  });
  QObject::connect(bar_, &QScrollBar::sliderPressed, bar_, [this] { pressValue_ = bar_->value(); });
  QObject::connect(bar_, &QScrollBar::sliderReleased, bar_, [this] {
    const bool waiting = std::exchange(scrollPending_, false);
    if (bar_->value() != pressValue_) {
      Dispatch(change_);
    } else if (waiting) {
      Dispatch(scroll_);  // back where it began: the picture must still be this position's
    }
  });
}

int32_t HScrollBar::Value() const {
  return bar_->value();
}

void HScrollBar::SetValue(int32_t value) {
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

void HScrollBar::SetMax(int32_t max) {
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

// Qt merges the mouse moves queued on X11, but moves that reach the bar one by one (other
// platforms, posted events) would hand a handler slower than the mouse a scroll event for each
// position the thumb passed, still painting after the mouse stopped. So the scroll event is
// raised from the event loop, after the moves already queued have moved the thumb: at most one
// per pass, always for where the thumb is now.
void HScrollBar::Dragged() {
  if (scrollPending_) return;  // the one waiting reads the value when it runs
  scrollPending_ = true;
  QMetaObject::invokeMethod(
      bar_, [this] { RaiseScroll(); }, Qt::QueuedConnection);
}

void HScrollBar::RaiseScroll() {
  if (!std::exchange(scrollPending_, false)) return;  // the release has shown it already
  Dispatch(scroll_);
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
void HScrollBar::Move(int32_t x, int32_t y, int32_t width, int32_t height) {
  bar_->setGeometry(x, y, std::max(width, 0), std::max(height, 0));
}

void HScrollBar::OnChange(std::function<void()> handler) {
  change_ = std::move(handler);
}
void HScrollBar::OnScroll(std::function<void()> handler) {
  scroll_ = std::move(handler);
}

// ---- Label --------------------------------------------------------------------------------------

int Label::Text::Pitch() const {
  return std::max(1, QFontInfo(font()).pixelSize());
}

int Label::Text::Layout(QTextLayout& layout) const {
  QTextOption option(alignment() & Qt::AlignHorizontal_Mask);
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  layout.setTextOption(option);
  layout.setFont(font());
  const int pitch = Pitch();
  int lines = 0;
  layout.beginLayout();
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(contentsRect().width());
    line.setPosition(QPointF(0, lines * pitch + pitch * 0.88 - line.ascent()));
    ++lines;
  }
  layout.endLayout();
  return lines;
}

void Label::Text::paintEvent(QPaintEvent* event) {
  if (!wordWrap()) {
    QLabel::paintEvent(event);
    return;
  }
  QTextLayout layout(text());
  Layout(layout);
  QPainter painter(this);
  painter.setClipRect(contentsRect());
  painter.setPen(
      palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
  layout.draw(&painter, contentsRect().topLeft());
}

Label::Label(QWidget* parent) : label_(new Text(parent)) {
  label_->setTextFormat(Qt::PlainText);
  label_->setFrameShape(QFrame::NoFrame);
  label_->setContentsMargins(0, 0, 0, 0);
  label_->setMargin(0);
  label_->setFocusPolicy(Qt::NoFocus);
  label_->setAutoFillBackground(true);
  label_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
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

QLabel* Label::Widget() const {
  return label_;
}

void Label::SetWordWrap(bool wrap) {
  label_->setWordWrap(wrap);
  if (wrap) label_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label_->update();
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

void Label::Move(int32_t x, int32_t y, int32_t width, int32_t height) {
  label_->setGeometry(x, y, width, height);
}

void Label::SetVisible(bool visible) {
  label_->setVisible(visible);
}

// ---- CommandButton ------------------------------------------------------------------------------

CommandButton::CommandButton(Form* form, QPushButton* button, int16_t tabIndex)
    : form_(form), button_(button), tabIndex_(tabIndex) {
  button_->setAutoDefault(false);  // only the default button answers Enter of its own
  button_->setFocusPolicy(Qt::StrongFocus);
  QObject::connect(button_, &QPushButton::clicked, button_, [this] { Dispatch(click_); });
}

void CommandButton::SetCaption(const std::string& caption) {
  caption_ = caption;
  button_->setText(PlainCaption(caption));
}

bool CommandButton::Default() const {
  return form_->defaultButton_ == this;
}
void CommandButton::SetDefault(bool isDefault) {
  if (isDefault) {
    if (form_->defaultButton_) form_->defaultButton_->button_->setDefault(false);
    form_->defaultButton_ = this;
  } else if (Default()) {
    form_->defaultButton_ = nullptr;
  }
  button_->setDefault(isDefault);
}

bool CommandButton::Cancel() const {
  return form_->cancelButton_ == this;
}
void CommandButton::SetCancel(bool isCancel) {
  if (isCancel) {
    form_->cancelButton_ = this;
  } else if (Cancel()) {
    form_->cancelButton_ = nullptr;
  }
}

void CommandButton::SetTabIndex(int16_t index) {
  tabIndex_ = index;
  form_->OrderTabs();
}

bool CommandButton::Enabled() const {
  return button_->isEnabled();
}
void CommandButton::SetEnabled(bool enabled) {
  button_->setEnabled(enabled);
}
void CommandButton::SetFocus() {
  button_->setFocus(Qt::OtherFocusReason);
}

void CommandButton::OnClick(std::function<void()> handler) {
  click_ = std::move(handler);
}

// ---- PictureBox ---------------------------------------------------------------------------------

PictureBox::PictureBox(QLabel* box) : box_(box) {
  box_->setFocusPolicy(Qt::NoFocus);
  box_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  box_->setContentsMargins(0, 0, 0, 0);
  box_->setMargin(0);
  SetBorder(true);
}

void PictureBox::SetPicture(const QImage& picture) {
  box_->setPixmap(QPixmap::fromImage(picture));
  Fit();
}

void PictureBox::SetAutoSize(bool sizedToPicture) {
  autoSize_ = sizedToPicture;
  Fit();
}

void PictureBox::SetBorder(bool border) {
  box_->setFrameShape(border ? QFrame::Panel : QFrame::NoFrame);
  box_->setFrameShadow(QFrame::Sunken);
  box_->setLineWidth(border ? 2 : 0);
  Fit();
}

int32_t PictureBox::BorderWidth() const {
  return box_->frameWidth();
}

void PictureBox::Fit() {
  const QPixmap picture = box_->pixmap();
  if (!autoSize_ || picture.isNull()) return;
  const int border = 2 * box_->frameWidth();
  box_->resize(picture.width() + border, picture.height() + border);
}

// ---- Line ---------------------------------------------------------------------------------------

// Covers the line's pixels and paints them; transparent elsewhere and to the mouse.
class Line::Painter : public QWidget {
 public:
  Painter(Line* line, QWidget* parent) : QWidget(parent), line_(line) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    const QColor colour = Rgb(line_->rgb_);
    const int w = std::max(1, line_->width_);
    const QPoint origin = pos();
    const int x1 = line_->x1_ - origin.x(), y1 = line_->y1_ - origin.y();
    const int x2 = line_->x2_ - origin.x(), y2 = line_->y2_ - origin.y();
    if (y1 == y2) {  // the end point left out
      const int left = x1 <= x2 ? x1 : x2 + 1, right = x1 <= x2 ? x2 - 1 : x1;
      if (right >= left) painter.fillRect(QRect(left, y1, right - left + 1, w), colour);
    } else if (x1 == x2) {
      const int top = y1 <= y2 ? y1 : y2 + 1, bottom = y1 <= y2 ? y2 - 1 : y1;
      if (bottom >= top) painter.fillRect(QRect(x1, top, w, bottom - top + 1), colour);
    } else {
      painter.setPen(QPen(colour, w, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
      painter.drawLine(QPointF(x1 + 0.5, y1 + 0.5), QPointF(x2 + 0.5, y2 + 0.5));
    }
  }

 private:
  Line* line_;
};

Line::Line(QWidget* parent, int32_t x1, int32_t y1, int32_t x2, int32_t y2)
    : widget_(new Painter(this, parent)), x1_(x1), y1_(y1), x2_(x2), y2_(y2) {
  Place();
}

void Line::SetPoints(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  x1_ = x1;
  y1_ = y1;
  x2_ = x2;
  y2_ = y2;
  Place();
}

void Line::SetColor(uint32_t rgb) {
  rgb_ = rgb & 0xFFFFFF;
  widget_->update();
}

void Line::SetWidth(int32_t pixels) {
  width_ = std::max(1, pixels);
  Place();
}

void Line::Place() {
  const int w = std::max(1, width_);
  const QRect box = QRect(QPoint(std::min(x1_, x2_), std::min(y1_, y2_)),
                          QPoint(std::max(x1_, x2_), std::max(y1_, y2_)))
                        .adjusted(-w, -w, w, w);
  widget_->setGeometry(box);
  widget_->update();
}

}  // namespace tk
