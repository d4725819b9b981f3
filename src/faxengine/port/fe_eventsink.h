// How the engine reaches the thread that owns the user interface. Engines never
// call the interface themselves: they hand a call to a sink, which runs it on the
// receiving thread and waits for it with a time-out (a message sent with a
// time-out). The Qt layer adapts a sink to its event loop; command-line tools use
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
};

// A queue of calls drained by its owning thread (the thread that created it)
// through ProcessPending or RunFor. A call sent from the owning thread itself runs
// at once, so that the owner can never wait on itself.
class TFeQueueSink final : public TFeEventSink {
 public:
  TFeQueueSink();
  ~TFeQueueSink() override;

  bool Send(std::function<void()> call, std::chrono::milliseconds timeout) override;
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
