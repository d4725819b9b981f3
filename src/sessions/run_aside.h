// Running a blocking step off the interface thread: the step runs on a helper
// thread while the calling (interface) thread's event loop keeps going, so
// windows paint and engine events queued for this thread arrive meanwhile.
//
// Conventions: call from the interface thread only. User input is held back
// until the step has ended (the caller's window stays painted but does not act
// on clicks); the step must not touch widgets.
#pragma once

#include <QEventLoop>
#include <thread>

namespace qn {

template <typename F>
auto RunAside(F work) -> decltype(work()) {
  using R = decltype(work());
  R result{};
  QEventLoop loop;
  std::thread helper([&] {
    result = work();
    QMetaObject::invokeMethod(
        &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
  });
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  helper.join();
  return result;
}

}  // namespace qn
