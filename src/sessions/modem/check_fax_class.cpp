#include "sessions/modem/check_fax_class.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <chrono>
#include <thread>

#include "common/dialogs.h"
#include "fe_device.h"
#include "fe_ticks.h"
#include "send_fax.h"
#include "sessions/fax_port.h"
#include "sessions/modem/modem_tools.h"
#include "sessions/off_thread.h"
#include "sessions/settings.h"

namespace qn {

namespace {

constexpr long kReplyTicks = 36;
constexpr long kSettleTicks = 12;

}  // namespace

bool ResetModemToFactory(TFaxSessionPort& session) {
  fe::TFeComPort& port = session.port;
  if (!port.Open()) return false;
  port.FlushInBuffer();
  if (port.SendText("AT&F\r") < 0) {
    if (port.SendText("ATZ\r") >= 0) port.AwaitText("OK", kReplyTicks, true, false);
    return false;
  }
  return port.AwaitText("OK", kReplyTicks, true, false) == 1;
}

TCheckFaxClassForm::TCheckFaxClassForm(QWidget* parent, int comNumber, std::string resetString)
    : QDialog(parent), com_(comNumber), reset_(std::move(resetString)) {
  setWindowTitle(QStringLiteral("Finding Fax Class...Please wait"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("Fax Classes:"), this));
  Class1Line = new QLabel(QStringLiteral("Class 1 :"), this);
  Class2Line = new QLabel(QStringLiteral("Class 2 :"), this);
  Class20Line = new QLabel(QStringLiteral("Class 2.0 :"), this);
  for (QLabel* l : {Class1Line, Class2Line, Class20Line}) {
    l->setIndent(16);
    layout->addWidget(l);
  }
  Status = new QLabel(QStringLiteral("Testing Fax Classes...please wait."), this);
  Status->setWordWrap(true);
  Status->setMinimumHeight(Status->fontMetrics().lineSpacing() * 6);
  layout->addWidget(Status);
  OkButton = new QPushButton(QStringLiteral("Ok"), this);
  OkButton->setDefault(true);
  OkButton->hide();
  layout->addWidget(OkButton, 0, Qt::AlignRight);
  setMinimumWidth(fontMetrics().horizontalAdvance(QLatin1Char('x')) * 60);
  connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);
}

void TCheckFaxClassForm::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (started_) return;
  started_ = true;
  QTimer::singleShot(0, this, &TCheckFaxClassForm::CheckFaxClass);
}

void TCheckFaxClassForm::reject() {
  if (!working_) QDialog::reject();  // each step is short; the check ends by itself
}

void TCheckFaxClassForm::UnknownLines() {
  Class1Line->setText(QStringLiteral("Class 1   : unknown"));
  Class2Line->setText(QStringLiteral("Class 2   : unknown"));
  Class20Line->setText(QStringLiteral("Class 2.0 : unknown"));
}

void TCheckFaxClassForm::CheckFaxClass() {
  if (!isVisible()) return;  // closed before the work began
  working_ = true;
  result_ = -1;
  name_.clear();
  const QString n = QString::number(com_);
  const QString noResponse = QStringLiteral("No response from device on COM%1. May not be a modem.").arg(n);
  fe::TFeSendFax fax;
  TFaxSessionPort port;

  [&] {
    Status->setText(QStringLiteral("Opening Com Port...please wait"));
    QApplication::processEvents();
    if (const int rc = port.Open("COM" + std::to_string(com_)); rc < 0) {
      Status->setText(DisplayText(QString::fromStdString(
          OpenFailureMessage(rc, static_cast<unsigned>(com_), ComPortDevice(static_cast<unsigned>(com_))))));
      UnknownLines();
      return;
    }
    const std::string reset = reset_;
    const bool modem = RunOffThread([&port, reset] {
      std::this_thread::sleep_for(fe::TicksToDuration(kSettleTicks));
      return port.CheckForModem(reset);
    });
    if (!modem && !AskYesNo(QStringLiteral("The device on COM%1 is not responding and may\rnot be a modem. Continue "
                                           "with Fax Class Analysis?")
                                .arg(n),
                            QStringLiteral("NO MODEM RESPONSE"))) {
      Status->setText(noResponse);
      UnknownLines();
      return;
    }
    if (!RunOffThread([&port] { return ResetModemToFactory(port); })) {
      ShowInfo(QStringLiteral("We are unable to continue the test. \r\rThe modem did not respond to the reset "
                              "string:   (AT&F)\r\rIs the Communications Port (COM%1) correct? Please\rclick the Find "
                              "Modem Port button on the Preferences screen to be sure.")
                   .arg(n));
      Status->setText(noResponse);
      UnknownLines();
      return;
    }
    Status->setText(QStringLiteral("Querying modem Fax Class support..."));
    QApplication::processEvents();
    port.Attach(fax);
    const fe::TClassSupport s = RunOffThread([&fax] { return fax.ClassSupport(); });
    Status->clear();
    if (!s.Any()) {
      Status->setText(QStringLiteral("Unable to determine Fax Class support from modem on Com %1").arg(n));
      UnknownLines();
      return;
    }
    const auto word = [](bool on) { return on ? QStringLiteral("Supported") : QStringLiteral("Not Supported"); };
    Class20Line->setText(QStringLiteral("Class 2.0 : ") + word(s.class2_0));
    Class2Line->setText(QStringLiteral("Class 2   : ") + word(s.class2));
    Class1Line->setText(QStringLiteral("Class 1   : ") + word(s.class1));
    if (s.class1) {
      result_ = 0;
      name_ = QStringLiteral("Class 1");
      Class1Line->setText(Class1Line->text() + QStringLiteral(" (recommended)"));
    } else if (s.class2) {
      result_ = 1;
      name_ = QStringLiteral("Class 2");
      Class2Line->setText(Class2Line->text() + QStringLiteral(" (recommended)"));
    } else {
      result_ = 2;
      name_ = QStringLiteral("Class 2.0");
      QFont bold = Class20Line->font();
      bold.setBold(true);
      Class20Line->setFont(bold);
    }
    QApplication::processEvents();
    Status->setText(DisplayText(QStringLiteral("Try using the recommended Fax Class (%1). \r\rIf you experience "
                                               "problems, try other supported classes or auto detect.")
                                    .arg(name_)));
  }();

  Beep();
  port.Close();
  QApplication::processEvents();
  working_ = false;
  OkButton->show();
  OkButton->setFocus();
  setWindowTitle(QStringLiteral("Check Fax Class"));
}

int RunCheckFaxClass(QWidget* parent, int comNumber, QString* name) {
  if (ToolNotForSipLine(parent, QStringLiteral("The fax class check"))) {
    if (name) name->clear();
    return -1;
  }
  TCheckFaxClassForm form(parent, comNumber, Settings().String);
  CentreForm(&form);
  form.exec();
  if (name) *name = form.ResultName();
  return form.Result();
}

}  // namespace qn
