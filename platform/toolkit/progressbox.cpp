// The progress box of long work on the program's own thread: shown late, painted and answered
// through the event loop that Update runs.
#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "program.h"

namespace tk {

namespace {

std::chrono::milliseconds g_delay{500};
// Painting and answering the box more often than this costs the work time and shows nothing.
constexpr std::chrono::milliseconds kPaintEvery{40};

}  // namespace

class ProgressBox::Dialog : public QDialog {
 public:
  Dialog(const std::string& text, const std::string& cancelCaption)
      : QDialog(ProgramWindow()), bar_(new QProgressBar(this)) {
    setWindowTitle(QString::fromStdString(App::Title()));
    setWindowModality(Qt::ApplicationModal);  // the windows under it take no commands meanwhile
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(QString::fromStdString(text), this);
    label->setTextFormat(Qt::PlainText);
    layout->addWidget(label);
    bar_->setRange(0, kSteps);
    bar_->setMinimumWidth(320);
    layout->addWidget(bar_);
    cancel_ = new QPushButton(QString::fromStdString(cancelCaption), this);
    connect(cancel_, &QPushButton::clicked, this, &Dialog::reject);
    layout->addWidget(cancel_, 0, Qt::AlignRight);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    cancel_->setFocus();
    // The arrow over the box while a busy cursor is up: its button wants a click.
    if (QGuiApplication::overrideCursor()) {
      QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
      arrow_ = true;
    }
  }
  ~Dialog() override {
    if (arrow_) QGuiApplication::restoreOverrideCursor();
  }

  void SetProgress(uint64_t done, uint64_t total) {
    if (total == 0) {
      bar_->setRange(0, 0);  // moving, without a measure
      return;
    }
    bar_->setRange(0, kSteps);
    bar_->setValue(static_cast<int>(std::min(done, total) * kSteps / total));
  }
  bool cancelled() const { return cancelled_; }

  // The button, Esc and the close box: the work stops at its next Update.
  void reject() override {
    cancelled_ = true;
    cancel_->setEnabled(false);
  }

 protected:
  void showEvent(QShowEvent* event) override {
    QDialog::showEvent(event);
    if (!event->spontaneous()) CentreOver(this, parentWidget());
  }

 private:
  static constexpr int kSteps = 1000;
  QProgressBar* bar_;
  QPushButton* cancel_;
  bool cancelled_ = false;
  bool arrow_ = false;
};

namespace {
QPointer<ProgressBox::Dialog> g_shown;  // one at a time: the work holds the thread
}  // namespace

ProgressBox::ProgressBox(const std::string& text, const std::string& cancelCaption)
    : text_(text),
      cancelCaption_(cancelCaption),
      started_(std::chrono::steady_clock::now()),
      painted_(started_) {}

ProgressBox::~ProgressBox() {
  if (g_shown == dialog_) g_shown = nullptr;
  delete dialog_.data();
}

bool ProgressBox::Update(uint64_t done, uint64_t total) {
  if (ProgramEnded()) return false;
  if (cancelled_ || !qobject_cast<QApplication*>(QCoreApplication::instance())) return !cancelled_;
  const auto now = std::chrono::steady_clock::now();
  if (!dialog_) {
    if (now - started_ < g_delay) return true;
    dialog_ = new Dialog(text_, cancelCaption_);
    g_shown = dialog_;
    dialog_->SetProgress(done, total);
    dialog_->show();
  } else if (now - painted_ < kPaintEvery || !dialog_->isVisible()) {
    return true;  // hidden for a message: the windows under it are no longer held
  } else {
    dialog_->SetProgress(done, total);
  }
  painted_ = now;
  QCoreApplication::processEvents();
  cancelled_ = (dialog_ && dialog_->cancelled()) || ProgramEnded();
  return !cancelled_;
}

std::chrono::milliseconds SetProgressDelay(std::chrono::milliseconds delay) {
  return std::exchange(g_delay, delay);
}

void HideProgressBox() {
  if (g_shown) g_shown->hide();
}

}  // namespace tk
