#include "sessions/send_fax_form.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTime>
#include <QEventLoop>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QVBoxLayout>

#include "common/dialogs.h"
#include "common/fax_files.h"
#include "common/fax_names.h"
#include "common/field_input.h"
#include "common/folders.h"
#include "common/help.h"
#include "fe_errors.h"
#include "fe_status.h"
#include "fe_texts.h"
#include "send_fax.h"
#include "sessions/error_box.h"
#include "sessions/fax_port.h"
#include "sessions/fax_status.h"
#include "sessions/modem/system_facts.h"
#include "sessions/off_thread.h"
#include "sessions/qt_event_sink.h"
#include "sessions/secret_store.h"
#include "sessions/session_log.h"
#include "sessions/settings.h"
#include "sessions/sip_line.h"

namespace qn {

namespace {

constexpr const char* kCrLf = "\r\n";

QString Q(const std::string& s) {
  return QString::fromLocal8Bit(s.data(), static_cast<qsizetype>(s.size()));
}
std::string S(const QString& s) {
  return s.toLocal8Bit().toStdString();
}

std::string Trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

int DialWaitFromInitString(const std::string& initString) {
  const std::string upper = Upper(initString);
  const auto at = upper.find("S7=");
  if (at == std::string::npos) return 60;
  std::string part = upper.substr(at, 6);
  while (!part.empty() && !std::isdigit(static_cast<unsigned char>(part.back()))) part.pop_back();
  if (part.size() < 4) return 60;
  const std::string digits = part.substr(3, 3);
  for (char c : digits)
    if (!std::isdigit(static_cast<unsigned char>(c))) return 60;
  return std::max(55, std::stoi(digits));
}

fe::TFaxClass EngineFaxClass(int classIndex) {
  // 0 detect, 1 Class 1, 2 Class 2, 3 Class 2.0; a value out of range detects.
  switch (classIndex) {
    case 1:
      return fe::TFaxClass::fcClass1;
    case 2:
      return fe::TFaxClass::fcClass2;
    case 3:
      return fe::TFaxClass::fcClass2_0;
    default:
      return fe::TFaxClass::fcDetect;
  }
}

std::string ModemInitFrom(const std::string& initString) {
  return Upper(initString).find("AT") != std::string::npos ? initString : "AT" + initString;
}

std::function<bool(QWidget*)>& TSendFaxForm::RunPreferencesWizard() {
  static std::function<bool(QWidget*)> wizard;
  return wizard;
}

TSendFaxForm::TSendFaxForm(QWidget* parent) : QDialog(parent), sink_(std::make_unique<TQtEventSink>()) {
  setObjectName(QStringLiteral("TSendFaxForm"));
  setWindowTitle(QStringLiteral("Send Fax"));

  ToLabel = new QLabel(this);
  Subjectlabel = new QLabel(this);
  sfPhoneNumber = new QLineEdit(this);
  MakeFaxNumberField(sfPhoneNumber, 25);
  sfDialPrefix = new QLineEdit(this);
  sfDialsuffix = new QLineEdit(this);
  DisablePrefix = new QCheckBox(QStringLiteral("Disable &Prefix"), this);
  DisableSuffix = new QCheckBox(QStringLiteral("Disable Suffi&x"), this);
  SetupMemo = new QPlainTextEdit(this);
  SetupMemo->setReadOnly(true);
  SetupMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
  SendFaxButton = new QPushButton(QStringLiteral("&Send Fax Now"), this);
  SendFaxButton->setDefault(true);
  CloseButton = new QPushButton(QStringLiteral("C&lose"), this);
  HelpButton = new QPushButton(QStringLiteral("&Help"), this);
  PreferencesButton = new QPushButton(QStringLiteral("P&references"), this);
  ProblemSolverButton = new QPushButton(QStringLiteral("Pr&oblem Solver"), this);
  StatusLine = new QLabel(this);
  StatusLine->setFrameShape(QFrame::Panel);
  StatusLine->setFrameShadow(QFrame::Sunken);
  StatusLine->hide();
  FaxStatusWindow = new TFeFaxStatus(this);

  auto* grid = new QGridLayout;
  auto label = [this](const char* text, QWidget* buddy) {
    auto* l = new QLabel(QString::fromLatin1(text), this);
    if (buddy) l->setBuddy(buddy);
    return l;
  };
  grid->addWidget(label("To:", nullptr), 0, 0);
  grid->addWidget(ToLabel, 0, 1, 1, 2);
  grid->addWidget(label("Subject:", nullptr), 1, 0);
  grid->addWidget(Subjectlabel, 1, 1, 1, 2);
  grid->addWidget(label("&Fax Number to dial:", sfPhoneNumber), 2, 0);
  grid->addWidget(sfPhoneNumber, 2, 1, 1, 2);
  grid->addWidget(label("&Dial prefix (dial before the fax#):", sfDialPrefix), 3, 0);
  grid->addWidget(sfDialPrefix, 3, 1);
  grid->addWidget(DisablePrefix, 3, 2);
  grid->addWidget(label("Dial s&uffix (dial after the fax#):", sfDialsuffix), 4, 0);
  grid->addWidget(sfDialsuffix, 4, 1);
  grid->addWidget(DisableSuffix, 4, 2);
  grid->setColumnStretch(1, 1);

  auto* setupHead = new QHBoxLayout;
  setupHead->addWidget(new QLabel(QStringLiteral("Configuration:"), this));
  setupHead->addStretch();
  setupHead->addWidget(PreferencesButton);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(SendFaxButton);
  buttons->addWidget(CloseButton);
  buttons->addWidget(HelpButton);
  buttons->addStretch();
  buttons->addWidget(ProblemSolverButton);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addLayout(setupHead);
  layout->addWidget(SetupMemo, 1);
  layout->addLayout(buttons);
  layout->addWidget(StatusLine);

  setTabOrder(sfPhoneNumber, sfDialPrefix);
  setTabOrder(sfDialPrefix, DisablePrefix);
  setTabOrder(DisablePrefix, sfDialsuffix);
  setTabOrder(sfDialsuffix, DisableSuffix);
  setTabOrder(DisableSuffix, SetupMemo);
  setTabOrder(SetupMemo, PreferencesButton);
  setTabOrder(PreferencesButton, SendFaxButton);
  setTabOrder(SendFaxButton, CloseButton);
  setTabOrder(CloseButton, HelpButton);
  setTabOrder(HelpButton, ProblemSolverButton);
  resize(560, 520);

  connect(SendFaxButton, &QPushButton::clicked, this, &TSendFaxForm::SendFaxButtonClick);
  connect(CloseButton, &QPushButton::clicked, this, &TSendFaxForm::CloseButtonClick);
  SetHelpTopic(this, 1016);
  connect(HelpButton, &QPushButton::clicked, this, [this] { ShowHelpFor(this); });
  connect(PreferencesButton, &QPushButton::clicked, this, &TSendFaxForm::PreferencesButtonClick);
  connect(ProblemSolverButton, &QPushButton::clicked, this, [] { ShowProblemSolver(); });
  // Ctrl+Shift+Z reaches the window before any control (an edit would take it as Redo).
  qApp->installEventFilter(this);
}

TSendFaxForm::~TSendFaxForm() {
  qApp->removeEventFilter(this);
  if (fax_ && fax_->Running()) {
    // Closed with a session still running (the program is ending): stop it and
    // let go of the port before the sender goes.
    fax_->Cancel();
    fax_->WaitDone(15000);
  }
  if (port_) port_->Close();
  if (sip_) sip_->Close();
  if (hourglass_) QApplication::restoreOverrideCursor();
}

// ---- window events ----------------------------------------------------------------

void TSendFaxForm::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (!firstActivation_) return;
  firstActivation_ = false;
  if (Settings().SipLine) {
    // A SIP line also dials SIP addresses (user@host, sip:...), which the
    // modem's dial-string rule would refuse.
    sfPhoneNumber->setValidator(nullptr);
    sfPhoneNumber->setMaxLength(120);
  }
  sfPhoneNumber->setText(NumberGiven);
  NormalCursor();
  ShowSetup();
}

bool TSendFaxForm::eventFilter(QObject* watched, QEvent* e) {
  if (e->type() == QEvent::KeyPress || e->type() == QEvent::ShortcutOverride) {
    auto* key = static_cast<QKeyEvent*>(e);
    auto* w = qobject_cast<QWidget*>(watched);
    if (key->key() == Qt::Key_Z && key->modifiers() == (Qt::ControlModifier | Qt::ShiftModifier) && w &&
        (w == this || isAncestorOf(w)) && !key->isAutoRepeat()) {
      if (e->type() == QEvent::KeyPress) ToggleLogging();
      e->accept();
      return true;
    }
  }
  return QDialog::eventFilter(watched, e);
}

void TSendFaxForm::ToggleLogging() {
  logging_ = !logging_;
  if (!logging_)
    ShowInfo(QStringLiteral("Logging is now OFF"));
  else
    ShowInfo(
        QStringLiteral("Logging is now ON. Log file will be saved\rfor this fax session as QNOUT.LOG. This "
                       "will\roverwrite any previous QNOUT.LOG."));
}

void TSendFaxForm::closeEvent(QCloseEvent* e) {
  if (busy_) {
    e->ignore();
    CloseButtonClick();
    return;
  }
  Hourglass();  // the caller's post-processing runs under it
  QDialog::closeEvent(e);
}

void TSendFaxForm::reject() {
  if (busy_) {
    CloseButtonClick();
    return;
  }
  Hourglass();
  QDialog::reject();
}

void TSendFaxForm::CloseButtonClick() {
  if (!busy_) {
    reject();
    return;
  }
  // While the modem is being prepared there is nothing to cancel yet; once the
  // sender runs, closing cancels it and the window closes when it has let go.
  if (!fax_ || !fax_->Running() || closeWhenDone_) {
    Beep();
    return;
  }
  if (!AskYesNoDefaultNo(QStringLiteral("A fax is being sent. Cancel it and close the window?"),
                         QStringLiteral("Send Fax")))
    return;
  closeWhenDone_ = true;
  fax_->Cancel();
}

void TSendFaxForm::PreferencesButtonClick() {
  if (busy_) {
    Beep();
    return;
  }
  if (RunPreferencesWizard() && RunPreferencesWizard()(this)) {
    const FaxSettings& s = Settings();
    sfDialPrefix->setText(Q(s.DialPrefix));
    DisablePrefix->setChecked(s.PrefixDisable);
    sfDialsuffix->setText(Q(s.DialSuffix));
    DisableSuffix->setChecked(s.SuffixDisable);
  }
  ShowSetup();
}

// ---- log, status, cursor ------------------------------------------------------------

void TSendFaxForm::AddtoLastSendLog(const QString& line) {
  AddSessionLogLine(logLines_, lastLogLine_, line);
}

void TSendFaxForm::SaveLocalLog() {
  SaveSessionLog(logLines_, lastLogLine_, ProgramFolder() + "Lastsend.log");
}

void TSendFaxForm::Status(const QString& text) {
  StatusLine->setText(text);
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TSendFaxForm::Hourglass() {
  if (hourglass_) return;
  hourglass_ = true;
  QApplication::setOverrideCursor(Qt::WaitCursor);
}

void TSendFaxForm::NormalCursor() {
  if (!hourglass_) return;
  hourglass_ = false;
  QApplication::restoreOverrideCursor();
}

void TSendFaxForm::Mark(const QString& text) {
  if (logging_ && port_) port_->Mark(S(text));
}

void TSendFaxForm::ShowSetup() {
  const FaxSettings& s = Settings();
  QStringList lines;
  lines << QStringLiteral("Communications Port: ") + Q(PortLabel(static_cast<unsigned>(s.ComPort + 1)));
  QString className = QStringLiteral("Autodetect");
  if (s.FaxClass == 1) className = QStringLiteral("Class 1");
  if (s.FaxClass == 2) className = QStringLiteral("Class 2");
  if (s.FaxClass == 3) className = QStringLiteral("Class 2.0");
  lines << QStringLiteral("Fax Class: ") + className;
  lines << QStringLiteral("Transfer Rate: %1").arg(s.MaximumBPS);
  lines << QStringLiteral("Dialing with: ") + (s.ToneOrPulse == 0 ? QStringLiteral("Tone") : QStringLiteral("Pulse"));
  lines << QStringLiteral("Modem Init String: ") + Q(s.InitString);
  lines << QStringLiteral("Modem Reset String: ") + Q(s.String);
  lines << QStringLiteral("Post Reset String: ") + Q(s.AfterString);
  lines << QStringLiteral("Station ID (Fax #): ") + Q(s.Fax);
  lines << QStringLiteral("Dial Attempts: %1").arg(s.DialAttempts);
  lines << QStringLiteral("Retry in: %1 seconds").arg(s.RetryWait);
  if (s.BlindDial) lines << QStringLiteral("Blind Dial is ACTIVE");
  if (s.IgnoreBusy) lines << QStringLiteral("Ignore Busy is ACTIVE");
  if (s.ECM) lines << QStringLiteral("Using Error Correction");
  SetupMemo->setPlainText(lines.join(QLatin1Char('\n')));
}

QString TSendFaxForm::BuildHeader() const {
  const FaxSettings& s = Settings();
  QString header = QStringLiteral("Sent");
  if (!Trim(s.Name + s.Fax).empty()) header += QStringLiteral(" by");
  if (!s.Name.empty()) header += QStringLiteral(": ") + Q(s.Name) + QStringLiteral("    ");
  if (!s.Fax.empty()) header += QStringLiteral("         $I          ");
  const QDateTime now = QDateTime::currentDateTime();
  header += QString(11, QLatin1Char(' ')) + now.date().toString(UserShortDateFormat()) + QStringLiteral("    ") +
            now.time().toString(UserShortTimeFormat());
  header += QStringLiteral("              Page $P of $N");
  return header;
}

// ---- the send sequence ------------------------------------------------------------------

void TSendFaxForm::SendFaxButtonClick() {
  if (busy_) {
    Beep();
    return;
  }
  // A number without a digit dials nothing: say so before the port is opened,
  // instead of a minute of silence on the line and a failed fax.
  const bool sipAddress =
      Settings().SipLine && sfPhoneNumber->text().contains(QRegularExpression(QStringLiteral("[@:]")));
  if (!sipAddress && !sfPhoneNumber->text().contains(QRegularExpression(QStringLiteral("[0-9]")))) {
    MessageBoxText(QStringLiteral("Please enter the fax number to dial."), QStringLiteral("Send Fax"),
                   mbOk | mbIconWarning);
    sfPhoneNumber->setFocus();
    sfPhoneNumber->selectAll();
    return;
  }
  // The fax went out already in this window: a second press is more often a
  // slip than a wish for a second copy at the far end.
  if (ResultText == QLatin1String("Sent") &&
      !AskYesNoDefaultNo(QStringLiteral("This fax was sent successfully a moment ago.\rSend it again?"),
                         QStringLiteral("Send Fax")))
    return;
  const FaxSettings& s = Settings();
  logLines_.clear();
  lastLogLine_.clear();
  Hourglass();
  busy_ = true;
  closeWhenDone_ = false;
  finishPending_ = false;
  resultReported_ = false;
  StatusLine->show();
  AddtoLastSendLog(QStringLiteral("Start:") + SessionLogTime());

  if (s.SipLine) {
    if (!OpenSipLine()) return;
    StatusLine->clear();
    StatusLine->hide();
    if (!StartTransmission()) {
      NormalCursor();
      EndSession();
      AddtoLastSendLog(QStringLiteral("Error..."));
      ResultText = QStringLiteral("Error...");
      StopEarly();
    }
    return;
  }

  port_ = std::make_unique<TFaxSessionPort>();
  std::string trace;
  if (logging_) {
    AddtoLastSendLog(QStringLiteral("Logging on"));
    trace = ProgramFolder() + "QNOUT.LOG";
  }
  Status(QStringLiteral("Opening communications port..."));
  PortNumber = static_cast<unsigned>(s.ComPort + 1);
  const QString n = QString::number(PortNumber);
  AddtoLastSendLog(QStringLiteral("Opening com port: COM") + n);

  const std::string portName = "COM" + std::to_string(PortNumber);
  if (const int rc = port_->Open(portName, trace); rc < 0) {
    const QString message = Q(OpenFailureMessage(rc, PortNumber, port_->port.ResolvedDevice()));
    NormalCursor();
    if (logging_) port_->DumpTrace();
    AddtoLastSendLog(QStringLiteral("Error opening com port: COM") + n);
    AddtoLastSendLog(QStringLiteral("Message:") + message);
    port_->Close();
    ResultText = message.section(QStringLiteral("\r\n"), 0, 0);
    ReportResult();
    ShowErrorBox(QStringLiteral("Error Opening Communications Port"),
                 message + kCrLf + kCrLf + QStringLiteral("Is the Communications Port (COM") + n +
                     QStringLiteral(") correct? Please") + kCrLf +
                     QStringLiteral("click on the Find Modem button on the Preferences screen to be sure."),
                 false, false, rc);
    StopEarly();
    return;
  }

  Hourglass();
  AddtoLastSendLog(QStringLiteral("Opened com port OK"));
  Mark(QStringLiteral("Check_for_modem"));
  Status(QStringLiteral("Checking for modem..."));
  AddtoLastSendLog(QStringLiteral("Checking for modem"));
  TFaxSessionPort* port = port_.get();
  const std::string reset = s.String;
  if (!RunOffThread([port, reset] { return port->CheckForModem(reset); }, QEventLoop::ExcludeUserInputEvents)) {
    NormalCursor();
    AddtoLastSendLog(QStringLiteral("Error checking for modem"));
    const bool goOn = ShowErrorBox(
        QStringLiteral("No Response From Modem"),
        QStringLiteral("We did not receive a modem response from COM") + n + QStringLiteral(".") + kCrLf + kCrLf +
            QStringLiteral("To verify the communications port, please click on the Find Modem button on the "
                           "Preferences screen.") +
            kCrLf + kCrLf + QStringLiteral("If you are sure there is a modem on COM") + n +
            QStringLiteral(", press CONTINUE") + kCrLf +
            QStringLiteral("to continue, otherwise press OK to stop the fax session."),
        true, false, fe::ecModemNotResponding);
    if (!goOn) {
      Mark(QStringLiteral("Check_for_modem_ERROR"));
      EndSession();
      AddtoLastSendLog(QStringLiteral("Exit"));
      ResultText = QStringLiteral("No response from modem on COM") + n;
      StopEarly();
      return;
    }
    Hourglass();
  }

  if (!s.String.empty()) {
    std::string command = s.String;
    Mark(QStringLiteral("Sending_RESET_string:") + Q(command));
    AddtoLastSendLog(QStringLiteral("Sending reset string: ") + Q(command));
    Status(QStringLiteral("Sending reset string..."));
    const bool ok =
        RunOffThread([port, &command] { return port->SendModemCommand(command); }, QEventLoop::ExcludeUserInputEvents);
    Settings().String = command;  // the setting keeps the "AT" put in front
    if (!ok) {
      AddtoLastSendLog(QStringLiteral("Failure sending reset string: ") + Q(command));
      NormalCursor();
      Mark(QStringLiteral("Sending_RESET_string_Error"));
      EndSession();
      ResultText = QStringLiteral("The modem did not respond to the reset string");
      ReportResult();
      ShowErrorBox(QStringLiteral("Unable to Continue"),
                   QStringLiteral("We are unable to continue the fax session. ") + kCrLf + kCrLf +
                       QStringLiteral("The modem did not respond to the reset string:   (") + Q(command) +
                       QStringLiteral(")") + kCrLf + kCrLf + QStringLiteral("Is the Communications Port (COM") + n +
                       QStringLiteral(") correct? Please") + kCrLf +
                       QStringLiteral("click on the Find Modem button on the Preferences screen to be sure."),
                   false, false, fe::ecModemRejectedCommand);
      AddtoLastSendLog(QStringLiteral("Exiting..."));
      StopEarly();
      return;
    }
  }

  Hourglass();
  StatusLine->clear();
  StatusLine->hide();
  if (!StartTransmission()) {
    NormalCursor();
    EndSession();
    AddtoLastSendLog(QStringLiteral("Error..."));
    ResultText = QStringLiteral("Error...");
    StopEarly();
  }
}

bool TSendFaxForm::OpenSipLine() {
  const FaxSettings& s = Settings();
  const std::string name = s.SipUser + "@" + s.SipDomain;
  Status(QStringLiteral("Registering with the SIP account..."));
  AddtoLastSendLog(QStringLiteral("Opening SIP line: ") + Q(name));
  sip_ = std::make_unique<fe::sip::TSipFaxLine>();
  fe::sip::TSipFaxLine* line = sip_.get();
  // Registration waits for the server (seconds when it stays silent).
  const QString message = Q(RunOffThread([line, &s] { return OpenSipFaxLine(*line, s); },
                                         QEventLoop::ExcludeUserInputEvents));
  if (message.isEmpty()) {
    AddtoLastSendLog(QStringLiteral("Registered with the SIP account"));
    return true;
  }
  NormalCursor();
  AddtoLastSendLog(QStringLiteral("Error opening SIP line: ") + Q(name));
  AddtoLastSendLog(QStringLiteral("Message:") + message);
  sip_->Close();
  sip_.reset();
  ResultText = message;
  ReportResult();
  ShowErrorBox(QStringLiteral("Unable to Use the SIP Account"),
               QStringLiteral("The fax could not be sent through the SIP account ") + Q(name) + QStringLiteral(".") +
                   kCrLf + kCrLf + message + kCrLf + kCrLf +
                   QStringLiteral("Please check the account on the SIP Account page of the Preferences."),
               false, false);
  StopEarly();
  return false;
}

bool TSendFaxForm::StartTransmission() {
  const FaxSettings& s = Settings();
  const QString number = sfPhoneNumber->text();
  Mark(QStringLiteral("Start_of_fax_session"));
  Mark(QStringLiteral("DesiredBPS_%1").arg(s.MaximumBPS));
  if (s.ECM) Mark(QStringLiteral("DesiredECM_ON"));
  if (s.BlindDial) Mark(QStringLiteral("BlindDial_ON"));
  if (s.IgnoreBusy) Mark(QStringLiteral("Ignore Busy_ON"));
  if (s.RenegotiateBetween) Mark(QStringLiteral("Negotiate_between_pages_ON"));
  Mark(QStringLiteral("Phone_") + number);
  if (!DisablePrefix->isChecked()) Mark(QStringLiteral("DialPrefix_") + sfDialPrefix->text());
  if (!DisableSuffix->isChecked()) Mark(QStringLiteral("DialSuffix_") + sfDialsuffix->text());
  if (s.ToneOrPulse != 0) Mark(QStringLiteral("PulseDialing"));
  Mark(QStringLiteral("FaxClass_") + Q(FaxClassName(s.FaxClass)));
  Mark(QStringLiteral("StationID_") + Q(s.Fax));
  Mark(QStringLiteral("UserINITString_") + Q(s.InitString));

  AddtoLastSendLog(QStringLiteral("Desired BPS: %1").arg(s.MaximumBPS));
  if (s.ECM) AddtoLastSendLog(QStringLiteral("Desired ECM: ON"));
  if (s.BlindDial) AddtoLastSendLog(QStringLiteral("Blind Dial: ON"));
  if (s.IgnoreBusy) AddtoLastSendLog(QStringLiteral("Ignore Busy: ON"));
  AddtoLastSendLog(s.RenegotiateBetween ? QStringLiteral("Negotiate between pages: ON")
                                        : QStringLiteral("Negotiate between pages: OFF"));
  AddtoLastSendLog(QStringLiteral("Fax#: ") + number);
  if (!DisablePrefix->isChecked()) AddtoLastSendLog(QStringLiteral("Dial Prefix: ") + sfDialPrefix->text());
  if (!DisableSuffix->isChecked()) AddtoLastSendLog(QStringLiteral("Dial Suffix: ") + sfDialsuffix->text());
  if (s.ToneOrPulse != 0) AddtoLastSendLog(QStringLiteral("Using Pulse Dialing ***"));
  AddtoLastSendLog(QStringLiteral("Fax Class: ") + Q(FaxClassName(s.FaxClass)));
  AddtoLastSendLog(QStringLiteral("StationID: ") + Q(s.Fax));
  AddtoLastSendLog(QStringLiteral("User INIT String: ") + Q(s.InitString));

  fax_ = std::make_unique<fe::TFeSendFax>();
  fe::TFeSendFax& fax = *fax_;
  fax.DesiredBPS = s.MaximumBPS;
  fax.DesiredECM = s.ECM;
  fax.BlindDial = s.BlindDial;
  fax.DetectBusy = !s.IgnoreBusy;
  const std::string document = S(FaxFile), cover = S(CoverFile);
  if (document.empty() && cover.empty()) return false;
  if (!Trim(document).empty() && !Trim(cover).empty()) {
    // The cover sheet goes first; pages of another resolution need new session parameters.
    fax.CoverFile = cover;
    fax.FaxFile = document;
    fax.FastPage = SameFaxResolution(cover, document) && !s.RenegotiateBetween;
  } else {
    fax.FaxFile = Trim(document).empty() ? cover : document;
    fax.FastPage = !s.RenegotiateBetween;
  }
  std::string dial = S(number);
  if (!DisableSuffix->isChecked()) dial += S(sfDialsuffix->text());
  fax.PhoneNumber = dial;
  fax.ToneDial = s.ToneOrPulse == 0;
  fax.FaxClass = EngineFaxClass(s.FaxClass);
  fax.DialAttempts = std::max(0, s.DialAttempts);
  fax.DialRetryWait = std::max(0, s.RetryWait);
  fax.DialWait = DialWaitFromInitString(s.InitString);
  fax.StationID = s.Fax;
  fax.DialPrefix = DisablePrefix->isChecked() ? std::string() : S(sfDialPrefix->text());
  if (!s.InitString.empty()) fax.ModemInit = ModemInitFrom(s.InitString);
  headerLine_ = BuildHeader();
  fax.HeaderLine = S(headerLine_);
  fax.StatusDisplay = FaxStatusWindow;
  fax.OnFaxStatus = [this](fe::TFeAbstractFax& cp, bool, bool) {
    if (!logging_ || !port_) return;
    const int status = cp.Status();
    if (status == fe::fsSendingPage)
      port_->PauseTrace();  // the trace covers the session up to the first page data
    else if (port_->Tracing())
      port_->Mark(fe::StatusText(status));
  };
  fax.OnFaxFinish = [this](fe::TFeAbstractFax&, int code) { OnFinish(code); };
  if (sip_) {
    // The virtual modem of the SIP line is a Class 1 modem that needs no init
    // string; a SIP address is dialled by the agent, digits at the account's domain.
    fax.FaxClass = fe::TFaxClass::fcClass1;
    fax.ModemInit = {};
    if (S(number).find_first_of("@:") != std::string::npos) fax.DialPrefix.clear();
    fax.PhoneNumber = sip_->DialString(fax.PhoneNumber);
    sip_->Attach(fax, sink_.get());
    FaxStatusWindow->LineText = [this] {
      const QString media = sip_ ? Q(sip_->MediaName()) : QString();
      return QStringLiteral("SIP account ") + Q(Settings().SipUser + "@" + Settings().SipDomain) +
             (media.isEmpty() ? QString() : QStringLiteral(", ") + media);
    };
  } else {
    FaxStatusWindow->LineText = nullptr;
    port_->Attach(fax, sink_.get());
  }

  NormalCursor();
  AddtoLastSendLog(QStringLiteral("StartTransmit"));
  starting_ = true;
  fe::TFeSendFax* sender = fax_.get();
  RunOffThread([sender] { return sender->StartSend(); }, QEventLoop::ExcludeUserInputEvents);
  starting_ = false;
  if (finishPending_) QTimer::singleShot(0, this, &TSendFaxForm::FinishSession);
  return true;
}

void TSendFaxForm::OnFinish(int code) {
  // Runs while the engine's thread waits for it: only note the outcome here;
  // the port is let go of once the sender has stopped.
  finishCode_ = code;
  const int abs = code < 0 ? -code : code;
  ResultText = Q(fe::ErrorText(abs));
  AddtoLastSendLog(QStringLiteral("Result: ") + ResultText);
  if (code == 0 || ResultText.toUpper() == QLatin1String("OK")) ResultText = QStringLiteral("Sent");
  if (starting_)
    finishPending_ = true;
  else
    QTimer::singleShot(0, this, &TSendFaxForm::FinishSession);
}

void TSendFaxForm::FinishSession() {
  fe::TFeSendFax* sender = fax_.get();
  if (sender && sip_)
    WaitUntilStopped(*sender, sip_.get(), 30000, QEventLoop::ExcludeUserInputEvents);
  else if (sender)
    WaitUntilStopped(*sender, port_.get(), 30000, QEventLoop::ExcludeUserInputEvents);
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  const FaxSettings& s = Settings();
  if (!s.AfterString.empty() && port_) {
    StatusLine->setText(QStringLiteral("Sending AFTER reset string..."));
    std::string command = s.AfterString;
    TFaxSessionPort* port = port_.get();
    RunOffThread([port, &command] { return port->SendModemCommand(command); }, QEventLoop::ExcludeUserInputEvents);
    Settings().AfterString = command;
  }
  EndSession();
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  busy_ = false;
  NormalCursor();
  ReportResult();
  const int abs = finishCode_ < 0 ? -finishCode_ : finishCode_;
  if (closeWhenDone_) {
    // The user cancelled by closing: no message, the window goes.
    SaveLocalLog();
    emit SessionEnded();
    Hourglass();
    QDialog::reject();
    return;
  }
  if (ResultText != QLatin1String("Sent"))
    ShowErrorBox(QStringLiteral("Fax Failure"),
                 QStringLiteral("We have received an error message while trying to send the fax") + kCrLf + kCrLf +
                     QStringLiteral("Error message: ") + ErrorWindowText(abs) + kCrLf + kCrLf,
                 false, false, abs);
  else
    ShowInfo(QStringLiteral("The fax was sent successfully"));
  SaveLocalLog();
  emit SessionEnded();
}

void TSendFaxForm::EndSession() {
  if (sip_) {
    fe::sip::TSipFaxLine* line = sip_.get();
    // Hanging up and unregistering wait for the server.
    RunOffThread([line] { return line->Close(), true; }, QEventLoop::ExcludeUserInputEvents);
  }
  if (!port_) return;
  if (logging_) port_->DumpTrace();
  port_->Close();
}

void TSendFaxForm::ReportResult() {
  if (resultReported_) return;
  resultReported_ = true;
  ResultTime = QDateTime::currentDateTime();
  emit ResultReady();
}

void TSendFaxForm::StopEarly() {
  EndSession();
  ReportResult();
  busy_ = false;
  NormalCursor();
  StatusLine->hide();
  SaveLocalLog();
  emit SessionEnded();
}

}  // namespace qn
