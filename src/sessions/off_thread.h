// Runs one piece of port work on a helper thread while the calling (interface)
// thread keeps its event loop going, so windows keep painting and engine events
// arrive. The work must not touch widgets.
#pragma once

#include <QEventLoop>
#include <QMetaObject>
#include <thread>

namespace qn {

// Returns the work's result. `flags` says which events run meanwhile: a window
// whose buttons must not act during the work leaves out user input.
template <typename F>
auto RunOffThread(F work, QEventLoop::ProcessEventsFlags flags = QEventLoop::AllEvents) -> decltype(work()) {
  using R = decltype(work());
  R result{};
  QEventLoop loop;
  std::thread helper([&] {
    result = work();
    QMetaObject::invokeMethod(
        &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
  });
  loop.exec(flags);
  helper.join();
  return result;
}

// Waits, the events running as for RunOffThread, until the fax component has
// stopped; each wait of `sliceMs` that runs out cancels it again, for as long
// as its port (anything with IsOpen(), null for none) can still reach it. A
// session lets go of its port only after this, never under a running component.
template <typename Fax, typename Port>
void WaitUntilStopped(Fax& fax, Port* port, int sliceMs, QEventLoop::ProcessEventsFlags flags = QEventLoop::AllEvents) {
  while (fax.Running() && !RunOffThread([&fax, sliceMs] { return fax.WaitDone(sliceMs); }, flags)) {
    if (!port || !port->IsOpen()) break;
    fax.Cancel();
  }
}

}  // namespace qn
