#include "print_status.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace fe {

TFeFaxPrinterStatus::TFeFaxPrinterStatus(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("FeFaxPrinterStatus1"));
  setWindowTitle(QStringLiteral("Print Status"));
  setWindowModality(Qt::ApplicationModal);
  auto* form = new QFormLayout;
  auto addRow = [&](const QString& label) {
    auto* value = new QLabel(this);
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(label, value);
    return value;
  };
  file_ = addRow(QStringLiteral("File:"));
  pages_ = addRow(QStringLiteral("Total pages:"));
  resolution_ = addRow(QStringLiteral("Resolution:"));
  width_ = addRow(QStringLiteral("Width:"));
  page_ = addRow(QStringLiteral("Printing:"));
  range_ = addRow(QStringLiteral("Range:"));
  progress_ = addRow(QStringLiteral("Status:"));
  abort_ = new QPushButton(QStringLiteral("&Abort"), this);
  abort_->setDefault(true);
  connect(abort_, &QPushButton::clicked, this, [this] {
    if (printer_) printer_->Abort();
  });
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(abort_);
  buttons->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addLayout(buttons);
  setMinimumWidth(360);
}

void TFeFaxPrinterStatus::PrintStart(TFeFaxPrinter& printer) {
  printer_ = &printer;
  file_->setText(QString::fromStdString(printer.FileName()));
  pages_->setText(QString::number(printer.PageCount()));
  resolution_->setText(printer.HighResolution() ? QStringLiteral("Fine") : QStringLiteral("Standard"));
  width_->setText(printer.WidePage() ? QStringLiteral("2048 pixels") : QStringLiteral("1728 pixels"));
  PrintUpdate(printer);
  show();
  raise();
}

void TFeFaxPrinterStatus::PrintUpdate(TFeFaxPrinter& printer) {
  const unsigned first = printer.FirstPage(), last = printer.LastPage();
  const unsigned cp = printer.CurrentPage();
  const unsigned done = cp >= first ? cp - first + 1 : 0;
  page_->setText(QString::asprintf("%s %d of %d", "Page", int(cp), int(printer.PageCount())));
  range_->setText(QString::asprintf("%s %d of %d", "Page", int(done), int(last >= first ? last - first + 1 : 0)) +
                  QString::asprintf(" (pages %d to %d)", int(first), int(last)));
  progress_->setText(PrintProgressText(printer.Progress()));
}

void TFeFaxPrinterStatus::PrintEnd(TFeFaxPrinter&) {
  printer_ = nullptr;
  hide();
}

QString TFeFaxPrinterStatus::PageText() const {
  return page_->text();
}
QString TFeFaxPrinterStatus::ProgressText() const {
  return progress_->text();
}

void TFeFaxPrinterStatus::reject() {
  if (printer_) printer_->Abort();
}

TFeFaxPrinter* MakeFaxPrinter(QWidget* owner) {
  new TFeFaxPrinterStatus(owner);
  auto* printer = new TFeFaxPrinter(owner);
  printer->Caption = QStringLiteral("QN Fax Printer");
  return printer;
}

}  // namespace fe
