// The byte trace and the event log of a port. Both keep their newest entries in
// circular buffers and write them to files on request (tlDump replaces the file,
// tlAppend appends). They belong to the port component, so they outlive a reopen.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>

#include "fe_porttypes.h"

namespace fe {

inline constexpr std::string_view kLogHeading = "Time      Type      SubType       Data      OtherData";

class TFeTraceLog {
 public:
  TFeTraceLog();

  // State changes: tlOn records, tlPause stops recording, tlClear empties the
  // buffer (the state is kept), tlDump / tlAppend write the buffer and end the
  // trace (state tlOff, buffer emptied), tlOff stops and empties. Writing when
  // nothing was ever recorded gives -ecTracingNotEnabled / -ecLoggingNotEnabled;
  // a file that cannot be written gives its file error (-ecPathNotFound ...).
  int SetTracing(TTraceLogState state);
  int SetLogging(TTraceLogState state);
  TTraceLogState Tracing() const;
  TTraceLogState Logging() const;

  void SetTraceSize(unsigned entries);
  void SetLogSize(unsigned entries);
  unsigned TraceSize() const;
  unsigned LogSize() const;
  void SetTraceName(std::string name);
  void SetLogName(std::string name);
  std::string TraceName() const;
  std::string LogName() const;
  void SetTraceHex(bool on);
  void SetLogHex(bool on);
  bool TraceHex() const;
  bool LogHex() const;

  // Records bytes sent (out) or received when tracing is on.
  void TraceBytes(bool out, const std::uint8_t* data, std::size_t n);
  // Records a line of the application's own between the bytes (a mark of where
  // a session stands) when tracing is on; it takes one entry.
  void TraceMark(std::string_view text);
  // Records one event when logging is on.
  void LogEvent(std::string_view type, std::string_view subType, long data, long otherData);
  void LogText(std::string_view text);

  // The trace and log as they would be written (for tests and diagnostics).
  std::string FormatTrace() const;
  std::string FormatLog() const;

 private:
  using Clock = std::chrono::system_clock;
  struct TraceEntry {
    Clock::time_point time;
    bool out;
    std::uint8_t byte;
    std::string mark;  // not empty: a mark line instead of a byte
  };
  struct LogEntry {
    Clock::time_point time;
    std::string type, subType, text;
    long data, otherData;
  };
  int WriteFile(const std::string& name, const std::string& content, bool append) const;

  mutable std::mutex mu_;
  TTraceLogState tracing_ = tlOff, logging_ = tlOff;
  unsigned traceSize_ = 10000, logSize_ = 10000;
  std::string traceName_ = "FAXPORT.TRC", logName_ = "FAXPORT.LOG";
  bool traceHex_ = true, logHex_ = true;
  std::deque<TraceEntry> trace_;
  std::deque<LogEntry> log_;
  bool traceUsed_ = false, logUsed_ = false;  // recording was switched on since the last write
};

}  // namespace fe
