#include "single_instance.h"

#include <unistd.h>

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <cstdlib>
#include <memory>

#include "common/folders.h"
#include "common/instance_channel.h"

namespace qn {

QStringList DocumentArguments(const QStringList& arguments) {
  QStringList files;
  bool options = true;
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    const QString& a = arguments[i];
    if (options && a == QLatin1String("--")) {
      options = false;
    } else if (options && a.startsWith(QLatin1Char('-')) && a.size() > 1) {
      continue;  // --minimized, or one Qt did not take
    } else if (!a.isEmpty()) {
      files << QFileInfo(a).absoluteFilePath();
    }
  }
  return files;
}

TJustOne::TJustOne(QObject* parent) : QObject(parent) {}
TJustOne::~TJustOne() = default;

QString TJustOne::ServerName() {
  return QString::fromStdString(InstanceChannelPath(ProgramFolder(), getuid(), std::getenv("XDG_RUNTIME_DIR")));
}

bool TJustOne::Claim(const QStringList& files) {
  const QString name = ServerName();
  if (name.isEmpty()) return true;  // no private folder for the channel: run without it
  {
    QLocalSocket socket;
    socket.connectToServer(name);
    if (socket.waitForConnected(1000)) {
      QByteArray request;
      if (files.isEmpty()) {
        request = QByteArray(kChannelForward) + '\n';
      } else {
        request = QByteArray(kChannelFax) + '\n';
        for (const QString& f : files) request += QFile::encodeName(f).toPercentEncoding() + '\n';
      }
      socket.write(request);
      while (socket.bytesToWrite() > 0 && socket.waitForBytesWritten(2000)) {
      }
      socket.disconnectFromServer();
      if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(1000);
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
      // A "fax" request's file lines are read up to the end of the connection.
      struct Request {
        bool handled = false, fax = false;
        qint64 bytes = 0;
        QStringList files;
      };
      auto request = std::make_shared<Request>();
      auto handle = [this, s, request] {
        if (request->handled) return;
        const bool open = s->state() == QLocalSocket::ConnectedState;
        if (!request->fax) {
          if (!s->canReadLine() && open && s->bytesAvailable() < 64) return;
          const QByteArray line = s->readLine(64).trimmed();
          if (line == kChannelFax) {
            request->fax = true;
          } else {
            request->handled = true;
            if (line == kChannelPickUp)
              emit PickUpRequested();
            else
              emit ComeForward();
            return;
          }
        }
        if (request->bytes + s->bytesAvailable() > kChannelMaxBytes) {  // too much to be file names: ignored
          request->handled = true;
          s->abort();
          return;
        }
        while (s->canReadLine() || (!open && s->bytesAvailable() > 0)) {
          const QByteArray line = s->readLine(kChannelMaxBytes).trimmed();
          request->bytes += line.size() + 1;
          const QString file = QFile::decodeName(QByteArray::fromPercentEncoding(line));
          if (file.startsWith(QLatin1Char('/')) && request->files.size() < kChannelMaxFiles) request->files << file;
        }
        if (open) return;
        request->handled = true;
        emit ComeForward();
        if (!request->files.isEmpty()) emit FaxRequested(request->files);
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
