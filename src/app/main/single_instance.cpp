#include "single_instance.h"

#include <unistd.h>

#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>

#include "common/folders.h"

namespace qn {

TJustOne::TJustOne(QObject* parent) : QObject(parent) {}
TJustOne::~TJustOne() = default;

QString TJustOne::ServerName() {
  const QByteArray folder = QByteArray::fromStdString(ProgramFolder());
  const QByteArray hash = QCryptographicHash::hash(folder, QCryptographicHash::Sha1).toHex().left(12);
  return QStringLiteral("quillon-%1-%2").arg(getuid()).arg(QString::fromLatin1(hash));
}

bool TJustOne::Claim() {
  const QString name = ServerName();
  {
    QLocalSocket socket;
    socket.connectToServer(name);
    if (socket.waitForConnected(1000)) {
      socket.write("forward\n");
      socket.waitForBytesWritten(1000);
      socket.disconnectFromServer();
      return false;
    }
  }
  // Nobody answered: a socket file left by a copy that crashed is stale.
  QLocalServer::removeServer(name);
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(name)) return true;  // run anyway; only the forwarding is lost
  connect(server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* s = server_->nextPendingConnection()) {
      connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
      emit ComeForward();
    }
  });
  return true;
}

}  // namespace qn
