#include "single_instance.h"

#include <unistd.h>

#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>
#include <cstdlib>
#include <memory>

#include "common/folders.h"
#include "common/instance_channel.h"

namespace qn {

TJustOne::TJustOne(QObject* parent) : QObject(parent) {}
TJustOne::~TJustOne() = default;

QString TJustOne::ServerName() {
  return QString::fromStdString(InstanceChannelPath(ProgramFolder(), getuid(), std::getenv("XDG_RUNTIME_DIR")));
}

bool TJustOne::Claim() {
  const QString name = ServerName();
  if (name.isEmpty()) return true;  // no private folder for the channel: run without it
  {
    QLocalSocket socket;
    socket.connectToServer(name);
    if (socket.waitForConnected(1000)) {
      socket.write(QByteArray(kChannelForward) + '\n');
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
      // The request is the line the caller sends; a caller that sends nothing
      // (or something unknown) is taken as a later copy asking to come forward.
      auto handled = std::make_shared<bool>(false);
      auto handle = [this, s, handled] {
        if (*handled) return;
        if (!s->canReadLine() && s->state() == QLocalSocket::ConnectedState && s->bytesAvailable() < 64) return;
        *handled = true;
        const QByteArray line = s->readLine(64).trimmed();
        if (line == kChannelPickUp)
          emit PickUpRequested();
        else
          emit ComeForward();
      };
      connect(s, &QLocalSocket::readyRead, this, handle);
      connect(s, &QLocalSocket::disconnected, this, handle);
      connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
      handle();
    }
  });
  return true;
}

}  // namespace qn
