// The local socket through which a running Quillon is reached: a later copy of
// the program asks it to come forward ("forward") or to fax the files it was
// given ("fax", then one line per file: its absolute name, percent-encoded, up
// to the end of the connection); the fax print queue's backend tells it that a
// printed fax waits in the SEND folder ("pickup"). One request per connection. Header only (QtCore), so that the backend, which has no windows,
// names the socket exactly as the program does.
//
// The socket lives in a folder only its user can enter, never under a name in a
// shared folder: another user could otherwise listen there first (a later copy
// would then take the squatter for Quillon and quit, and the backend would wait
// on it). The folder is the program's $XDG_RUNTIME_DIR when that is such a
// folder, else /run/user/<uid> (where the backend, which has no session
// environment, also looks), else /tmp/quillon-<uid>, made 0700 when missing. A
// folder that is not the user's own and closed to others is not used: the
// channel is then off and the program runs without it.
#pragma once

#include <sys/stat.h>

#include <QByteArray>
#include <QCryptographicHash>
#include <QString>
#include <cerrno>
#include <string>

namespace qn {

inline constexpr char kChannelForward[] = "forward";
inline constexpr char kChannelPickUp[] = "pickup";
inline constexpr char kChannelFax[] = "fax";
// A "fax" request names at most this many files in at most this many bytes.
inline constexpr int kChannelMaxFiles = 1000;
inline constexpr qint64 kChannelMaxBytes = qint64(1) << 22;

// "quillon-<uid>-<first 12 hex digits of the SHA-1 of the program folder>".
inline QString InstanceChannelName(const std::string& programFolder, unsigned uid) {
  const QByteArray hash =
      QCryptographicHash::hash(QByteArray::fromStdString(programFolder), QCryptographicHash::Sha1).toHex().left(12);
  return QStringLiteral("quillon-%1-%2").arg(uid).arg(QString::fromLatin1(hash));
}

// Whether `path` is a folder (not a link) of `uid` that no one else may enter.
inline bool IsPrivateFolder(const std::string& path, unsigned uid) {
  struct stat st {};
  return !path.empty() && path.front() == '/' && ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
         st.st_uid == uid && (st.st_mode & 077) == 0;
}

// The folder for the channel of user `uid` (see above); `runtimeDir` is the
// caller's $XDG_RUNTIME_DIR, or null where there is no session (the backend).
// Empty when no private folder can be had.
inline std::string InstanceChannelFolder(unsigned uid, const char* runtimeDir) {
  if (runtimeDir && IsPrivateFolder(runtimeDir, uid)) return runtimeDir;
  const std::string run = "/run/user/" + std::to_string(uid);
  if (IsPrivateFolder(run, uid)) return run;
  const std::string tmp = "/tmp/quillon-" + std::to_string(uid);
  if (::mkdir(tmp.c_str(), 0700) != 0 && errno != EEXIST) return {};
  return IsPrivateFolder(tmp, uid) ? tmp : std::string();
}

// The socket's full path, or empty when the channel is off.
inline std::string InstanceChannelPath(const std::string& programFolder, unsigned uid, const char* runtimeDir) {
  const std::string folder = InstanceChannelFolder(uid, runtimeDir);
  if (folder.empty()) return {};
  return folder + "/" + InstanceChannelName(programFolder, uid).toStdString();
}

}  // namespace qn
