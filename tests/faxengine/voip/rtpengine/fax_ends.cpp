// spandsp's audio and T.38 fax terminals, and our engine on T.38, as the ends
// of real-time calls through rtpengine.
#include "fax_ends.h"

#include <algorithm>
#include <cstdlib>

#include "fe_eventsink.h"
#include "receive_fax.h"
#include "send_fax.h"

// spandsp's headers trip our warning set; they are not ours to fix.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include <spandsp.h>
#pragma GCC diagnostic pop

namespace fe::voip::test {

namespace {

using namespace std::chrono_literals;

// QN_SPANDSP_LOG=1 shows the terminals' T.30 and T.38 log on stderr.
void SetUpLog(logging_state_t* log) {
  const char* env = std::getenv("QN_SPANDSP_LOG");
  if (!env || *env != '1') return;
  span_log_set_level(log, SPAN_LOG_SHOW_SEVERITY | SPAN_LOG_SHOW_PROTOCOL | SPAN_LOG_FLOW);
}

void SetUpT30(t30_state_t* t30, const TTerminalRole& role) {
  SetUpLog(t30_get_logging_state(t30));
  t30_set_tx_ident(t30, role.ident.c_str());
  if (role.sending)
    t30_set_tx_file(t30, role.file.c_str(), -1, -1);
  else
    t30_set_rx_file(t30, role.file.c_str(), -1);
  t30_set_ecm_capability(t30, role.ecm);
  t30_set_supported_compressions(t30, T30_SUPPORT_T4_1D_COMPRESSION | T30_SUPPORT_T4_2D_COMPRESSION |
                                          (role.ecm ? T30_SUPPORT_T6_COMPRESSION : 0));
}

template <typename Wait>
TTerminalResult WaitFor(Wait done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(20ms);
  return {};
}

}  // namespace

// -------------------------------------------------------- audio terminal --

TAudioTerminal::TAudioTerminal(const TTerminalRole& role, const std::string& codec)
    : role_(role), pcma_(codec == "pcma") {
  if (socket_.Open("127.0.0.1", 0) != 0) error_ = socket_.Error();
}

TAudioTerminal::~TAudioTerminal() {
  Stop();
  if (fax_) {
    t30_terminate(fax_get_t30_state(fax_));
    fax_free(fax_);
  }
}

void TAudioTerminal::Start(const TUdpAddress& remote) {
  socket_.SetRemote(remote);
  fax_ = fax_init(nullptr, role_.calling);
  fax_set_transmit_on_idle(fax_, true);
  t30_state_t* t30 = fax_get_t30_state(fax_);
  SetUpT30(t30, role_);
  t30_set_phase_e_handler(t30, &TAudioTerminal::PhaseE, this);
  clock_.Start([this](uint64_t) { Tick(); });
}

void TAudioTerminal::Stop() {
  clock_.Stop();
}

void TAudioTerminal::PhaseE(t30_state_s* s, void* user, int result) {
  auto* self = static_cast<TAudioTerminal*>(user);
  t30_stats_t stats;
  t30_get_transfer_statistics(s, &stats);
  self->pages_ = self->role_.sending ? stats.pages_tx : stats.pages_rx;
  self->badRows_ = stats.bad_rows;
  self->doneAt_ = std::chrono::steady_clock::now();
  self->code_ = result;
}

TTerminalResult TAudioTerminal::Wait(std::chrono::milliseconds limit) {
  WaitFor([this] { return code_ >= 0; }, limit);
  TTerminalResult r;
  r.code = code_;
  r.pages = pages_;
  r.badRows = badRows_;
  r.text = r.code >= 0 ? t30_completion_code_to_str(r.code) : "no result in time";
  return r;
}

void TAudioTerminal::Tick() {
  uint8_t buf[2048];
  const int payloadType = pcma_ ? 8 : 0;
  for (int n; (n = socket_.Receive(buf, sizeof buf)) > 0;) {
    // Version 2 without CSRCs or extension, our payload type; anything else
    // (RTCP, events) is not audio for the terminal.
    if (n <= 12 || (buf[0] & 0xFF) != 0x80 || (buf[1] & 0x7F) != payloadType) continue;
    packets_.emplace_back(buf + 12, buf + n);
    ++packetsIn_;
  }
  // Packets are played in arrival order (loopback keeps it); a backlog after
  // a burst is played two at a time, a tick without one is filled in.
  for (int played = 0; played < (packets_.size() > 4 ? 2 : 1); ++played) {
    if (packets_.empty()) {
      fax_rx_fillin(fax_, kTickSamples);
      break;
    }
    const auto& p = packets_.front();
    int16_t rx[1024];
    const int count = static_cast<int>(std::min<size_t>(p.size(), 1024));
    for (int i = 0; i < count; ++i) rx[i] = pcma_ ? alaw_to_linear(p[i]) : ulaw_to_linear(p[i]);
    fax_rx(fax_, rx, count);
    packets_.pop_front();
  }
  int16_t tx[kTickSamples];
  const int made = std::max(fax_tx(fax_, tx, kTickSamples), 0);
  std::fill(tx + made, tx + kTickSamples, 0);
  uint8_t packet[12 + kTickSamples];
  packet[0] = 0x80;
  packet[1] = static_cast<uint8_t>((seq_ == 0 ? 0x80 : 0) | payloadType);
  packet[2] = static_cast<uint8_t>(seq_ >> 8);
  packet[3] = static_cast<uint8_t>(seq_);
  for (int i = 0; i < 4; ++i) packet[4 + i] = static_cast<uint8_t>(ts_ >> (24 - 8 * i));
  for (int i = 0; i < 4; ++i) packet[8 + i] = static_cast<uint8_t>(0x5EED0001u >> (24 - 8 * i));
  for (int i = 0; i < kTickSamples; ++i) packet[12 + i] = pcma_ ? linear_to_alaw(tx[i]) : linear_to_ulaw(tx[i]);
  socket_.Send(packet, sizeof packet);
  ++seq_;
  ts_ += kTickSamples;
}

// ---------------------------------------------------------- T.38 terminal --

namespace {
udptl::TSession::TSettings FarSettings(const TT38TerminalOptions& o) {
  udptl::TSession::TSettings s;
  s.farMaxDatagram = o.farMaxDatagram;
  return s;
}
}  // namespace

TT38Terminal::TT38Terminal(const TTerminalRole& role, const TT38TerminalOptions& options)
    : role_(role), options_(options), session_(FarSettings(options)) {
  if (socket_.Open("127.0.0.1", options.port) != 0) error_ = socket_.Error();
}

TT38Terminal::~TT38Terminal() {
  Stop();
  if (terminal_) {
    t30_terminate(t38_terminal_get_t30_state(terminal_));
    t38_terminal_free(terminal_);
  }
}

int TT38Terminal::OnPacket(t38_core_state_t*, void* user, const uint8_t* buf, int len, int count) {
  auto* self = static_cast<TT38Terminal*>(user);
  // The second byte of count is the redundancy set for the packet's category.
  self->session_.Send(buf, static_cast<size_t>(len), (count >> 8) & 0xFF);
  return 0;
}

void TT38Terminal::PhaseE(t30_state_s* s, void* user, int result) {
  auto* self = static_cast<TT38Terminal*>(user);
  t30_stats_t stats;
  t30_get_transfer_statistics(s, &stats);
  self->pages_ = self->role_.sending ? stats.pages_tx : stats.pages_rx;
  self->badRows_ = stats.bad_rows;
  self->code_ = result;
}

void TT38Terminal::Start(const TUdpAddress& remote) {
  socket_.SetRemote(remote);
  terminal_ = t38_terminal_init(nullptr, role_.calling, &TT38Terminal::OnPacket, this);
  t38_core_state_t* core = t38_terminal_get_t38_core_state(terminal_);
  t38_set_t38_version(core, 0);
  t38_set_data_rate_management_method(core, T38_DATA_RATE_MANAGEMENT_TRANSFERRED_TCF);
  t38_set_max_datagram_size(core, static_cast<int>(options_.farMaxDatagram));
  auto level = [](int redundancy) { return (redundancy << 8) | 1; };
  t38_set_redundancy_control(core, T38_PACKET_CATEGORY_INDICATOR, level(options_.redundancyIndicator));
  t38_set_redundancy_control(core, T38_PACKET_CATEGORY_CONTROL_DATA, level(options_.redundancyControl));
  t38_set_redundancy_control(core, T38_PACKET_CATEGORY_CONTROL_DATA_END, level(options_.redundancyControl));
  t38_set_redundancy_control(core, T38_PACKET_CATEGORY_IMAGE_DATA, level(options_.redundancyImage));
  t38_set_redundancy_control(core, T38_PACKET_CATEGORY_IMAGE_DATA_END, level(options_.redundancyControl));
  t30_state_t* t30 = t38_terminal_get_t30_state(terminal_);
  SetUpT30(t30, role_);
  t30_set_phase_e_handler(t30, &TT38Terminal::PhaseE, this);
  session_.SetSend([this](const uint8_t* d, size_t n) { socket_.Send(d, n); });
  session_.SetIfpSink([core](uint16_t seq, const uint8_t* d, size_t n, udptl::TOrigin) {
    t38_core_rx_ifp_packet(core, d, static_cast<int>(n), seq);
  });
  clock_.Start([this](uint64_t) { Tick(); });
}

void TT38Terminal::Stop() {
  clock_.Stop();
}

TTerminalResult TT38Terminal::Wait(std::chrono::milliseconds limit) {
  WaitFor([this] { return code_ >= 0; }, limit);
  TTerminalResult r;
  r.code = code_;
  r.pages = pages_;
  r.badRows = badRows_;
  r.text = r.code >= 0 ? t30_completion_code_to_str(r.code) : "no result in time";
  return r;
}

void TT38Terminal::Tick() {
  uint8_t buf[2048];
  for (int n; (n = socket_.Receive(buf, sizeof buf)) > 0;) session_.Receive(buf, static_cast<size_t>(n));
  session_.Advance(20);
  t38_terminal_send_timeout(terminal_, kTickSamples);
}

// ------------------------------------------------------------ our engine --

namespace {

// The T.38 path, its statistics copied out every tick and when the call
// ends (the session owns the path and drops it on the media thread).
class TWatchedPath final : public TMediaPath {
 public:
  TWatchedPath(const TT38Settings& settings, TDatagramSend send, std::shared_ptr<TT38PathStats> stats)
      : stats_(std::move(stats)), path_(settings, std::move(send)) {}
  ~TWatchedPath() override { *stats_ = path_.Stats(); }
  void Transmit(const int16_t* samples, int count) override { path_.Transmit(samples, count); }
  int Receive(int16_t* samples, int count) override {
    *stats_ = path_.Stats();
    return path_.Receive(samples, count);
  }
  void Deliver(const uint8_t* data, size_t size) override { path_.Deliver(data, size); }
  std::string Summary() const override { return path_.Summary(); }
  int QuietLimitMs() const override { return path_.QuietLimitMs(); }
  void SetTrace(TTraceSink trace) override {
    // Per-IFP lines are many; the trace keeps the events unless
    // QN_T38_TRACE=1 asks for all.
    static const bool all = std::getenv("QN_T38_TRACE") != nullptr;
    path_.SetTrace([trace](const std::string& line) {
      if (all || (line.rfind("tx ", 0) != 0 && line.rfind("rx ", 0) != 0)) trace(line);
    });
  }

 private:
  std::shared_ptr<TT38PathStats> stats_;
  TT38Path path_;
};

}  // namespace

TOurT38Fax::TOurT38Fax(const TOurFaxOptions& options) : options_(options), port_(options.port) {
  if (port_ > 0) return;
  TUdpSocket probe;
  if (probe.Open("127.0.0.1", 0) != 0)
    error_ = probe.Error();
  else
    port_ = probe.Local().Port();
}

TOurT38Fax::~TOurT38Fax() {
  done_ = true;
  if (thread_.joinable()) thread_.join();
  if (session_) session_->Stop();
}

void TOurT38Fax::Line(const std::string& text) {
  std::lock_guard<std::mutex> lk(mu_);
  trace_.push_back(text);
}

bool TOurT38Fax::Start(const TUdpAddress& remote) {
  TMediaConfig config;
  config.calling = options_.sending;
  config.local.host = "127.0.0.1";
  config.local.low = config.local.high = port_;
  config.remote = remote;
  const TT38Settings settings = options_.t38;
  auto stats = stats_;
  config.makePath = [settings, stats](TDatagramSend send) -> std::unique_ptr<TMediaPath> {
    return std::make_unique<TWatchedPath>(settings, std::move(send), stats);
  };
  session_ = std::make_unique<TMediaSession>();
  session_->SetTrace([this](const std::string& line) { Line(line); });
  session_->Modem().SetTrace([this](const std::string& line) { Line("engine: " + line); });
  if (session_->Open(config) != 0) return error_ = session_->Error(), false;
  session_->Start();
  thread_ = std::thread([this] { Run(); });
  return true;
}

void TOurT38Fax::Run() {
  // The event queue belongs to this thread: the engine's events run here.
  TFeQueueSink sink;
  std::unique_ptr<TFeAbstractFax> fax;
  if (options_.sending) {
    auto send = std::make_unique<TFeSendFax>();
    send->FaxFile = options_.file;
    send->PhoneNumber = "1";  // without call signalling it only goes into the dial command
    fax = std::move(send);
  } else {
    auto receive = std::make_unique<TFeReceiveFax>();
    receive->DestinationDir = options_.dir;
    receive->OneFax = true;
    fax = std::move(receive);
  }
  fax->FaxClass = TFaxClass::fcClass1;
  fax->DesiredBPS = options_.bps;
  fax->DesiredECM = options_.ecm;
  fax->StationID = options_.stationId;
  fax->SetComPort(&session_->Modem());
  fax->SetEventSink(&sink);
  int result = -1;
  fax->OnFaxFinish = [&](TFeAbstractFax&, int code) { result = code; };
  fax->OnFaxError = [this](TFeAbstractFax&, int code) { Line("engine error " + std::to_string(code)); };
  const int started = options_.sending ? static_cast<TFeSendFax*>(fax.get())->StartSend()
                                       : static_cast<TFeReceiveFax*>(fax.get())->StartReceive();
  if (started < 0) {
    result_ = -started;
    return;
  }
  while ((result < 0 || fax->Running()) && !done_) sink.RunFor(100ms);
  if (result < 0) {
    fax->Cancel();
    sink.RunUntil([&] { return !fax->Running(); }, 5s);
  }
  result_ = result < 0 ? 9999 : result;
}

int TOurT38Fax::Wait(std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  // Without a thread (Start failed) no result will come.
  while (thread_.joinable() && result_ < 0 && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(20ms);
  const int result = result_;
  done_ = true;
  if (thread_.joinable()) thread_.join();
  if (session_) session_->Stop();
  return result;
}

std::vector<std::string> TOurT38Fax::Trace() const {
  std::lock_guard<std::mutex> lk(mu_);
  return trace_;
}

TT38PathStats TOurT38Fax::PathStats() const {
  std::lock_guard<std::mutex> lk(mu_);
  return *stats_;
}

}  // namespace fe::voip::test
