// Receive mode: the main window as an answering fax machine. TReceiveMode opens
// the modem's port, prepares the modem and runs the fax receiver until the user
// stops it; for every fax received it adds a record to the received-fax table,
// asks for the sound, prints the fax when so set and keeps the session log
// Lastrec.log (and, with logging on, the serial trace QNIN.LOG).
//
// Conventions callers rely on:
//  - Interface thread only. The receiver runs on the port's dispatch thread and
//    its events reach this object through a Qt event sink; the modem waits of
//    starting and stopping run on a helper thread while the event loop keeps
//    going (user input is held back meanwhile), so the windows keep painting.
//  - The window that hosts the mode lends it what it needs through
//    TReceiveHost; the mode sets the host's flags (in receive mode, receiving
//    now), reads its logging flag and fills its log lines. The host outlives
//    the mode.
//  - Whatever way the mode ends (the user's stop, a failure while starting, the
//    receiver stopping by itself, the window closing), the port is closed before
//    the mode reports itself off, so another program can use the modem at once.
//  - A fax that failed part way keeps the pages that arrived: its file stays
//    and gets a record noting the failure; a file without any page is removed.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "abstract_fax.h"

namespace fe::sip {
class TSipFaxLine;
}
#include "xbase/xb_table.h"

class QAction;
class QPrinter;
class QPushButton;
class QWidget;

namespace fe {
class TFeAbstractFax;
class TFeReceiveFax;
}  // namespace fe

namespace qn {

class TFaxSessionPort;
class TQtEventSink;
class TStartingFaxForm;

struct TReceiveHost {
  QWidget* window = nullptr;  // parent of the windows the mode opens
  xb::Table* recTable = nullptr;
  QPushButton* receiveButton = nullptr;
  QAction* receiveMenu = nullptr;
  bool* inReceiveMode = nullptr;
  bool* receivingNow = nullptr;
  bool* logging = nullptr;
  QStringList* logLines = nullptr;
  std::function<void(const QString&)> setStatus;   // the status line
  std::function<void()> setButtons;                // refresh the window's buttons
  std::function<void()> showIncoming;              // switch to the received-faxes list
  std::function<void(uint32_t recNo)> showRecord;  // the list shows the new record as current
  std::function<QPrinter*()> printer;              // the printer "Print Setup" chose
  std::function<void()> postSound;                 // queue the sound request
};

// The status line text for a receiver's progress text (trimmed), its remote
// station identifier, current page and bytes of the page so far.
QString ReceiveStatusText(const QString& progressText, const QString& remoteId, int page, long bytes);
// The session log line of a fax received: "Received OK   From: " + id cut to 40
// characters, a tab and "  Pages: " cut to 49 characters, then the pages.
QString ReceivedLogLine(const QString& remoteId, int pages);
// The same for a fax with damaged pages: "Received DAMAGED From: " ..., then
// the damage note after the pages.
QString ReceivedDamagedLogLine(const QString& remoteId, int pages, const QString& note);
// The NOTES text of a fax whose pages were kept with damage:
// "page 2: 34 bad lines; page 3: incomplete"; empty when every page is clean.
QString DamageNote(const std::vector<fe::TPageDamage>& pages);
// The header printed on each page of a fax printed on receipt.
QString PrintOnReceiptHeader(const QString& remoteId, const QString& faxFileName);

class TReceiveMode : public QObject {
  Q_OBJECT
 public:
  explicit TReceiveMode(TReceiveHost host, QObject* parent = nullptr);
  ~TReceiveMode() override;

  // Starts the mode when it is off, stops it when it is on.
  void ReceiveButtonClick();
  // The window is asked to close: false keeps it open (the user said No while
  // a fax is coming in); otherwise the mode is stopped and the port closed.
  bool CloseQuery();

  bool On() const { return *host_.inReceiveMode; }
  bool Receiving() const { return *host_.receivingNow; }
  TStartingFaxForm* Notification() const { return notification_; }
  // The port of the running mode (null while off).
  TFaxSessionPort* Port() const { return port_.get(); }
  fe::TFeReceiveFax* Receiver() const { return fax_.get(); }

  void AddtoLastRecLog(const QString& line);
  void SaveLocalRecLog();

  // Where a fax printed on receipt goes when no queue is chosen and "Print
  // Setup" chose a file: a PDF of the fax's own name in that file's folder.
  static QString PdfForFax(const QString& chosenFile, const QString& faxFile);

 signals:
  // The mode went on or off (after the port was opened or closed).
  void ModeChanged(bool on);
  // A fax was stored and has its record (pages that arrived; complete or not).
  void FaxStored(uint32_t recNo, bool complete);

 private:
  bool Start();
  void Stop();
  void EndSession();
  // Cancels the receiver, waits until it has hung up and stopped, and sends
  // the after-reset string (its answer is not needed).
  void CancelReceiver();
  void SetCaptions(bool on);
  void Status(const QString& text);
  void Hourglass();
  void NormalCursor();
  void UpdateValues(fe::TFeAbstractFax& fax);
  void OnStatus(fe::TFeAbstractFax& fax, bool first, bool last);
  void OnLog(fe::TFeAbstractFax& fax, int code);
  void OnFinish(int code);
  void ReceptionDone(fe::TFeAbstractFax& fax);
  void ReceptionFailed(fe::TFeAbstractFax& fax);
  uint32_t AddRecord(const QString& remoteId, int pages, const QString& note);
  void PrintOnReceipt(const QString& remoteId);
  void StoppedByItself();

  TReceiveHost host_;
  TStartingFaxForm* notification_;
  bool hourglass_ = false;
  bool stopping_ = false;
  int currentPage_ = 0;
  int lastError_ = 0;
  std::string currentFaxFile_;
  QString lastLogLine_;
  std::unique_ptr<TQtEventSink> sink_;
  std::unique_ptr<fe::TFeReceiveFax> fax_;
  std::unique_ptr<TFaxSessionPort> port_;  // after the receiver: released before it
  // The SIP account's line instead of the port when the settings say so.
  std::unique_ptr<fe::sip::TSipFaxLine> sip_;
  // Waits until the receiver stopped (cancelling it again while its line can
  // still reach it), whichever line it is on.
  void WaitForReceiver();
  // Lets go of the port or the SIP line.
  void CloseLine();
};

// Plays a sound file without waiting; no sound device, no file or a file that
// cannot be played gives silence and no message.
void PlaySoundFile(const QString& path);
// The sound player the program uses (tests count its requests here).
std::function<void(const QString&)>& SoundPlayer();
// The receive settings' sound (Wav), when set and the file exists.
void PlayReceiveSound();

}  // namespace qn
