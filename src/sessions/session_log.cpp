#include "sessions/session_log.h"

#include <QDateTime>
#include <QLocale>
#include <fstream>

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

void WriteSessionLog(const QStringList& lines, const std::string& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (const QString& line : lines) out << line.toLocal8Bit().toStdString() << "\r\n";
}

void SaveSessionLog(QStringList& lines, QString& lastLine, const std::string& path) {
  AddSessionLogLine(lines, lastLine, QStringLiteral("Finish: ") + SessionLogTime());
  WriteSessionLog(lines, path);
}

}  // namespace qn
