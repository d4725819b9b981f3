// TFeFaxPrinter: prints the pages of an APF fax file through Qt Print Support
// (CUPS queues, or a PDF file), one fax page per sheet or several, with a header
// and a footer line built from token templates, stretched to the sheet or at the
// fax's own resolution.
//
// Conventions callers rely on:
// - Properties are public members, events std::function, as on the other fax
//   components. Do* methods return 0 or a negative error code (fe_errors.h);
//   the others raise EFeException for that code.
// - Setting the file (SetFileName) reads its page count, resolution and width and
//   sets the range to all pages (1..count; 0..0 for an empty or unreadable file).
// - Where the sheets go: the QPrinter given to SetPrinter (the caller keeps it;
//   the main window's "Print Setup" chooses it), else the printer's own one. With
//   PrintTo the job goes without any dialog to a named queue or a PDF file (receive
//   mode prints on receipt this way). When the printer names neither a queue nor a
//   file (a machine with no queue, nothing chosen yet) Print asks with the standard
//   print dialog, whose file output prints to PDF.
// - Every job is first drawn into a temporary PDF; only a job that ran to its end
//   is handed on (moved to the output file, or submitted to the CUPS queue), so a
//   cancelled or failed job leaves no half printout and no half file.
// - A page that cannot be decoded at all ends the job: the pages before it are
//   handed on, the log gets a "failed" line and the page's error code is
//   returned. A damaged page prints what decodes.
// - Print runs on the interface thread and lets pending events run between lines
//   and pages, so the status window's Abort works; the status window is
//   application-modal, so no other command runs meanwhile.
#pragma once

#include <QFont>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <string>

class QImage;
class QPainter;
class QPrinter;
class QWidget;

namespace fe {

class TFeFaxUnpacker;
class TFeFaxPrinter;

enum TFaxPrintScale { psNone, psFitToPage };
enum TFaxPrintProgress { ppIdle, ppComposing, ppRendering, ppSubmitting, ppConverting };
// Print log codes.
enum TFaxPLCode { lcStart = 0, lcFinish = 1, lcAbort = 2, lcFail = 3 };

// The progress texts the status window shows, by TFaxPrintProgress.
QString PrintProgressText(int progress);

struct TFeFaxPrinterMargin {
  QString Caption;
  bool Enabled = true;
  QFont Font = QFont(QStringLiteral("Arial"), 10);
};

// Appends one line per log code to LogFileName (see WriteLog).
class TFeFaxPrinterLog : public QObject {
  Q_OBJECT
 public:
  explicit TFeFaxPrinterLog(QObject* owner = nullptr);
  std::string LogFileName = "FAXPRINT.LOG";
  // "Printing <file> started at|finished at|aborted at|failed at <date time>";
  // every line but the start line is followed by an empty line.
  void UpdateLog(int code, const std::string& faxFile);
};

// What a progress display is told; TFeFaxPrinterStatus is the window.
class TFeAbstractFaxPrinterStatus {
 public:
  virtual ~TFeAbstractFaxPrinterStatus() = default;
  virtual void PrintStart(TFeFaxPrinter& printer) = 0;
  virtual void PrintUpdate(TFeFaxPrinter& printer) = 0;
  virtual void PrintEnd(TFeFaxPrinter& printer) = 0;
};

using TFaxPrnNextPageEvent = std::function<void(TFeFaxPrinter& Sender, unsigned CP, unsigned TP)>;
using TFaxPLEvent = std::function<void(TFeFaxPrinter& Sender, int FaxPLCode)>;
using TFaxPrintStatusEvent = std::function<void(TFeFaxPrinter& Sender, int StatusCode)>;

class TFeFaxPrinter : public QObject {
  Q_OBJECT
 public:
  // Attaches the first print log and status display found among the owner's children.
  explicit TFeFaxPrinter(QObject* owner = nullptr);
  ~TFeFaxPrinter() override;

  QString Caption = QStringLiteral("FE Fax Printer");
  TFeFaxPrinterMargin FaxHeader{QStringLiteral("FILE: $F")};
  TFeFaxPrinterMargin FaxFooter{QStringLiteral("PAGE: $P of $N")};
  QPointer<TFeFaxPrinterLog> FaxPrinterLog;
  TFeAbstractFaxPrinterStatus* StatusDisplay = nullptr;
  bool MultiPage = false;
  TFaxPrintScale PrintScale = psFitToPage;
  // Quarter turns clockwise applied to every page, as the viewer shows them. A
  // page on its side keeps its proportions when fitted to the sheet.
  int Rotation = 0;
  TFaxPrnNextPageEvent OnNextPage;
  TFaxPLEvent OnFaxPrintLog;
  TFaxPrintStatusEvent OnFaxPrintStatus;

  void SetFileName(const std::string& name);
  const std::string& FileName() const { return fileName_; }
  unsigned PageCount() const { return pageCount_; }
  bool HighResolution() const { return highRes_; }
  bool WidePage() const { return wide_; }
  unsigned FirstPage() const { return firstPage_; }
  unsigned LastPage() const { return lastPage_; }
  // Clamped to the file's pages; a range the wrong way round prints nothing.
  void SetPageRange(unsigned first, unsigned last);
  unsigned CurrentPage() const { return currentPage_; }
  int Progress() const { return progress_; }
  bool Printing() const { return printing_; }

  // The printer the sheets go to; nullptr returns to the printer's own one.
  void SetPrinter(QPrinter* printer);
  QPrinter& Printer();

  // The standard print dialog with the page range; on OK the chosen pages are
  // kept. True when the user confirmed.
  bool PrinterSetup(QWidget* parent = nullptr);
  // Prints the range; may ask for a printer first (see the conventions above).
  void Print(QWidget* parent = nullptr);
  int DoPrint(QWidget* parent = nullptr);
  // Prints the range without any dialog to a CUPS queue (empty: the system's
  // default queue) or, when pdfPath is not empty, to that PDF file.
  int PrintTo(const QString& queue, const QString& pdfPath);
  // While printing: stops the job (nothing is handed on), log code 2.
  void Abort();

  // A caption with its tokens replaced for one page.
  QString ExpandTokens(const QString& caption, unsigned page) const;

 private:
  int RunJob(QPrinter& target);
  void PrintPage(QPainter& painter, const QRect& cell, unsigned page, const QImage& image, int dpiX, int dpiY);
  int DecodePage(unsigned page, QImage& image);
  void SetProgress(int progress);
  void Log(int code);
  void Yield();

  std::string fileName_;
  unsigned pageCount_ = 0, firstPage_ = 0, lastPage_ = 0, currentPage_ = 0;
  bool highRes_ = false, wide_ = false;
  int progress_ = ppIdle;
  bool printing_ = false, aborted_ = false;
  QPrinter* external_ = nullptr;
  std::unique_ptr<QPrinter> own_;
  std::unique_ptr<TFeFaxUnpacker> unpacker_;
};

// The process-wide pause around drawing each page (a setting for printers that
// lose data when fed too fast): two timer ticks before and after, events handled.
void SetPrintPause(bool on);
bool PrintPauseEnabled();
void PausePrinting();

// The printable area of one fax page on a sheet: the whole area, or with
// multiPage the cell of the page's place on the sheet (quarters in portrait,
// halves in landscape), shrunk by 2 device pixels on every side.
QRect FaxPageCell(const QRect& area, bool multiPage, bool landscape, unsigned indexOnSheet);
// Fax pages per sheet: 1, or with multiPage 4 in portrait and 2 in landscape.
unsigned FaxPagesPerSheet(bool multiPage, bool landscape);

}  // namespace fe
