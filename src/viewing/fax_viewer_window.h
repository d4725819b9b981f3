// TFaxViewer: the Fax Viewer window. Shows one fax file in a TFeFaxViewer with
// page buttons (only for faxes of more than one page), zoom levels, rotation,
// export of the current page as BMP, PCX or DCX and of the whole fax as PDF or
// TIFF, and the printing buttons whose
// work the printing side supplies (viewer_seam.h).
//
// Use: create, SetFile (file, status prefix, heading text), exec(), delete. The
// file is loaded when the window is first shown; the window never deletes it.
#pragma once

#include <QDialog>
#include <QTimer>
#include <QString>
#include <functional>

class QAction;
class QActionGroup;
class QLabel;
class QPushButton;

namespace fe {
class TFeFaxViewer;
}

namespace qn {

class TFaxViewer : public QDialog {
  Q_OBJECT
 public:
  explicit TFaxViewer(QWidget* parent = nullptr);
  ~TFaxViewer() override;

  void SetFile(const QString& file, const QString& statusPrefix, const QString& heading);

  // ---- what the printing side reads ----
  QString FileName() const { return fileName_; }  // the file shown ("" when none)
  QString StatusPrefix() const { return statusPrefix_; }
  QString HeadingText() const { return heading_; }
  unsigned PageCount() const;
  unsigned CurrentPage() const;
  bool RangeInitialised = false;

  // ---- state ----
  // 25, 50, 75 or 100; kFitWidth while the page is fitted to the window's width
  // (how a fax opens, and what Ctrl+0 returns to).
  static constexpr int kFitWidth = 0;
  int ZoomLevel() const { return zoom_; }
  void SetZoom(int level);
  void ZoomIn();   // "+" (and Ctrl++)
  void ZoomOut();  // "-" (and Ctrl+-)
  void FitWidth(); // Ctrl+0
  void SetRotation(int quarterTurns);
  QString StatusText() const;
  // Writes the current page as "BMP", "PCX" or "DCX", or the whole fax as "PDF"
  // or "TIF" (Group 4), after asking for the file name.
  void ExportPage(const QString& format);
  // Writes to `path` in the format; false (with a message) on failure. PDF and
  // TIFF hold every page at its own resolution, unscaled.
  bool ExportPageTo(const QString& format, const QString& path);

  // Called instead of the system beep (tests count the beeps).
  std::function<void()> OnBeep;

  fe::TFeFaxViewer* FaxViewer;
  QLabel* StatusPanel;
  QPushButton *FirstPageButton, *PrevPageButton, *NextPageButton, *LastPageButton, *ZoomInButton, *ZoomOutButton,
      *PrinterSetupButton, *PrintButton, *PrintPageButton, *CloseButton, *HelpButton;
  QAction* ZoomItems[4];      // "50%", "100%", "150%", "200%" (levels 25, 50, 75, 100)
  QAction *ZoomInItem, *ZoomOutItem, *FitWidthItem;
  QAction* RotationItems[4];  // no rotation, 90, 180, 270 degrees
  QAction* ExportItems[5];    // BMP, PCX, DCX (this page); PDF, TIFF (the whole fax)

 protected:
  void showEvent(QShowEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void done(int result) override;

 private:
  void BuildMenus();
  void BuildButtons();
  void FormActivate();
  void LoadFile();
  void ApplyZoom(int level);
  void ApplyFit();
  double ZoomFactor() const;  // the scale now shown (1 = fax pixels)
  void TickZoom();
  void UpdateStatus();
  void UpdatePageButtons();
  void ViewerError(int code);
  void FileDropped(const QString& file);
  void DoBeep();

  QString fileName_;  // working copy of the file shown
  QString statusPrefix_, heading_;
  int zoom_ = 100;
  QTimer* refit_ = nullptr;  // fits the page again once a resize settles
  bool firstActivation_ = true;
};

}  // namespace qn
