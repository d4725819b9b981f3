// qnfax modem classes PORT: asks the modem which fax classes it supports (the
// initialisation string, then "AT+FCLASS=?") and prints them, one a line.
#include <cstdio>

#include "cmd_faxport.h"
#include "command.h"
#include "send_fax.h"

namespace {

int RunModem(const std::vector<std::string>& args) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::printf(
        "usage: qnfax modem classes PORT\n\n"
        "PORT is COM1-COM6 or a device path. Prints the fax classes the modem supports\n"
        "(\"Class 1\", \"Class 2\", \"Class 2.0\"); exit status 0 when it supports any.\n");
    return args.empty() ? 2 : 0;
  }
  if (args[0] != "classes" || args.size() != 2) return qnfax::fail("modem: usage: qnfax modem classes PORT", 2);
  fe::TFeSendFax fax;
  qnfax::FaxCommandPort modem;
  if (int rc = modem.Open(fax, args[1], {}); rc < 0)
    return qnfax::fail("modem: cannot open " + args[1] + ": " + qnfax::FaxErrorMessage(rc));
  fe::TClassSupport s = fax.ClassSupport();
  if (s.class1) std::printf("Class 1\n");
  if (s.class2) std::printf("Class 2\n");
  if (s.class2_0) std::printf("Class 2.0\n");
  if (!s.Any()) return qnfax::fail("modem: no fax class reported by the modem on " + args[1]);
  return 0;
}

}  // namespace

QNFAX_COMMAND(modem, "modem classes PORT", "print the fax classes a modem supports", RunModem);
