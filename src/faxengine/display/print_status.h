// TFeFaxPrinterStatus: the "Print Status" window of a fax print run: the file,
// its page count, resolution and width, the page being printed, the progress
// text and an Abort button that stops the run. Application-modal while shown,
// so nothing else starts while a job runs; it is created hidden and shows
// itself when a fax printer on the same owner starts printing.
#pragma once

#include <QDialog>

#include "fax_printer.h"

class QLabel;
class QPushButton;

namespace fe {

class TFeFaxPrinterStatus : public QDialog, public TFeAbstractFaxPrinterStatus {
  Q_OBJECT
 public:
  explicit TFeFaxPrinterStatus(QWidget* owner = nullptr);

  void PrintStart(TFeFaxPrinter& printer) override;
  void PrintUpdate(TFeFaxPrinter& printer) override;
  void PrintEnd(TFeFaxPrinter& printer) override;

  QPushButton* AbortButton() const { return abort_; }
  QString PageText() const;
  QString ProgressText() const;

 protected:
  void reject() override;  // Escape and the close box abort too

 private:
  QLabel *file_, *pages_, *resolution_, *width_, *page_, *range_, *progress_;
  QPushButton* abort_;
  QPointer<TFeFaxPrinter> printer_;
};

// A fax printer with its status window, both owned by `owner`, printing as
// "QN Fax Printer".
TFeFaxPrinter* MakeFaxPrinter(QWidget* owner);

}  // namespace fe
