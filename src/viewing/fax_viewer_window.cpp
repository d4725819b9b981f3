#include "fax_viewer_window.h"

#include <QActionGroup>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>
#include <new>
#include <numeric>

#include "button_icons.h"
#include "common/dialogs.h"
#include "common/fax_files.h"
#include "common/help.h"
#include "fe_exceptions.h"
#include "fe_fax_unpacker.h"
#include "fe_fax_viewer.h"
#include "fe_texts.h"
#include "viewer_seam.h"

namespace qn {

namespace {
constexpr int kHelpTopic = 1021;
constexpr int kZoomLevels[4] = {25, 50, 75, 100};
const char* const kZoomCaptions[4] = {"&50%", "&100%", "15&0%", "&200%"};
const char* const kRotationCaptions[4] = {"&No rotation", "Rotate &90 degrees", "Rotate 1&80 degrees",
                                          "Rotate &270 degrees"};
const char* const kExportCaptions[5] = {"Export this page as &BMP File", "Export this page as &PCX File",
                                        "Export this page as &DCX File", "Export the whole fax as PD&F File",
                                        "Export the whole fax as &TIFF File"};

int ZoomIndex(int level) {
  for (int i = 0; i < 4; ++i)
    if (kZoomLevels[i] == level) return i;
  return -1;
}

// The error code an exception of the fax components carries (8 for memory).
int ErrorCodeOf(const std::exception& e) {
  if (auto* fe = dynamic_cast<const fe::EFeException*>(&e)) return std::abs(fe->ErrorCode());
  if (dynamic_cast<const std::bad_alloc*>(&e)) return 8;
  return 1006;
}
}  // namespace

ViewerPrintingHooks& ViewerPrinting() {
  static ViewerPrintingHooks hooks;
  return hooks;
}

TFaxViewer::TFaxViewer(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Fax Viewer "));
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                 Qt::WindowCloseButtonHint);
  setSizeGripEnabled(true);
  OnBeep = [] { Beep(); };

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  FaxViewer = new fe::TFeFaxViewer(this);
  FaxViewer->setObjectName(QStringLiteral("FaxViewer"));
  layout->addWidget(FaxViewer, 1);
  BuildButtons();
  BuildMenus();

  FaxViewer->OnPageChange = [this](fe::TFeFaxViewer&) { UpdateStatus(); };
  FaxViewer->OnViewerError = [this](fe::TFeFaxViewer&, int code) { ViewerError(code); };
  FaxViewer->OnDropFile = [this](fe::TFeFaxViewer&, const std::string& file) {
    FileDropped(QString::fromStdString(file));
  };
  // Ctrl+C copies the frame drawn over the page as a picture.
  auto* copy = new QAction(this);
  copy->setShortcut(QKeySequence::Copy);
  connect(copy, &QAction::triggered, this, [this] { FaxViewer->CopyToClipboard(); });
  addAction(copy);
  resize(820, 640);
  UpdateStatus();
  UpdatePageButtons();
}

TFaxViewer::~TFaxViewer() = default;

void TFaxViewer::BuildButtons() {
  auto* row = new QHBoxLayout;
  StatusPanel = new QLabel(this);
  StatusPanel->setObjectName(QStringLiteral("StatusPanel"));
  StatusPanel->setFrameShape(QFrame::Panel);
  StatusPanel->setFrameShadow(QFrame::Sunken);
  StatusPanel->setMinimumWidth(
      StatusPanel->fontMetrics().horizontalAdvance(QStringLiteral("Fax printout: Page 8888 of 8888")) + 12);
  row->addWidget(StatusPanel, 1);

  auto picture = [this, row](const char* name, ViewerIcon icon, const char* hint, auto handler) {
    auto* b = new QPushButton(this);
    b->setObjectName(QString::fromLatin1(name));
    b->setIcon(MakeViewerIcon(icon));
    b->setIconSize(QSize(24, 24));
    b->setToolTip(QString::fromLatin1(hint));
    b->setAccessibleName(QString::fromLatin1(hint));
    b->setAutoDefault(false);
    connect(b, &QPushButton::clicked, this, handler);
    row->addWidget(b);
    return b;
  };
  FirstPageButton = picture("FirstPageButton", ViewerIcon::First, "First page", [this] { FaxViewer->FirstPage(); });
  PrevPageButton = picture("PrevPageButton", ViewerIcon::Previous, "Previous page", [this] { FaxViewer->PrevPage(); });
  NextPageButton = picture("NextPageButton", ViewerIcon::Next, "Next page", [this] { FaxViewer->NextPage(); });
  LastPageButton = picture("LastPageButton", ViewerIcon::Last, "Last page", [this] { FaxViewer->LastPage(); });
  ZoomInButton = picture("ZoomInButton", ViewerIcon::ZoomIn, "Zoom in", [this] { ZoomIn(); });
  ZoomOutButton = picture("ZoomOutButton", ViewerIcon::ZoomOut, "Zoom out", [this] { ZoomOut(); });
  auto printing = [this](std::function<void(TFaxViewer&)> ViewerPrintingHooks::*entry) {
    return [this, entry] {
      if (const auto& hook = ViewerPrinting().*entry) hook(*this);
    };
  };
  PrinterSetupButton = picture("PrinterSetupButton", ViewerIcon::PrinterSetup, "Printer setup",
                               printing(&ViewerPrintingHooks::PrinterSetup));
  PrintButton = picture("PrintButton", ViewerIcon::Print, "Print", printing(&ViewerPrintingHooks::Print));
  PrintPageButton = picture("PrintPageButton", ViewerIcon::PrintPage, "Print current page",
                            printing(&ViewerPrintingHooks::PrintCurrentPage));

  CloseButton = new QPushButton(QStringLiteral("C&lose"), this);
  CloseButton->setObjectName(QStringLiteral("CloseButton"));
  CloseButton->setToolTip(QStringLiteral("Close the Fax Viewer"));
  CloseButton->setDefault(true);  // Enter; Escape closes the dialog as cancel
  connect(CloseButton, &QPushButton::clicked, this, &QDialog::reject);
  row->addWidget(CloseButton);
  HelpButton = new QPushButton(QStringLiteral("&Help"), this);
  HelpButton->setObjectName(QStringLiteral("HelpButton"));
  HelpButton->setToolTip(QStringLiteral("Get help for Fax Viewer"));
  HelpButton->setAutoDefault(false);
  SetHelpTopic(this, kHelpTopic);
  connect(HelpButton, &QPushButton::clicked, this, [this] { ShowHelpFor(this); });
  row->addWidget(HelpButton);
  static_cast<QVBoxLayout*>(layout())->addLayout(row);
}

void TFaxViewer::BuildMenus() {
  auto* bar = new QMenuBar(this);
  layout()->setMenuBar(bar);
  QMenu* view = bar->addMenu(QStringLiteral("&View"));
  auto* zoomGroup = new QActionGroup(this);
  zoomGroup->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
  for (int i = 0; i < 4; ++i) {
    ZoomItems[i] = view->addAction(QString::fromLatin1(kZoomCaptions[i]));
    ZoomItems[i]->setCheckable(true);
    zoomGroup->addAction(ZoomItems[i]);
    connect(ZoomItems[i], &QAction::triggered, this, [this, i] {
      SetZoom(kZoomLevels[i]);
      TickZoom();
    });
  }
  QMenu* rotation = bar->addMenu(QStringLiteral("&Rotation"));
  auto* rotationGroup = new QActionGroup(this);
  rotationGroup->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
  for (int i = 0; i < 4; ++i) {
    RotationItems[i] = rotation->addAction(QString::fromLatin1(kRotationCaptions[i]));
    RotationItems[i]->setCheckable(true);
    rotationGroup->addAction(RotationItems[i]);
    connect(RotationItems[i], &QAction::triggered, this, [this, i] { SetRotation(i); });
  }
  RotationItems[0]->setChecked(true);
  view->addSeparator();
  ZoomInItem = view->addAction(QStringLiteral("Zoom &In"), this, &TFaxViewer::ZoomIn);
  ZoomInItem->setShortcuts({QKeySequence(Qt::Key_Plus), QKeySequence(Qt::Key_Equal), QKeySequence::ZoomIn});
  ZoomOutItem = view->addAction(QStringLiteral("Zoom &Out"), this, &TFaxViewer::ZoomOut);
  ZoomOutItem->setShortcuts({QKeySequence(Qt::Key_Minus), QKeySequence::ZoomOut});
  FitWidthItem = view->addAction(QStringLiteral("Fit to &Width"), this, &TFaxViewer::FitWidth);
  FitWidthItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
  FitWidthItem->setCheckable(true);
  for (QAction* a : {ZoomInItem, ZoomOutItem, FitWidthItem}) {
    a->setShortcutContext(Qt::WindowShortcut);
    addAction(a);  // the keys work while the menu is closed
  }
  QMenu* exportMenu = bar->addMenu(QStringLiteral("&Export"));
  for (int i = 0; i < 5; ++i) {
    if (i == 3) exportMenu->addSeparator();
    ExportItems[i] = exportMenu->addAction(QString::fromLatin1(kExportCaptions[i]));
    // The format is the one the caption names.
    connect(ExportItems[i], &QAction::triggered, this, [this, i] {
      const QString caption = QString(ExportItems[i]->text()).remove(QLatin1Char('&'));
      for (const char* format : {"BMP", "PCX", "DCX", "PDF", "TIF"})
        if (caption.contains(QLatin1String(format))) return ExportPage(QString::fromLatin1(format));
    });
  }
}

void TFaxViewer::SetFile(const QString& file, const QString& statusPrefix, const QString& heading) {
  fileName_ = file;
  statusPrefix_ = statusPrefix;
  heading_ = heading;
  // The title names the fax (the printout heading, its columns joined), so
  // several viewers and their error boxes can be told apart.
  QString name = heading.trimmed();
  name.replace(QRegularExpression(QStringLiteral("\\s{2,}")), QStringLiteral(" \u2014 "));
  setWindowTitle(name.isEmpty() ? QStringLiteral("Fax Viewer") : QStringLiteral("Fax Viewer - ") + name);
}

unsigned TFaxViewer::PageCount() const {
  return FaxViewer->PageCount();
}
unsigned TFaxViewer::CurrentPage() const {
  return FaxViewer->CurrentPage();
}

void TFaxViewer::DoBeep() {
  if (OnBeep) OnBeep();
}

// ---- activation and loading -------------------------------------------------------------

void TFaxViewer::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (!firstActivation_) return;
  firstActivation_ = false;
  RestorePlacement(this);
  // Loaded once the window is on the screen, so that its size is known.
  QMetaObject::invokeMethod(this, &TFaxViewer::FormActivate, Qt::QueuedConnection);
}

void TFaxViewer::FormActivate() {
  for (QAction* a : ZoomItems) a->setChecked(false);
  for (QAction* a : RotationItems) a->setChecked(false);
  LoadFile();
  // A desktop always offers printing to a PDF file, so the printing buttons depend
  // only on whether the printing side is part of this build.
  PrinterSetupButton->setEnabled(bool(ViewerPrinting().PrinterSetup));
  PrintButton->setEnabled(bool(ViewerPrinting().Print));
  PrintPageButton->setEnabled(bool(ViewerPrinting().PrintCurrentPage));
}

void TFaxViewer::LoadFile() {
  FaxViewer->SetScaling(false);
  try {
    FaxViewer->SetFileName(fileName_.toStdString());
  } catch (const std::exception&) {
    fileName_.clear();
    MessageBoxText(QStringLiteral("Error opening fax file"), windowTitle().trimmed(), mbOk | mbIconError);
    UpdateStatus();
    UpdatePageButtons();
    return;
  }
  RotationItems[FaxViewer->Rotation()]->setChecked(true);
  ApplyFit();
  TickZoom();
  UpdateStatus();
  UpdatePageButtons();
  // The page has the focus, so Page Up/Down and the arrows work at once.
  FaxViewer->setFocus(Qt::OtherFocusReason);
}

void TFaxViewer::resizeEvent(QResizeEvent* e) {
  QDialog::resizeEvent(e);
  if (zoom_ != kFitWidth || FaxViewer->FileName().empty()) return;
  if (!refit_) {
    refit_ = new QTimer(this);
    refit_->setSingleShot(true);
    refit_->setInterval(150);
    connect(refit_, &QTimer::timeout, this, [this] {
      if (zoom_ == kFitWidth) ApplyFit();
    });
  }
  refit_->start();
}

void TFaxViewer::FileDropped(const QString& file) {
  // A file that could not be opened was reported; the file shown before stays.
  if (FaxViewer->FileName() != file.toStdString()) return;
  fileName_ = file;
  RangeInitialised = false;
  RotationItems[FaxViewer->Rotation()]->setChecked(true);
  if (zoom_ == kFitWidth)
    ApplyFit();
  else
    ApplyZoom(zoom_);
  UpdateStatus();
  UpdatePageButtons();
}

// ---- zoom and rotation --------------------------------------------------------------------

void TFaxViewer::ApplyZoom(int level) {
  zoom_ = level;
  FaxViewer->BeginUpdate();
  if (level == 100) {
    FaxViewer->SetScaling(false);
  } else {
    FaxViewer->SetScaleFactors(unsigned(level), 100, unsigned(level), 100);
    FaxViewer->SetScaling(true);
  }
  FaxViewer->EndUpdate();
}

// The page's width fitted to the window's (never enlarged past the fax's own
// pixels), leaving room for the vertical scroll bar a page taller than the window has.
void TFaxViewer::ApplyFit() {
  FaxViewer->BeginUpdate();
  FaxViewer->SetScaling(false);
  const unsigned pageWidth = FaxViewer->PageWidth();
  const int area = FaxViewer->viewport()->width() - FaxViewer->verticalScrollBar()->sizeHint().width();
  zoom_ = kFitWidth;
  if (pageWidth && area > 0 && unsigned(area) < pageWidth) {
    const unsigned g = std::gcd(unsigned(area), pageWidth);
    FaxViewer->SetScaleFactors(unsigned(area) / g, pageWidth / g, unsigned(area) / g, pageWidth / g);
    FaxViewer->SetScaling(true);
  }
  FaxViewer->EndUpdate();
}

double TFaxViewer::ZoomFactor() const {
  if (!FaxViewer->Scaling()) return 1.0;
  return double(FaxViewer->HorizMult()) / FaxViewer->HorizDiv();
}

void TFaxViewer::FitWidth() {
  if (FaxViewer->FileName().empty()) return;
  ApplyFit();
  TickZoom();
}

void TFaxViewer::SetZoom(int level) {
  if (level == zoom_ || ZoomIndex(level) < 0) return;
  ApplyZoom(level);
  TickZoom();
}

void TFaxViewer::TickZoom() {
  const int i = ZoomIndex(zoom_);
  for (int k = 0; k < 4; ++k) ZoomItems[k]->setChecked(k == i);
  FitWidthItem->setChecked(zoom_ == kFitWidth);
}

// From a fitted page the steps go to the next level above or below its scale.
void TFaxViewer::ZoomIn() {
  const double now = ZoomFactor();
  for (int level : kZoomLevels)
    if (level / 100.0 > now + 1e-9 && (zoom_ == kFitWidth || level > zoom_)) return SetZoom(level);
  DoBeep();
}

void TFaxViewer::ZoomOut() {
  const double now = ZoomFactor();
  for (int i = 3; i >= 0; --i)
    if (kZoomLevels[i] / 100.0 < now - 1e-9 && (zoom_ == kFitWidth || kZoomLevels[i] < zoom_))
      return SetZoom(kZoomLevels[i]);
  DoBeep();
}

void TFaxViewer::SetRotation(int quarterTurns) {
  FaxViewer->SetRotation(quarterTurns);
  for (int k = 0; k < 4; ++k) RotationItems[k]->setChecked(k == (quarterTurns & 3));
}

// ---- status and buttons -------------------------------------------------------------------

QString TFaxViewer::StatusText() const {
  if (FaxViewer->FileName().empty()) return QStringLiteral("No file loaded");
  const QString pages = QStringLiteral("Page %1 of %2").arg(FaxViewer->CurrentPage()).arg(FaxViewer->PageCount());
  return statusPrefix_.isEmpty() ? pages : statusPrefix_ + QStringLiteral(": ") + pages;
}

void TFaxViewer::UpdateStatus() {
  StatusPanel->setText(StatusText());
}

void TFaxViewer::UpdatePageButtons() {
  const bool several = FaxViewer->PageCount() > 1;
  for (QPushButton* b : {FirstPageButton, PrevPageButton, NextPageButton, LastPageButton}) b->setVisible(several);
}

void TFaxViewer::ViewerError(int code) {
  MessageBoxText(QStringLiteral("Viewer error %1").arg(code), windowTitle().trimmed(), mbOk | mbIconError);
  if (FaxViewer->FileName().empty()) fileName_.clear();  // the viewer let the file go
  UpdateStatus();
  UpdatePageButtons();
}

// ---- export -------------------------------------------------------------------------------

void TFaxViewer::ExportPage(const QString& format) {
  if (FaxViewer->FileName().empty()) return;
  QFileDialog dialog(this);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilter(format + QStringLiteral(" File (*.") + format + QStringLiteral(")"));
  dialog.setDefaultSuffix(format);
  dialog.selectFile(QStringLiteral("*.") + format);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  const QString path = dialog.selectedFiles().first();
  // The preset "*.BMP" is a pattern, not a name: nothing to write until one is given.
  if (QFileInfo(path).fileName().contains(QLatin1Char('*')) || QFileInfo(path).fileName().contains(QLatin1Char('?')))
    return;
  ExportPageTo(format, path);
}

bool TFaxViewer::ExportPageTo(const QString& format, const QString& path) {
  fe::TFeFaxUnpacker unpacker;
  unpacker.WhitespaceCompression = FaxViewer->WhitespaceCompression();
  unpacker.WhitespaceFrom = FaxViewer->WhitespaceFrom();
  unpacker.WhitespaceTo = FaxViewer->WhitespaceTo();
  unpacker.AutoScaleMode = FaxViewer->AutoScaleMode();
  unpacker.InFileName = FaxViewer->FileName();
  unpacker.OutFileName = path.toStdString();
  const unsigned page = FaxViewer->CurrentPage();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  try {
    if (format == QLatin1String("PDF") || format == QLatin1String("TIF")) {
      unpacker.AutoScaleMode = fe::asNone;  // each page keeps its own resolution
      unpacker.WhitespaceCompression = false;
      if (format == QLatin1String("PDF"))
        unpacker.UnpackFileToPdf();
      else
        unpacker.UnpackFileToTiff();
    } else if (format == QLatin1String("BMP")) {
      unpacker.UnpackPageToBmp(page);
    } else if (format == QLatin1String("PCX")) {
      unpacker.UnpackPageToPcx(page);
    } else {
      unpacker.UnpackPageToDcx(page);
    }
  } catch (const std::exception& e) {
    QApplication::restoreOverrideCursor();
    const int code = ErrorCodeOf(e);
    MessageBoxText(QStringLiteral("Viewer error %1\r%2").arg(code).arg(QString::fromStdString(fe::ErrorText(code))),
                   windowTitle().trimmed(), mbOk | mbIconError);
    return false;
  }
  QApplication::restoreOverrideCursor();
  return true;
}

void TFaxViewer::done(int result) {
  SavePlacement(this);
  QDialog::done(result);
}

}  // namespace qn
