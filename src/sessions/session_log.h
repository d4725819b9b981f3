// The plain-text session logs Lastsend.log and Lastrec.log: "Start:" + date and
// time first, "Finish: " + date and time last, a line equal to the one before
// it left out, CR LF line ends, the whole file replaced at each save: written
// under a temporary name in the same folder and renamed over the old log, so a
// failed write keeps the last complete one.
//
// Conventions: interface thread only; the callers ignore writing failures (a
// log that cannot be written is no reason to disturb the user).
#pragma once

#include <QString>
#include <QStringList>
#include <string>

namespace qn {

// The current date and time in the system's long date and long time formats.
QString SessionLogTime();

// Appends line unless it equals lastLine; remembers it as the last line.
void AddSessionLogLine(QStringList& lines, QString& lastLine, const QString& line);

// Writes the lines to path as they are (no "Finish:" line); false when the log
// could not be replaced (the old one is then as it was).
bool WriteSessionLog(const QStringList& lines, const std::string& path);

// Adds "Finish: " + the date and time, then writes the lines to path.
bool SaveSessionLog(QStringList& lines, QString& lastLine, const std::string& path);

}  // namespace qn
