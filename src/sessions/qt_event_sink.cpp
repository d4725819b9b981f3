#include "sessions/qt_event_sink.h"

#include <QCoreApplication>
#include <QThread>
#include <condition_variable>
#include <mutex>

namespace qn {

struct TQtEventSink::Shared {
  std::mutex mu;
  std::condition_variable cv;
  bool closed = false;
};

TQtEventSink::TQtEventSink() : receiver_(std::make_unique<QObject>()), shared_(std::make_shared<Shared>()) {}

TQtEventSink::~TQtEventSink() {
  {
    std::lock_guard<std::mutex> lock(shared_->mu);
    shared_->closed = true;
  }
  shared_->cv.notify_all();
  receiver_.reset();  // queued calls for it are dropped with it
}

bool TQtEventSink::Send(std::function<void()> call, std::chrono::milliseconds timeout) {
  if (QThread::currentThread() == receiver_->thread()) {
    if (call) call();
    return true;
  }
  auto done = std::make_shared<bool>(false);
  auto shared = shared_;
  {
    std::lock_guard<std::mutex> lock(shared->mu);
    if (shared->closed) return false;
  }
  QMetaObject::invokeMethod(
      receiver_.get(),
      [call = std::move(call), done, shared] {
        if (call) call();
        {
          std::lock_guard<std::mutex> lock(shared->mu);
          *done = true;
        }
        shared->cv.notify_all();
      },
      Qt::QueuedConnection);
  std::unique_lock<std::mutex> lock(shared->mu);
  return shared->cv.wait_for(lock, timeout, [&] { return *done || shared->closed; }) && *done;
}

void TQtEventSink::Post(std::function<void()> call) {
  if (QThread::currentThread() == receiver_->thread()) {
    if (call) call();
    return;
  }
  {
    std::lock_guard<std::mutex> lock(shared_->mu);
    if (shared_->closed) return;
  }
  QMetaObject::invokeMethod(
      receiver_.get(), [call = std::move(call)] {
        if (call) call();
      },
      Qt::QueuedConnection);
}

void TQtEventSink::ProcessPending() {
  if (QThread::currentThread() != receiver_->thread()) return;
  QCoreApplication::sendPostedEvents(receiver_.get(), QEvent::MetaCall);
}

}  // namespace qn
