#include "fax_printing.h"

#include <QApplication>
#include <QCheckBox>
#include <QMainWindow>
#include <QPrintDialog>
#include <QPrinter>
#include <QSpinBox>
#include <QStatusBar>

#include "common/dialogs.h"
#include "common/fax_files.h"
#include "common/folders.h"
#include "common/print_options.h"
#include "fax_printer.h"
#include "fe_errors.h"
#include "fe_texts.h"
#include "pre_print_form.h"
#include "print_status.h"
#include "records/ui/fax_actions.h"
#include "records/ui/record_grid.h"
#include "sessions/settings.h"

namespace qn {

namespace {

const QString kFooterText = QStringLiteral("Page: $P of $N");

// Reports a failed print run; a run the user cancelled needs no message.
void ReportPrintResult(int rc) {
  if (rc >= 0 || rc == -fe::ecCancelRequested) return;
  MessageBoxText(QStringLiteral("Printing failed: ") + QString::fromStdString(fe::ErrorText(-rc)) +
                     QStringLiteral(" (") + QString::number(-rc) + QStringLiteral(")"),
                 QStringLiteral("Print"), mbOk | mbIconError);
}

// Prints the printer's range; the pause around each page follows the settings.
int RunPrint(QWidget* parent, fe::TFeFaxPrinter& printer) {
  fe::SetPrintPause(g_WorkingImposeWait);
  return printer.DoPrint(parent);
}

// Runs the options dialog on the shared print options: loaded before, the
// check boxes stored back and saved after, whatever the answer.
bool RunPrePrintForm(TPrePrintForm& form, PrintOptions& chosen) {
  LoadPrintOptions();
  form.SetOptions(SharedPrintOptions());
  CentreForm(&form);
  const bool ok = form.exec() == QDialog::Accepted;
  form.GetOptions(SharedPrintOptions());
  SavePrintOptions();
  chosen = SharedPrintOptions();
  return ok;
}

}  // namespace

void ApplyPrintOptions(fe::TFeFaxPrinter& printer, const PrintOptions& options, unsigned first, unsigned last,
                       const QString& heading) {
  printer.SetPageRange(first, last);
  printer.PrintScale = options.Stretch ? fe::psFitToPage : fe::psNone;
  printer.MultiPage = options.MultiPage;
  printer.FaxHeader.Enabled = options.Header;
  printer.FaxHeader.Caption = options.Header ? heading : QString();
  printer.FaxFooter.Enabled = options.Footer;
  printer.FaxFooter.Caption = options.Footer ? kFooterText : QString();
}

fe::TFeFaxPrinter* MainFaxPrinter(QWidget* window, QPrinter* chosen) {
  auto* printer = window->findChild<fe::TFeFaxPrinter*>(QStringLiteral("feFaxPrinter1"), Qt::FindDirectChildrenOnly);
  if (!printer) {
    printer = fe::MakeFaxPrinter(window);
    printer->setObjectName(QStringLiteral("feFaxPrinter1"));
    printer->FaxHeader.Caption = QStringLiteral("FILE: $F");
    printer->FaxHeader.Enabled = false;
    printer->FaxFooter.Caption = kFooterText;
    printer->FaxFooter.Enabled = false;
    printer->MultiPage = false;
  }
  printer->SetPrinter(chosen);
  return printer;
}

void PrintSelectedFax(QMainWindow& window, xb::Table& table, bool outgoing, QPrinter* chosen) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  window.statusBar()->showMessage(QStringLiteral("Preparing files for printing..."));
  ChosenFaxFile file = ChooseFaxFile(table, outgoing);
  QApplication::restoreOverrideCursor();
  if (file.empty()) {
    window.statusBar()->clearMessage();
    ShowInfo(QStringLiteral("Error - fax file missing"));
    return;
  }
  fe::TFeFaxPrinter* printer = MainFaxPrinter(&window, chosen);
  printer->SetFileName(file.path());
  if (printer->PageCount() == 0) {  // not a fax file, or one without pages: no dialog for it
    ReportPrintResult(-fe::ecFaxBadFormat);
    window.statusBar()->clearMessage();
    return;
  }
  printer->SetPageRange(1, printer->PageCount());
  TPrePrintForm form(&window);
  form.SetRange(printer->PageCount(), printer->FirstPage(), printer->LastPage());
  PrintOptions options;
  if (RunPrePrintForm(form, options)) {
    ApplyPrintOptions(*printer, options, unsigned(form.FromPage->value()), unsigned(form.ToPage->value()),
                      FaxHeadingText(table, outgoing));
    ReportPrintResult(RunPrint(&window, *printer));
  }
  window.statusBar()->clearMessage();
}

void PrintSetupCommand(QWidget* window, QPrinter* chosen) {
  QPrintDialog dialog(chosen, window);
  dialog.setWindowTitle(QStringLiteral("Print Setup"));
  dialog.setOptions(QAbstractPrintDialog::PrintToFile | QAbstractPrintDialog::PrintShowPageSize);
  if (dialog.exec() == QDialog::Accepted) chosen->setPrintRange(QPrinter::AllPages);
}

fe::TFeFaxPrinter* MakeViewerFaxPrinter(QWidget* viewer) {
  fe::TFeFaxPrinter* printer = fe::MakeFaxPrinter(viewer);
  printer->setObjectName(QStringLiteral("feFaxPrinter1"));
  printer->FaxHeader.Caption = QStringLiteral("File: $F");
  return printer;
}

bool PrintFromViewer(QWidget* viewer, fe::TFeFaxPrinter& printer, const std::string& file, const QString& heading,
                     bool currentPageOnly, unsigned currentPage, bool& rangeSet) {
  if (file.empty() || printer.Printing()) return false;
  if (printer.FileName() != file || !rangeSet) printer.SetFileName(file);
  if (!rangeSet) {
    printer.SetPageRange(1, printer.PageCount());
    rangeSet = true;
  }
  const unsigned count = printer.PageCount();
  if (count == 0) {
    ReportPrintResult(-fe::ecFaxBadFormat);
    return false;
  }
  TPrePrintForm form(viewer);
  PrintOptions options;
  int rc = 0;
  bool printed = false;
  if (!currentPageOnly) {
    form.SetRange(count, printer.FirstPage(), printer.LastPage());
    if (RunPrePrintForm(form, options)) {
      ApplyPrintOptions(printer, options, unsigned(form.FromPage->value()), unsigned(form.ToPage->value()), heading);
      rc = RunPrint(viewer, printer);
      printed = rc >= 0;
    }
  } else {
    const unsigned page = std::clamp(currentPage, 1u, count);
    form.SetRange(count, page, page);
    form.FromPage->setEnabled(false);
    form.ToPage->setEnabled(false);
    form.MultiPage->setEnabled(false);
    LoadPrintOptions();
    form.SetOptions(SharedPrintOptions());
    CentreForm(&form);
    const bool ok = form.exec() == QDialog::Accepted;
    // Only header and footer are this dialog's to change.
    SharedPrintOptions().Header = form.Header->isChecked();
    SharedPrintOptions().Footer = form.Footer->isChecked();
    SavePrintOptions();
    if (ok) {
      options = SharedPrintOptions();
      options.Stretch = true;
      options.MultiPage = false;
      ApplyPrintOptions(printer, options, page, page, heading);
      rc = RunPrint(viewer, printer);
      printed = rc >= 0;
    }
    printer.SetPageRange(1, count);
  }
  ReportPrintResult(rc);
  return printed;
}

bool PrinterSetupFromViewer(QWidget* viewer, fe::TFeFaxPrinter& printer, const std::string& file, bool& rangeSet) {
  if (file.empty() || printer.Printing()) return false;
  if (printer.FileName() != file || !rangeSet) printer.SetFileName(file);
  if (!rangeSet) {
    printer.SetPageRange(1, printer.PageCount());
    rangeSet = true;
  }
  return printer.PrinterSetup(viewer);
}

}  // namespace qn
