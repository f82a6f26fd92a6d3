#include "form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QHideEvent>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>
#include <QRegion>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QUrl>
#include <QWindow>
#include <algorithm>
#include <cmath>

#include "appicon.h"
#include "checked.h"
#include "program.h"

namespace tk {

namespace {

Form* g_active = nullptr;  // the program's active form: the last one activated

std::vector<Form*>& LiveForms() {
  static std::vector<Form*> forms;
  return forms;
}
bool IsLive(Form* form) {
  const auto& forms = LiveForms();
  return std::find(forms.begin(), forms.end(), form) != forms.end();
}

QColor Rgb(uint32_t rgb) {
  return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

// Qt reads "[*]" in a title as the modified-marker placeholder; a doubled one shows as itself.
QString TitleText(const std::string& caption) {
  return QString::fromStdString(caption).replace(QLatin1String("[*]"), QLatin1String("[*][*]"));
}

int32_t EffectOf(Qt::DropAction action) {
  switch (action) {
    case Qt::CopyAction:
      return vbDropEffectCopy;
    case Qt::MoveAction:
      return vbDropEffectMove;
    case Qt::LinkAction:
      return vbDropEffectLink;
    default:
      return vbDropEffectNone;
  }
}

Qt::DropAction ActionOf(int32_t effect) {
  if (effect & vbDropEffectCopy) return Qt::CopyAction;
  if (effect & vbDropEffectMove) return Qt::MoveAction;
  if (effect & vbDropEffectLink) return Qt::LinkAction;
  return Qt::IgnoreAction;
}

// The path's bytes as the URL carries them, so that a name that is not UTF-8 survives too.
std::string NativePath(const QUrl& url) {
  QByteArray path = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
  if (!url.host().isEmpty()) path.prepend("//" + url.host().toUtf8());
  return path.toStdString();
}

// The classic dialog size, 8 points at 96 dpi, in the application's face: the fixed layout of a
// dialog's labels was made for it.
QFont DialogFont() {
  QFont font = QApplication::font();
  font.setPixelSize(11);
  return font;
}

}  // namespace

// ---- DataObject ---------------------------------------------------------------------------------

DataObject::DataObject(const QMimeData& data) : text_(data.hasText()) {
  for (const QUrl& url : data.urls())
    if (url.isLocalFile()) files_.push_back(NativePath(url));
}

bool DataObject::GetFormat(int16_t format) const {
  if (format == vbCFFiles) return !files_.empty();
  if (format == vbCFText) return text_;
  return false;
}

const std::string& DataObject::Files(int32_t index) const {
  if (index < 1 || index > FilesCount()) throw OutOfRangeError();
  return files_[static_cast<size_t>(index - 1)];
}

// ---- The Qt widgets -----------------------------------------------------------------------------

class Form::Window : public QMainWindow {
 public:
  explicit Window(Form* form) : form_(form) {}

 protected:
  void closeEvent(QCloseEvent* event) override {
    form_->Closing();
    event->accept();
  }
  void hideEvent(QHideEvent* event) override {
    QMainWindow::hideEvent(event);
    // Closed or ended, not minimised: a ShowModal waiting for it returns.
    if (!event->spontaneous() && form_->modalLoop_) form_->modalLoop_->quit();
  }
  // What the focused control leaves of Enter and Esc.
  void keyPressEvent(QKeyEvent* event) override {
    if (!(event->modifiers() & ~Qt::KeypadModifier) && form_->PressKey(event->key())) {
      event->accept();
    } else {
      QMainWindow::keyPressEvent(event);
    }
  }
  // Drop mode manual: anything may be dropped; the handler decides. Not while a modal window
  // of ours holds this one (a box, a long load's progress), as for a click.
  void dragEnterEvent(QDragEnterEvent* event) override { Offer(event); }
  void dragMoveEvent(QDragMoveEvent* event) override { Offer(event); }
  void dropEvent(QDropEvent* event) override {
    if (Blocked()) {
      event->ignore();
    } else {
      form_->Dropped(event);
    }
  }

 private:
  bool Blocked() const {
    const QWidget* modal = QApplication::activeModalWidget();
    return modal && modal != this;
  }
  void Offer(QDropEvent* event) {
    if (Blocked()) {
      event->ignore();
    } else {
      event->acceptProposedAction();
    }
  }

  Form* form_;
};

// Shows the device context's picture. The picture is held in the screen's own pixels, at the
// window's device pixel ratio, so that Qt shows it 1:1 and a picture painted into it keeps the
// detail a HiDPI screen can show; the painting calls still take logical pixels.
class Form::ClientArea : public QWidget {
 public:
  ClientArea(Form* form, QWidget* parent) : QWidget(parent), form_(form) {
    setAttribute(Qt::WA_OpaquePaintEvent);  // every pixel comes from the picture
    Grow(form->initialWidth_, form->initialHeight_);
  }

  DeviceContext* dc() { return &dc_; }

  // The picture never shrinks, so that what was painted outlives a smaller window. When the
  // window's scale changes (it went to another screen) what was shown is kept, rescaled, until
  // it is painted again. The device context stays the same object, so a kept HDC stays good.
  void Grow(int32_t width, int32_t height) {
    width = std::max(width, logical_.width());
    height = std::max(height, logical_.height());
    const qreal scale = devicePixelRatio();
    if (!image_.isNull() && width == logical_.width() && height == logical_.height() &&
        scale == image_.devicePixelRatio())
      return;
    QImage larger(Device(width, scale), Device(height, scale), QImage::Format_RGB32);
    larger.setDevicePixelRatio(scale);
    larger.fill(Rgb(form_->backColor_));
    if (!image_.isNull()) {
      QPainter painter(&larger);
      painter.setRenderHint(QPainter::SmoothPixmapTransform);
      painter.drawImage(QPointF(0, 0), image_);
    }
    image_ = larger;
    logical_ = QSize(width, height);
    dc_ = DeviceContext(reinterpret_cast<uint32_t*>(image_.bits()), image_.width(), image_.height(),
                        static_cast<int32_t>(image_.bytesPerLine() / 4), scale);
    // The device pixels painted, as the logical ones that cover them.
    dc_.SetPaintNotifier([this](const PaintRect& r) {
      const qreal s = image_.devicePixelRatio();
      const int left = static_cast<int>(std::floor(r.x / s)),
                top = static_cast<int>(std::floor(r.y / s));
      update(left, top, static_cast<int>(std::ceil((r.x + r.width) / s)) - left,
             static_cast<int>(std::ceil((r.y + r.height) / s)) - top);
    });
  }

  QSize sizeHint() const override { return {form_->initialWidth_, form_->initialHeight_}; }

 protected:
  // Qt 6.4 tells a widget of another screen by this event only; a scale that changed on the
  // same screen is caught at the next paint.
  bool event(QEvent* event) override {
    if (event->type() == QEvent::ScreenChangeInternal && !image_.isNull()) {
      Grow(0, 0);
      update();
    }
    return QWidget::event(event);
  }
  void paintEvent(QPaintEvent* event) override {
    if (devicePixelRatio() != image_.devicePixelRatio()) Grow(0, 0);
    QPainter painter(this);
    // At the screen's scale, pixel for pixel; the paint's own clip keeps it to the event.
    painter.drawImage(QPointF(0, 0), image_);
    for (const QRect& rest : QRegion(event->rect()) - QRegion(QRect(QPoint(0, 0), logical_)))
      painter.fillRect(rest, Rgb(form_->backColor_));
  }
  void resizeEvent(QResizeEvent* event) override {
    Grow(event->size().width(), event->size().height());
  }
  void mousePressEvent(QMouseEvent* event) override {
    pressed_ = event->button() == Qt::LeftButton && OnClientItself(event->position().toPoint());
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton || !pressed_) return;
    pressed_ = false;
    if (OnClientItself(event->position().toPoint())) Dispatch(form_->click_);
  }

 private:
  // Inside the client area and on no control (a disabled one counts as a control).
  bool OnClientItself(const QPoint& at) const { return rect().contains(at) && !childAt(at); }

  static int Device(int32_t logical, qreal scale) {
    return static_cast<int>(std::ceil(logical * scale - 1e-6));
  }

  Form* form_;
  QImage image_;   // 0x??RRGGBB, the top byte unused; device pixels
  QSize logical_;  // what it covers, in logical pixels
  DeviceContext dc_{nullptr, 0, 0, 0};
  bool pressed_ = false;
};

// ---- Form ---------------------------------------------------------------------------------------

Form::Form(int32_t clientWidth, int32_t clientHeight)
    : initialWidth_(std::max(clientWidth, 1)),
      initialHeight_(std::max(clientHeight, 1)),
      scaleWidth_(static_cast<float>(initialWidth_) * 15),
      scaleHeight_(static_cast<float>(initialHeight_) * 15) {
  window_ = new Window(this);
  window_->setWindowIcon(ProgramIcon());
  client_ = new ClientArea(this, window_);
  window_->setCentralWidget(client_);
  LiveForms().push_back(this);
}

Form::~Form() {
  if (g_active == this) g_active = nullptr;
  auto& forms = LiveForms();
  forms.erase(std::remove(forms.begin(), forms.end(), this), forms.end());
  load_ = activate_ = click_ = unload_ = nullptr;
  drop_ = nullptr;
  delete window_;  // with it every control's widget
}

void Form::OnLoad(std::function<void()> handler) {
  load_ = std::move(handler);
}
void Form::OnActivate(std::function<void()> handler) {
  activate_ = std::move(handler);
}
void Form::OnClick(std::function<void()> handler) {
  click_ = std::move(handler);
}
void Form::OnUnload(std::function<void()> handler) {
  unload_ = std::move(handler);
}
void Form::OnOLEDragDrop(DropHandler handler) {
  drop_ = std::move(handler);
  window_->setAcceptDrops(static_cast<bool>(drop_));
}

void Form::Load() {
  if (loaded_ || ProgramEnded()) return;
  loaded_ = true;
  Dispatch(load_);
}

void Form::Show() {
  Load();
  if (ProgramEnded()) return;
  const bool first = !shown_;
  if (first) {
    const QWidget* bar = window_->menuWidget();
    const int barHeight =
        bar ? std::max(bar->heightForWidth(initialWidth_), bar->sizeHint().height()) : 0;
    window_->resize(initialWidth_, initialHeight_ + barHeight);
    if (placed_) {
      // A fixed place is taken on the screen the program is being used on, not always the first.
      QScreen* screen = g_active ? g_active->hWnd()->screen() : QGuiApplication::primaryScreen();
      if (screen) {
        window_->setScreen(screen);
        screenOrigin_ = screen->geometry().topLeft();
      }
      window_->setGeometry(
          QRect(screenOrigin_ + QPoint(clientX_, clientY_ - barHeight), window_->size()));
    }
  }
  window_->show();
  if (!first) return;
  // Make the client area exactly the asked size, whatever the menu bar took.
  if (window_->layout()) window_->layout()->activate();
  const int dw = initialWidth_ - client_->width(), dh = initialHeight_ - client_->height();
  if (dw != 0 || dh != 0) {
    window_->resize(window_->width() + dw, window_->height() + dh);
    if (window_->layout()) window_->layout()->activate();
  }
  if (placed_) {
    const QPoint offset = client_->mapTo(window_, QPoint(0, 0));
    window_->setGeometry(
        QRect(screenOrigin_ + QPoint(clientX_, clientY_) - offset, window_->size()));
  }
  if (borderStyle_ == BorderStyle::kFixedDialog) window_->setFixedSize(window_->size());
  // The focus starts on the button first in tab order.
  CommandButton* firstStop = nullptr;
  for (const auto& button : buttons_)
    if (button->Enabled() && (!firstStop || button->TabIndex() < firstStop->TabIndex()))
      firstStop = button.get();
  if (firstStop) firstStop->SetFocus();
  shown_ = true;
  Activate();
}

void Form::Later(std::function<void()> handler) {
  QTimer::singleShot(0, window_, [handler = std::move(handler)] { Dispatch(handler); });
}

void Form::ShowModal() {
  Form* previous = g_active;
  window_->setWindowModality(Qt::ApplicationModal);
  Show();
  if (!ProgramEnded() && window_->isVisible()) {
    window_->activateWindow();  // it takes the keyboard at once
    QEventLoop loop;
    modalLoop_ = &loop;
    loop.exec();
    modalLoop_ = nullptr;
  }
  window_->setWindowModality(Qt::NonModal);
  if (previous && previous != this && IsLive(previous) && !ProgramEnded()) previous->Activate();
}

void Form::Close() {
  window_->close();
}

bool Form::Visible() const {
  return window_->isVisible();
}

void Form::SetBorderStyle(BorderStyle style) {
  borderStyle_ = style;
  if (style == BorderStyle::kFixedDialog) {
    window_->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                            Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    window_->setFont(DialogFont());
  } else {
    window_->setWindowFlags(Qt::Window);
    window_->setMinimumSize(0, 0);
    window_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  }
}

void Form::SetClientPosition(int32_t x, int32_t y) {
  placed_ = true;
  clientX_ = x;
  clientY_ = y;
}

void Form::Activate() {
  g_active = this;
  Dispatch(activate_);
}

void Form::Closing() {
  if (!ProgramEnded()) Dispatch(unload_);
  if (g_active == this) g_active = nullptr;
  loaded_ = shown_ = false;
}

void Form::SetCaption(const std::string& caption) {
  caption_ = caption;
  window_->setWindowTitle(TitleText(caption));
}

QWidget* Form::hWnd() const {
  return window_;
}

Form* Form::Active() {
  return g_active;
}

HDC Form::hDC() {
  return client_->dc();
}

void Form::Cls() {
  client_->dc()->Fill(backColor_);
}

void Form::SetBackColor(uint32_t rgb) {
  backColor_ = rgb & 0xFFFFFF;
  Cls();
}

QWidget* Form::Client() const {
  return client_;
}
int32_t Form::ClientWidth() const {
  return client_->width();
}
int32_t Form::ClientHeight() const {
  return client_->height();
}

Form::Extent Form::AvailableClientArea() const {
  const QScreen* screen = window_->screen();
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) return {initialWidth_, initialHeight_};
  const QRect room = screen->availableGeometry();
  // Before the first showing the window system has told no frame yet: the menu bar alone.
  QSize around(0, 0);
  if (shown_) {
    around = window_->frameGeometry().size() - client_->size();
  } else if (const QWidget* bar = window_->menuWidget()) {
    around.setHeight(bar->sizeHint().height());
  }
  return {std::max(room.width() - around.width(), 1), std::max(room.height() - around.height(), 1)};
}

void Form::SetClientSize(int32_t width, int32_t height) {
  width = std::max(width, 1);
  height = std::max(height, 1);
  if (window_->isMaximized() || window_->isFullScreen()) window_->showNormal();
  // The menu bar's height depends on the width it wraps in: a second round takes up what the
  // first one left.
  for (int round = 0; round < 2; ++round) {
    const int dw = width - client_->width(), dh = height - client_->height();
    if (dw == 0 && dh == 0) break;
    window_->resize(window_->width() + dw, window_->height() + dh);
    if (window_->layout()) window_->layout()->activate();
  }
  const QScreen* screen = window_->screen();
  if (!screen || !shown_) return;
  const QRect room = screen->availableGeometry();
  QRect frame = window_->frameGeometry();
  const QPoint was = frame.topLeft();
  if (frame.right() > room.right()) frame.moveRight(room.right());
  if (frame.bottom() > room.bottom()) frame.moveBottom(room.bottom());
  if (frame.left() < room.left()) frame.moveLeft(room.left());
  if (frame.top() < room.top()) frame.moveTop(room.top());
  if (frame.topLeft() != was) window_->move(frame.topLeft());
}

Menu& Form::AddMenu(const std::string& caption) {
  QMenuBar* bar = window_->menuBar();
  bar->setNativeMenuBar(false);  // in the window, where the layout expects it
  QMenu* menu = bar->addMenu(QString());
  menus_.push_back(std::unique_ptr<Menu>(new Menu(menu, caption)));
  return *menus_.back();
}

HScrollBar& Form::AddHScrollBar(int32_t x, int32_t y, int32_t width, int32_t height) {
  auto* bar = new QScrollBar(Qt::Horizontal, client_);
  bar->setGeometry(x, y, width, height);
  bar->show();
  scrollBars_.push_back(std::unique_ptr<HScrollBar>(new HScrollBar(bar)));
  return *scrollBars_.back();
}

Label& Form::AddLabel(int32_t x, int32_t y, int32_t width, int32_t height) {
  labels_.push_back(std::unique_ptr<Label>(new Label(client_)));
  QLabel* label = labels_.back()->Widget();
  label->setGeometry(x, y, width, height);
  label->show();
  StackDrawn(label);
  labels_.back()->SetBackColor(backColor_);
  return *labels_.back();
}

CommandButton& Form::AddCommandButton(int32_t x, int32_t y, int32_t width, int32_t height) {
  auto* button = new QPushButton(client_);
  button->setGeometry(x, y, width, height);
  button->show();
  const auto index = static_cast<int16_t>(buttons_.size());
  buttons_.push_back(std::unique_ptr<CommandButton>(new CommandButton(this, button, index)));
  OrderTabs();
  return *buttons_.back();
}

PictureBox& Form::AddPictureBox(int32_t x, int32_t y, int32_t width, int32_t height) {
  auto* box = new QLabel(client_);
  box->setGeometry(x, y, width, height);
  box->show();
  pictures_.push_back(std::unique_ptr<PictureBox>(new PictureBox(box)));
  return *pictures_.back();
}

Line& Form::AddLine(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  lines_.push_back(std::unique_ptr<Line>(new Line(client_, x1, y1, x2, y2)));
  lines_.back()->Widget()->show();
  StackDrawn(lines_.back()->Widget());
  return *lines_.back();
}

void Form::StackDrawn(QWidget* drawn) {
  const auto isDrawn = [this](const QObject* child) {
    return std::any_of(labels_.begin(), labels_.end(),
                       [&](const auto& l) { return l->Widget() == child; }) ||
           std::any_of(lines_.begin(), lines_.end(),
                       [&](const auto& l) { return l->Widget() == child; });
  };
  // Children are listed bottom to top: go under the lowest control that is not drawn.
  for (QObject* child : client_->children()) {
    auto* widget = qobject_cast<QWidget*>(child);
    if (widget && widget != drawn && !isDrawn(widget)) {
      drawn->stackUnder(widget);
      return;
    }
  }
}

void Form::OrderTabs() {
  std::vector<CommandButton*> order;
  for (const auto& button : buttons_) order.push_back(button.get());
  std::stable_sort(order.begin(), order.end(), [](CommandButton* a, CommandButton* b) {
    return a->TabIndex() < b->TabIndex();
  });
  for (size_t i = 1; i < order.size(); ++i)
    QWidget::setTabOrder(order[i - 1]->Widget(), order[i]->Widget());
}

bool Form::PressKey(int key) {
  CommandButton* press = nullptr;
  if (key == Qt::Key_Return || key == Qt::Key_Enter) {
    for (const auto& button : buttons_)
      if (window_->focusWidget() == button->Widget()) press = button.get();
    if (!press) press = defaultButton_;
  } else if (key == Qt::Key_Escape) {
    press = cancelButton_;
  }
  if (!press || !press->Enabled() || !press->Widget()->isVisible()) return false;
  press->Widget()->click();
  return true;
}

void Form::Dropped(QDropEvent* event) {
  static const QMimeData kNothing;
  DataObject data(event->mimeData() ? *event->mimeData() : kNothing);
  int32_t effect = EffectOf(event->proposedAction());
  const Qt::MouseButtons buttons = event->buttons();
  const auto button = static_cast<int16_t>((buttons & Qt::LeftButton ? 1 : 0) |
                                           (buttons & Qt::RightButton ? 2 : 0) |
                                           (buttons & Qt::MiddleButton ? 4 : 0));
  const Qt::KeyboardModifiers keys = event->modifiers();
  const auto shift =
      static_cast<int16_t>((keys & Qt::ShiftModifier ? 1 : 0) |
                           (keys & Qt::ControlModifier ? 2 : 0) | (keys & Qt::AltModifier ? 4 : 0));
  const QPoint at = client_->mapFrom(window_, event->position().toPoint());
  const float x = static_cast<float>(at.x()) * scaleWidth_ / static_cast<float>(initialWidth_);
  const float y = static_cast<float>(at.y()) * scaleHeight_ / static_cast<float>(initialHeight_);
  const DropHandler handler = drop_;
  if (handler) Dispatch([&] { handler(data, effect, button, shift, x, y); });
  const Qt::DropAction action = ActionOf(effect);
  if (action == Qt::IgnoreAction) {
    event->ignore();
  } else {
    event->setDropAction(action);
    event->accept();
  }
}

}  // namespace tk
