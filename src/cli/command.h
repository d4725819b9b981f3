// qnfax subcommands register themselves here; main() dispatches on the first
// argument. Each subcommand lives in its own cmd_*.cpp file of this folder.
#pragma once

#include <string>
#include <vector>

namespace qnfax {

// Runs one subcommand. args holds the words after the subcommand's name.
// Returns the process exit status.
using CommandFn = int (*)(const std::vector<std::string>& args);

struct Command {
  std::string name;
  std::string usage;    // one line: "info FILE.APF [--json]"
  std::string summary;  // what it does, one line
  CommandFn run;
};

bool registerCommand(Command cmd);
const std::vector<Command>& commands();

// Prints "qnfax: <code> <text>" style failures in one place.
int fail(const std::string& message, int exitStatus = 1);

}  // namespace qnfax

// Registers a subcommand at start-up: QNFAX_COMMAND(info, "info FILE", "summary", runInfo)
#define QNFAX_COMMAND(id, usage, summary, fn) \
  static const bool qnfax_registered_##id = ::qnfax::registerCommand({#id, usage, summary, fn})
