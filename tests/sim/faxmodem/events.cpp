#include "events.h"

#include <spandsp.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>

namespace faxsim {

namespace {
std::FILE* logFile = nullptr;

double elapsed() {
  static const auto start = std::chrono::steady_clock::now();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void spanMessage(int, const char* text) {
  if (logFile == nullptr) return;
  std::fprintf(logFile, "%9.3f %s", elapsed(), text);
  std::fflush(logFile);
}
}  // namespace

Events::Events(const std::string& path) {
  if (path.empty()) return;
  file_ = std::fopen(path.c_str(), "a");
  if (file_ == nullptr) throw std::runtime_error("cannot open events file " + path);
}

Events::~Events() {
  if (file_ != nullptr) std::fclose(file_);
}

void Events::add(const std::string& line) {
  logLine("event: " + line);
  if (file_ == nullptr) return;
  std::fprintf(file_, "%s\n", line.c_str());
  std::fflush(file_);
}

void openLog(const std::string& path) {
  if (path.empty()) return;
  logFile = std::fopen(path.c_str(), "a");
  if (logFile == nullptr) throw std::runtime_error("cannot open log file " + path);
  span_set_message_handler(spanMessage);
  span_set_error_handler([](const char* text) { spanMessage(0, text); });
}

void logLine(const std::string& line) {
  if (logFile == nullptr) return;
  std::fprintf(logFile, "%9.3f sim: %s\n", elapsed(), line.c_str());
  std::fflush(logFile);
}

bool logging() {
  return logFile != nullptr;
}

}  // namespace faxsim
