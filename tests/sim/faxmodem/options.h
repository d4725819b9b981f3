// The command line of faxmodem-sim (see tests/sim/README.md).
#pragma once

#include <string>
#include <vector>

#include "exchange.h"
#include "terminal.h"

namespace faxsim {

enum class ModemClass { Class1, Class2, Class2_0 };

struct ModemConfig {
  ModemClass modemClass = ModemClass::Class1;
  std::string link;  // symlink to the pty slave (may be empty)
  std::string number;
};

struct Options {
  std::vector<ModemConfig> modems;
  std::vector<TerminalConfig> terminals;
  std::vector<std::string> busy;
  Impairment impairment;
  LineTiming timing;
  std::string readyFile;
  std::string eventsFile;
  std::string logFile;
  std::string controlFifo;
  bool exitWithParent = false;
};

// Parses argv; throws std::invalid_argument with a message naming the bad argument.
Options parseOptions(const std::vector<std::string>& args);
const char* usage();

}  // namespace faxsim
