// One running copy per user and program folder: the first copy listens on a
// local socket (common/instance_channel.h); a later copy asks it to come forward
// (and to fax the files it was started with) and ends; the fax print queue's
// backend asks it to pick up a printed fax.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;

namespace qn {

class TJustOne : public QObject {
  Q_OBJECT
 public:
  explicit TJustOne(QObject* parent = nullptr);
  ~TJustOne() override;
  // The socket's path for this user and program folder; empty when there is no
  // private folder for it (the program then runs without the channel).
  static QString ServerName();
  // True when this is the first copy (it now listens); false when another copy
  // answered and was asked to come forward and to fax `files` (absolute names).
  bool Claim(const QStringList& files = {});

 signals:
  void ComeForward();
  void PickUpRequested();
  void FaxRequested(const QStringList& files);

 private:
  QLocalServer* server_ = nullptr;
};

// The files named on a command line (arguments after the program's name that
// are no options, and every one after "--"), made absolute against the
// current folder, so that a running copy finds them too.
QStringList DocumentArguments(const QStringList& arguments);

}  // namespace qn
