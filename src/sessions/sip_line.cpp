#include "sip_line.h"

#include "secret_store.h"
#include "settings.h"

namespace qn {

fe::sip::TAccount SipAccountOf(const FaxSettings& s, const std::string& password) {
  fe::sip::TAccount a;
  a.user = s.SipUser;
  a.domain = s.SipDomain;
  a.registrar = s.SipRegistrar;
  a.authUser = s.SipAuthUser;
  a.password = password;
  a.publicAddress = s.SipPublicAddress;
  a.sipPort = s.SipPort;
  a.mediaLow = std::min(s.SipMediaPortLow, s.SipMediaPortHigh);
  a.mediaHigh = std::max(s.SipMediaPortLow, s.SipMediaPortHigh);
  a.t38 = s.SipT38;
  a.redundancy = s.SipRedundancy;
  a.maxDatagram = s.SipMaxDatagram;
  a.codec = s.SipCodec == "PCMU" ? fe::sip::TCodec::Pcmu : fe::sip::TCodec::Pcma;
  return a;
}

std::string RegistrationWords(const fe::sip::TRegistration& r) {
  using fe::sip::TRegState;
  switch (r.state) {
    case TRegState::Registered:
      return "Registered.";
    case TRegState::WrongPassword:
      return "The password is wrong.";
    case TRegState::Unreachable:
      return "The server is not reachable.";
    case TRegState::Refused: {
      std::string reason = r.phrase.empty() ? "no reason given" : r.phrase;
      if (r.status) reason += " (" + std::to_string(r.status) + ")";
      return "The server refused the registration: " + reason + ".";
    }
    case TRegState::Registering:
      return "The server did not answer in time.";
    case TRegState::Idle:
      break;
  }
  return "Not registered.";
}

std::string TestSipRegistration(const FaxSettings& s, const std::string& password) {
  if (s.SipUser.empty() || s.SipDomain.empty()) return "The user name or the domain of the account is missing.";
  fe::sip::TAccount account = SipAccountOf(s, password);
  if (account.registrar == "-") return "This account does not register: calls go straight to their addresses.";
  // Any free port: the line's own port may be taken by receive mode.
  account.sipPort = 0;
  fe::sip::TSipAgent agent;
  std::string error;
  if (agent.Start(account, &error) != 0) return "The SIP line could not be opened: " + error;
  // Longer than SIP's own give-up time for a server that stays silent (32 s).
  const fe::sip::TRegistration r = agent.WaitRegistration(std::chrono::seconds(40));
  agent.Stop();
  return RegistrationWords(r);
}

std::string OpenSipFaxLine(fe::sip::TSipFaxLine& line, const FaxSettings& s) {
  const fe::sip::TAccount account = SipAccountOf(s, LoadSipPassword(s.SipUser + "@" + s.SipDomain));
  std::string error;
  if (!line.Open(account, &error)) return "The SIP line could not be opened: " + error;
  const fe::sip::TRegistration reg = line.WaitRegistered(std::chrono::seconds(40));
  if (reg.state == fe::sip::TRegState::Registered) return {};
  return RegistrationWords(reg);
}

}  // namespace qn
