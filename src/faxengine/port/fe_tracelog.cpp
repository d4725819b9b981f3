#include "fe_tracelog.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fstream>

#include "fe_errors.h"
#include "fe_texts.h"

namespace fe {

namespace {

// "hh:mm:ss.mmm" in local time.
std::string Stamp(std::chrono::system_clock::time_point t) {
  const std::time_t secs = std::chrono::system_clock::to_time_t(t);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count() % 1000;
  std::tm tm{};
  ::localtime_r(&secs, &tm);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
  return buf;
}

std::string Pad(std::string s, std::size_t width) {
  if (s.size() < width) s.append(width - s.size(), ' ');
  return s;
}

// One state change applied to a buffer; returns whether the buffer is to be written.
template <typename Buffer>
bool Apply(TTraceLogState request, TTraceLogState& state, Buffer& buffer, bool& used) {
  switch (request) {
    case tlOn:
      state = tlOn;
      used = true;
      return false;
    case tlPause:
      if (state == tlOn) state = tlPause;
      return false;
    case tlClear:
      buffer.clear();
      return false;
    case tlOff:
      state = tlOff;
      buffer.clear();
      used = false;
      return false;
    case tlDump:
    case tlAppend:
      return true;
  }
  return false;
}

}  // namespace

TFeTraceLog::TFeTraceLog() = default;

int TFeTraceLog::WriteFile(const std::string& name, const std::string& content, bool append) const {
  std::FILE* f = std::fopen(name.c_str(), append ? "ab" : "wb");
  if (!f) return -IoErrorCode(errno);
  const bool ok = std::fwrite(content.data(), 1, content.size(), f) == content.size();
  const bool closed = std::fclose(f) == 0;
  return ok && closed ? 0 : -ecDiskFull;
}

int TFeTraceLog::SetTracing(TTraceLogState state) {
  std::string content, name;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!Apply(state, tracing_, trace_, traceUsed_)) return 0;
    if (!traceUsed_) return -ecTracingNotEnabled;
    name = traceName_;
  }
  content = FormatTrace();
  const int rc = WriteFile(name, content, state == tlAppend);
  std::lock_guard<std::mutex> lock(mu_);
  tracing_ = tlOff;
  trace_.clear();
  traceUsed_ = false;
  return rc;
}

int TFeTraceLog::SetLogging(TTraceLogState state) {
  std::string content, name;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!Apply(state, logging_, log_, logUsed_)) return 0;
    if (!logUsed_) return -ecLoggingNotEnabled;
    name = logName_;
  }
  content = FormatLog();
  const int rc = WriteFile(name, content, state == tlAppend);
  std::lock_guard<std::mutex> lock(mu_);
  logging_ = tlOff;
  log_.clear();
  logUsed_ = false;
  return rc;
}

TTraceLogState TFeTraceLog::Tracing() const {
  std::lock_guard<std::mutex> lock(mu_);
  return tracing_;
}
TTraceLogState TFeTraceLog::Logging() const {
  std::lock_guard<std::mutex> lock(mu_);
  return logging_;
}
void TFeTraceLog::SetTraceSize(unsigned entries) {
  std::lock_guard<std::mutex> lock(mu_);
  traceSize_ = entries;
  while (trace_.size() > traceSize_) trace_.pop_front();
}
void TFeTraceLog::SetLogSize(unsigned entries) {
  std::lock_guard<std::mutex> lock(mu_);
  logSize_ = entries;
  while (log_.size() > logSize_) log_.pop_front();
}
unsigned TFeTraceLog::TraceSize() const {
  std::lock_guard<std::mutex> lock(mu_);
  return traceSize_;
}
unsigned TFeTraceLog::LogSize() const {
  std::lock_guard<std::mutex> lock(mu_);
  return logSize_;
}
void TFeTraceLog::SetTraceName(std::string name) {
  std::lock_guard<std::mutex> lock(mu_);
  traceName_ = std::move(name);
}
void TFeTraceLog::SetLogName(std::string name) {
  std::lock_guard<std::mutex> lock(mu_);
  logName_ = std::move(name);
}
std::string TFeTraceLog::TraceName() const {
  std::lock_guard<std::mutex> lock(mu_);
  return traceName_;
}
std::string TFeTraceLog::LogName() const {
  std::lock_guard<std::mutex> lock(mu_);
  return logName_;
}
void TFeTraceLog::SetTraceHex(bool on) {
  std::lock_guard<std::mutex> lock(mu_);
  traceHex_ = on;
}
void TFeTraceLog::SetLogHex(bool on) {
  std::lock_guard<std::mutex> lock(mu_);
  logHex_ = on;
}
bool TFeTraceLog::TraceHex() const {
  std::lock_guard<std::mutex> lock(mu_);
  return traceHex_;
}
bool TFeTraceLog::LogHex() const {
  std::lock_guard<std::mutex> lock(mu_);
  return logHex_;
}

void TFeTraceLog::TraceBytes(bool out, const std::uint8_t* data, std::size_t n) {
  std::lock_guard<std::mutex> lock(mu_);
  if (tracing_ != tlOn || traceSize_ == 0) return;
  const auto now = Clock::now();
  for (std::size_t i = 0; i < n; ++i) {
    if (trace_.size() >= traceSize_) trace_.pop_front();
    trace_.push_back(TraceEntry{now, out, data[i], {}});
  }
}

void TFeTraceLog::TraceMark(std::string_view text) {
  std::lock_guard<std::mutex> lock(mu_);
  if (tracing_ != tlOn || traceSize_ == 0 || text.empty()) return;
  if (trace_.size() >= traceSize_) trace_.pop_front();
  trace_.push_back(TraceEntry{Clock::now(), false, 0, std::string(text)});
}

void TFeTraceLog::LogEvent(std::string_view type, std::string_view subType, long data, long otherData) {
  std::lock_guard<std::mutex> lock(mu_);
  if (logging_ != tlOn || logSize_ == 0) return;
  if (log_.size() >= logSize_) log_.pop_front();
  log_.push_back(LogEntry{Clock::now(), std::string(type), std::string(subType), {}, data, otherData});
}

void TFeTraceLog::LogText(std::string_view text) {
  std::lock_guard<std::mutex> lock(mu_);
  if (logging_ != tlOn || logSize_ == 0) return;
  if (log_.size() >= logSize_) log_.pop_front();
  log_.push_back(LogEntry{Clock::now(), "User", {}, std::string(text), 0, 0});
}

// The trace groups runs of bytes in one direction into lines of at most 16:
//   08:01:02.345 Out  41 54 0D                                          |AT.|
// with TraceHex, or the printable characters alone (others as \xNN) without it.
// A mark is a line of its own:
//   08:01:02.345 Mark Check_for_modem
std::string TFeTraceLog::FormatTrace() const {
  std::lock_guard<std::mutex> lock(mu_);
  std::string out = "Time         Dir  Bytes\r\n";
  std::size_t i = 0;
  while (i < trace_.size()) {
    const auto& first = trace_[i];
    if (!first.mark.empty()) {
      out += Stamp(first.time) + " Mark " + first.mark + "\r\n";
      ++i;
      continue;
    }
    std::size_t j = i;
    while (j < trace_.size() && j - i < 16 && trace_[j].out == first.out && trace_[j].mark.empty() &&
           trace_[j].time - first.time < std::chrono::milliseconds(100))
      ++j;
    std::string line = Stamp(first.time) + (first.out ? " Out  " : " In   ");
    std::string text;
    for (std::size_t k = i; k < j; ++k) {
      const unsigned char c = trace_[k].byte;
      const bool printable = c >= 0x20 && c < 0x7f;
      char hex[8];
      if (traceHex_) {
        std::snprintf(hex, sizeof hex, "%02X ", c);
        line += hex;
        text += printable ? static_cast<char>(c) : '.';
      } else if (printable) {
        text += static_cast<char>(c);
      } else {
        std::snprintf(hex, sizeof hex, "\\x%02X", c);
        text += hex;
      }
    }
    if (traceHex_)
      line = Pad(line, 18 + 16 * 3) + " |" + text + "|";
    else
      line += text;
    out += line + "\r\n";
    i = j;
  }
  return out;
}

std::string TFeTraceLog::FormatLog() const {
  std::lock_guard<std::mutex> lock(mu_);
  std::string out = std::string(kLogHeading) + "\r\n";
  const auto start = log_.empty() ? Clock::time_point{} : log_.front().time;
  for (const auto& e : log_) {
    const double secs = std::chrono::duration<double>(e.time - start).count();
    char t[32];
    std::snprintf(t, sizeof t, "%-9.3f ", secs);
    std::string line = Pad(t, 10) + Pad(e.type, 10);
    if (!e.text.empty()) {
      line += e.text;
    } else {
      char d[48];
      if (logHex_)
        std::snprintf(d, sizeof d, "%08lX  %08lX", static_cast<unsigned long>(e.data),
                      static_cast<unsigned long>(e.otherData));
      else
        std::snprintf(d, sizeof d, "%-9ld %ld", e.data, e.otherData);
      line += Pad(e.subType, 14) + d;
    }
    out += line + "\r\n";
  }
  return out;
}

}  // namespace fe
