#include "autostart.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>

#include "common/folders.h"

namespace qn {

namespace {

constexpr char kOurKey[] = "X-Quillon-Autostart=true";

// The program to start: this one when it is the installed "quillon", else the
// name found on the path.
QString ProgramToStart() {
  const QString self = QCoreApplication::applicationFilePath();
  return QFileInfo(self).fileName() == QLatin1String("quillon") ? self : QStringLiteral("quillon");
}

// Desktop-entry quoting of one argument (spaces, quotes, backslashes, dollars).
QString Quoted(const QString& arg) {
  static const QString special = QStringLiteral(" \t\"'\\$`<>~|&;*?#()");
  if (std::none_of(arg.begin(), arg.end(), [](QChar c) { return special.contains(c); })) return arg;
  QString q = arg;
  for (const char* c : {"\\", "\"", "`", "$"}) q.replace(QLatin1String(c), QLatin1String("\\") + QLatin1String(c));
  q.replace(QLatin1String("\\"), QLatin1String("\\\\"));  // the entry's own escaping of the backslash
  return QLatin1Char('"') + q + QLatin1Char('"');
}

bool IsOurs(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) && f.readAll().contains(kOurKey);
}

}  // namespace

bool StartMinimizedRequested(const QStringList& arguments) {
  return arguments.mid(1).contains(QLatin1String(kMinimizedOption));
}

QString AutostartEntryPath() {
  const QByteArray config = qgetenv("XDG_CONFIG_HOME");
  const QString base = config.isEmpty() ? QDir::homePath() + QStringLiteral("/.config") : QString::fromLocal8Bit(config);
  return base + QStringLiteral("/autostart/quillon.desktop");
}

bool SyncAutostartEntry(bool on) {
  const QString path = AutostartEntryPath();
  const bool exists = QFileInfo::exists(path);
  if (exists && !IsOurs(path)) return true;  // the user's own entry
  if (!on) return !exists || QFile::remove(path);
  // A program folder chosen through QUILLON_HOME goes with the command.
  QString exec = Quoted(ProgramToStart()) + QLatin1Char(' ') + QLatin1String(kMinimizedOption);
  const QByteArray home = qgetenv("QUILLON_HOME");
  if (!home.isEmpty()) exec = QStringLiteral("env QUILLON_HOME=") + Quoted(QString::fromLocal8Bit(home)) + QLatin1Char(' ') + exec;
  const QString entry = QStringLiteral(
                            "[Desktop Entry]\n"
                            "Type=Application\n"
                            "Name=Quillon\n"
                            "Comment=Start Quillon minimised, receiving faxes\n"
                            "Exec=%1\n"
                            "Icon=quillon\n"
                            "Terminal=false\n"
                            "X-GNOME-Autostart-enabled=true\n")
                            .arg(exec) +
                        QLatin1String(kOurKey) + QLatin1Char('\n');
  if (!QDir().mkpath(QFileInfo(path).path())) return false;
  QSaveFile f(path);
  if (!f.open(QIODevice::WriteOnly)) return false;
  f.write(entry.toUtf8());
  return f.commit();
}

}  // namespace qn
