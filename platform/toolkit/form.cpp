#include "form.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QHideEvent>
#include <QImage>
#include <QLabel>
#include <QLayout>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QResizeEvent>
#include <QScrollBar>
#include <algorithm>

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

}  // namespace

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

 private:
  Form* form_;
};

// Shows the device context's picture; the picture is in logical pixels and Qt scales it with
// the rest of the window.
class Form::ClientArea : public QWidget {
 public:
  ClientArea(Form* form, QWidget* parent) : QWidget(parent), form_(form) {
    setAttribute(Qt::WA_OpaquePaintEvent);  // every pixel comes from the picture
    Grow(form->initialWidth_, form->initialHeight_);
  }

  DeviceContext* dc() { return dc_.get(); }

  // The picture never shrinks, so that what was painted outlives a smaller window.
  void Grow(int32_t width, int32_t height) {
    width = std::max(width, image_.width());
    height = std::max(height, image_.height());
    if (!dc_ || width > image_.width() || height > image_.height()) {
      QImage larger(width, height, QImage::Format_RGB32);
      larger.fill(Rgb(form_->backColor_));
      if (!image_.isNull()) {
        QPainter painter(&larger);
        painter.drawImage(0, 0, image_);
      }
      image_ = larger;
      dc_ = std::make_unique<DeviceContext>(reinterpret_cast<uint32_t*>(image_.bits()),
                                            image_.width(), image_.height(),
                                            static_cast<int32_t>(image_.bytesPerLine() / 4));
      dc_->SetPaintNotifier([this](const PaintRect& r) { update(r.x, r.y, r.width, r.height); });
    }
  }

  QSize sizeHint() const override { return {form_->initialWidth_, form_->initialHeight_}; }

 protected:
  void paintEvent(QPaintEvent* event) override {
    QPainter painter(this);
    const QRect shown = event->rect() & image_.rect();
    if (!shown.isEmpty()) painter.drawImage(shown.topLeft(), image_, shown);
    for (const QRect& rest : QRegion(event->rect()) - QRegion(shown))
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

  Form* form_;
  QImage image_;  // 0x??RRGGBB, the top byte unused
  std::unique_ptr<DeviceContext> dc_;
  bool pressed_ = false;
};

// ---- Form ---------------------------------------------------------------------------------------

Form::Form(int32_t clientWidth, int32_t clientHeight)
    : initialWidth_(std::max(clientWidth, 1)),
      initialHeight_(std::max(clientHeight, 1)),
      scaleWidth_(static_cast<float>(initialWidth_) * 15),
      scaleHeight_(static_cast<float>(initialHeight_) * 15) {
  window_ = new Window(this);
  client_ = new ClientArea(this, window_);
  window_->setCentralWidget(client_);
  LiveForms().push_back(this);
}

Form::~Form() {
  if (g_active == this) g_active = nullptr;
  auto& forms = LiveForms();
  forms.erase(std::remove(forms.begin(), forms.end(), this), forms.end());
  load_ = activate_ = click_ = unload_ = nullptr;
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
  shown_ = true;
  Activate();
}

void Form::ShowModal() {
  Form* previous = g_active;
  window_->setWindowModality(Qt::ApplicationModal);
  Show();
  if (!ProgramEnded() && window_->isVisible()) {
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
  auto* label = new QLabel(client_);
  label->setGeometry(x, y, width, height);
  label->show();
  labels_.push_back(std::unique_ptr<Label>(new Label(label)));
  return *labels_.back();
}

}  // namespace tk
