// The media session of a fax over IP line; see media_session.h.
#include "media_session.h"

#include <algorithm>
#include <cstdio>

namespace fe::voip {

// ------------------------------------------------------------------ clock --

TMediaClock::TMediaClock(std::chrono::microseconds period, std::chrono::milliseconds maxBehind)
    : period_(period), maxBehind_(maxBehind) {}

TMediaClock::~TMediaClock() {
  Stop();
}

void TMediaClock::Start(std::function<void(uint64_t)> tick) {
  Stop();
  {
    std::lock_guard<std::mutex> lk(mu_);
    stop_ = false;
  }
  ticks_ = 0;
  skipped_ = 0;
  start_ = std::chrono::steady_clock::now();
  thread_ = std::thread([this, tick = std::move(tick)] { Run(tick); });
}

void TMediaClock::Stop() {
  {
    std::lock_guard<std::mutex> lk(mu_);
    stop_ = true;
  }
  cv_.notify_all();
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void TMediaClock::Run(std::function<void(uint64_t)> tick) {
  uint64_t n = 0;
  for (;;) {
    // Tick n is due at start + n periods: an absolute deadline, never one
    // measured from the last wake, so lateness does not add up.
    const auto due = start_ + period_ * static_cast<int64_t>(n);
    {
      std::unique_lock<std::mutex> lk(mu_);
      if (cv_.wait_until(lk, due, [this] { return stop_; })) return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - due > maxBehind_) {
      // Far behind (a suspended computer): give up the missed ticks rather than
      // send a burst of stale audio.
      const auto missed = static_cast<uint64_t>((now - due) / period_);
      n += missed;
      skipped_ += missed;
    }
    tick(n);
    ++n;
    ticks_ = n;
  }
}

// ---------------------------------------------------------------- session --

namespace {
constexpr int kTickMs = 20;
constexpr size_t kMaxDatagram = 2048;
constexpr int kMaxPacketsPerTick = 64;
}  // namespace

TMediaSession::TMediaSession() : modem_(this) {}

TMediaSession::~TMediaSession() {
  Stop();
}

int TMediaSession::Open(const TMediaConfig& config) {
  config_ = config;
  if (!config_.makePath) {
    error_ = "no media path";
    return -1;
  }
  if (config_.calling && !config_.remote.Valid() && !config_.signalling) {
    error_ = "the calling side needs the remote address";
    return -1;
  }
  if (socket_.OpenInRange(config_.local.host, config_.local.low, config_.local.high,
                          config_.local.low != config_.local.high) != 0) {
    error_ = socket_.Error();
    return -1;
  }
  if (config_.remote.Valid()) socket_.SetRemote(config_.remote);
  return 0;
}

void TMediaSession::Start() {
  clock_.Start([this](uint64_t n) { Tick(n); });
}

void TMediaSession::Stop() {
  clock_.Stop();
  if (state_ == TState::InCall)
    EndCall(clock_.Ticks(), hangUpAsked_.exchange(false) ? "hung up here" : "session stopped", false);
  modem_.Close();
}

TDatagramSend TMediaSession::Sender() {
  return [this](const uint8_t* data, size_t size) {
    if (socket_.Send(data, size)) ++packetsOut_;
  };
}

void TMediaSession::SetPath(std::unique_ptr<TMediaPath> path) {
  std::lock_guard<std::mutex> lk(pathMu_);
  nextPath_ = std::move(path);
  pathPending_ = true;
}

void TMediaSession::ModemDial(const std::string& number) {
  {
    std::lock_guard<std::mutex> lk(pathMu_);
    dialNumber_ = number;
  }
  dialAsked_ = true;
}

void TMediaSession::SignalRinging(const std::string& caller) {
  std::lock_guard<std::mutex> lk(pathMu_);
  signals_.push_back({TSignal::TKind::Ringing, caller, {}, {}, nullptr});
  signalsPending_ = true;
}

void TMediaSession::SignalConnected(const TUdpAddress& remote, std::unique_ptr<TMediaPath> path) {
  std::lock_guard<std::mutex> lk(pathMu_);
  signals_.push_back({TSignal::TKind::Connected, {}, {}, remote, std::move(path)});
  signalsPending_ = true;
}

void TMediaSession::SignalEnded(const std::string& result, const std::string& why) {
  std::lock_guard<std::mutex> lk(pathMu_);
  signals_.push_back({TSignal::TKind::Ended, result, why, {}, nullptr});
  signalsPending_ = true;
}

void TMediaSession::TakeSignals(uint64_t n) {
  std::vector<TSignal> signals;
  {
    std::lock_guard<std::mutex> lk(pathMu_);
    signals.swap(signals_);
  }
  for (auto& s : signals) {
    switch (s.kind) {
      case TSignal::TKind::Ringing:
        if (state_ != TState::Idle || dialling_) break;
        state_ = TState::Ringing;
        lastPacketTick_ = nextRingTick_ = n;
        caller_ = s.text;
        Trace(n, "call: incoming from " + caller_);
        break;
      case TSignal::TKind::Connected:
        socket_.Relatch();
        socket_.SetRemote(s.remote);
        if (state_ == TState::InCall) {
          // A new offer in the call (T.38, or the far end moved).
          Trace(n, "call: media now to " + s.remote.Text() + (s.path ? ", path switched from " + PathSummary() : ""));
          if (s.path) UsePath(std::move(s.path));
        } else if (dialling_) {
          dialling_ = false;
          if (BeginCall(n, "dialled", std::move(s.path))) modem_.Connected();
        } else if (state_ == TState::Ringing) {
          if (BeginCall(n, "answered", std::move(s.path))) modem_.Answered();
        }
        break;
      case TSignal::TKind::Ended:
        if (state_ == TState::InCall) {
          EndCall(n, s.why, true, s.text);
        } else if (dialling_) {
          dialling_ = false;
          Trace(n, "call: not through (" + s.why + ")");
          modem_.CallEnded(s.text);
        } else if (state_ == TState::Ringing) {
          Trace(n, "call: caller gave up before the answer (" + s.why + ")");
          state_ = TState::Idle;
          // An engine that has answered waits for the call: it hears the end.
          if (nextRingTick_ == UINT64_MAX) modem_.CallEnded(s.text);
        }
        break;
    }
  }
}

void TMediaSession::ModemAnswer() {
  answerAsked_ = true;
}

void TMediaSession::ModemHangUp() {
  hangUpAsked_ = true;
}

void TMediaSession::Trace(uint64_t n, const std::string& text) {
  if (!trace_) return;
  char at[32];
  std::snprintf(at, sizeof at, "%llu.%03llu ", static_cast<unsigned long long>(n * kTickMs / 1000),
                static_cast<unsigned long long>(n * kTickMs % 1000));
  trace_(at + text);
}

std::string TMediaSession::PathSummary() const {
  return path_ ? path_->Summary() : "no path";
}

void TMediaSession::UsePath(std::unique_ptr<TMediaPath> path) {
  path_ = std::move(path);
  if (path_ && trace_) path_->SetTrace([this](const std::string& line) { Trace(tick_, "path: " + line); });
}

bool TMediaSession::BeginCall(uint64_t n, const char* how, std::unique_ptr<TMediaPath> path) {
  UsePath(path ? std::move(path) : config_.makePath(Sender()));
  if (!path_) {
    Trace(n, std::string("call: not ") + how + ": no media path");
    state_ = TState::Idle;
    modem_.CallEnded("NO CARRIER");
    return false;
  }
  state_ = TState::InCall;
  ++calls_;
  callStartTick_ = lastPacketTick_ = lastSoundTick_ = n;
  callPacketsIn_ = 0;
  packetsOut_ = 0;
  Trace(n, std::string("call: ") + how + " " + socket_.Remote().Text() + " from " + socket_.Local().Text() + ", " +
               PathSummary().substr(0, PathSummary().find(':')));
  return true;
}

void TMediaSession::EndCall(uint64_t n, const std::string& why, bool tellModem, const std::string& result) {
  Trace(n, "call: ended (" + why + ") after " + std::to_string((n - callStartTick_) * kTickMs / 1000) +
               " s; packets in " + std::to_string(callPacketsIn_) + ", out " + std::to_string(packetsOut_) + "; " +
               PathSummary());
  path_.reset();
  state_ = TState::Idle;
  hadCall_ = true;
  callEndTick_ = n;
  // The next caller may come from elsewhere.
  socket_.Relatch();
  if (config_.remote.Valid() && config_.calling) socket_.SetRemote(config_.remote);
  if (tellModem) modem_.CallEnded(result);
}

void TMediaSession::PollSocket(uint64_t n) {
  uint8_t buf[kMaxDatagram];
  for (int i = 0; i < kMaxPacketsPerTick; ++i) {
    TUdpAddress from;
    const int size = socket_.Receive(buf, sizeof buf, &from);
    if (size <= 0) break;
    ++packetsIn_;
    switch (state_.load()) {
      case TState::InCall:
        lastPacketTick_ = n;
        ++callPacketsIn_;
        path_->Deliver(buf, static_cast<size_t>(size));
        break;
      case TState::Ringing:
        lastPacketTick_ = n;
        break;
      case TState::Idle:
        if (config_.calling || config_.signalling) break;
        // Stragglers of the last call (its caller's packets shortly after the
        // hang-up) are no new call; anyone else's packets are.
        if (hadCall_ && from == lastCaller_ &&
            (n - callEndTick_) * kTickMs < static_cast<uint64_t>(config_.quietAfterCallMs))
          break;
        state_ = TState::Ringing;
        lastPacketTick_ = n;
        nextRingTick_ = n;
        lastCaller_ = from;
        caller_ = from.Text();
        Trace(n, "call: incoming from " + caller_);
        break;
    }
  }
}

void TMediaSession::Tick(uint64_t n) {
  tick_ = n;
  if (pathPending_.exchange(false)) {
    std::unique_ptr<TMediaPath> next;
    {
      std::lock_guard<std::mutex> lk(pathMu_);
      next = std::move(nextPath_);
    }
    if (state_ == TState::InCall && next) {
      Trace(n, "call: path switched from " + PathSummary() + " after " + std::to_string(callPacketsIn_) +
                   " packets in, " + std::to_string(packetsOut_) + " out");
      UsePath(std::move(next));
    }
  }

  if (signalsPending_.exchange(false)) TakeSignals(n);
  if (config_.signalling) {
    if (hangUpAsked_.exchange(false)) {
      if (state_ != TState::Idle || dialling_) config_.signalling->SignalHangUp();
      if (state_ == TState::InCall) EndCall(n, "hung up here", false);
      state_ = TState::Idle;
      dialling_ = false;
    }
    if (dialAsked_.exchange(false)) {
      std::string number;
      {
        std::lock_guard<std::mutex> lk(pathMu_);
        number = dialNumber_;
      }
      if (state_ == TState::Idle && !dialling_) {
        dialling_ = true;
        Trace(n, "call: dialling " + number);
        config_.signalling->SignalDial(number);
      } else {
        Trace(n, "call: cannot dial now");
        modem_.CallEnded("NO CARRIER");
      }
    }
    if (answerAsked_.exchange(false)) {
      if (state_ == TState::Ringing) {
        config_.signalling->SignalAnswer();
        nextRingTick_ = UINT64_MAX;  // no more rings: the answer is on its way
      } else {
        Trace(n, "call: nothing to answer");
        modem_.CallEnded("NO CARRIER");
      }
    }
  }
  if (hangUpAsked_.exchange(false) && state_ == TState::InCall) EndCall(n, "hung up here", false);
  if (dialAsked_.exchange(false)) {
    if (state_ == TState::Idle && config_.calling) {
      if (BeginCall(n, "dialled")) modem_.Connected();
    } else {
      Trace(n, "call: cannot dial now");
      modem_.CallEnded("NO CARRIER");
    }
  }
  if (answerAsked_.exchange(false)) {
    if (state_ == TState::Ringing) {
      if (BeginCall(n, "answered")) modem_.Answered();
    } else {
      Trace(n, "call: nothing to answer");
      modem_.CallEnded("NO CARRIER");
    }
  }

  PollSocket(n);

  const uint64_t silentMs = (n - lastPacketTick_) * kTickMs;
  if (state_ == TState::Ringing) {
    if (!config_.signalling &&
        silentMs >= static_cast<uint64_t>(std::max(config_.silenceEndMs, config_.ringingQuietMs))) {
      Trace(n, "call: caller gave up before the answer");
      state_ = TState::Idle;
      hadCall_ = true;
      callEndTick_ = n;
    } else if (n >= nextRingTick_) {
      modem_.Ring(caller_);
      nextRingTick_ = n + static_cast<uint64_t>(config_.ringPeriodMs / kTickMs);
    }
  }
  if (state_ == TState::InCall) {
    // A T.38 gateway sends nothing while its audio side is silent, that is for
    // as long as our modem sends training or a page (an ECM block takes 36 s at
    // 14400 bit/s): on a path that allows such quiet, the far end's silence
    // counts only from our last sound. A G.711 stream never pauses: there the
    // packets alone tell that the far end is gone.
    const bool quietPath = path_->QuietLimitMs() > 0;
    const uint64_t quietMs = (n - (quietPath ? std::max(lastPacketTick_, lastSoundTick_) : lastPacketTick_)) * kTickMs;
    const int limitMs = std::max(config_.silenceEndMs, path_->QuietLimitMs());
    if (quietMs >= static_cast<uint64_t>(limitMs)) {
      EndCall(n, "nothing heard for " + std::to_string(quietMs / 1000) + " s", true);
      if (config_.signalling) config_.signalling->SignalHangUp();
      return;
    }
    int16_t rx[kTickSamples], tx[kTickSamples];
    const int real = path_->Receive(rx, kTickSamples);
    modem_.Audio(rx, real, tx, kTickSamples);
    if (std::any_of(tx, tx + kTickSamples, [](int16_t v) { return v != 0; })) lastSoundTick_ = n;
    path_->Transmit(tx, kTickSamples);
  } else {
    modem_.Service();
  }
}

}  // namespace fe::voip
