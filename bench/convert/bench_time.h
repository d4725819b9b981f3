// Times a command the way the converter benchmarks compare programs: elapsed and
// processor time (user + system) of a child process, best of several runs.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace bench {

struct Timing {
  double wall = -1, cpu = -1;
};

// Runs a program (found on PATH) with its output discarded; -1 times on failure.
inline Timing Time(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid;
  int status = 0;
  struct rusage usage {};
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
  auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
  return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
          seconds(usage.ru_utime) + seconds(usage.ru_stime)};
}

inline Timing Best(const std::vector<std::string>& args, int runs) {
  Timing best;
  for (int i = 0; i < runs; ++i) {
    const Timing t = Time(args);
    if (t.wall < 0) return {};
    if (best.wall < 0 || t.wall < best.wall) best.wall = t.wall;
    if (best.cpu < 0 || t.cpu < best.cpu) best.cpu = t.cpu;
  }
  return best;
}

}  // namespace bench
