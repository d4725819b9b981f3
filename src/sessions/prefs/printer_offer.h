// The offer to add the "Quillon Fax" print queue, shown in Preferences and Quick
// Setup while CUPS has no such queue: printing to it is how documents of other
// programs become faxes, and a package installed before CUPS ran has none.
//
// Conventions callers rely on:
//  - User-interface thread only. Adding runs the installed install-printer.sh
//    (through pkexec, which asks for the administrator's password, or directly
//    when the program runs as root) in a child process; the window stays usable.
//  - Where it cannot be added from here (no pkexec, refused or failed), the
//    message names the command for the administrator; nothing else changes.
//  - QUILLON_PRINTER_SCRIPT names another script (tests, unusual installations);
//    CUPS_SERVER is honoured as by every CUPS program.
#pragma once

#include <QString>
#include <QWidget>

class QLabel;
class QProcess;
class QPushButton;

namespace qn {

// The queue's name in CUPS ("Quillon Fax" is its description).
inline constexpr char kFaxQueueName[] = "Quillon_Fax";

// True when the scheduler knows the queue; false when it does not or when no
// scheduler answers.
bool FaxQueueExists();
// The script that adds the queue (the program's data folder holds it).
QString FaxQueueScript();

class TFaxPrinterOffer : public QWidget {
  Q_OBJECT
 public:
  explicit TFaxPrinterOffer(QWidget* parent = nullptr);

  // Looks again: visible while the queue is missing.
  void Refresh();

  QLabel* Note;
  QPushButton* AddButton;

 signals:
  // After an attempt to add the queue: whether it is there now.
  void Finished(bool added);

 private:
  void Add();
  void Done(int exitCode, const QString& output);

  QProcess* process_ = nullptr;
};

}  // namespace qn
