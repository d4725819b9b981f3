// The "Send Fax" window: shows the recipient, subject, number and dialling
// options and the modem configuration; "&Send Fax Now" opens the port, checks
// for the modem, resets it, configures the fax sender from the settings and
// starts it. The "Fax Status" window follows the transmission; the session log
// is written to Lastsend.log, and with Ctrl+Shift+Z the serial trace to QNOUT.LOG.
//
// Conventions: user-interface thread only. The caller fills the public fields
// and controls before showing the window modally and reads ResultText and the
// controls after it closed; the window writes no record itself. ResultReady
// tells the caller the outcome as soon as a session ended, before any message
// about it, so that the record can say so even if the program never gets past
// that message. Modem waits run on a
// helper thread while the window's event loop keeps running; the engine's events
// reach the window through a Qt event sink. Whatever way a session ends, the
// port is closed and Lastsend.log written before the window is idle again.
#pragma once

#include <QDateTime>
#include <QDialog>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

#include "class2.h"
#include "sip_fax_line.h"

namespace fe {
class TFeSendFax;
}

namespace qn {

class TFaxSessionPort;
class TFeFaxStatus;
class TQtEventSink;

// The dial wait in seconds that an initialisation string's S7= asks for (60
// without one, at least 55).
int DialWaitFromInitString(const std::string& initString);
// The initialisation string as the modem gets it: "AT" in front unless present.
std::string ModemInitFrom(const std::string& initString);
// The engine's fax class for a class setting (0 detect, 1 Class 1, 2 Class 2,
// 3 Class 2.0); a value out of range detects.
fe::TFaxClass EngineFaxClass(int classIndex);

class TSendFaxForm : public QDialog {
  Q_OBJECT
 public:
  explicit TSendFaxForm(QWidget* parent = nullptr);
  ~TSendFaxForm() override;

  // ---- set by the caller before the window is shown ----
  QString FaxFile;    // the body, or the cover sheet when there is no body
  QString CoverFile;  // the cover sheet when the fax has both; empty otherwise
  QString NumberGiven;
  unsigned PortNumber = 1;

  // ---- read by the caller afterwards ----
  QString ResultText;    // empty until a session ended
  QDateTime ResultTime;  // when the last session ended (invalid until then)

  QLabel *ToLabel, *Subjectlabel;
  QLineEdit *sfPhoneNumber, *sfDialPrefix, *sfDialsuffix;
  QCheckBox *DisablePrefix, *DisableSuffix;
  QPlainTextEdit* SetupMemo;
  QPushButton *SendFaxButton, *CloseButton, *HelpButton, *PreferencesButton, *ProblemSolverButton;
  QLabel* StatusLine;
  TFeFaxStatus* FaxStatusWindow;

  bool Busy() const { return busy_; }
  bool Logging() const { return logging_; }
  const QStringList& LogLines() const { return logLines_; }
  // The sender of the running session (null when idle).
  fe::TFeSendFax* Sender() const { return fax_.get(); }

  void SendFaxButtonClick();
  void AddtoLastSendLog(const QString& line);
  void SaveLocalLog();
  void ShowSetup();
  QString BuildHeader() const;
  void ToggleLogging();

  // Runs when "Preferences" saved new settings (the wizard fills it in).
  static std::function<bool(QWidget*)>& RunPreferencesWizard();

 signals:
  // A session's outcome is final (ResultText, ResultTime): emitted once per
  // session, before the message that tells the user.
  void ResultReady();
  // A session ended in any way: the port is closed and Lastsend.log written.
  void SessionEnded();

 protected:
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void reject() override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  void CloseButtonClick();
  void PreferencesButtonClick();
  void Status(const QString& text);
  void Hourglass();
  void NormalCursor();
  void Mark(const QString& text);
  void EndSession();
  void StopEarly();
  bool StartTransmission();
  // With the SIP account as the line: opens it and waits for the registration
  // (off the interface thread); false after telling the user why not.
  bool OpenSipLine();
  void OnFinish(int code);
  void FinishSession();
  void ReportResult();

  bool busy_ = false;
  bool firstActivation_ = true;
  bool logging_ = false;
  bool hourglass_ = false;
  bool starting_ = false;        // StartSend runs on the helper thread
  bool finishPending_ = false;   // the finish came while it ran
  bool closeWhenDone_ = false;   // the user cancelled by closing the window
  bool resultReported_ = false;  // ResultReady went out for this session
  int finishCode_ = 0;
  QStringList logLines_;
  QString lastLogLine_;
  QString headerLine_;
  std::unique_ptr<TQtEventSink> sink_;
  std::unique_ptr<fe::TFeSendFax> fax_;
  std::unique_ptr<TFaxSessionPort> port_;      // after the sender: released before it
  std::unique_ptr<fe::sip::TSipFaxLine> sip_;  // the SIP line in place of port_
};

}  // namespace qn
