// The lossy loopback relay; see loss_relay.h.
#include "loss_relay.h"

#include <chrono>

namespace fe::voip::test {

double TLossRelayStats::LossRate() const {
  const uint64_t seen = forwarded + forwardDropped + backwarded + backwardDropped;
  return seen == 0 ? 0.0 : double(forwardDropped + backwardDropped) / double(seen);
}

TLossRelay::~TLossRelay() {
  Stop();
}

int TLossRelay::Start(const std::string& host, const TUdpAddress& answering, const TLossRelaySettings& settings) {
  Stop();
  settings_ = settings;
  forward_ = {std::mt19937(settings.seed), 0};
  // The way back draws from a stream of its own, apart from the way there.
  backward_ = {std::mt19937(settings.seed ^ 0x9E3779B9u), 0};
  stats_ = {};
  if (!answering.Valid()) {
    error_ = "no answering side to relay to";
    return -1;
  }
  if (front_.Open(host, 0) != 0) {
    error_ = front_.Error();
    return -1;
  }
  if (back_.Open(host, 0) != 0) {
    error_ = back_.Error();
    front_.Close();
    return -1;
  }
  // The answering side is fixed; the calling side is whoever sent last.
  back_.SetRemote(answering);
  back_.SetLatching(false);
  stop_ = false;
  thread_ = std::thread([this] { Run(); });
  return 0;
}

void TLossRelay::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  front_.Close();
  back_.Close();
}

TLossRelayStats TLossRelay::Stats() const {
  std::lock_guard<std::mutex> lk(mu_);
  return stats_;
}

void TLossRelay::SetLoss(double forward, double backward) {
  std::lock_guard<std::mutex> lk(mu_);
  settings_.lossForward = forward;
  settings_.lossBackward = backward;
}

bool TLossRelay::Drop(TDirection& direction, double probability) {
  // One draw per datagram, whether or not losses have begun, so the pattern of
  // a seed does not depend on spareFirst. mt19937's output is fixed by the
  // standard (unlike the distributions'), so the same seed loses the same
  // packets with any standard library.
  const double draw = double(direction.random()) / 4294967296.0;
  return direction.seen++ >= settings_.spareFirst && draw < probability;
}

void TLossRelay::Run() {
  uint8_t buf[4096];
  while (!stop_) {
    bool any = false;
    // The caller may move (a new call from another port): answer the latest.
    front_.Relatch();
    for (int n; (n = front_.Receive(buf, sizeof buf)) > 0; front_.Relatch()) {
      any = true;
      std::lock_guard<std::mutex> lk(mu_);
      if (Drop(forward_, settings_.lossForward)) {
        ++stats_.forwardDropped;
      } else {
        ++stats_.forwarded;
        back_.Send(buf, static_cast<size_t>(n));
      }
    }
    for (int n; (n = back_.Receive(buf, sizeof buf)) > 0;) {
      any = true;
      std::lock_guard<std::mutex> lk(mu_);
      if (Drop(backward_, settings_.lossBackward)) {
        ++stats_.backwardDropped;
      } else {
        ++stats_.backwarded;
        front_.Send(buf, static_cast<size_t>(n));
      }
    }
    if (!any) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace fe::voip::test
