// Pieces the fax sessions share, driven on their own: the session logs replaced
// whole or not at all, the outcome of a send written into its record (or a
// message saying it could not be), and error windows that wait their turn.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTest>

#include "common/folders.h"
#include "modal_script.h"
#include "records/record_tables.h"
#include "sessions/session_log.h"

using namespace qn;
using qntest::ModalScript;

namespace {

QByteArray ReadBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Files in a folder other than the ones named.
QStringList Others(const QString& folder, const QStringList& known) {
  QStringList out;
  for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden))
    if (!known.contains(name)) out << name;
  return out;
}

}  // namespace

class SessionPiecesTest : public QObject {
  Q_OBJECT
  QString home_;

 private slots:
  void init() {
    home_ = qntest::FreshHome(QString::fromLatin1(QTest::currentTestFunction()));
    ResetProgramFolder();
  }

  // ---- session logs ----

  // A log is replaced as a whole: a reader holding the old one keeps reading it
  // complete, the new one has every line with CR LF, and no temporary file stays.
  void sessionLogReplacedWhole() {
    const std::string path = (home_ + QStringLiteral("Lastsend.log")).toStdString();
    QVERIFY(WriteSessionLog({QStringLiteral("Start: one"), QStringLiteral("Finish: one")}, path));
    QFile before(QString::fromStdString(path));
    QVERIFY(before.open(QIODevice::ReadOnly));  // a viewer with the old log open
    QStringList lines;
    QString last;
    AddSessionLogLine(lines, last, QStringLiteral("Start: two"));
    AddSessionLogLine(lines, last, QStringLiteral("Dialling"));
    AddSessionLogLine(lines, last, QStringLiteral("Dialling"));  // repeated: left out
    QVERIFY(SaveSessionLog(lines, last, path));
    QCOMPARE(before.readAll(), QByteArray("Start: one\r\nFinish: one\r\n"));
    const QByteArray now = ReadBytes(QString::fromStdString(path));
    QVERIFY2(now.startsWith("Start: two\r\nDialling\r\nFinish: "), now.constData());
    QVERIFY(now.endsWith("\r\n"));
    QCOMPARE(now.count("Dialling"), 1);
    QCOMPARE(Others(home_, {QStringLiteral("Lastsend.log")}), QStringList());
  }

  // A log that cannot be written whole (the disk is full) leaves the last
  // complete log as it was, and no partial file beside it.
  void sessionLogKeptWhenTheDiskIsFull() {
    const std::string path = (home_ + QStringLiteral("Lastrec.log")).toStdString();
    QVERIFY(WriteSessionLog({QStringLiteral("Start: kept"), QStringLiteral("Finish: kept")}, path));
    QStringList big;
    for (int i = 0; i < 200; ++i) big << QStringLiteral("Received OK   From: REMOTE %1").arg(i);
    rlimit old{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 512;
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = WriteSessionLog(big, path);
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, oldHandler);
    QVERIFY(!written);
    QCOMPARE(ReadBytes(QString::fromStdString(path)), QByteArray("Start: kept\r\nFinish: kept\r\n"));
    QCOMPARE(Others(home_, {QStringLiteral("Lastrec.log")}), QStringList());
    // A folder that is not there: nothing written, nothing thrown.
    QVERIFY(!WriteSessionLog(big, (home_ + QStringLiteral("missing/Lastrec.log")).toStdString()));
  }
};

QTEST_MAIN(SessionPiecesTest)
#include "session_pieces_test.moc"
