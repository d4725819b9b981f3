// qnfax version: prints the program's version.
#include <cstdio>

#include "command.h"

namespace {
int runVersion(const std::vector<std::string>&) {
  std::printf("qnfax (Quillon) %s\n", QN_VERSION);
  return 0;
}
}  // namespace

QNFAX_COMMAND(version, "version", "print the version", runVersion);
