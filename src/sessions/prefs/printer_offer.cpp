#include "sessions/prefs/printer_offer.h"

#include <cups/cups.h>
#include <unistd.h>

#include <QHBoxLayout>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>

#include "common/dialogs.h"
#include "common/folders.h"

namespace qn {
namespace {

const QString kCaption = QStringLiteral("Quillon Fax Printer");

QString AdministratorText(const QString& script) {
  return QStringLiteral("Ask the administrator of this computer to add it with this command:\r\r    sudo %1")
      .arg(script);
}

}  // namespace

bool FaxQueueExists() {
  cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, kFaxQueueName, nullptr);
  if (!dest) return false;
  cupsFreeDests(1, dest);
  return true;
}

QString FaxQueueScript() {
  const QString chosen = qEnvironmentVariable("QUILLON_PRINTER_SCRIPT");
  if (!chosen.isEmpty()) return chosen;
  return QString::fromStdString(DataFolder()) + QStringLiteral("install-printer.sh");
}

TFaxPrinterOffer::TFaxPrinterOffer(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("FaxPrinterOffer"));
  Note = new QLabel(QStringLiteral("The \"Quillon Fax\" printer is missing: printing to it is how documents of "
                                   "other programs become faxes."),
                    this);
  Note->setWordWrap(true);
  AddButton = new QPushButton(QStringLiteral("Add the Quillon Fax &printer"), this);
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(Note, 1);
  row->addWidget(AddButton, 0, Qt::AlignTop);
  connect(AddButton, &QPushButton::clicked, this, &TFaxPrinterOffer::Add);
  Refresh();
}

void TFaxPrinterOffer::Refresh() {
  setVisible(!FaxQueueExists());
}

void TFaxPrinterOffer::Add() {
  if (process_) return;
  const QString script = FaxQueueScript();
  QString program = script;
  QStringList args;
  if (geteuid() != 0) {
    program = QStandardPaths::findExecutable(QStringLiteral("pkexec"));
    if (program.isEmpty()) {
      MessageBoxText(QStringLiteral("The \"Quillon Fax\" printer can be added only by an administrator.\r\r") +
                         AdministratorText(script),
                     kCaption, mbOk | mbIconInformation);
      emit Finished(false);
      return;
    }
    args << script;
  }
  process_ = new QProcess(this);
  process_->setProcessChannelMode(QProcess::MergedChannels);
  connect(process_, &QProcess::finished, this, [this](int exitCode, QProcess::ExitStatus status) {
    const QString output = QString::fromLocal8Bit(process_->readAll()).trimmed();
    process_->deleteLater();
    process_ = nullptr;
    Done(status == QProcess::NormalExit ? exitCode : -1, output);
  });
  connect(process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
    if (error != QProcess::FailedToStart || !process_) return;
    const QString output = process_->errorString();
    process_->deleteLater();
    process_ = nullptr;
    Done(-1, output);
  });
  AddButton->setEnabled(false);
  Note->setText(QStringLiteral("Adding the \"Quillon Fax\" printer..."));
  process_->start(program, args);
}

void TFaxPrinterOffer::Done(int exitCode, const QString& output) {
  AddButton->setEnabled(true);
  Note->setText(QStringLiteral("The \"Quillon Fax\" printer is missing: printing to it is how documents of "
                               "other programs become faxes."));
  const bool added = FaxQueueExists();
  Refresh();
  if (added) {
    MessageBoxText(QStringLiteral("The \"Quillon Fax\" printer is ready: print to it from any program to make a "
                                  "fax in the outgoing list."),
                   kCaption, mbOk | mbIconInformation);
  } else {
    // pkexec: 126 when the password dialog was dismissed, 127 when not authorised.
    QString why = exitCode == 126 || exitCode == 127
                      ? QStringLiteral("Adding the printer was not authorised.")
                      : QStringLiteral("Adding the printer failed.");
    if (!output.isEmpty()) why += QStringLiteral("\r\r") + output.right(400);
    MessageBoxText(why + QStringLiteral("\r\r") + AdministratorText(FaxQueueScript()), kCaption,
                   mbOk | mbIconWarning);
  }
  emit Finished(added);
}

}  // namespace qn
