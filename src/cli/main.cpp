// qnfax: the command-line front end to Quillon's fax engine and tables.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "command.h"

namespace qnfax {

namespace {
std::vector<Command>& registry() {
  static std::vector<Command> all;
  return all;
}

void printHelp(FILE* out) {
  std::fprintf(out, "usage: qnfax COMMAND [ARGS...]\n\ncommands:\n");
  auto sorted = registry();
  std::sort(sorted.begin(), sorted.end(), [](const Command& a, const Command& b) { return a.name < b.name; });
  // A usage too long for its column puts the summary on a line of its own.
  for (const auto& c : sorted) {
    if (c.usage.size() < 50)
      std::fprintf(out, "  %-50s %s\n", c.usage.c_str(), c.summary.c_str());
    else
      std::fprintf(out, "  %s\n  %-50s %s\n", c.usage.c_str(), "", c.summary.c_str());
  }
  std::fprintf(out, "\nqnfax COMMAND --help shows the options of one command.\n");
}
}  // namespace

bool registerCommand(Command cmd) {
  registry().push_back(std::move(cmd));
  return true;
}

const std::vector<Command>& commands() { return registry(); }

int fail(const std::string& message, int exitStatus) {
  std::fprintf(stderr, "qnfax: %s\n", message.c_str());
  return exitStatus;
}

}  // namespace qnfax

int main(int argc, char** argv) {
  using namespace qnfax;
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "help")) {
    printHelp(stdout);
    return argc < 2 ? 2 : 0;
  }
  for (const auto& c : commands()) {
    if (c.name == argv[1]) return c.run(std::vector<std::string>(argv + 2, argv + argc));
  }
  std::fprintf(stderr, "qnfax: unknown command '%s'\n\n", argv[1]);
  printHelp(stderr);
  return 2;
}
