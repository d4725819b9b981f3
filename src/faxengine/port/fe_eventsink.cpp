#include "fe_eventsink.h"

namespace fe {

struct TFeQueueSink::Item {
  std::function<void()> call;
  bool done = false;
};

TFeQueueSink::TFeQueueSink() : owner_(std::this_thread::get_id()) {}

TFeQueueSink::~TFeQueueSink() {
  // Release senders still waiting: their calls will not run.
  std::lock_guard<std::mutex> lock(mu_);
  closed_ = true;
  for (auto& item : queue_) item->done = true;
  queue_.clear();
  cv_.notify_all();
}

bool TFeQueueSink::Send(std::function<void()> call, std::chrono::milliseconds timeout) {
  if (std::this_thread::get_id() == owner_) {
    if (call) call();
    return true;
  }
  auto item = std::make_shared<Item>();
  item->call = std::move(call);
  std::unique_lock<std::mutex> lock(mu_);
  if (closed_) return false;
  queue_.push_back(item);
  cv_.notify_all();
  // wait_for with the largest duration would overflow the clock: wait without limit.
  if (timeout == std::chrono::milliseconds::max()) {
    cv_.wait(lock, [&] { return item->done; });
    return true;
  }
  if (cv_.wait_for(lock, timeout, [&] { return item->done; })) return true;
  // Not handled in time: withdraw it, unless it is running right now.
  for (auto it = queue_.begin(); it != queue_.end(); ++it) {
    if (*it == item) {
      queue_.erase(it);
      return false;
    }
  }
  cv_.wait(lock, [&] { return item->done; });
  return true;
}

void TFeQueueSink::Post(std::function<void()> call) {
  if (std::this_thread::get_id() == owner_) {
    if (call) call();
    return;
  }
  auto item = std::make_shared<Item>();
  item->call = std::move(call);
  std::lock_guard<std::mutex> lock(mu_);
  if (closed_) return;
  queue_.push_back(std::move(item));
  cv_.notify_all();
}

void TFeQueueSink::ProcessPending() {
  if (std::this_thread::get_id() != owner_) return;
  std::unique_lock<std::mutex> lock(mu_);
  while (!queue_.empty()) {
    auto item = queue_.front();
    queue_.pop_front();
    lock.unlock();
    if (item->call) item->call();
    lock.lock();
    item->done = true;
    cv_.notify_all();
  }
}

void TFeQueueSink::RunFor(std::chrono::milliseconds duration) {
  RunUntil([] { return false; }, duration);
}

bool TFeQueueSink::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto until = std::chrono::steady_clock::now() + limit;
  for (;;) {
    ProcessPending();
    if (done()) return true;
    std::unique_lock<std::mutex> lock(mu_);
    if (std::chrono::steady_clock::now() >= until) return false;
    cv_.wait_until(lock, std::min(until, std::chrono::steady_clock::now() + std::chrono::milliseconds(10)),
                   [&] { return !queue_.empty(); });
  }
}

}  // namespace fe
