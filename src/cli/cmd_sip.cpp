// qnfax sip register: checks a SIP account from the terminal. Registers with
// the account's registrar and prints the answer in plain words ("registered",
// "wrong password", "server not reachable", ...); exit status 0 only when
// registered.
#include "cmd_sip.h"

#include <cstdio>

#include "command.h"

namespace {

int RunSip(const std::vector<std::string>& args) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::printf(
        "usage: qnfax sip register --user USER --domain DOMAIN [account options] [--timeout S]\n"
        "                          [--trace FILE]\n\n"
        "Registers the account once and prints what the registrar said.\n\n%s",
        qnfax::kSipUsage);
    return args.empty() ? 2 : 0;
  }
  if (args[0] != "register") return qnfax::fail("sip: unknown sub-command " + args[0] + " (register)", 2);
  qnfax::SipOptions sip;
  sip.sip = true;
  std::string trace, codec = "pcmu";
  int timeout = 10;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (const int taken = sip.Take(args, i); taken != 0) {
      if (taken < 0) return qnfax::fail("sip: " + a + " needs a valid value", 2);
    } else if (a == "--timeout" && i + 1 < args.size()) {
      if (!qnfax::ToCount(args[++i], timeout) || timeout < 1) return qnfax::fail("sip: --timeout needs seconds", 2);
    } else if (a == "--trace" && i + 1 < args.size()) {
      trace = args[++i];
    } else {
      return qnfax::fail("sip: unknown option " + a, 2);
    }
  }
  if (sip.account.registrar == "-") return qnfax::fail("sip: register needs a registrar", 2);
  // Nothing but the registration: any free port for SIP, media on any port.
  if (sip.account.sipPort == 5060) sip.account.sipPort = 0;
  std::string error;
  if (!sip.Finish(codec, error)) return qnfax::fail("sip: " + error, 2);
  qnfax::SipLine line;
  if (!line.Open(sip, trace, error)) return qnfax::fail("sip: " + error);
  const fe::sip::TRegistration r = line.agent.WaitRegistration(std::chrono::seconds(timeout));
  std::string text = fe::sip::RegistrationText(r);
  if (r.state == fe::sip::TRegState::Registering)
    text = "server not reachable (no answer in " + std::to_string(timeout) + " s)";
  std::printf("%s\n", text.c_str());
  return r.state == fe::sip::TRegState::Registered ? 0 : 1;
}

}  // namespace

QNFAX_COMMAND(sip, "sip register --user USER --domain DOMAIN [options]", "check a SIP account by registering it",
              RunSip);
