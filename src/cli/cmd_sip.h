// Faxing over a SIP call, for qnfax send, receive and sip register: the account
// options (--sip, --user, --domain, --registrar, ...) and the line they set up:
// a SIP user agent whose media session's virtual Class 1 modem takes the place
// of the opened port. The account comes from the command line only.
#pragma once

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "abstract_fax.h"
#include "cmd_faxport.h"
#include "fe_eventsink.h"
#include "sip_agent.h"
#include "sip_fax_line.h"

namespace qnfax {

inline constexpr const char* kSipUsage =
    "Over a SIP call: --sip --user USER --domain DOMAIN [--registrar HOST[:PORT]|-]\n"
    "[--proxy HOST[:PORT]] [--auth-user NAME] [--password-file FILE] [--sip-local ADDR]\n"
    "[--sip-port N] [--media-ports LOW-HIGH] [--public-address ADDR] [--no-t38]\n"
    "[--redundancy N] [--max-datagram N] [--t38-wait MS] [--codec pcmu|pcma].\n"
    "The password comes from --password-file or the QNFAX_SIP_PASSWORD environment\n"
    "variable (never from the command line, where others could read it). Send's\n"
    "--number is a number at DOMAIN, user@host or a sip: address. --registrar -\n"
    "skips registering. With --sip, --trace FILE writes the call's SIP trace.\n";

struct SipOptions {
  bool sip = false;
  fe::sip::TAccount account;
  std::string passwordFile, mediaPorts;

  bool Given() const { return sip; }

  // Takes option args[i] (and its value) when it is one of ours: 1 taken,
  // 0 not ours, -1 value missing or bad.
  int Take(const std::vector<std::string>& args, size_t& i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size() || args[i + 1].empty()) return -1;
      out = args[++i];
      return 1;
    };
    auto count = [&](int& out) {
      std::string v;
      return value(v) > 0 && ToCount(v, out) ? 1 : -1;
    };
    if (a == "--sip") return sip = true, 1;
    if (a == "--user") return value(account.user);
    if (a == "--domain") return value(account.domain);
    if (a == "--registrar") return value(account.registrar);
    if (a == "--proxy") return value(account.outboundProxy);
    if (a == "--auth-user") return value(account.authUser);
    if (a == "--password-file") return value(passwordFile);
    if (a == "--sip-local") return value(account.localAddress);
    if (a == "--sip-port") return count(account.sipPort);
    if (a == "--media-ports") return value(mediaPorts);
    if (a == "--public-address") return value(account.publicAddress);
    if (a == "--no-t38") return account.t38 = false, 1;
    if (a == "--redundancy") return count(account.redundancy);
    if (a == "--max-datagram") return count(account.maxDatagram);
    if (a == "--t38-wait") return count(account.callerT38WaitMs);
    return 0;
  }

  // Completes the account (password, port range, codec); false with error set.
  bool Finish(const std::string& codec, std::string& error) {
    if (account.user.empty() || account.domain.empty()) return error = "--sip needs --user and --domain", false;
    if (!passwordFile.empty()) {
      std::ifstream in(passwordFile);
      if (!in) return error = "cannot read the password file " + passwordFile, false;
      std::getline(in, account.password);
      if (!account.password.empty() && account.password.back() == '\r') account.password.pop_back();
    } else if (const char* env = std::getenv("QNFAX_SIP_PASSWORD")) {
      account.password = env;
    }
    if (!mediaPorts.empty()) {
      const size_t dash = mediaPorts.find('-');
      if (dash == std::string::npos || !ToCount(mediaPorts.substr(0, dash), account.mediaLow) ||
          !ToCount(mediaPorts.substr(dash + 1), account.mediaHigh) || account.mediaLow > account.mediaHigh)
        return error = "--media-ports needs LOW-HIGH", false;
    }
    if (codec == "pcma")
      account.codec = fe::sip::TCodec::Pcma;
    else if (codec == "pcmu")
      account.codec = fe::sip::TCodec::Pcmu;
    else
      return error = "unknown codec \"" + codec + "\" (pcmu or pcma)", false;
    if (account.maxDatagram < 100) return error = "--max-datagram must be at least 100", false;
    return true;
  }
};

// The SIP line of one command, with its trace file: the shared fax line
// (sip_fax_line.h). Declare it before the fax component, so that it outlives it.
class SipLine : public fe::sip::TSipFaxLine {
 public:
  ~SipLine() {
    Close();
    if (trace_) trace_->flush();
  }

  bool Open(const SipOptions& o, const std::string& traceFile, std::string& error) {
    if (!traceFile.empty()) {
      trace_ = std::make_unique<std::ofstream>(traceFile, std::ios::trunc);
      if (!*trace_) return error = "cannot write the trace file " + traceFile, false;
      agent.SetTrace([this](const std::string& text) {
        std::lock_guard<std::mutex> lk(traceMu_);
        *trace_ << text << '\n';
      });
    }
    return TSipFaxLine::Open(o.account, &error);
  }

 private:
  std::mutex traceMu_;
  std::unique_ptr<std::ofstream> trace_;
};

}  // namespace qnfax
