#include "class2_modem.h"

#include <spandsp.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "exchange.h"

namespace faxsim {

namespace {

constexpr char kDle = 0x10;
constexpr char kEtx = 0x03;
constexpr char kXon = 0x11;
constexpr int kPageWaitMs = 60000;    // how long the line waits for the DTE's page
constexpr int kAnswerWaitMs = 30000;  // how long ATA waits for a call (S7)

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The text between double quotes, or the whole text when it has none.
std::string unquote(const std::string& text) {
  const size_t open = text.find('"');
  if (open == std::string::npos) return text;
  const size_t close = text.find('"', open + 1);
  return text.substr(open + 1, close == std::string::npos ? std::string::npos : close - open - 1);
}

}  // namespace

Class2Modem::Class2Modem(std::string number, std::string link, bool class20, Exchange& exchange, Events& events)
    : Endpoint(std::move(number), exchange, events), pty_(std::move(link)), class20Modem_(class20) {
  std::string pattern = (std::filesystem::temp_directory_path() / "faxmodem-class2-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a work folder");
  workDir_ = pattern;
}

Class2Modem::~Class2Modem() {
  endSession();
  std::error_code ec;
  std::filesystem::remove_all(workDir_, ec);
}

std::string Class2Modem::describe() const {
  return std::string(class20Modem_ ? "class2.0 " : "class2 ") + number() + " " + pty_.slavePath();
}

// ---------------------------------------------------------------- DTE side

void Class2Modem::say(const std::string& line) {
  if (quiet_) return;
  pty_.write(verbose_ ? "\r\n" + line + "\r\n" : line + "\r");
}

void Class2Modem::finalResult(bool ok) {
  if (verbose_)
    say(ok ? "OK" : "ERROR");
  else if (!quiet_)
    pty_.write(ok ? "0\r" : "4\r");
}

void Class2Modem::readDte() {
  const auto now = std::chrono::steady_clock::now();
  if (dataMode_) {
    const double rate = session_.bitsPerSecond() / 8.0;
    dataBudget_ = std::min(dataBudget_ + std::chrono::duration<double>(now - budgetTime_).count() * rate, rate / 4);
  }
  budgetTime_ = now;
  uint8_t buf[256];
  for (;;) {
    size_t want = sizeof buf;
    if (dataMode_) {
      if (dataBudget_ < 1) break;
      want = std::min(want, static_cast<size_t>(dataBudget_));
    } else {
      want = 1;  // a command may switch to page data in the middle of a read
    }
    const size_t n = pty_.read(buf, want);
    if (n == 0) break;
    for (size_t i = 0; i < n; ++i) {
      if (dataMode_) {
        dataBudget_ -= 1;
        pageByte(buf[i]);
      } else {
        commandByte(buf[i]);
      }
    }
  }
  pty_.flush();
}

void Class2Modem::commandByte(uint8_t c) {
  if (c == '\r') {
    if (echo_) pty_.write("\r");
    std::string line;
    line.swap(line_);
    commandLine(line);
    return;
  }
  if (c == '\n' || c == kXon || c == 0x12 || c == 0x13 || c == 0) return;  // flow control characters, DC2
  if (c == 8 || c == 127) {
    if (!line_.empty()) line_.pop_back();
    return;
  }
  if (echo_) pty_.write(&c, 1);
  if (line_.size() < 256) line_ += static_cast<char>(c);
}

void Class2Modem::commandLine(const std::string& raw) {
  // Leading garbage before "AT" is ignored, as a modem hunting for the prefix does.
  const std::string text = upper(raw);
  const size_t at = text.find("AT");
  if (at == std::string::npos) return;
  std::string rest = raw.substr(at + 2);
  if (pending_ == Pending::Answer && upper(rest) == "A") return;  // answering already
  if (pending_ != Pending::None && !rest.empty()) {
    // A command while one is still running aborts a dial or an answer.
    if (pending_ == Pending::Dial || pending_ == Pending::Answer) {
      answerWaitMs_ = -1;
      exchange().hangup(*this);
      finishSession_ = true;
      pending_ = Pending::None;
      say("NO CARRIER");
    }
    return;
  }
  // Split into single commands: basic commands run on, extended ones end at ';'.
  bool ok = true;
  size_t i = 0;
  while (ok && i < rest.size()) {
    const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(rest[i])));
    if (c == ' ' || c == ';') {
      ++i;
      continue;
    }
    size_t end = i + 1;
    if (c == '+' || c == '#') {
      // An extended command ends at ';' outside quotes.
      bool quoted = false;
      while (end < rest.size() && (quoted || rest[end] != ';')) {
        if (rest[end] == '"') quoted = !quoted;
        ++end;
      }
    } else if (c == 'D') {
      end = rest.size();  // the dial string takes the rest of the line
    } else if (c == 'S') {
      while (end < rest.size() &&
             (std::isdigit(static_cast<unsigned char>(rest[end])) || rest[end] == '=' || rest[end] == '?'))
        ++end;
    } else {
      if (c == '&' && end < rest.size()) ++end;
      while (end < rest.size() && std::isdigit(static_cast<unsigned char>(rest[end]))) ++end;
    }
    ok = command(rest.substr(i, end - i));
    i = end;
    if (pending_ != Pending::None || dataMode_) return;  // the result comes later
  }
  finalResult(ok);
}

bool Class2Modem::command(const std::string& cmd) {
  const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(cmd[0])));
  const int value =
      cmd.size() > 1 && std::isdigit(static_cast<unsigned char>(cmd.back())) ? std::atoi(cmd.c_str() + 1) : 0;
  switch (c) {
    case '+':
      return faxCommand(cmd);
    case 'E':
      echo_ = value != 0;
      return true;
    case 'V':
      verbose_ = value != 0;
      return true;
    case 'Q':
      quiet_ = value != 0;
      return true;
    case 'Z':
      echo_ = true;
      verbose_ = true;
      quiet_ = false;
      fclass_ = "0";
      local_ = Class2Params();
      localId_.clear();
      autoAnswerRings_ = 0;
      return true;
    case 'S': {
      // S0=n sets auto-answer; other registers are accepted and ignored.
      const size_t eq = cmd.find('=');
      const int reg = std::atoi(cmd.c_str() + 1);
      if (eq != std::string::npos && reg == 0) autoAnswerRings_ = std::atoi(cmd.c_str() + eq + 1);
      if (cmd.find('?') != std::string::npos) say(reg == 0 ? std::to_string(autoAnswerRings_) : "000");
      return true;
    }
    case 'I':
      say(value == 0 ? "faxmodem-sim" : "faxmodem-sim virtual fax modem");
      return true;
    case 'H':
      if (fax_ != nullptr || exchange().inCall(*this)) {
        exchange().hangup(*this);
        finishSession_ = true;
      }
      return true;
    case 'A':
      pending_ = Pending::Answer;
      if (exchange().answer(*this))
        startSession(false);
      else
        answerWaitMs_ = kAnswerWaitMs;
      return true;
    case 'D':
      if (exchange().inCall(*this)) return false;
      exchange().dial(*this, cmd.substr(1));  // in class 0 a data call: it rings, nobody speaks data
      pending_ = Pending::Dial;
      return true;
    case 'L':
    case 'M':
    case 'X':
    case '&':
    case 'B':
    case 'W':
      return true;
    default:
      return false;
  }
}

bool Class2Modem::faxCommand(const std::string& rawCmd) {
  const std::string cmd = upper(rawCmd);
  const Class2Spelling& sp = spellingFor(fclass_ == "2.0");
  auto is = [&](const char* name) {
    return cmd.rfind(name, 0) == 0 && !std::isalpha(static_cast<unsigned char>(cmd[std::string(name).size()]));
  };
  auto arg = [&](const char* name) { return rawCmd.substr(std::string(name).size() + 1); };  // after "NAME="
  const bool query = !cmd.empty() && cmd.back() == '?' && cmd.find("=?") == std::string::npos;
  const bool range = cmd.find("=?") != std::string::npos;

  if (is("+FCLASS")) {
    if (range) {
      say(class20Modem_ ? "0,2.0" : "0,2");
      return true;
    }
    if (query) {
      say(fclass_);
      return true;
    }
    const std::string wanted = arg("+FCLASS");
    if (wanted == "0" || (wanted == "2" && !class20Modem_) || (wanted == "2.0" && class20Modem_)) {
      fclass_ = wanted;
      return true;
    }
    return false;
  }
  if (fclass_ == "0") return false;  // the fax commands need a fax class

  // Identification queries of both command sets.
  if (is("+FMFR") || is("+FMI")) {
    say("faxmodem-sim");
    return true;
  }
  if (is("+FMDL") || is("+FMM")) {
    say(class20Modem_ ? "Class 2.0 virtual fax modem" : "Class 2 virtual fax modem");
    return true;
  }
  if (is("+FREV") || is("+FMR")) {
    say("1.0");
    return true;
  }
  // Local identifier.
  if (is("+FLID") || is("+FLI")) {
    const char* name = is("+FLID") ? "+FLID" : "+FLI";
    if (range) {
      say("(20)(32-127)");
    } else if (query) {
      say("\"" + localId_ + "\"");
    } else {
      localId_ = unquote(arg(name)).substr(0, 20);
    }
    return true;
  }
  // Capabilities and session parameters.
  if (is("+FDCC") || is("+FCC") || is("+FDIS") || is("+FIS")) {
    const char* name = is("+FDCC") ? "+FDCC" : is("+FCC") ? "+FCC" : is("+FDIS") ? "+FDIS" : "+FIS";
    if (range) {
      say(class2ParamRanges());
      return true;
    }
    if (query) {
      say(local_.text());
      return true;
    }
    return local_.parse(arg(name));
  }
  // Send a page.
  if (is("+FDT")) {
    if (fax_ == nullptr || !calling_ || sessionOver_ || !haveRemoteDis_) return false;
    session_ = negotiate(local_, remote_);
    say(std::string(sp.session) + ":" + session_.text());
    say("CONNECT");
    if (sp.xonBeforeData) pty_.write(std::string(1, kXon));
    page_.clear();
    pageComplete_ = false;
    pageReady_ = false;
    postPage_ = -1;
    dle_ = false;
    dataMode_ = true;
    dataBudget_ = 0;
    budgetTime_ = std::chrono::steady_clock::now();
    return true;
  }
  // Post-page command after DLE ETX.
  if (is("+FET")) {
    if (!pageComplete_ || pageReady_ || query || range) return false;
    const int value = std::atoi(arg("+FET").c_str());
    if (value < 0 || value > 2) return false;
    postPage_ = value;
    pageReady_ = true;
    pending_ = Pending::PostPage;
    return true;
  }
  // Receive a page.
  if (is("+FDR")) {
    if (calling_) return false;
    if (sessionOver_ || fax_ == nullptr) {
      if (!hangupReported_) reportHangup();
      return true;
    }
    if (lastPageDone_) {
      pending_ = Pending::LastPage;
      return true;
    }
    pending_ = Pending::Receive;
    if (!awaitingDcs_) {
      say("CONNECT");
      dteAwaitsPage_ = true;
      if (havePage_) flushReceivedPage();
    }
    return true;
  }
  // Terminate the session.
  if (is("+FKS") || is("+FK")) {
    if (fax_ != nullptr) {
      exchange().hangup(*this);
      finishSession_ = true;
      hangupCode_ = 2;
    }
    return true;
  }
  if (is("+FBOR")) {
    if (query) {
      say(std::to_string(bitOrder_));
    } else if (range) {
      say("(0-3)");
    } else {
      const std::string value = arg("+FBOR");
      if (value.size() != 1 || value[0] < '0' || value[0] > '3') return false;
      bitOrder_ = value[0] - '0';
    }
    return true;
  }
  // Settings we accept and keep no further use for: +FCR, +FAA, +FLO, +FNR,
  // +FBOR, +FPHCTO, +FBUG, +FCQ, +FAP, +FIE, +FPP, +FCT, +FTBC, +FPTS, +FPS ...
  if (query) say("0");
  if (range) say("(0-1)");
  return true;
}

void Class2Modem::pageByte(uint8_t c) {
  if (!dle_) {
    if (c == kDle)
      dle_ = true;
    else
      page_.push_back(c);
    return;
  }
  dle_ = false;
  switch (c) {
    case kDle:
      page_.push_back(kDle);
      break;
    case kEtx:
      pageFromDteEnded(-1);
      break;
    case ',':
      pageFromDteEnded(0);
      break;
    case ';':
      pageFromDteEnded(1);
      break;
    case '.':
      pageFromDteEnded(2);
      break;
    default:
      break;  // DLE with anything else carries nothing
  }
}

void Class2Modem::pageFromDteEnded(int postPage) {
  dataMode_ = false;
  pageComplete_ = true;
  if (postPage < 0) {
    finalResult(true);  // now the DTE sends +FET
    return;
  }
  postPage_ = postPage;
  pageReady_ = true;
  pending_ = Pending::PostPage;
}

// ---------------------------------------------------------------- line side

void Class2Modem::ringing(int ringCount) {
  if (fax_ != nullptr) return;
  if (answerWaitMs_ >= 0 && exchange().answer(*this)) {
    answerWaitMs_ = -1;
    startSession(false);
    return;
  }
  say("RING");
  if (autoAnswerRings_ > 0 && ringCount >= autoAnswerRings_ && pending_ == Pending::None) {
    if (exchange().answer(*this)) {
      startSession(false);
      pending_ = Pending::Answer;
    }
  }
}

void Class2Modem::callAnswered() {
  if (fclass_ == "0") {
    // A data call: nothing on this line speaks to us.
    exchange().hangup(*this);
    pending_ = Pending::None;
    say("NO CARRIER");
    return;
  }
  startSession(true);
}

void Class2Modem::callFailed(CallFailure failure) {
  if (pending_ != Pending::Dial) return;
  pending_ = Pending::None;
  static const char* const results[] = {"BUSY", "NO ANSWER", "NO CARRIER"};
  say(results[static_cast<int>(failure)]);
}

void Class2Modem::callEnded() {
  if (fax_ != nullptr && !sessionOver_) t30_terminate(fax_get_t30_state(fax_));
  if (!sessionOver_ && pending_ != Pending::None) {
    pending_ = Pending::None;
    say("NO CARRIER");
  }
  finishSession_ = true;
}

void Class2Modem::startSession(bool calling) {
  endSession();
  calling_ = calling;
  connectedReported_ = false;
  haveRemoteDis_ = false;
  remoteId_.clear();
  sessionOver_ = false;
  finishSession_ = false;
  hangupCode_ = 0;
  hangupReported_ = false;
  page_.clear();
  pageComplete_ = pageReady_ = false;
  postPage_ = -1;
  pagesSent_ = 0;
  pagesReceived_ = 0;
  dteAwaitsPage_ = awaitingDcs_ = lastPageDone_ = havePage_ = false;
  receivedPage_.clear();
  receiveFile_ = workDir_ + "/received.tif";
  std::filesystem::remove(receiveFile_);

  fax_ = fax_init(nullptr, calling);
  fax_set_transmit_on_idle(fax_, true);
  t30_state_t* t30 = fax_get_t30_state(fax_);
  t30_set_tx_ident(t30, localId_.c_str());
  const SpandspCaps caps = capsFor(local_);
  t30_set_supported_modems(t30, caps.modems);
  t30_set_supported_resolutions(t30, caps.resolutions);
  t30_set_supported_image_sizes(t30, caps.sizes);
  t30_set_supported_compressions(t30, caps.compressions);
  t30_set_ecm_capability(t30, caps.ecm);
  if (!calling) t30_set_rx_file(t30, receiveFile_.c_str(), -1);
  t30_set_phase_b_handler(t30, &Class2Modem::onPhaseB, this);
  t30_set_phase_d_handler(t30, &Class2Modem::onPhaseD, this);
  t30_set_phase_e_handler(t30, &Class2Modem::onPhaseE, this);
  t30_set_real_time_frame_handler(t30, &Class2Modem::onFrame, this);
  t30_set_document_handler(t30, &Class2Modem::onDocument, this);
  if (logging()) {
    for (logging_state_t* log : {fax_get_logging_state(fax_), t30_get_logging_state(t30)}) {
      span_log_set_level(log, SPAN_LOG_SHOW_SEVERITY | SPAN_LOG_SHOW_PROTOCOL | SPAN_LOG_SHOW_TAG | SPAN_LOG_FLOW);
      span_log_set_tag(log, number().c_str());
    }
  }
}

void Class2Modem::endSession() {
  if (fax_ == nullptr) return;
  fax_state_s* fax = fax_;
  fax_ = nullptr;
  sessionOver_ = true;
  fax_free(fax);
}

void Class2Modem::onFrame(t30_state_s*, void* user, int incoming, const uint8_t* msg, int len) {
  auto* self = static_cast<Class2Modem*>(user);
  if (!incoming || len < 3) return;
  const uint8_t fcf = msg[2] & 0xFE;
  switch (fcf) {
    case T30_DIS:
      self->remote_ = paramsFromDis(msg, len);
      self->haveRemoteDis_ = true;
      break;
    case T30_CSI & 0xFE:
    case T30_TSI & 0xFE:
      self->remoteId_ = identFromFrame(msg, len);
      break;
    case T30_DCS & 0xFE:
      self->session_ = paramsFromDcs(msg, len);
      break;
    default:
      break;
  }
}

int Class2Modem::onPhaseB(t30_state_s*, void* user, int) {
  auto* self = static_cast<Class2Modem*>(user);
  const Class2Spelling& sp = spellingFor(self->fclass_ == "2.0");
  if (!self->connectedReported_) {
    self->say(sp.connected);
    self->connectedReported_ = true;
  }
  if (!self->calling_) {
    // The caller's DCS is in: report it; a DTE waiting in +FDR gets its CONNECT.
    if (!self->remoteId_.empty() && self->pending_ == Pending::Answer)
      self->say(std::string(sp.remoteTsi) + ":\"" + self->remoteId_ + "\"");
    self->say(std::string(sp.session) + ":" + self->session_.text());
    if (self->pending_ == Pending::Answer) {
      self->pending_ = Pending::None;
      self->finalResult(true);
    } else if (self->pending_ == Pending::Receive && self->awaitingDcs_) {
      self->say("CONNECT");
      self->dteAwaitsPage_ = true;
      if (self->havePage_) self->flushReceivedPage();
    }
    self->awaitingDcs_ = false;
    self->pty_.flush();
    return T30_ERR_OK;
  }
  // Sending: the remote's DIS is in. Report it and take the page from the DTE.
  if (self->pending_ == Pending::Dial) {
    if (!self->remoteId_.empty()) self->say(std::string(sp.remoteCsi) + ":\"" + self->remoteId_ + "\"");
    self->say(std::string(sp.remoteCaps) + ":" + self->remote_.text());
    self->pending_ = Pending::None;
    self->finalResult(true);
  }
  self->pty_.flush();
  if (self->serveDteUntil([self] { return self->pageReady_ || self->finishSession_; }, kPageWaitMs) &&
      self->pageReady_ && self->buildSendPage()) {
    t30_set_tx_file(fax_get_t30_state(self->fax_), self->sendFile_.c_str(), -1, -1);
  } else {
    // Nothing to send: the engine ends the call with DCN.
    t30_set_tx_file(fax_get_t30_state(self->fax_), "", -1, -1);
  }
  return T30_ERR_OK;
}

bool Class2Modem::serveDteUntil(const std::function<bool()>& done, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    readDte();
    if (done()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

bool Class2Modem::buildSendPage() {
  // Decode the DTE's page with spandsp's T.4 receiver into a one-page TIFF file.
  sendFile_ = workDir_ + "/send" + std::to_string(pagesSent_) + ".tif";
  t4_rx_state_t* t4 = t4_rx_init(nullptr, sendFile_.c_str(), T4_COMPRESSION_ITU_T4_1D);
  if (t4 == nullptr) return false;
  t4_rx_set_rx_encoding(t4, T4_COMPRESSION_ITU_T4_1D);
  t4_rx_set_image_width(t4, local_.width());
  t4_rx_set_x_resolution(t4, T4_X_RESOLUTION_R8);
  t4_rx_set_y_resolution(t4, local_.vr >= 1 ? T4_Y_RESOLUTION_FINE : T4_Y_RESOLUTION_STANDARD);
  t4_rx_start_page(t4);
  t4_rx_put_chunk(t4, page_.data(), static_cast<int>(page_.size()));
  t4_rx_end_page(t4);
  t4_stats_t stats;
  t4_rx_get_transfer_statistics(t4, &stats);
  t4_rx_free(t4);
  logLine(number() + ": page " + std::to_string(pagesSent_ + 1) + " from the DTE: " + std::to_string(page_.size()) +
          " bytes, " + std::to_string(stats.length) + " rows");
  ++pagesSent_;
  pageReady_ = false;
  pageComplete_ = false;
  return stats.length > 0;
}

int Class2Modem::onDocument(t30_state_s*, void* user, int) {
  // Asked at the end of each one-page document: is there another?
  auto* self = static_cast<Class2Modem*>(user);
  return self->postPage_ == 0 || self->postPage_ == 1 ? 1 : 0;
}

int Class2Modem::onPhaseD(t30_state_s*, void* user, int result) {
  auto* self = static_cast<Class2Modem*>(user);
  const Class2Spelling& sp = spellingFor(self->fclass_ == "2.0");
  if (!self->calling_) {
    self->deliverReceivedPage(result == T30_EOP ? 2 : result == T30_EOM ? 1 : 0);
    return T30_ERR_OK;
  }
  // Sending: the receiver's answer to our post-page message.
  const int status = result == T30_MCF ? 1 : result == T30_RTP ? 3 : result == T30_RTN ? 2 : 1;
  self->say(std::string(sp.pageStatus) + ":" + std::to_string(status) + (self->fclass_ == "2.0" ? ",0,0,0,0" : ""));
  if (self->postPage_ == 2) {
    self->pending_ = Pending::LastPage;  // OK follows the hang-up report
  } else if (self->pending_ == Pending::PostPage) {
    self->pending_ = Pending::None;
    self->finalResult(true);
  }
  self->pty_.flush();
  return T30_ERR_OK;
}

void Class2Modem::deliverReceivedPage(int postPage) {
  // Read the page the engine has just written and code it for the DTE.
  const Class2Spelling& sp = spellingFor(fclass_ == "2.0");
  std::string data;
  int rows = 0;
  // Class 2 modems hand received page data over with the bits of each byte
  // reversed (what Class 2 software expects); Class 2.0 keeps the line's order.
  // An odd +FBOR value turns the Class 2 habit around.
  const bool reverse = fclass_ == "2" && (bitOrder_ & 1) == 0;
  if (t4_tx_state_t* t4 = t4_tx_init(nullptr, receiveFile_.c_str(), pagesReceived_, pagesReceived_)) {
    t4_tx_set_tx_encoding(t4, T4_COMPRESSION_ITU_T4_1D);
    t4_tx_set_min_bits_per_row(t4, 0);
    if (t4_tx_start_page(t4) == 0) {
      uint8_t buf[4096];
      int n;
      while ((n = t4_tx_get_chunk(t4, buf, sizeof buf)) > 0) {
        for (int i = 0; i < n; ++i) {
          const uint8_t b = reverse ? bit_reverse8(buf[i]) : buf[i];
          if (b == kDle) data += kDle;
          data += static_cast<char>(b);
        }
        if (n < static_cast<int>(sizeof buf)) break;
      }
      t4_stats_t stats;
      t4_tx_get_transfer_statistics(t4, &stats);
      rows = stats.length;
    }
    t4_tx_free(t4);
  }
  logLine(number() + ": page " + std::to_string(pagesReceived_ + 1) + " for the DTE: " + std::to_string(data.size()) +
          " bytes, " + std::to_string(rows) + " rows");
  ++pagesReceived_;
  data += kDle;
  data += kEtx;
  const std::string crlf = verbose_ ? "\r\n" : "";
  // Page status (1: good), the line count and no bad lines, then the post-page message.
  data += crlf + sp.pageStatus + ":1," + std::to_string(rows) + ",0,0,0" + crlf;
  data += crlf + "+FET:" + std::to_string(postPage) + crlf;
  data += verbose_ ? "\r\nOK\r\n" : "0\r";
  receivedPage_ = data;
  havePage_ = true;
  if (postPage == 1) awaitingDcs_ = true;
  if (postPage == 2) lastPageDone_ = true;
  if (dteAwaitsPage_) flushReceivedPage();
}

void Class2Modem::flushReceivedPage() {
  pty_.write(receivedPage_);
  receivedPage_.clear();
  havePage_ = false;
  dteAwaitsPage_ = false;
  pending_ = Pending::None;
}

void Class2Modem::onPhaseE(t30_state_s* s, void* user, int result) {
  auto* self = static_cast<Class2Modem*>(user);
  t30_stats_t stats;
  t30_get_transfer_statistics(s, &stats);
  const int pages = self->calling_ ? stats.pages_tx : stats.pages_rx;
  self->events().add("result " + self->number() + " " + std::to_string(result) + " pages=" + std::to_string(pages) +
                     " " + t30_completion_code_to_str(result));
  if (result != T30_ERR_OK && self->hangupCode_ == 0) {
    // The nearest Class 2 hang-up code: phase B or D failure, as sender or receiver.
    self->hangupCode_ = self->calling_ ? (pages > 0 ? 50 : 20) : (pages > 0 ? 100 : 70);
  }
  self->sessionOver_ = true;
  self->finishSession_ = true;
  if (self->pending_ == Pending::LastPage || self->pending_ == Pending::PostPage ||
      self->pending_ == Pending::Receive || self->pending_ == Pending::Dial || self->pending_ == Pending::Answer) {
    self->reportHangup();
    self->pending_ = Pending::None;
    self->finalResult(self->hangupCode_ == 0);
  } else {
    self->reportHangup();
  }
  self->pty_.flush();
}

void Class2Modem::reportHangup() {
  const Class2Spelling& sp = spellingFor(fclass_ == "2.0");
  char code[8];
  std::snprintf(code, sizeof code, sp.hexHangupCode ? "%02X" : "%d", hangupCode_);
  say(std::string(sp.hangup) + ":" + code);
  hangupReported_ = true;
}

// ---------------------------------------------------------------- audio and time

void Class2Modem::txAudio(int16_t* amp, int samples) {
  int n = fax_ != nullptr ? fax_tx(fax_, amp, samples) : 0;
  for (int i = n; i < samples; ++i) amp[i] = 0;
}

void Class2Modem::rxAudio(const int16_t* amp, int samples) {
  if (fax_ == nullptr) return;
  int16_t copy[1024];
  for (int i = 0; i < samples && i < 1024; ++i) copy[i] = amp[i];
  fax_rx(fax_, copy, samples);
}

void Class2Modem::service(int samples) {
  readDte();
  if (dteAwaitsPage_ && !havePage_) {
    // While the page is still on the line, fill bytes (zeros, allowed before any
    // end-of-line code) tell the DTE that data is flowing.
    fillMs_ += samples / 8;
    if (fillMs_ >= 500) {
      fillMs_ = 0;
      pty_.write(std::string(1, '\0'));
    }
  }
  if (answerWaitMs_ >= 0) {
    answerWaitMs_ -= samples / 8;
    if (answerWaitMs_ < 0 && pending_ == Pending::Answer) {
      pending_ = Pending::None;
      say("NO CARRIER");
    }
  }
  if (finishSession_) {
    finishSession_ = false;
    exchange().hangup(*this);
    endSession();
  }
  pty_.flush();
}

}  // namespace faxsim
