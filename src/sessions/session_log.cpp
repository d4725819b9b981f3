#include "sessions/session_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QLocale>
#include <cerrno>
#include <cstdio>
#include <string>

namespace qn {

QString SessionLogTime() {
  const QDateTime now = QDateTime::currentDateTime();
  const QLocale locale;
  return locale.toString(now.date(), QLocale::LongFormat) + QLatin1Char(' ') +
         locale.toString(now.time(), QLocale::LongFormat);
}

void AddSessionLogLine(QStringList& lines, QString& lastLine, const QString& line) {
  if (!lines.isEmpty() && line == lastLine) return;
  lines.append(line);
  lastLine = line;
}

bool WriteSessionLog(const QStringList& lines, const std::string& path) {
  std::string text;
  for (const QString& line : lines) text += line.toLocal8Bit().toStdString() + "\r\n";
  // The new log is written beside the old one and renamed over it, so that a
  // full disk or a crash part way leaves the last complete log, never a cut one.
  const auto slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
  std::string tmp = folder + "/.session-log-XXXXXX";
  const int fd = ::mkstemp(tmp.data());
  if (fd < 0) return false;
  // The old log's permissions carry over; a new one is readable by all.
  struct stat old {};
  bool ok = ::fchmod(fd, ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 0777) : 0644) == 0;
  for (std::size_t done = 0; ok && done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      ok = false;
    else
      done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) ok = false;
  if (ok) ok = std::rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(tmp.c_str());
  return ok;
}

bool SaveSessionLog(QStringList& lines, QString& lastLine, const std::string& path) {
  AddSessionLogLine(lines, lastLine, QStringLiteral("Finish: ") + SessionLogTime());
  return WriteSessionLog(lines, path);
}

}  // namespace qn
