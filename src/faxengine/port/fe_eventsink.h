// How the engine reaches the thread that owns the user interface. Engines never
// call the interface themselves: they hand a call to a sink, which runs it on the
// receiving thread. Two ways:
// - Send waits for the call with a time-out (a message sent with a time-out); a
//   call not taken in time may be withdrawn. For what may be skipped when late
//   (status updates) or must be answered at once (a file name, accept or not).
// - Post queues the call and returns at once; it is never withdrawn. For what
//   must arrive however late (log, error and finish events).
// Calls run on the receiving thread in the order they were handed over, Send and
// Post alike. The Qt layer adapts a sink to its event loop; command-line tools use
// the direct sink; tests and plain loops can use the queue sink.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace fe {

class TFeEventSink {
 public:
  virtual ~TFeEventSink() = default;

  // Runs `call` on the receiving thread and waits at most `timeout` for it to
  // finish. Returns true when it ran in time. On false the call may still run
  // later or be dropped, so it must own everything it uses.
  virtual bool Send(std::function<void()> call, std::chrono::milliseconds timeout) = 0;

  // Runs `call` on the receiving thread exactly once, after every call handed
  // over before it, however late; the caller does not wait for it (a sink
  // should override this to queue without waiting; this default waits until the
  // call has run). The call must own everything it uses.
  virtual void Post(std::function<void()> call) { Send(std::move(call), std::chrono::milliseconds::max()); }

  // Lets pending calls run when called on the receiving thread (a step that
  // "lets the event loop run"); does nothing on other threads.
  virtual void ProcessPending() {}
};

// Runs every call at once on the sending thread.
class TFeDirectSink final : public TFeEventSink {
 public:
  bool Send(std::function<void()> call, std::chrono::milliseconds) override {
    if (call) call();
    return true;
  }
  void Post(std::function<void()> call) override {
    if (call) call();
  }
};

// A queue of calls drained by its owning thread (the thread that created it)
// through ProcessPending or RunFor. A call handed over on the owning thread itself
// runs at once, so that the owner can never wait on itself. Calls still queued
// when the sink is destroyed do not run.
class TFeQueueSink final : public TFeEventSink {
 public:
  TFeQueueSink();
  ~TFeQueueSink() override;

  bool Send(std::function<void()> call, std::chrono::milliseconds timeout) override;
  void Post(std::function<void()> call) override;
  void ProcessPending() override;

  // Runs pending calls as they arrive for `duration` (owning thread only).
  void RunFor(std::chrono::milliseconds duration);
  // Runs pending calls until `done` returns true or `limit` passes; returns done().
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

 private:
  struct Item;
  std::thread::id owner_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::shared_ptr<Item>> queue_;
  bool closed_ = false;
};

}  // namespace fe
