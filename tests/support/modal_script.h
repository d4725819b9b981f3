// Drives modal windows in widget tests: each step runs on the next modal window
// that opens (message boxes, dialogs), in order, and usually presses a button.
#pragma once

#include <QAbstractButton>
#include <QPointer>
#include <QPushButton>
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <functional>

namespace qntest {

class ModalScript : public QObject {
 public:
  using Step = std::function<void(QWidget*)>;

  ModalScript() {
    timer_.setInterval(10);
    connect(&timer_, &QTimer::timeout, this, &ModalScript::Tick);
    timer_.start();
  }
  ~ModalScript() override { timer_.stop(); }

  ModalScript& Then(Step step) {
    steps_.push_back(std::move(step));
    return *this;
  }
  // Answers the next message box with the button, recording what it showed.
  ModalScript& Answer(QMessageBox::StandardButton button) {
    return Then([this, button](QWidget* w) {
      auto* box = qobject_cast<QMessageBox*>(w);
      if (!box) {
        unexpected_ << w->metaObject()->className();
        w->close();
        return;
      }
      Seen seen{box->windowTitle(), box->text(), box->standardButton(static_cast<QAbstractButton*>(box->defaultButton()))};
      seen_.push_back(seen);
      if (QAbstractButton* b = box->button(button)) b->click();
      else box->close();
    });
  }
  // Modal windows of this class (a progress window that may or may not come
  // up, depending on the machine's speed) take no step.
  ModalScript& PassOver(const char* className) {
    passOver_.push_back(className);
    return *this;
  }
  // All steps taken (and the last one run).
  bool Done() const {
    QCoreApplication::processEvents();
    return steps_.empty();
  }
  struct Seen {
    QString caption, text;
    QMessageBox::StandardButton defaultButton;
  };
  const std::vector<Seen>& seen() const { return seen_; }
  QStringList unexpected() const { return unexpected_; }

 private:
  void Tick() {
    QWidget* w = QApplication::activeModalWidget();
    // A window is handled again only after another modal window was handled
    // (a dialog that showed a message box and is waiting for its next step).
    if (!w || !w->isVisible() || w == last_.data() || steps_.empty()) return;
    for (const char* name : passOver_)
      if (w->inherits(name)) return;
    last_ = w;
    Step step = std::move(steps_.front());
    steps_.pop_front();
    // Run outside this timer's slot: a step that opens another modal window must
    // not stop the timer from seeing it.
    QPointer<QWidget> target(w);
    QTimer::singleShot(0, this, [step = std::move(step), target] {
      if (target) step(target);
    });
  }

  QTimer timer_;
  QPointer<QWidget> last_;
  std::deque<Step> steps_;
  std::vector<const char*> passOver_;
  std::vector<Seen> seen_;
  QStringList unexpected_;
};

// A fresh program folder for one test, set as QUILLON_HOME.
inline QString FreshHome(const QString& name) {
  const QString dir = QDir::tempPath() + QStringLiteral("/qn-ui-") + QString::number(QCoreApplication::applicationPid()) +
                      QLatin1Char('-') + name;
  QDir(dir).removeRecursively();
  QDir().mkpath(dir);
  qputenv("QUILLON_HOME", dir.toLocal8Bit());
  return dir + QLatin1Char('/');
}

}  // namespace qntest
