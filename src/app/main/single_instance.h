// One running copy per user and program folder: the first copy listens on a
// local socket (common/instance_channel.h); a later copy asks it to come forward
// and ends; the fax print queue's backend asks it to pick up a printed fax.
#pragma once

#include <QObject>
#include <QString>

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
  // answered and was asked to come forward.
  bool Claim();

 signals:
  void ComeForward();
  void PickUpRequested();

 private:
  QLocalServer* server_ = nullptr;
};

}  // namespace qn
