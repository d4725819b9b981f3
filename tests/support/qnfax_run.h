// Runs build/bin/qnfax with a command line and collects what it prints (stdout
// and stderr together) and its exit status, for the command-line tests.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace qntest {

struct Result {
  int status;  // exit status, -1 when it did not exit normally
  std::string out;
};

inline Result Qnfax(const std::string& args) {
  const std::string cmd = std::string(QN_BINARY_DIR) + "/bin/qnfax " + args + " 2>&1";
  Result r{-1, {}};
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[512];
  while (std::fgets(buf, sizeof buf, p)) r.out += buf;
  const int st = ::pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

}  // namespace qntest
