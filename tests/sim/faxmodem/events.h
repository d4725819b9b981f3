// The event record a test reads to follow calls: one line per event, appended
// and flushed at once ("ring CALLER CALLEE", "answer ...", "result NUMBER CODE ...").
#pragma once

#include <cstdio>
#include <string>

namespace faxsim {

class Events {
 public:
  explicit Events(const std::string& path);
  ~Events();
  Events(const Events&) = delete;
  Events& operator=(const Events&) = delete;

  void add(const std::string& line);

 private:
  std::FILE* file_ = nullptr;
};

// The spandsp log and our own notes go to one log file (or nowhere).
void openLog(const std::string& path);
void logLine(const std::string& line);
bool logging();

}  // namespace faxsim
