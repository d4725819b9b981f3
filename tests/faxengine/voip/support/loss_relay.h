// A UDP relay on loopback that loses packets on purpose, for calls over a lossy
// network in tests and benchmarks. The calling side sends to Front(); the relay
// passes its datagrams on to the answering side from a second socket and passes
// the answers back to whoever last sent to Front(). Each datagram, either way,
// is dropped with the set probability (independent losses: a Bernoulli model)
// drawn from a seeded generator of its direction, so with the same seed the
// n-th datagram each way is lost or kept alike in every run, however the two
// directions interleave. The relay runs on a thread of its own
// and polls both sockets every millisecond.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <random>
#include <string>
#include <thread>

#include "udp_socket.h"

namespace fe::voip::test {

struct TLossRelaySettings {
  double lossForward = 0;   // calling side to answering side: probability of a drop
  double lossBackward = 0;  // answering side to calling side
  uint32_t seed = 1;
  // Datagrams passed untouched each way before losses begin (a call's set-up, say).
  uint64_t spareFirst = 0;
};

struct TLossRelayStats {
  uint64_t forwarded = 0, forwardDropped = 0;
  uint64_t backwarded = 0, backwardDropped = 0;
  // Dropped over seen, both directions; 0 when nothing was seen.
  double LossRate() const;
};

class TLossRelay {
 public:
  TLossRelay() = default;
  ~TLossRelay();
  TLossRelay(const TLossRelay&) = delete;
  TLossRelay& operator=(const TLossRelay&) = delete;

  // Binds both sockets on host (ports picked by the system) and starts relaying
  // to answering; 0, or -1 with Error() saying why.
  int Start(const std::string& host, const TUdpAddress& answering, const TLossRelaySettings& settings);
  void Stop();
  const std::string& Error() const { return error_; }

  // Where the calling side sends.
  TUdpAddress Front() const { return front_.Local(); }
  int FrontPort() const { return front_.Local().Port(); }
  TLossRelayStats Stats() const;
  // Changes the loss probabilities of a running relay (the generator goes on).
  void SetLoss(double forward, double backward);

 private:
  void Run();
  struct TDirection {
    std::mt19937 random;
    uint64_t seen = 0;
  };
  bool Drop(TDirection& direction, double probability);

  TUdpSocket front_, back_;
  TLossRelaySettings settings_;
  std::string error_;
  TDirection forward_, backward_;
  mutable std::mutex mu_;
  TLossRelayStats stats_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace fe::voip::test
