// qnfax at PORT CMD...: sends AT commands to a modem and prints its answers.
// PORT is COM1-COM6 (mapped as the program maps them) or a device path. Each
// command goes out with a carriage return; the answer is printed line by line
// until "OK" or "ERROR" or 2 seconds without a line. The port is opened with the
// application's settings: 8192-byte buffers, RTS/CTS flow control, 19200 baud.
#include <cctype>
#include <cstdio>
#include <string>

#include "command.h"
#include "fe_comport.h"
#include "fe_texts.h"

namespace {

constexpr long kSilenceSeconds = 2;

std::string Trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

// "COM3" (any letter case) gives 3; anything else 0.
unsigned ComNumberOf(const std::string& name) {
  if (name.size() != 4) return 0;
  std::string upper;
  for (char c : name) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper.compare(0, 3, "COM") != 0 || upper[3] < '1' || upper[3] > '6') return 0;
  return static_cast<unsigned>(upper[3] - '0');
}

int RunAt(const std::vector<std::string>& args) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::printf(
        "usage: qnfax at PORT CMD...\n\n"
        "PORT is COM1-COM6 or a device path. Each CMD is sent with a carriage return;\n"
        "the modem's answer is printed until OK, ERROR or 2 seconds of silence.\n"
        "Exit status 0 when every command was answered OK.\n");
    return args.empty() ? 2 : 0;
  }
  if (args.size() < 2) return qnfax::fail("at: no command given (qnfax at PORT CMD...)", 2);

  fe::TFeComPort port;
  port.SetAutoOpen(false);
  port.SetTapiMode(fe::tmOff);
  port.SetPromptForPort(false);
  port.SetInSize(8192);
  port.SetOutSize(8192);
  port.SetHWFlowOptions(fe::hwfUseRTS | fe::hwfRequireCTS);
  port.SetBaud(19200);
  if (const unsigned n = ComNumberOf(args[0]))
    port.SetComNumber(n);
  else
    port.SetDevicePath(args[0]);
  if (const int rc = port.SetOpen(true); rc < 0)
    return qnfax::fail("at: cannot open " + args[0] + ": " + fe::FormatError(rc));

  std::string line;
  port.OnWaitChar = [&line](fe::TFeComPort&, char c) { line += c; };
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& cmd = args[i];
    if (const int rc = port.SendText(cmd + "\r"); rc < 0)
      return qnfax::fail("at: cannot send " + cmd + ": " + fe::FormatError(rc));
    bool ok = false, answered = false, finished = false;
    while (!finished) {
      line.clear();
      const int rc = port.AwaitText("\n", fe::SecondsToTicks(kSilenceSeconds));
      if (rc < 0) return qnfax::fail("at: " + args[0] + ": " + fe::FormatError(rc));
      const std::string text = Trim(line);
      if (!text.empty()) {
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
        answered = true;
      }
      if (text == "OK")
        ok = finished = true;
      else if (text == "ERROR")
        finished = true;
      else if (rc == 0)
        finished = true;  // silence
    }
    if (!ok) return qnfax::fail("at: " + cmd + (answered ? ": not answered with OK" : ": no answer from the modem"));
  }
  return 0;
}

}  // namespace

QNFAX_COMMAND(at, "at PORT CMD...", "send AT commands to a modem and print its answers", RunAt);
