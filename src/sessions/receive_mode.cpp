#include "sessions/receive_mode.h"

#include <QAction>
#include <QApplication>
#include <QDate>
#include <QDateTime>
#include <QFileInfo>
#include <QLocale>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QTime>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <thread>

#include "apf_reader.h"
#include "common/dialogs.h"
#include "common/fax_names.h"
#include "common/folders.h"
#include "common/print_options.h"
#include "sessions/sip_line.h"
#include "fax_printer.h"
#include "fe_errors.h"
#include "fe_status.h"
#include "fe_texts.h"
#include "fe_ticks.h"
#include "receive_fax.h"
#include "sessions/error_box.h"
#include "sessions/fax_port.h"
#include "sessions/off_thread.h"
#include "sessions/qt_event_sink.h"
#include "sessions/send_fax_form.h"
#include "sessions/session_log.h"
#include "sessions/settings.h"
#include "sessions/starting_fax_form.h"

namespace qn {

namespace {

constexpr const char* kCrLf = "\r\n";
constexpr int kCancelWaitMs = 15000;  // the receiver hangs up (about 2 s) before it stops
constexpr int kNoteBytes = 60;        // NOTES field width

QString Q(const std::string& s) {
  return QString::fromLocal8Bit(s.data(), static_cast<qsizetype>(s.size()));
}
std::string S(const QString& s) {
  return s.toLocal8Bit().toStdString();
}

void ProcessMessages() {
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

// Pages stored in a received file (0 when it cannot be read).
int PagesInFile(const std::string& path) {
  if (path.empty()) return 0;
  fe::TApfReader reader;
  if (reader.Open(path) != 0) return 0;
  return static_cast<int>(reader.PageCount());
}

}  // namespace

// ---- texts ------------------------------------------------------------------------------

QString ReceiveStatusText(const QString& progressText, const QString& remoteId, int page, long bytes) {
  QString text = progressText.trimmed();
  if (text.toUpper() == QLatin1String("GOT CLASS 2 FHNG CODE")) text = QStringLiteral("Hangup successful");
  QString pagePart, bytesPart;
  if (text == QLatin1String("Getting page data")) {
    text = QStringLiteral("Receiving fax");
    if (bytes > 0) bytesPart = QStringLiteral(" (%1 bytes)").arg(bytes);
    if (page != 0) pagePart = QStringLiteral(", page %1").arg(page);
  }
  const QString id = remoteId.trimmed();
  if (!id.isEmpty()) text += QStringLiteral(" from: ") + id + pagePart + bytesPart;
  if (text.toUpper().contains(QLatin1String("ABORT"))) text.clear();
  return text;
}

QString ReceivedLogLine(const QString& remoteId, int pages) {
  QString line = (QStringLiteral("Received OK   From: ") + remoteId).left(40);
  line = (line + QStringLiteral("\t  Pages: ")).left(49);
  return line + QString::number(pages);
}

QString ReceivedDamagedLogLine(const QString& remoteId, int pages, const QString& note) {
  QString line = (QStringLiteral("Received DAMAGED From: ") + remoteId).left(40);
  line = (line + QStringLiteral("\t  Pages: ")).left(49);
  return line + QString::number(pages) + QStringLiteral("  (") + note + QStringLiteral(")");
}

QString DamageNote(const std::vector<fe::TPageDamage>& pages) {
  QStringList parts;
  for (const fe::TPageDamage& d : pages)
    parts << QStringLiteral("page %1: ").arg(d.page) + Q(fe::DamageText(d.badLines, d.incomplete));
  return parts.join(QStringLiteral("; "));
}

QString PrintOnReceiptHeader(const QString& remoteId, const QString& faxFileName) {
  const QDateTime now = QDateTime::currentDateTime();
  const QString fileText =
      (QString::fromStdString(ProgramFolder()) + QStringLiteral("Receive/") + faxFileName).toLower();
  return QStringLiteral("From: ") + remoteId.trimmed() + QStringLiteral("             Received: ") +
         now.date().toString(UserShortDateFormat()) + QLatin1Char(' ') + now.time().toString(UserShortTimeFormat()) +
         QStringLiteral("             Fax File:        ") + fileText;
}

QString TReceiveMode::PdfForFax(const QString& chosenFile, const QString& faxFile) {
  const QFileInfo chosen(chosenFile);
  return chosen.absolutePath() + QLatin1Char('/') + QFileInfo(faxFile).completeBaseName() + QStringLiteral(".pdf");
}

// ---- the sound ---------------------------------------------------------------------------

std::function<void(const QString&)>& SoundPlayer() {
  static std::function<void(const QString&)> player = PlaySoundFile;
  return player;
}

void PlayReceiveSound() {
  const std::string wav = Settings().Wav;
  if (wav.empty() || !FileExists(wav)) return;
  if (SoundPlayer()) SoundPlayer()(QString::fromStdString(ResolvePath(wav)));
}

// ---- the mode ----------------------------------------------------------------------------

TReceiveMode::TReceiveMode(TReceiveHost host, QObject* parent)
    : QObject(parent), host_(std::move(host)), notification_(new TStartingFaxForm(host_.window)) {}

TReceiveMode::~TReceiveMode() {
  if (fax_ && fax_->Running()) {
    // The window goes with the mode on: stop the receiver before its port goes.
    fax_->Cancel();
    fax_->WaitDone(kCancelWaitMs);
  }
  CloseLine();
  NormalCursor();
}

void TReceiveMode::WaitForReceiver() {
  if (!fax_) return;
  if (sip_)
    WaitUntilStopped(*fax_, sip_.get(), kCancelWaitMs, QEventLoop::ExcludeUserInputEvents);
  else
    WaitUntilStopped(*fax_, port_.get(), kCancelWaitMs, QEventLoop::ExcludeUserInputEvents);
}

void TReceiveMode::CloseLine() {
  if (port_) port_->Close();
  if (sip_) sip_->Close();
}

void TReceiveMode::AddtoLastRecLog(const QString& line) {
  AddSessionLogLine(*host_.logLines, lastLogLine_, line);
}

void TReceiveMode::SaveLocalRecLog() {
  SaveSessionLog(*host_.logLines, lastLogLine_, ProgramFolder() + "Lastrec.log");
}

void TReceiveMode::Status(const QString& text) {
  if (host_.setStatus) host_.setStatus(text);
}

void TReceiveMode::Hourglass() {
  if (hourglass_) return;
  hourglass_ = true;
  QApplication::setOverrideCursor(Qt::WaitCursor);
}

void TReceiveMode::NormalCursor() {
  if (!hourglass_) return;
  hourglass_ = false;
  QApplication::restoreOverrideCursor();
}

void TReceiveMode::SetCaptions(bool on) {
  if (host_.receiveButton) {
    host_.receiveButton->setText(on ? QStringLiteral("STOP") : QStringLiteral("&Receive"));
    // The caption "STOP" has no letter to spare; Alt+R, which started the mode, stops it.
    if (on) host_.receiveButton->setShortcut(QKeySequence(Qt::ALT | Qt::Key_R));
    host_.receiveButton->setToolTip(on ? QStringLiteral("Stop receiving faxes")
                                       : QStringLiteral("Start receiving faxes"));
  }
  if (host_.receiveMenu)
    host_.receiveMenu->setText(on ? QStringLiteral("Stop &Receiving Faxes") : QStringLiteral("&Receive Faxes"));
}

void TReceiveMode::EndSession() {
  if (sip_) sip_->Close();
  if (!port_) return;
  if (*host_.logging) port_->DumpTrace();
  port_->Close();
}

void TReceiveMode::ReceiveButtonClick() {
  if (stopping_) {
    Beep();
    return;
  }
  if (On())
    Stop();
  else
    Start();
}

bool TReceiveMode::Start() {
  const FaxSettings& s = Settings();
  Hourglass();
  lastError_ = 0;
  currentPage_ = 0;
  currentFaxFile_.clear();
  host_.logLines->clear();
  lastLogLine_.clear();
  AddtoLastRecLog(QStringLiteral("Start:") + SessionLogTime());
  if (host_.showIncoming) host_.showIncoming();
  CentreForm(notification_);
  notification_->SetStarting();
  ProcessMessages();
  *host_.inReceiveMode = true;

  const unsigned n = static_cast<unsigned>(s.ComPort + 1);
  const QString N = QString::number(n);
  // Each step returns false on a failure it has already reported.
  auto run = [&]() -> bool {
    if (host_.setButtons) host_.setButtons();
    ProcessMessages();
    Status(QStringLiteral("Starting receive mode..."));

    // Port, receiver and their event sink are made afresh for every start.
    port_.reset();
    sip_.reset();
    fax_.reset();
    sink_ = std::make_unique<TQtEventSink>();
    fax_ = std::make_unique<fe::TFeReceiveFax>();
    port_ = std::make_unique<TFaxSessionPort>();
    // Receive mode runs for hours: its trace and dispatcher log hold more.
    port_->SetLogSizes(500000, 500000);
    fe::TFeReceiveFax& fax = *fax_;
    fax.FaxClass = EngineFaxClass(s.FaxClassReceive);
    fax.StationID = s.Fax;
    fax.AnswerOnRing = static_cast<unsigned>(std::max(1, s.AnswerOnRing));
    fax.DesiredBPS = s.MaximumBPSReceive;
    fax.DesiredECM = s.ECMReceive;
    fax.CopyQuality.rtpBadPercent = static_cast<unsigned>(std::clamp(s.RTPBadPercent, 0, 100));
    fax.CopyQuality.rtnBadPercent = static_cast<unsigned>(std::clamp(s.RTNBadPercent, 0, 100));
    fax.CopyQuality.rtnBadRun = static_cast<unsigned>(std::max(0, s.RTNBadRun));
    fax.ConstantStatus = true;
    fax.FaxFileExt = "APF";
    fax.DestinationDir = ReceiveFolder();
    if (!s.InitStringReceive.empty()) fax.ModemInit = ModemInitFrom(s.InitStringReceive);
    fax.OnFaxAccept = [this](fe::TFeAbstractFax&, bool& accept) {
      *host_.receivingNow = true;
      lastError_ = 0;
      accept = true;
    };
    fax.OnFaxError = [this](fe::TFeAbstractFax&, int code) {
      lastError_ = code;
      // A modem that stops answering between calls: say so where the user looks.
      if (code == fe::ecFaxInitError && !Receiving()) Status(Q(fe::ErrorText(code)));
    };
    fax.OnFaxStatus = [this](fe::TFeAbstractFax& f, bool first, bool last) { OnStatus(f, first, last); };
    fax.OnFaxLog = [this](fe::TFeAbstractFax& f, int code) { OnLog(f, code); };
    fax.OnFaxFinish = [this](fe::TFeAbstractFax&, int code) { OnFinish(code); };

    std::string trace;
    if (*host_.logging) {
      AddtoLastRecLog(QStringLiteral("Logging on"));
      trace = ProgramFolder() + "QNIN.LOG";
    }

    // The receiver starts the same way on whichever line was opened.
    auto startReceiver = [&]() -> bool {
      if (!s.DisableReceivingFaxesNotification) notification_->show();
      AddtoLastRecLog(QStringLiteral("StartReceive"));
      if (sip_)
        sip_->Attach(fax, sink_.get());
      else
        port_->Attach(fax, sink_.get());
      fe::TFeReceiveFax* receiver = fax_.get();
      if (const int rc =
              RunOffThread([receiver] { return receiver->StartReceive(); }, QEventLoop::ExcludeUserInputEvents);
          rc < 0) {
        AddtoLastRecLog(QStringLiteral("Message:") + Q(fe::ErrorText(-rc)));
        return false;
      }
      SetCaptions(true);
      Status(QStringLiteral("Waiting for fax..."));
      notification_->SetReady();
      return true;
    };

    if (s.SipLine) {
      // The SIP account answers calls on its virtual Class 1 modem: registered
      // for as long as the mode is on.
      port_.reset();
      fax.FaxClass = fe::TFaxClass::fcClass1;
      fax.ModemInit.clear();
      const std::string name = s.SipUser + "@" + s.SipDomain;
      AddtoLastRecLog(QStringLiteral("Opening SIP line: ") + Q(name));
      Status(QStringLiteral("Registering with the SIP account..."));
      sip_ = std::make_unique<fe::sip::TSipFaxLine>();
      fe::sip::TSipFaxLine* line = sip_.get();
      const FaxSettings account = s;
      const QString message = Q(RunOffThread([line, &account] { return OpenSipFaxLine(*line, account); },
                                             QEventLoop::ExcludeUserInputEvents));
      if (!message.isEmpty()) {
        AddtoLastRecLog(QStringLiteral("Error opening SIP line: ") + Q(name));
        AddtoLastRecLog(QStringLiteral("Message:") + message);
        sip_->Close();
        notification_->hide();
        NormalCursor();
        ShowErrorBox(QStringLiteral("Unable to Use the SIP Account"),
                     QStringLiteral("Faxes cannot be received through the SIP account ") + Q(name) +
                         QStringLiteral(".") + kCrLf + kCrLf + message + kCrLf + kCrLf +
                         QStringLiteral("Please check the account on the SIP Account page of the Preferences."),
                     false, true);
        SaveLocalRecLog();
        return false;
      }
      AddtoLastRecLog(QStringLiteral("Registered with the SIP account"));
      AddtoLastRecLog(QStringLiteral("Desired BPS: %1").arg(s.MaximumBPSReceive));
      return startReceiver();
    }

    AddtoLastRecLog(QStringLiteral("Opening com port: COM") + N);
    if (const int rc = port_->Open("COM" + std::to_string(n), trace); rc < 0) {
      const QString message = Q(OpenFailureMessage(rc, n, port_->port.ResolvedDevice()));
      if (*host_.logging) port_->DumpTrace();
      AddtoLastRecLog(QStringLiteral("Error opening com port: COM") + N);
      AddtoLastRecLog(QStringLiteral("Message:") + message);
      notification_->hide();
      NormalCursor();
      ShowErrorBox(QStringLiteral("Error Opening Communications Port"),
                   message + kCrLf + kCrLf + QStringLiteral("Is the Communications Port (COM") + N +
                       QStringLiteral(") correct? Please") + kCrLf +
                       QStringLiteral("click on the Find Modem button in Preferences to be sure."),
                   false, true, rc);
      SaveLocalRecLog();
      return false;
    }

    AddtoLastRecLog(QStringLiteral("Opened com port OK"));
    AddtoLastRecLog(QStringLiteral("Checking for modem"));
    TFaxSessionPort* port = port_.get();
    const std::string reset = s.String;
    if (!RunOffThread([port, reset] { return port->CheckForModem(reset); }, QEventLoop::ExcludeUserInputEvents)) {
      AddtoLastRecLog(QStringLiteral("Error checking for modem"));
      notification_->hide();
      NormalCursor();
      const bool goOn = ShowErrorBox(
          QStringLiteral("No Response From Modem"),
          QStringLiteral("We did not receive a modem response from COM") + N + QStringLiteral(".") + kCrLf + kCrLf +
              QStringLiteral("To verify the communications port, please click on the Find Modem button in "
                             "Preferences to be sure.") +
              kCrLf + kCrLf + QStringLiteral("If you are sure there is a modem on COM") + N +
              QStringLiteral(", press CONTINUE") + kCrLf +
              QStringLiteral("to continue, otherwise press OK to stop the fax session."),
          true, true, fe::ecModemNotResponding);
      if (!goOn) {
        EndSession();
        AddtoLastRecLog(QStringLiteral("Exit"));
        SaveLocalRecLog();
        return false;
      }
      Hourglass();
    }

    if (!s.String.empty()) {
      std::string command = s.String;
      Status(QStringLiteral("Sending reset string..."));
      AddtoLastRecLog(QStringLiteral("Sending reset string: ") + Q(command));
      ProcessMessages();
      const bool ok = RunOffThread([port, &command] { return port->SendModemCommand(command); },
                                   QEventLoop::ExcludeUserInputEvents);
      Settings().String = command;  // the setting keeps the "AT" put in front
      if (!ok) {
        notification_->hide();
        AddtoLastRecLog(QStringLiteral("Failure sending reset string: ") + Q(command));
        NormalCursor();
        EndSession();
        ShowErrorBox(QStringLiteral("Unable to Continue"),
                     QStringLiteral("We are unable to continue the fax session. ") + kCrLf + kCrLf +
                         QStringLiteral("The modem did not respond to the reset string:   (") + Q(command) +
                         QStringLiteral(")") + kCrLf + kCrLf + QStringLiteral("Is the Communications Port (COM") + N +
                         QStringLiteral(") correct? Please") + kCrLf +
                         QStringLiteral("click on the Find Modem button in Preferences to be sure."),
                     false, true, fe::ecModemRejectedCommand);
        AddtoLastRecLog(QStringLiteral("Exiting..."));
        SaveLocalRecLog();
        return false;
      }
    }

    AddtoLastRecLog(QStringLiteral("Desired BPS: %1").arg(s.MaximumBPSReceive));
    if (s.ECMReceive) AddtoLastRecLog(QStringLiteral("Desired ECM: ON"));
    if (s.ToneOrPulse != 0) AddtoLastRecLog(QStringLiteral("Using Pulse Dialing ***"));
    AddtoLastRecLog(QStringLiteral("Fax Class: ") + Q(FaxClassName(s.FaxClassReceive)));
    AddtoLastRecLog(QStringLiteral("User INIT String: ") + Q(s.InitStringReceive));

    return startReceiver();
  };

  const bool started = run();
  if (!started) {
    // Whatever failed, the port is let go of before the mode reads off.
    if (fax_ && fax_->Running()) {
      fax_->Cancel();
      WaitForReceiver();
    }
    CloseLine();
    NormalCursor();
    *host_.inReceiveMode = false;
    *host_.receivingNow = false;
    SetCaptions(false);
    notification_->hide();
    AddtoLastRecLog(QStringLiteral("Error..."));
    SaveLocalRecLog();
    Status(QString());
  }
  if (host_.setButtons) host_.setButtons();
  // Refreshing the buttons empties the status line; the mode's state stays in view.
  if (started) Status(QStringLiteral("Waiting for fax..."));
  NormalCursor();
  if (started) emit ModeChanged(true);
  return started;
}

void TReceiveMode::Stop() {
  stopping_ = true;
  Hourglass();
  lastError_ = 0;
  notification_->hide();
  Status(QStringLiteral("Ending fax receive mode..."));
  ProcessMessages();
  CancelReceiver();
  EndSession();
  ProcessMessages();
  *host_.inReceiveMode = false;
  *host_.receivingNow = false;
  NormalCursor();
  SetCaptions(false);
  Status(QString());
  AddtoLastRecLog(QStringLiteral("Stopped receive mode"));
  SaveLocalRecLog();
  Status(QString());
  if (host_.setButtons) host_.setButtons();
  NormalCursor();
  stopping_ = false;
  emit ModeChanged(false);
}

void TReceiveMode::CancelReceiver() {
  if (fax_) {
    fax_->Cancel();
    WaitForReceiver();
  }
  ProcessMessages();
  const FaxSettings& s = Settings();
  if (!s.AfterString.empty() && port_ && port_->IsOpen()) {
    Status(QStringLiteral("Sending AFTER reset string..."));
    ProcessMessages();
    std::string command = s.AfterString;
    TFaxSessionPort* port = port_.get();
    RunOffThread([port, &command] { return port->SendModemCommand(command); }, QEventLoop::ExcludeUserInputEvents);
    Settings().AfterString = command;
  }
}

bool TReceiveMode::CloseQuery() {
  if (Receiving()) {
    if (!AskYesNo(QStringLiteral("You are recieving a fax. Close the program?"), QStringLiteral("ALERT!"))) return false;
  } else if (On() && !stopping_ &&
             !AskYesNo(QStringLiteral("Quillon is waiting for faxes. No fax is received while it is closed.\r"
                                      "Stop receiving and exit?"),
                       QStringLiteral("Exit"))) {
    // Receive mode stays on: leaving it must not be a side effect of closing.
    return false;
  }
  if (!On()) return true;
  stopping_ = true;
  notification_->hide();
  Status(QStringLiteral("Shutting down fax..."));
  ProcessMessages();
  Hourglass();
  CancelReceiver();
  CloseLine();
  // A moment for the modem to settle after the line was let go of.
  std::this_thread::sleep_for(fe::TicksToDuration(18));
  ProcessMessages();
  *host_.inReceiveMode = false;
  *host_.receivingNow = false;
  NormalCursor();
  SetCaptions(false);
  AddtoLastRecLog(QStringLiteral("Stopped receive mode"));
  SaveLocalRecLog();
  stopping_ = false;
  emit ModeChanged(false);
  return true;
}

// ---- the receiver's events -----------------------------------------------------------------

void TReceiveMode::UpdateValues(fe::TFeAbstractFax& fax) {
  const fe::TFaxSessionValues v = fax.Session();
  currentPage_ = v.page;
  const QString text = ReceiveStatusText(Q(fe::StatusText(v.status)), Q(v.remoteId), v.page, v.bytesTransferred);
  Status(text);
  if (notification_->isVisible() && text.toUpper().contains(QLatin1String("ANSWERING"))) notification_->hide();
}

void TReceiveMode::OnStatus(fe::TFeAbstractFax& fax, bool first, bool last) {
  if (!On() || stopping_) return;
  UpdateValues(fax);
  if (first) currentPage_ = 0;
  if (last) *host_.receivingNow = false;
  if (!*host_.logging || !port_) return;
  const int status = fax.Status();
  if (status == fe::fsGettingPage)
    port_->PauseTrace();  // the trace covers the mode up to the first page data
  else if (port_->Tracing())
    port_->Mark(fe::StatusText(status));
}

void TReceiveMode::OnLog(fe::TFeAbstractFax& fax, int code) {
  switch (code) {
    case fe::lfReceiveStarted:
      currentFaxFile_ = fax.Session().faxFile;
      AddtoLastRecLog(QStringLiteral("Receiving a fax"));
      notification_->hide();
      break;
    case fe::lfReceiveFinished:
      ReceptionDone(fax);
      break;
    case fe::lfReceiveFailed:
      ReceptionFailed(fax);
      break;
    default:
      break;
  }
}

uint32_t TReceiveMode::AddRecord(const QString& remoteId, int pages, const QString& note) {
  xb::Table& t = *host_.recTable;
  const QDateTime now = QDateTime::currentDateTime();
  int rc = t.appendBlank();
  if (rc == 0) {
    t.setDate("DATEREC", S(now.date().toString(QStringLiteral("yyyyMMdd"))));
    t.setString("TIMEREC", S(now.time().toString(QStringLiteral("hh:mm"))));
    t.setString("FROM", remoteId.toStdString());
    t.setNumber("PAGES", pages);
    t.setString("FAXFILE", FileNameOnly(currentFaxFile_));
    if (!note.isEmpty()) t.setString("NOTES", note.toUtf8().left(kNoteBytes).toStdString());
    rc = t.post();
  }
  if (rc != 0) {
    // The file stays where it is; the log and the status line say why it has no record.
    const QString reason = Q(t.lastError());
    t.cancel();
    AddtoLastRecLog(QStringLiteral("Error adding the fax to the list: ") + reason);
    Status(QStringLiteral("The received fax ") + Q(FileNameOnly(currentFaxFile_)) +
           QStringLiteral(" could not be added to the list: ") + reason);
    return 0;
  }
  return t.recNo();
}

void TReceiveMode::ReceptionDone(fe::TFeAbstractFax& fax) {
  *host_.receivingNow = false;
  const fe::TFaxSessionValues v = fax.Session();
  if (!v.faxFile.empty()) currentFaxFile_ = v.faxFile;
  const QString remoteId = Q(v.remoteId);
  int pages = PagesInFile(currentFaxFile_);
  if (pages == 0) pages = v.pages > 0 ? v.pages : currentPage_;
  // Pages kept with bad lines or lost data are noted in the list and the log.
  const QString damage = DamageNote(v.damagedPages);
  AddtoLastRecLog(damage.isEmpty() ? ReceivedLogLine(remoteId, pages)
                                   : ReceivedDamagedLogLine(remoteId, pages, damage));
  const uint32_t recNo = AddRecord(remoteId, pages, damage);
  if (recNo != 0 && host_.showRecord) host_.showRecord(recNo);
  // Written after every fax, so the log of a long session is there should the
  // program not end normally.
  WriteSessionLog(*host_.logLines, ProgramFolder() + "Lastrec.log");
  if (host_.postSound) host_.postSound();
  if (host_.setButtons) host_.setButtons();
  if (recNo != 0) emit FaxStored(recNo, true);
  if (Settings().PrintOnReceipt) PrintOnReceipt(remoteId);
}

void TReceiveMode::ReceptionFailed(fe::TFeAbstractFax& fax) {
  *host_.receivingNow = false;
  const fe::TFaxSessionValues v = fax.Session();
  // A call that failed before its file was made has none: the name of an
  // earlier fax must not be taken for it.
  currentFaxFile_ = v.faxFile;
  const int code = lastError_;
  const QString errorText = code != 0 ? Q(fe::ErrorText(std::abs(code))) : QStringLiteral("Unknown error");
  AddtoLastRecLog(QStringLiteral("Receive Failed with error: ") + errorText);
  // The pages that arrived are kept with a record that says the fax is not
  // complete; a file without a single page is removed.
  const int pages = PagesInFile(currentFaxFile_);
  uint32_t recNo = 0;
  if (pages > 0) {
    recNo = AddRecord(Q(v.remoteId), pages, QStringLiteral("Partly received: ") + errorText);
    AddtoLastRecLog(QStringLiteral("Kept the %1 page(s) received in ").arg(pages) + Q(FileNameOnly(currentFaxFile_)));
    if (recNo != 0 && host_.showRecord) host_.showRecord(recNo);
  } else if (!currentFaxFile_.empty() && FileExists(currentFaxFile_)) {
    DeleteFileCI(currentFaxFile_);
  }
  WriteSessionLog(*host_.logLines, ProgramFolder() + "Lastrec.log");
  lastError_ = 0;
  if (host_.setButtons) host_.setButtons();
  if (recNo != 0) emit FaxStored(recNo, false);
  // A fax cut short by the user's own stop needs no message.
  if (!stopping_)
    ShowErrorBox(QStringLiteral("Failed To Receive Incoming Fax"),
                 QStringLiteral("Quillon failed to receive an incoming fax.") + kCrLf + kCrLf +
                     QStringLiteral("The error message was:   ") + (code != 0 ? ErrorWindowText(code) : errorText),
                 false, true, code);
}

void TReceiveMode::PrintOnReceipt(const QString& remoteId) {
  if (currentFaxFile_.empty()) return;
  const FaxSettings& s = Settings();
  QString queue, pdf;
  const QString chosen = QString::fromStdString(s.PrintOnReceiptPrinter);
  if (chosen != QLatin1String(kDefaultPrinter) && !QPrinterInfo::printerInfo(chosen).isNull()) {
    queue = chosen;
  } else if (QPrinter* printer = host_.printer ? host_.printer() : nullptr) {
    // The printer "Print Setup" chose: its queue, or a file beside the one it names.
    if (!printer->outputFileName().isEmpty())
      pdf = PdfForFax(printer->outputFileName(), Q(currentFaxFile_));
    else
      queue = printer->printerName();
  }
  if (queue.isEmpty() && pdf.isEmpty() && QPrinterInfo::defaultPrinter().isNull()) {
    AddtoLastRecLog(QStringLiteral("Not printed: no printer"));
    return;
  }
  fe::TFeFaxPrinter printer;
  printer.SetFileName(currentFaxFile_);
  if (printer.PageCount() == 0) return;
  LoadPrintOptions();
  const PrintOptions& o = SharedPrintOptions();
  printer.PrintScale = o.Stretch ? fe::psFitToPage : fe::psNone;
  printer.MultiPage = false;
  printer.FaxHeader.Enabled = o.Header;
  printer.FaxHeader.Caption = o.Header ? PrintOnReceiptHeader(remoteId, Q(FileNameOnly(currentFaxFile_))) : QString();
  printer.FaxFooter.Enabled = o.Footer;
  printer.FaxFooter.Caption = o.Footer ? QStringLiteral("Page: $P of $N") : QString();
  printer.SetPageRange(1, printer.PageCount());
  const int rc = printer.PrintTo(queue, pdf);
  if (rc < 0) AddtoLastRecLog(QStringLiteral("Printing failed: ") + Q(fe::ErrorText(-rc)));
}

void TReceiveMode::OnFinish(int code) {
  if (stopping_ || !On()) return;
  // The receiver stopped without being asked to (the device went away): the
  // mode ends; the port is let go of once the receiver has stopped.
  lastError_ = code;
  QTimer::singleShot(0, this, &TReceiveMode::StoppedByItself);
}

void TReceiveMode::StoppedByItself() {
  if (stopping_ || !On()) return;
  stopping_ = true;
  const int code = lastError_;
  WaitForReceiver();
  EndSession();
  *host_.inReceiveMode = false;
  *host_.receivingNow = false;
  SetCaptions(false);
  notification_->hide();
  Status(QString());
  const QString errorText = code != 0 ? Q(fe::ErrorText(std::abs(code))) : QStringLiteral("Unknown error");
  AddtoLastRecLog(QStringLiteral("Receive mode ended with error: ") + errorText);
  SaveLocalRecLog();
  if (host_.setButtons) host_.setButtons();
  NormalCursor();
  lastError_ = 0;
  stopping_ = false;
  emit ModeChanged(false);
  QString message = QStringLiteral("Quillon stopped receiving faxes.") + kCrLf + kCrLf;
  if (code == fe::ecNotOpen)
    message += QStringLiteral("The modem's port went away (was the modem unplugged or switched off?).") + kCrLf + kCrLf;
  // Never dropped for another error window on screen (a failed fax's): it
  // follows that one.
  ShowErrorBoxInTurn(QStringLiteral("Receive Mode Ended"),
                     message + QStringLiteral("The error message was:   ") + (code != 0 ? ErrorWindowText(code) : errorText),
                     true, code);
}

}  // namespace qn
