#include "fe_faxlog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "fe_errors.h"
#include "fe_status.h"
#include "fe_texts.h"

namespace fe {

std::string FormatDateTime(std::time_t when) {
  std::tm t{};
  if (!localtime_r(&when, &t)) return std::string();
  char buf[128];
  std::size_t n = std::strftime(buf, sizeof buf, "%x %X", &t);
  return std::string(buf, n);
}

std::string TFeFaxLog::Lines(int logCode, const TFaxLogInfo& fax, std::time_t when) {
  const std::string at = FormatDateTime(when);
  const char* crlf = "\r\n";
  std::string s;
  switch (logCode) {
    case lfTransmitStarted:
      for (const auto& file : fax.faxFiles)
        s += "Transmit " + file + " to " + fax.phoneNumber + " started at " + at + crlf;
      break;
    case lfTransmitFinished:
      s = "Transmit to " + fax.remoteId + " finished OK at " + at + " " + fax.hangupCode + crlf + crlf;
      break;
    case lfTransmitFailed:
      s = "Transmit failed at " + at + crlf + "  (" + ErrorText(fax.lastError) + ") " + fax.hangupCode + crlf + crlf;
      break;
    case lfReceiveStarted:
      s = "Receive " + fax.faxFile + " from " + fax.remoteId + " started at " + at + crlf;
      break;
    case lfReceiveFinished:
      // A fax with pages kept with damage does not say OK.
      if (fax.damage.empty())
        s = "Receive finished OK at " + at + crlf + crlf;
      else
        s = "Receive finished with damaged pages at " + at + crlf + "  (" + fax.damage + ")" + crlf + crlf;
      break;
    case lfReceiveSkipped:
      s = "Receive skipped at " + at + crlf + crlf;
      break;
    case lfReceiveFailed:
      s = "Receive failed at " + at + crlf + "  (" + ErrorText(fax.lastError) + ")" + crlf + crlf;
      break;
    default:
      break;
  }
  return s;
}

int TFeFaxLog::LogFax(int logCode, const TFaxLogInfo& fax, std::time_t when) const {
  if (FaxHistoryName.empty()) return 0;
  std::string text = Lines(logCode, fax, when ? when : std::time(nullptr));
  if (text.empty()) return 0;
  int fd = ::open(FaxHistoryName.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return -IoErrorCode(errno);
  int rc = 0;
  const char* p = text.data();
  std::size_t left = text.size();
  while (left && rc == 0) {
    ssize_t w = ::write(fd, p, left);
    if (w < 0 && errno == EINTR) continue;
    if (w < 0)
      rc = -IoErrorCode(errno);
    else if (w == 0)
      rc = -ecDeviceWriteError;
    else {
      p += w;
      left -= static_cast<std::size_t>(w);
    }
  }
  if (::close(fd) < 0 && rc == 0) rc = -IoErrorCode(errno);
  return rc;
}

}  // namespace fe
