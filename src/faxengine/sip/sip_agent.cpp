// The SIP user agent of a fax line; see sip_agent.h.
#include "sip_agent.h"

#include <sofia-sip/nua.h>
#include <sofia-sip/nua_tag.h>
#include <sofia-sip/sip_header.h>
#include <sofia-sip/sip_status.h>
#include <sofia-sip/su_log.h>
#include <sofia-sip/tport_tag.h>
#include <spandsp.h>
#include <strings.h>

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <future>
#include <random>
#include <vector>

#include "digest.h"
#include "rtp_path.h"
#include "t38_path.h"

namespace fe::sip {

using Clock = std::chrono::steady_clock;

std::string RegistrationText(const TRegistration& r) {
  const std::string code = r.status ? " (" + std::to_string(r.status) + " " + r.phrase + ")" : "";
  switch (r.state) {
    case TRegState::Idle:
      return "not registered";
    case TRegState::Registering:
      return "no answer from the server yet";
    case TRegState::Registered:
      return "registered";
    case TRegState::WrongPassword:
      return "wrong password" + code;
    case TRegState::Refused:
      return "refused by the server" + code;
    case TRegState::Unreachable:
      return "server not reachable" + code;
  }
  return "unknown";
}

std::string TSipAgent::TargetUri(const std::string& number, const TAccount& account) {
  if (number.rfind("sip:", 0) == 0 || number.rfind("sips:", 0) == 0) return number;
  if (number.find('@') != std::string::npos) return "sip:" + number;
  // Dial strings may carry pauses and separators a SIP user part has no use for.
  std::string user;
  for (char c : number)
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '*' || c == '#') user += c;
  return "sip:" + user + "@" + account.domain;
}

namespace {

// Hears the caller's CNG (1100 Hz) in what the far end sends the answering
// modem, and raises a flag the SIP thread polls: the moment to ask for T.38.
class TCngWatch final : public fe::voip::TMediaPath {
 public:
  TCngWatch(std::unique_ptr<fe::voip::TMediaPath> inner, std::shared_ptr<std::atomic<bool>> heard)
      : inner_(std::move(inner)), heard_(std::move(heard)) {
    rx_ = modem_connect_tones_rx_init(nullptr, MODEM_CONNECT_TONES_FAX_CNG, &TCngWatch::OnTone, this);
  }
  ~TCngWatch() override {
    if (rx_) modem_connect_tones_rx_free(rx_);
  }
  void Transmit(const int16_t* samples, int count) override { inner_->Transmit(samples, count); }
  int Receive(int16_t* samples, int count) override {
    const int real = inner_->Receive(samples, count);
    if (rx_ && real > 0 && !*heard_) modem_connect_tones_rx(rx_, samples, real);
    return real;
  }
  void Deliver(const uint8_t* data, size_t size) override { inner_->Deliver(data, size); }
  std::string Summary() const override { return inner_->Summary(); }
  int QuietLimitMs() const override { return inner_->QuietLimitMs(); }
  void SetTrace(fe::voip::TTraceSink trace) override { inner_->SetTrace(std::move(trace)); }

 private:
  static void OnTone(void* user, int tone, int, int) {
    auto* self = static_cast<TCngWatch*>(user);
    if (tone == MODEM_CONNECT_TONES_FAX_CNG) *self->heard_ = true;
  }
  std::unique_ptr<fe::voip::TMediaPath> inner_;
  std::shared_ptr<std::atomic<bool>> heard_;
  modem_connect_tones_rx_state_t* rx_ = nullptr;
};

// SIP messages logged by the transport come through sofia-sip's default log in
// pieces; they are joined into lines for the agent that is tracing.
std::mutex gLogMu;
TSipAgent* gLogAgent = nullptr;
std::string gLogLine;
std::function<void(const std::string&)> gLogSink;
std::string gLogPassword;  // blanked wherever sofia-sip's debug output might show it

void LogSink(void*, char const* fmt, va_list ap) {
  char buf[4096];
  va_list copy;
  va_copy(copy, ap);
  const int n = std::vsnprintf(buf, sizeof buf, fmt, copy);
  va_end(copy);
  if (n <= 0) return;
  std::lock_guard<std::mutex> lk(gLogMu);
  gLogLine.append(buf, std::min<size_t>(static_cast<size_t>(n), sizeof buf - 1));
  size_t nl;
  while ((nl = gLogLine.find('\n')) != std::string::npos) {
    std::string line = gLogLine.substr(0, nl);
    gLogLine.erase(0, nl + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!gLogPassword.empty())
      for (size_t at; (at = line.find(gLogPassword)) != std::string::npos;)
        line.replace(at, gLogPassword.size(), "***");
    if (gLogSink && !line.empty()) gLogSink(MaskSecrets(line));
  }
}

const char* ResultFor(int status) {
  if (status == 486 || status == 600 || status == 603) return "BUSY";
  if (status == 408 || status == 480 || status == 487) return "NO ANSWER";
  return "NO CARRIER";
}

std::string ParamOf(const msg_param_t* params, const char* name) {
  if (!params) return {};
  const size_t len = std::strlen(name);
  for (const msg_param_t* p = params; *p; ++p) {
    if (strncasecmp(*p, name, len) == 0 && (*p)[len] == '=') {
      std::string v = *p + len + 1;
      if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
      return v;
    }
  }
  return {};
}

// A response our own stack made up (no answer in time, or the transport
// failed): we send rport, and whoever really answered filled in its value or a
// received address; a made-up one has our Via as it went out.
bool MadeUpLocally(const sip_t* sip) {
  if (!sip || !sip->sip_via) return true;
  const sip_via_t* v = sip->sip_via;
  return !v->v_received && (!v->v_rport || !*v->v_rport);
}

}  // namespace

// ------------------------------------------------------------ SIP thread --

struct TSipAgent::TState {
  enum class TPhase { None, Inviting, Offered, Up };

  explicit TState(TSipAgent& agent) : a(agent) {}
  TSipAgent& a;
  su_root_t* root = nullptr;
  nua_t* nua = nullptr;
  nua_handle_t* reg = nullptr;
  int regAuthTries = 0;
  bool shutdownStarted = false, shutdownDone = false;
  Clock::time_point shutdownDeadline;
  std::mt19937 rng{std::random_device{}()};

  // The call.
  nua_handle_t* call = nullptr;
  TPhase phase = TPhase::None;
  bool outgoing = false;
  int authTries = 0;
  TLocalMedia local;
  uint64_t sessionId = 0, version = 0;
  std::string localSdp;  // our current description
  TSdp remote;           // the far end's last description
  std::string remoteSdp;
  TAgreed agreed;
  // Our re-INVITE to T.38.
  bool reinviting = false;
  std::string offeredSdp;
  Clock::time_point reinviteDeadline;
  bool t38Done = false;  // switched, or asked and refused: never asked again
  bool retryPending = false;
  Clock::time_point retryAt;
  bool callerAskPending = false;
  Clock::time_point callerAskAt;
  std::shared_ptr<std::atomic<bool>> cngHeard = std::make_shared<std::atomic<bool>>(false);

  bool unregistering = false;
  Clock::time_point unregisterDeadline;
  // Lets the registration go and shuts the stack down.
  void BeginShutdown() {
    unregistering = false;
    if (reg) nua_handle_destroy(reg);
    reg = nullptr;
    shutdownDeadline = Clock::now() + std::chrono::seconds(5);
    nua_shutdown(nua);
  }

  void Event(nua_event_t event, int status, const char* phrase, nua_handle_t* nh, const sip_t* sip, tagi_t tags[]);
  void OnRegister(int status, const char* phrase, const sip_t* sip);
  void OnInvite(nua_handle_t* nh, const sip_t* sip);
  void OnReInvite(const sip_t* sip);
  void OnInviteAnswer(int status, const char* phrase, const sip_t* sip);
  void OnReInviteAnswer(int status, const char* phrase, const sip_t* sip);
  bool Authenticate(nua_handle_t* nh, const sip_t* sip, bool invite);
  void Dial(const std::string& number);
  void Answer();
  void HangUp(const std::string& why);
  void EndedByFar(const std::string& result, const std::string& why);
  void AskT38(const char* why);
  void Timers();
  void StartMedia(bool watchCng);
  void SetAgreed(const TAgreed& agreed);
  void ClearCall();
  std::unique_ptr<fe::voip::TMediaPath> MakePath(const TAgreed& agreed, bool watchCng);
};

namespace {

void Callback(nua_event_t event, int status, char const* phrase, nua_t*, nua_magic_t* magic, nua_handle_t* nh,
              nua_hmagic_t*, sip_t const* sip, tagi_t tags[]) {
  static_cast<TSipAgent::TState*>(static_cast<void*>(magic))->Event(event, status, phrase ? phrase : "", nh, sip, tags);
}

std::string Payload(const sip_t* sip) {
  if (!sip || !sip->sip_payload || !sip->sip_payload->pl_data) return {};
  return std::string(sip->sip_payload->pl_data, sip->sip_payload->pl_len);
}

}  // namespace

TSipAgent::TSipAgent() = default;

TSipAgent::~TSipAgent() {
  Stop();
}

void TSipAgent::SetTrace(std::function<void(const std::string&)> trace) {
  trace_ = std::move(trace);
}

void TSipAgent::Trace(const std::string& line) {
  std::lock_guard<std::mutex> lk(traceMu_);
  if (!trace_) return;
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count();
  char at[32];
  std::snprintf(at, sizeof at, "%lld.%03lld ", static_cast<long long>(ms / 1000), static_cast<long long>(ms % 1000));
  trace_(at + line);
}

void TSipAgent::Post(std::function<void()> fn) {
  std::lock_guard<std::mutex> lk(mu_);
  posted_.push_back(std::move(fn));
}

TRegistration TSipAgent::Registration() const {
  std::lock_guard<std::mutex> lk(mu_);
  return reg_;
}

TRegistration TSipAgent::WaitRegistration(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lk(mu_);
  cv_.wait_for(lk, timeout, [this] { return reg_.state != TRegState::Registering; });
  return reg_;
}

TAgreed TSipAgent::Media() const {
  std::lock_guard<std::mutex> lk(mu_);
  return media_;
}

TSipCounts TSipAgent::Counts() const {
  std::lock_guard<std::mutex> lk(mu_);
  return counts_;
}

int TSipAgent::Start(const TAccount& account, std::string* error) {
  if (thread_.joinable()) {
    if (error) *error = "already started";
    return -1;
  }
  account_ = account;
  start_ = Clock::now();
  if (account_.user.empty() || account_.domain.empty()) {
    if (error) *error = "the account needs a user and a domain";
    return -1;
  }
  fe::voip::TMediaConfig config;
  config.calling = false;
  config.signalling = this;
  config.local.host = account_.localAddress;
  config.local.low = account_.mediaLow;
  config.local.high = account_.mediaHigh;
  // Signalling ends calls; silence only ends one whose far end vanished.
  config.silenceEndMs = 30000;
  config.makePath = [law = account_.codec == TCodec::Pcma ? fe::voip::TG711Law::Alaw
                                                          : fe::voip::TG711Law::Ulaw](fe::voip::TDatagramSend send) {
    return std::make_unique<fe::voip::TRtpPath>(law, std::move(send));
  };
  session_.SetTrace([this](const std::string& line) { Trace("media " + line); });
  if (session_.Open(config) != 0) {
    if (error) *error = "media port: " + session_.Error();
    return -1;
  }
  st_ = std::make_unique<TState>(*this);
  st_->local.address = account_.publicAddress.empty() ? account_.localAddress : account_.publicAddress;
  st_->local.port = session_.LocalAddress().Port();
  st_->local.codec = account_.codec;
  st_->local.t38 = account_.t38;
  st_->local.t38Params.maxDatagram = account_.maxDatagram;
  st_->local.t38Params.ec = account_.redundancy > 0 ? TUdpEc::Redundancy : TUdpEc::None;
  {
    std::lock_guard<std::mutex> lk(mu_);
    reg_ = {};
    counts_ = {};
    posted_.clear();
    media_ = {};
    if (account_.registrar != "-") reg_.state = TRegState::Registering;
  }
  stop_ = false;
  auto started = std::make_shared<std::promise<std::string>>();
  auto result = started->get_future();
  thread_ = std::thread([this, started] { Run(started); });
  const std::string failure = result.get();
  if (!failure.empty()) {
    thread_.join();
    st_.reset();
    if (error) *error = failure;
    return -1;
  }
  session_.Start();
  return 0;
}

void TSipAgent::Stop() {
  if (!thread_.joinable()) return;
  stop_ = true;
  thread_.join();
  session_.Stop();
  {
    std::lock_guard<std::mutex> lk(gLogMu);
    if (gLogAgent == this) {
      gLogAgent = nullptr;
      gLogSink = nullptr;
      gLogPassword.clear();
    }
  }
  st_.reset();
}

void TSipAgent::Run(std::shared_ptr<std::promise<std::string>> started) {
  su_init();
  TState& s = *st_;
  s.root = su_root_create(nullptr);
  if (!s.root) {
    su_deinit();
    started->set_value("cannot start the SIP thread");
    return;
  }
  {
    // sofia-sip's own log goes to the trace, never to the terminal.
    std::lock_guard<std::mutex> lk(gLogMu);
    if (trace_) {
      gLogAgent = this;
      gLogSink = [this](const std::string& line) { Trace("sip> " + line); };
      gLogPassword = account_.password;
    }
    su_log_redirect(su_log_default, LogSink, nullptr);
  }
  const std::string host = account_.localAddress == "0.0.0.0" ? "*" : account_.localAddress;
  // Port 0: any free port.
  const std::string bind = "sip:" + host + ":" + (account_.sipPort ? std::to_string(account_.sipPort) : "*");
  const std::string from = "sip:" + account_.user + "@" + account_.domain;
  const std::string proxy = account_.outboundProxy.empty() ? "" : "sip:" + account_.outboundProxy + ";lr";
  s.nua = nua_create(s.root, Callback, static_cast<nua_magic_t*>(static_cast<void*>(&s)), NUTAG_URL(bind.c_str()),
                     SIPTAG_FROM_STR(from.c_str()), NUTAG_MEDIA_ENABLE(0), NUTAG_AUTOANSWER(0), NUTAG_AUTOALERT(0),
                     NUTAG_EARLY_MEDIA(0), NUTAG_OUTBOUND("natify no-options-keepalive no-validate"),
                     NTATAG_CLIENT_RPORT(1), TAG_IF(!proxy.empty(), NUTAG_PROXY(proxy.c_str())),
                     TPTAG_LOG(trace_ ? 1 : 0), SIPTAG_USER_AGENT_STR("Quillon"), TAG_END());
  if (!s.nua) {
    su_root_destroy(s.root);
    su_deinit();
    started->set_value("cannot listen for SIP on " + bind);
    return;
  }
  sipPort_ = account_.sipPort;
  if (account_.registrar != "-") {
    const std::string registrar = "sip:" + (account_.registrar.empty() ? account_.domain : account_.registrar);
    s.reg = nua_handle(s.nua, nullptr, SIPTAG_TO_STR(from.c_str()), TAG_END());
    const std::string expires = std::to_string(account_.registerExpires);
    Trace("sip: registering with " + registrar);
    nua_register(s.reg, NUTAG_REGISTRAR(registrar.c_str()), SIPTAG_EXPIRES_STR(expires.c_str()), TAG_END());
  }
  started->set_value({});

  for (;;) {
    su_root_step(s.root, 10);
    std::deque<std::function<void()>> posted;
    {
      std::lock_guard<std::mutex> lk(mu_);
      posted.swap(posted_);
    }
    for (auto& fn : posted) fn();
    s.Timers();
    if (stop_ && !s.shutdownStarted) {
      if (s.call) s.HangUp("stopped");
      s.shutdownStarted = true;
      s.shutdownDeadline = Clock::now() + std::chrono::seconds(8);
      if (s.reg && Registration().state == TRegState::Registered) {
        // Unregisters; the shutdown follows its answer (or a short wait).
        s.unregistering = true;
        s.unregisterDeadline = Clock::now() + std::chrono::seconds(2);
        nua_unregister(s.reg, TAG_END());
      } else {
        s.BeginShutdown();
      }
    }
    if (s.unregistering && Clock::now() > s.unregisterDeadline) s.BeginShutdown();
    if (s.shutdownDone || (s.shutdownStarted && Clock::now() > s.shutdownDeadline)) break;
  }
  if (s.shutdownDone) nua_destroy(s.nua);
  su_root_destroy(s.root);
  su_deinit();
}

void TSipAgent::SignalDial(const std::string& number) {
  Post([this, number] { st_->Dial(number); });
}

void TSipAgent::SignalAnswer() {
  Post([this] { st_->Answer(); });
}

void TSipAgent::SignalHangUp() {
  Post([this] { st_->HangUp("hung up here"); });
}

void TSipAgent::HangUp() {
  Post([this] {
    if (!st_->call) return;
    st_->HangUp("hung up by the program");
    // The engine hears it as a lost carrier.
    session_.SignalEnded("NO CARRIER", "hung up by the program");
  });
}

void TSipAgent::TState::Event(nua_event_t event, int status, const char* phrase, nua_handle_t* nh, const sip_t* sip,
                              tagi_t tags[]) {
  switch (event) {
    case nua_r_register:
      if (nh == reg) OnRegister(status, phrase, sip);
      break;
    case nua_i_invite:
      if (nh == call && call)
        OnReInvite(sip);
      else
        OnInvite(nh, sip);
      break;
    case nua_r_invite:
      if (nh != call || !call) break;
      if (phase == TPhase::Up)
        OnReInviteAnswer(status, phrase, sip);
      else
        OnInviteAnswer(status, phrase, sip);
      break;
    case nua_i_cancel:
      if (nh == call && call) EndedByFar("NO CARRIER", "the caller cancelled");
      break;
    case nua_i_bye:
      if (nh == call && call) EndedByFar("NO CARRIER", "the far end hung up");
      break;
    case nua_i_state: {
      int state = nua_callstate_init;
      tl_gets(tags, NUTAG_CALLSTATE_REF(state), TAG_END());
      if (state == nua_callstate_terminated) {
        if (nh == call && call)
          EndedByFar("NO CARRIER", "the call ended (" + std::to_string(status) + " " + phrase + ")");
        if (nh != reg) nua_handle_destroy(nh);
      }
      break;
    }
    case nua_r_unregister:
      if (status >= 200 && unregistering) BeginShutdown();
      break;
    case nua_r_shutdown:
      if (status >= 200) shutdownDone = true;
      break;
    default:
      break;
  }
}

void TSipAgent::TState::OnRegister(int status, const char* phrase, const sip_t* sip) {
  if (status < 200) return;
  TRegistration r;
  r.status = status;
  r.phrase = phrase;
  if ((status == 401 || status == 407) && regAuthTries == 0 && !a.account_.password.empty()) {
    ++regAuthTries;
    if (Authenticate(reg, sip, false)) return;
  }
  if (status >= 200 && status < 300) {
    regAuthTries = 0;
    r.state = TRegState::Registered;
  } else if (status == 401 || status == 407) {
    r.state = TRegState::WrongPassword;
  } else if ((status == 408 || status == 503) && MadeUpLocally(sip)) {
    r.state = TRegState::Unreachable;
  } else {
    r.state = TRegState::Refused;
  }
  a.Trace("sip: registration: " + RegistrationText(r));
  {
    std::lock_guard<std::mutex> lk(a.mu_);
    a.reg_ = r;
  }
  a.cv_.notify_all();
}

bool TSipAgent::TState::Authenticate(nua_handle_t* nh, const sip_t* sip, bool invite) {
  const msg_auth_t* ch =
      sip ? (sip->sip_www_authenticate ? sip->sip_www_authenticate : sip->sip_proxy_authenticate) : nullptr;
  if (!ch || !ch->au_scheme) return false;
  const std::string realm = ParamOf(ch->au_params, "realm");
  const std::string user = a.account_.authUser.empty() ? a.account_.user : a.account_.authUser;
  {
    std::lock_guard<std::mutex> lk(a.mu_);
    ++a.counts_.authAnswers;
  }
  a.Trace(std::string("sip: answering the ") + (invite ? "call's" : "registrar's") + " challenge for realm " + realm);
  const std::string cred = std::string(ch->au_scheme) + ":\"" + realm + "\":" + user + ":" + a.account_.password;
  nua_authenticate(nh, NUTAG_AUTH(cred.c_str()), TAG_END());
  return true;
}

void TSipAgent::SetDialTarget(const std::string& uri) {
  std::lock_guard<std::mutex> lk(mu_);
  dialTarget_ = uri;
}

void TSipAgent::TState::Dial(const std::string& number) {
  std::string target;
  {
    std::lock_guard<std::mutex> lk(a.mu_);
    target = a.dialTarget_;
  }
  target = TargetUri(target.empty() ? number : target, a.account_);
  if (call) {
    a.session_.SignalEnded("BUSY", "a call is already up");
    return;
  }
  ClearCall();
  call = nua_handle(nua, nullptr, SIPTAG_TO_STR(target.c_str()), TAG_END());
  if (!call) {
    a.session_.SignalEnded("NO CARRIER", "no handle for " + target);
    return;
  }
  phase = TPhase::Inviting;
  outgoing = true;
  sessionId = rng() & 0x7fffffff;
  version = 1;
  localSdp = WriteSdp(MakeAudioOffer(local, sessionId, version));
  a.callActive_ = true;
  {
    std::lock_guard<std::mutex> lk(a.mu_);
    ++a.counts_.callsOut;
  }
  a.Trace("sip: calling " + target);
  nua_invite(call, SIPTAG_CONTENT_TYPE_STR("application/sdp"), SIPTAG_PAYLOAD_STR(localSdp.c_str()), TAG_END());
}

void TSipAgent::TState::OnInviteAnswer(int status, const char* phrase, const sip_t* sip) {
  if (status < 200) return;
  if ((status == 401 || status == 407) && authTries == 0) {
    ++authTries;
    if (Authenticate(call, sip, true)) return;
  }
  if (status >= 300) {
    a.Trace("sip: call refused: " + std::to_string(status) + " " + phrase);
    a.session_.SignalEnded(ResultFor(status), std::to_string(status) + " " + phrase);
    ClearCall();  // the handle goes when its state reads terminated
    return;
  }
  TSdp answer;
  std::string error;
  const std::string body = Payload(sip);
  TAgreed agreed;
  if (ParseSdp(body, answer, &error)) agreed = ReadAnswer(answer, local);
  if (agreed.kind == TAgreed::TKind::None) {
    a.Trace("sip: no usable media in the answer" + (error.empty() ? std::string() : ": " + error));
    nua_bye(call, TAG_END());
    a.session_.SignalEnded("NO CARRIER", "no usable media");
    ClearCall();
    return;
  }
  remote = answer;
  remoteSdp = body;
  phase = TPhase::Up;
  SetAgreed(agreed);
  a.Trace("sip: call up");
  StartMedia(false);
  if (agreed.kind == TAgreed::TKind::Audio && local.t38 && a.account_.callerT38WaitMs >= 0) {
    callerAskPending = true;
    callerAskAt = Clock::now() + std::chrono::milliseconds(a.account_.callerT38WaitMs);
  }
}

void TSipAgent::TState::OnInvite(nua_handle_t* nh, const sip_t* sip) {
  if (call) {
    nua_respond(nh, SIP_486_BUSY_HERE, TAG_END());
    std::lock_guard<std::mutex> lk(a.mu_);
    ++a.counts_.busyRefused;
    return;
  }
  const std::string body = Payload(sip);
  TSdp offer;
  std::string error;
  if (body.empty()) {
    // Offerless INVITEs are not taken: a fax line needs to know its media first.
    nua_respond(nh, SIP_488_NOT_ACCEPTABLE, TAG_END());
    return;
  }
  if (!ParseSdp(body, offer, &error)) {
    a.Trace("sip: unreadable offer: " + error);
    nua_respond(nh, SIP_488_NOT_ACCEPTABLE, SIPTAG_WARNING_STR(("399 - \"" + error + "\"").c_str()), TAG_END());
    return;
  }
  ClearCall();
  sessionId = rng() & 0x7fffffff;
  version = 1;
  TAgreed agreed;
  const TSdp answer = fe::sip::Answer(offer, local, sessionId, version, agreed);
  if (agreed.kind == TAgreed::TKind::None) {
    a.Trace("sip: nothing acceptable in the offer");
    nua_respond(nh, SIP_488_NOT_ACCEPTABLE, TAG_END());
    return;
  }
  call = nh;
  phase = TPhase::Offered;
  outgoing = false;
  remote = offer;
  remoteSdp = body;
  localSdp = WriteSdp(answer);
  SetAgreed(agreed);
  a.callActive_ = true;
  {
    std::lock_guard<std::mutex> lk(a.mu_);
    ++a.counts_.callsIn;
  }
  std::string caller;
  if (sip && sip->sip_from && sip->sip_from->a_url->url_user) caller = sip->sip_from->a_url->url_user;
  a.Trace("sip: incoming call from " + (caller.empty() ? std::string("an unknown caller") : caller));
  nua_respond(nh, SIP_180_RINGING, TAG_END());
  a.session_.SignalRinging(caller);
}

void TSipAgent::TState::Answer() {
  if (!call || phase != TPhase::Offered) return;
  nua_respond(call, SIP_200_OK, SIPTAG_CONTENT_TYPE_STR("application/sdp"), SIPTAG_PAYLOAD_STR(localSdp.c_str()),
              TAG_END());
  phase = TPhase::Up;
  a.Trace("sip: answered");
  StartMedia(true);
}

void TSipAgent::TState::OnReInvite(const sip_t* sip) {
  {
    std::lock_guard<std::mutex> lk(a.mu_);
    ++a.counts_.reinvitesIn;
  }
  const std::string body = Payload(sip);
  if (phase != TPhase::Up) {
    nua_respond(call, SIP_491_REQUEST_PENDING, TAG_END());
    return;
  }
  if (reinviting) {
    // Both sides re-INVITEd at once: ours is in flight.
    nua_respond(call, SIP_491_REQUEST_PENDING, TAG_END());
    return;
  }
  TSdp offer;
  std::string error;
  if (body.empty() || body == remoteSdp) {
    // A session refresh: the same description, answered with ours as it is.
    nua_respond(call, SIP_200_OK, SIPTAG_CONTENT_TYPE_STR("application/sdp"), SIPTAG_PAYLOAD_STR(localSdp.c_str()),
                TAG_END());
    std::lock_guard<std::mutex> lk(a.mu_);
    ++a.counts_.refreshesAnswered;
    return;
  }
  if (!ParseSdp(body, offer, &error)) {
    a.Trace("sip: unreadable re-offer: " + error);
    nua_respond(call, SIP_488_NOT_ACCEPTABLE, TAG_END());
    return;
  }
  if (offer.sessionId == remote.sessionId && offer.sessionVersion == remote.sessionVersion &&
      offer.originUser == remote.originUser) {
    // Same origin and version: unchanged, whatever the spelling.
    nua_respond(call, SIP_200_OK, SIPTAG_CONTENT_TYPE_STR("application/sdp"), SIPTAG_PAYLOAD_STR(localSdp.c_str()),
                TAG_END());
    std::lock_guard<std::mutex> lk(a.mu_);
    ++a.counts_.refreshesAnswered;
    return;
  }
  TAgreed agreed;
  const TSdp answer = fe::sip::Answer(offer, local, sessionId, version + 1, agreed);
  if (agreed.kind == TAgreed::TKind::None) {
    a.Trace("sip: re-offer refused: nothing acceptable; the media stays");
    nua_respond(call, SIP_488_NOT_ACCEPTABLE, TAG_END());
    return;
  }
  ++version;
  localSdp = WriteSdp(answer);
  remote = offer;
  remoteSdp = body;
  nua_respond(call, SIP_200_OK, SIPTAG_CONTENT_TYPE_STR("application/sdp"), SIPTAG_PAYLOAD_STR(localSdp.c_str()),
              TAG_END());
  const bool changed = !(agreed == this->agreed);
  SetAgreed(agreed);
  if (agreed.kind == TAgreed::TKind::T38) {
    a.Trace("sip: the far end switched the call to T.38");
    t38Done = true;
    callerAskPending = retryPending = false;
  }
  if (changed) StartMedia(false);
}

void TSipAgent::TState::AskT38(const char* why) {
  if (!call || phase != TPhase::Up || reinviting || t38Done || !local.t38 || agreed.kind == TAgreed::TKind::T38) return;
  callerAskPending = retryPending = false;
  offeredSdp = WriteSdp(MakeT38Offer(local, sessionId, version + 1));
  reinviting = true;
  reinviteDeadline = Clock::now() + std::chrono::milliseconds(a.account_.reinviteTimeoutMs);
  {
    std::lock_guard<std::mutex> lk(a.mu_);
    ++a.counts_.reinvitesOut;
  }
  a.Trace(std::string("sip: asking for T.38 (") + why + ")");
  nua_invite(call, SIPTAG_CONTENT_TYPE_STR("application/sdp"), SIPTAG_PAYLOAD_STR(offeredSdp.c_str()), TAG_END());
}

void TSipAgent::TState::OnReInviteAnswer(int status, const char* phrase, const sip_t* sip) {
  if (status < 200 || !reinviting) return;
  if ((status == 401 || status == 407) && authTries < 2) {
    ++authTries;
    if (Authenticate(call, sip, true)) return;
  }
  reinviting = false;
  if (status == 491) {
    // Glare: retry after RFC 3261's wait, longer for the side that placed the call.
    const int ms = outgoing ? 2100 + static_cast<int>(rng() % 191) * 10 : static_cast<int>(rng() % 201) * 10;
    retryPending = true;
    retryAt = Clock::now() + std::chrono::milliseconds(ms);
    {
      std::lock_guard<std::mutex> lk(a.mu_);
      ++a.counts_.retries491;
    }
    a.Trace("sip: 491 for our T.38 offer; retrying in " + std::to_string(ms) + " ms");
    return;
  }
  if (status >= 300) {
    t38Done = true;
    {
      std::lock_guard<std::mutex> lk(a.mu_);
      ++a.counts_.t38Refused;
    }
    a.Trace("sip: T.38 refused (" + std::to_string(status) + " " + phrase + "); the call stays on G.711");
    return;
  }
  TSdp answer;
  TAgreed agreed;
  const std::string body = Payload(sip);
  if (ParseSdp(body, answer)) agreed = ReadAnswer(answer, local);
  ++version;
  t38Done = true;
  if (agreed.kind != TAgreed::TKind::T38) {
    a.Trace("sip: T.38 not taken in the answer; the call stays on G.711");
    return;
  }
  localSdp = offeredSdp;
  remote = answer;
  remoteSdp = body;
  SetAgreed(agreed);
  a.Trace("sip: call switched to T.38");
  StartMedia(false);
}

void TSipAgent::TState::Timers() {
  const auto now = Clock::now();
  if (!call || phase != TPhase::Up) return;
  if (reinviting && now > reinviteDeadline) {
    reinviting = false;
    t38Done = true;
    a.Trace("sip: no answer to our T.38 offer; the call stays on G.711");
    nua_cancel(call, TAG_END());
  }
  if (retryPending && now >= retryAt) AskT38("retry after 491");
  if (callerAskPending && now >= callerAskAt) AskT38("no T.38 offer from the far end");
  if (!outgoing && cngHeard->exchange(false)) AskT38("heard CNG");
}

void TSipAgent::TState::HangUp(const std::string& why) {
  if (!call) return;
  switch (phase) {
    case TPhase::Inviting:
      nua_cancel(call, TAG_END());
      break;
    case TPhase::Offered:
      nua_respond(call, 480, "Temporarily Unavailable", TAG_END());
      break;
    case TPhase::Up:
      nua_bye(call, TAG_END());
      break;
    case TPhase::None:
      break;
  }
  a.Trace("sip: " + why);
  ClearCall();
}

void TSipAgent::TState::EndedByFar(const std::string& result, const std::string& why) {
  a.Trace("sip: " + why);
  a.session_.SignalEnded(result, why);
  ClearCall();
}

void TSipAgent::TState::SetAgreed(const TAgreed& agreed) {
  this->agreed = agreed;
  std::lock_guard<std::mutex> lk(a.mu_);
  a.media_ = agreed;
}

std::unique_ptr<fe::voip::TMediaPath> TSipAgent::TState::MakePath(const TAgreed& ag, bool watchCng) {
  if (ag.kind == TAgreed::TKind::T38) {
    fe::voip::TT38Settings t;
    t.version = ag.t38.version;
    t.farMaxDatagram = static_cast<size_t>(ag.t38.maxDatagram);
    t.transferredTcf = ag.t38.transferredTcf;
    const int r = ag.t38.ec == TUdpEc::None ? 0 : a.account_.redundancy;
    t.redundancyIndicator = t.redundancyControl = r;
    t.redundancyImage = r > 0 ? 1 : 0;
    return std::make_unique<fe::voip::TT38Path>(t, a.session_.Sender());
  }
  auto rtp = std::make_unique<fe::voip::TRtpPath>(
      ag.codec == TCodec::Pcma ? fe::voip::TG711Law::Alaw : fe::voip::TG711Law::Ulaw, a.session_.Sender());
  if (!watchCng) return rtp;
  return std::make_unique<TCngWatch>(std::move(rtp), cngHeard);
}

void TSipAgent::TState::StartMedia(bool watchCng) {
  fe::voip::TUdpAddress to;
  std::string error;
  const std::string host = agreed.address.find(':') != std::string::npos ? "[" + agreed.address + "]" : agreed.address;
  if (!fe::voip::ParseUdpAddress(host + ":" + std::to_string(agreed.port), to, &error)) {
    a.Trace("sip: media address " + agreed.address + " not usable: " + error);
    return;
  }
  cngHeard->store(false);
  a.session_.SignalConnected(to, MakePath(agreed, watchCng && local.t38 && agreed.kind == TAgreed::TKind::Audio));
}

void TSipAgent::TState::ClearCall() {
  call = nullptr;
  phase = TPhase::None;
  outgoing = false;
  authTries = 0;
  localSdp.clear();
  remoteSdp.clear();
  remote = TSdp{};
  reinviting = retryPending = callerAskPending = false;
  t38Done = false;
  agreed = TAgreed{};
  a.callActive_ = false;
  std::lock_guard<std::mutex> lk(a.mu_);
  a.media_ = TAgreed{};
}

}  // namespace fe::sip
