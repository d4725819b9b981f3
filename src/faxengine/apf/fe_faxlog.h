// The fax history log: one file to which every fax component's log events add
// lines ("Transmit ..." / "Receive ..."), each ending with CR LF.
#pragma once

#include <ctime>
#include <string>
#include <vector>

namespace fe {

// Date and time as every engine text shows them (the system's date and time format).
std::string FormatDateTime(std::time_t when);

// What the log needs to know of the fax component that reports.
struct TFaxLogInfo {
  std::vector<std::string> faxFiles;  // transmit: every file of the fax file list
  std::string faxFile;                // receive: the file being received
  std::string phoneNumber;
  std::string remoteId;          // remote station identifier
  std::string hangupCode = "0";  // as the modem reported it (Class 2 decimal, 2.0 hex)
  int lastError = 0;             // code of the last error (either sign)
  std::string damage;            // receive: pages kept with damage ("page 2: 34 bad lines")
};

class TFeFaxLog {
 public:
  // Published property: the history file; nothing is written when it is empty.
  std::string FaxHistoryName = "FAXHIST.HIS";

  // Appends the lines for a log code (FaxLogCode in fe_status.h) at time `when`
  // (0 = now). Returns 0 or a negative error code.
  int LogFax(int logCode, const TFaxLogInfo& fax, std::time_t when = 0) const;

  // The text LogFax appends, for the same arguments.
  static std::string Lines(int logCode, const TFaxLogInfo& fax, std::time_t when);
};

}  // namespace fe
