// The fax components' hidden window: the engines send it messages from the port's
// dispatch thread, each with a 1-second time-out, and it runs the component's
// events on the thread that owns it. An owner that pumps (a user interface, the
// command-line tool's main loop) calls Pump(); without one the handler runs at
// once on the sending thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace fe {

// Message numbers of the fax components' window.
enum TFaxMessage : int {
  fmFaxNext = 32417,
  fmFaxStatus = 32418,
  fmFaxLog = 32419,
  fmFaxName = 32420,
  fmFaxAccept = 32421,
  fmFaxError = 32422,
  fmFaxFinish = 32423,
};

constexpr int kFaxMessageTimeoutMs = 1000;

class TFaxEventWindow {
 public:
  // Owner pumps: Send() then waits for Pump() on the owner's thread.
  void SetOwnerPumps(bool on);
  bool OwnerPumps() const;

  // Runs handler for message msg on the owner's thread; returns false when the
  // owner did not take it within timeoutMs (the handler is then dropped). A
  // handler already running is waited for, since it may write to the sender's
  // variables.
  bool Send(int msg, std::function<void()> handler, int timeoutMs = kFaxMessageTimeoutMs);

  // Owner side: runs waiting messages, first waiting up to waitMs for one.
  // Returns how many ran.
  int Pump(int waitMs = 0);

 private:
  struct Item {
    int msg;
    std::function<void()> fn;
    enum { Pending, Running, Done, Dropped } state = Pending;
  };
  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::shared_ptr<Item>> queue_;
  bool pumps_ = false;
};

}  // namespace fe
