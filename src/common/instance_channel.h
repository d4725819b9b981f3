// The local socket through which a running Quillon is reached: a later copy of
// the program asks it to come forward ("forward"), the fax print queue's backend
// tells it that a printed fax waits in the SEND folder ("pickup"). One line per
// connection. Header only (QtCore), so that the backend, which has no windows,
// names the socket exactly as the program does.
#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QString>
#include <string>

namespace qn {

inline constexpr char kChannelForward[] = "forward";
inline constexpr char kChannelPickUp[] = "pickup";

// "quillon-<uid>-<first 12 hex digits of the SHA-1 of the program folder>".
inline QString InstanceChannelName(const std::string& programFolder, unsigned uid) {
  const QByteArray hash =
      QCryptographicHash::hash(QByteArray::fromStdString(programFolder), QCryptographicHash::Sha1).toHex().left(12);
  return QStringLiteral("quillon-%1-%2").arg(uid).arg(QString::fromLatin1(hash));
}

}  // namespace qn
