// Messages to the fax components' window with a time-out; see fax_events.h.
#include "fax_events.h"

#include <chrono>

namespace fe {

void TFaxEventWindow::SetOwnerPumps(bool on) {
  std::lock_guard<std::mutex> lk(mu_);
  pumps_ = on;
}

bool TFaxEventWindow::OwnerPumps() const {
  std::lock_guard<std::mutex> lk(mu_);
  return pumps_;
}

bool TFaxEventWindow::Send(int msg, std::function<void()> handler, int timeoutMs) {
  std::unique_lock<std::mutex> lk(mu_);
  if (!pumps_) {
    lk.unlock();
    handler();
    return true;
  }
  auto item = std::make_shared<Item>();
  item->msg = msg;
  item->fn = std::move(handler);
  queue_.push_back(item);
  cv_.notify_all();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (item->state == Item::Pending || item->state == Item::Running) {
    if (item->state == Item::Pending && cv_.wait_until(lk, deadline) == std::cv_status::timeout &&
        item->state == Item::Pending) {
      item->state = Item::Dropped;
      item->fn = nullptr;
      return false;
    }
    if (item->state == Item::Running) cv_.wait(lk);
  }
  return true;
}

int TFaxEventWindow::Pump(int waitMs) {
  std::unique_lock<std::mutex> lk(mu_);
  if (queue_.empty() && waitMs > 0)
    cv_.wait_for(lk, std::chrono::milliseconds(waitMs), [this] { return !queue_.empty(); });
  int ran = 0;
  while (!queue_.empty()) {
    auto item = queue_.front();
    queue_.pop_front();
    if (item->state != Item::Pending) continue;
    item->state = Item::Running;
    lk.unlock();
    item->fn();
    lk.lock();
    item->state = Item::Done;
    ++ran;
    cv_.notify_all();
  }
  return ran;
}

}  // namespace fe
