// Helpers shared by the port tests: a recorder of trigger events and a wait.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

#include "fe_comport.h"

namespace porttest {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Event {
  unsigned msg, wParam;
  long lParam;
  Clock::time_point at;
  std::thread::id thread;
};

// Registers a handler on the port and keeps every event it sees.
class Recorder {
 public:
  explicit Recorder(fe::TFeComPort& port) : port_(port) {
    id_ = port.RegisterTriggerHandler([this](unsigned m, unsigned w, long l) {
      std::lock_guard<std::mutex> lock(mu_);
      events_.push_back({m, w, l, Clock::now(), std::this_thread::get_id()});
      cv_.notify_all();
    });
  }
  ~Recorder() { port_.DeregisterTriggerHandler(id_); }
  std::vector<Event> Events() {
    std::lock_guard<std::mutex> lock(mu_);
    return events_;
  }
  std::vector<Event> Of(unsigned msg, unsigned wParam) {
    std::vector<Event> out;
    for (const auto& e : Events())
      if (e.msg == msg && e.wParam == wParam) out.push_back(e);
    return out;
  }
  // Waits until an event with this message (and handle, unless 0) was seen.
  bool WaitFor(unsigned msg, unsigned wParam, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, limit, [&] {
      for (const auto& e : events_)
        if (e.msg == msg && (wParam == 0 || e.wParam == wParam)) return true;
      return false;
    });
  }

 private:
  fe::TFeComPort& port_;
  int id_ = 0;
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<Event> events_;
};

}  // namespace porttest
