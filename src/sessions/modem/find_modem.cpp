#include "sessions/modem/find_modem.h"

#include <unistd.h>

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "common/dialogs.h"
#include "common/folders.h"
#include "common/ini_file.h"
#include "fe_device.h"
#include "fe_errors.h"
#include "fe_texts.h"
#include "sessions/fax_port.h"
#include "sessions/modem/modem_tools.h"
#include "sessions/off_thread.h"
#include "sessions/settings.h"

namespace qn {

namespace {

// Opening failed because the user may not open the device (the port layer
// reports that like a port held by another program).
bool NoPermission(const PortOutcome& o) {
  if (o.openCode != -fe::ecHardware || o.device.empty()) return false;
  errno = 0;
  return ::access(o.device.c_str(), R_OK | W_OK) != 0 && errno == EACCES;
}

bool PortInUse(const PortOutcome& o) {
  return (o.openCode == -fe::ecAlreadyOpen || o.openCode == -fe::ecHardware) && !NoPermission(o);
}

// Opens COM n, asks for a modem and closes it again: the work of one line.
PortOutcome TestPort(int n, const std::string& reset) {
  PortOutcome o;
  o.tested = true;
  o.device = ComPortDevice(static_cast<unsigned>(n));
  TFaxSessionPort port;
  o.openCode = port.Open("COM" + std::to_string(n));
  if (o.openCode >= 0) {
    o.openCode = 0;
    o.modem = port.IsOpen() && port.CheckForModem(reset);
  }
  port.Close();
  return o;
}

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

std::string Canonical(const std::string& path) {
  std::error_code ec;
  const auto p = std::filesystem::canonical(FactsRoot() + path, ec);
  return ec ? path : p.string();
}

}  // namespace

std::string PortOutcomeText(const PortOutcome& o) {
  if (o.openCode == 0) return o.modem ? "MODEM" : "Unknown";
  if (NoPermission(o)) return "No permission to open " + o.device;
  if (PortInUse(o)) return "Port is already open (could be modem)";
  if (o.openCode == -fe::ecBadId) return "Port does not exist";
  const int code = -o.openCode;
  return fe::HasErrorText(code) ? fe::ErrorText(code) : "Unknown Error";
}

std::string FinderMessage(int found, bool portInUse) {
  if (found > 0) {
    const std::string n = std::to_string(found);
    return "A modem was found on Com Port " + n + ". We suggest setting the Port as Com " + n + ".";
  }
  if (portInUse)
    return "No modem found. Please make sure that all communication programs (internet, AOL, etc) are closed, and "
           "then try again. If you know which Com port your modem uses, you can also just set the Port to that "
           "setting";
  return "No modem found. If you know which Com port your modem uses, you can also just set the Port to that "
         "setting";
}

int FreeComNumber(const std::array<PortOutcome, 6>& outcomes) {
  const auto pinned = [](int n) {
    const char* env = std::getenv(("QN_COM" + std::to_string(n)).c_str());
    return env && *env;
  };
  for (int n = 1; n <= 6; ++n) {
    const PortOutcome& o = outcomes[n - 1];
    if (o.tested && o.openCode == -fe::ecBadId && !pinned(n)) return n;
  }
  for (int n = 6; n >= 1; --n) {
    const PortOutcome& o = outcomes[n - 1];
    if (o.tested && o.openCode == 0 && !o.modem && !pinned(n)) return n;
  }
  return 0;
}

bool MapComNumberTo(int n, const std::string& device) {
  return n > 0 && SetPortDevice(static_cast<unsigned>(n), device);
}

TFindModemForm::TFindModemForm(QWidget* parent, std::string resetString)
    : QDialog(parent), reset_(std::move(resetString)) {
  setWindowTitle(QStringLiteral("Finding Modem...Please wait"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("Communications Ports:"), this));
  // Each line: the port's result, and beside it the device the port stands for.
  auto* ports = new QGridLayout;
  ports->setColumnStretch(1, 1);
  for (int i = 0; i < 6; ++i) {
    Lines[i] = new QLabel(QStringLiteral("Com %1:").arg(i + 1), this);
    Lines[i]->setObjectName(QStringLiteral("ComLine%1").arg(i + 1));
    Lines[i]->setIndent(16);
    Lines[i]->setMinimumWidth(
        Lines[i]->fontMetrics().horizontalAdvance(QStringLiteral("Com 6: Port is already open (could be modem)")) + 24);
    const std::string device = fe::MapComNumber(static_cast<unsigned>(i + 1));
    DeviceLines[i] = new QLabel(
        device.empty() ? QString() : Q(device) + QStringLiteral(" (") + Q(DeviceSummary(device)) + QStringLiteral(")"),
        this);
    DeviceLines[i]->setObjectName(QStringLiteral("ComDevice%1").arg(i + 1));
    DeviceLines[i]->setTextFormat(Qt::PlainText);
    ports->addWidget(Lines[i], i, 0);
    ports->addWidget(DeviceLines[i], i, 1);
  }
  layout->addLayout(ports);
  Message = new QLabel(QStringLiteral("Testing Communications ports...please wait."), this);
  Message->setWordWrap(true);
  Message->setMinimumHeight(Message->fontMetrics().lineSpacing() * 4);
  layout->addWidget(Message);

  auto* devicesLabel = new QLabel(QStringLiteral("&Other serial devices on this computer:"), this);
  Devices = new QListWidget(this);
  Devices->setObjectName(QStringLiteral("Devices"));
  Devices->setMinimumHeight(Devices->fontMetrics().lineSpacing() * 4);
  devicesLabel->setBuddy(Devices);
  layout->addWidget(devicesLabel);
  layout->addWidget(Devices);

  auto* buttons = new QHBoxLayout;
  UseDeviceButton = new QPushButton(QStringLiteral("&Use This Device"), this);
  UseDeviceButton->setEnabled(false);
  UseDeviceButton->setAutoDefault(false);
  CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
  CancelButton->setAutoDefault(false);
  OkButton = new QPushButton(QStringLiteral("Ok"), this);
  OkButton->setDefault(true);
  OkButton->hide();
  buttons->addWidget(UseDeviceButton);
  buttons->addStretch();
  buttons->addWidget(CancelButton);
  buttons->addWidget(OkButton);
  layout->addLayout(buttons);
  setMinimumWidth(fontMetrics().horizontalAdvance(QLatin1Char('x')) * 72);

  connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelButton, &QPushButton::clicked, this, &TFindModemForm::reject);
  connect(UseDeviceButton, &QPushButton::clicked, this, &TFindModemForm::UseDeviceButtonClick);
  connect(Devices, &QListWidget::currentRowChanged, this, [this](int row) {
    UseDeviceButton->setEnabled(!working_ && row >= 0 && row < static_cast<int>(others_.size()));
  });
  connect(Devices, &QListWidget::itemActivated, this, [this] {
    if (UseDeviceButton->isEnabled()) UseDeviceButtonClick();
  });
}

TFindModemForm::~TFindModemForm() = default;

void TFindModemForm::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (started_) return;
  started_ = true;
  QTimer::singleShot(0, this, &TFindModemForm::FindModem);
}

void TFindModemForm::reject() {
  // While a port is being tested the window stays; the loop stops after it.
  if (working_) {
    cancel_ = true;
    CancelButton->setEnabled(false);
    Message->setText(QStringLiteral("Stopping after this port..."));
    return;
  }
  QDialog::reject();
}

void TFindModemForm::FindModem() {
  if (!isVisible()) return;  // closed before the work began
  working_ = true;
  OkButton->hide();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  bool inUse = false;
  for (int i = 0; i < 6 && !cancel_; ++i) {
    Lines[i]->setText(QStringLiteral("Com %1: TESTING").arg(i + 1));
    const int n = i + 1;
    const std::string reset = reset_;
    outcomes_[i] = RunOffThread([n, reset] { return TestPort(n, reset); });
    if (outcomes_[i].modem && result_ < 0) result_ = n;
    inUse = inUse || PortInUse(outcomes_[i]);
    Lines[i]->setText(QStringLiteral("Com %1: ").arg(n) + Q(PortOutcomeText(outcomes_[i])));
  }
  QApplication::restoreOverrideCursor();
  Message->setText(cancel_ ? QStringLiteral("Testing was stopped. ") + Q(FinderMessage(result_, inUse))
                           : Q(FinderMessage(result_, inUse)));
  working_ = false;
  FillDevices();
  CancelButton->hide();
  OkButton->show();
  OkButton->setFocus();
  setWindowTitle(QStringLiteral("Find Modem"));
  Beep();
}

void TFindModemForm::FillDevices() {
  std::set<std::string> mapped;
  std::vector<std::string> extra;
  for (const PortOutcome& o : outcomes_)
    if (!o.device.empty()) mapped.insert(Canonical(o.device));
  others_.clear();
  for (SerialDevice& d : ListSerialDevices())
    if (!mapped.count(Canonical(d.path))) others_.push_back(std::move(d));
  Devices->clear();
  for (const SerialDevice& d : others_) {
    QString text = Q(d.Describe());
    if (!d.accessible) text += QStringLiteral("  (no permission: group %1)").arg(Q(d.group));
    auto* item = new QListWidgetItem(text, Devices);
    item->setToolTip(Q(d.byId.empty() ? d.path : d.byId));
  }
  if (others_.empty()) {
    auto* item = new QListWidgetItem(QStringLiteral("(none found)"), Devices);
    item->setFlags(Qt::NoItemFlags);
  } else {
    Devices->setCurrentRow(0);
  }
  UseDeviceButton->setEnabled(!others_.empty());
}

void TFindModemForm::UseDeviceButtonClick() {
  const int row = Devices->currentRow();
  if (row < 0 || row >= static_cast<int>(others_.size())) return;
  const SerialDevice& d = others_[static_cast<size_t>(row)];
  const int n = FreeComNumber(outcomes_);
  if (n == 0) {
    ShowInfo(QStringLiteral("Com 1 to Com 6 all name ports that are in use or hold a modem, so %1 cannot be given "
                            "a Com port number.")
                 .arg(Q(d.path)));
    return;
  }
  // The by-id name stays with the modem when it is plugged into another socket.
  const std::string device = d.byId.empty() ? d.path : d.byId;
  if (!MapComNumberTo(n, device)) {
    MessageBoxText(QStringLiteral("The settings file could not be written:\r%1").arg(Q(SettingsFile())),
                   QStringLiteral("Find Modem"), mbOk | mbIconError);
    return;
  }
  chosen_ = n;
  accept();
}

int RunFindModem(QWidget* parent, int selectedCom) {
  if (ToolNotForSipLine(parent, QStringLiteral("Find Modem Port"))) return 0;
  TFindModemForm form(parent, Settings().String);
  CentreForm(&form);
  form.exec();
  if (form.Chosen() > 0) return form.Chosen();
  const int n = form.Result();
  if (n > 0 && n != selectedCom &&
      AskYesNo(QStringLiteral("Set Com Port to Com %1").arg(n), QStringLiteral("Com Port")))
    return n;
  return 0;
}

}  // namespace qn
