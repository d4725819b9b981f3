#include "main_screen.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPrinter>
#include <QPushButton>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabBar>
#include <QTimer>
#include <QVBoxLayout>

#include "common/app_events.h"
#include "common/dialogs.h"
#include "common/folders.h"
#include "common/help.h"
#include "fax_printer.h"
#include "fe_fax_viewer.h"
#include "hints.h"
#include "hooks.h"
#include "records/record_tables.h"
#include "records/ui/rebuild_window.h"
#include "records/ui/record_grid.h"
#include "sessions/settings.h"

namespace qn {

MainHooks& Hooks() {
  static MainHooks hooks;
  return hooks;
}

TMainScreen::TMainScreen(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle(QStringLiteral("Quillon"));
  SetMainWindow(this);
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(2, 2, 2, 2);
  auto* bar = new QWidget(central);
  BuildButtons(bar);
  layout->addWidget(bar);
  BuildPages();
  layout->addWidget(NoteBook, 1);
  layout->addWidget(TabSet1);
  setCentralWidget(central);
  BuildMenus();
  statusBar();  // the status line
  resize(900, 560);
  setAcceptDrops(true);
  qApp->installEventFilter(this);
  FormCreate();
}

TMainScreen::~TMainScreen() {
  qApp->removeEventFilter(this);
  FaxTable.close();
  RecTable.close();
  PhoneTable.close();
  delete ReceiveLogLines;
  delete printer_;
  if (MainWindow() == this) SetMainWindow(nullptr);
}

QPrinter* TMainScreen::Printer() {
  if (!printer_) printer_ = new QPrinter(QPrinter::HighResolution);
  return printer_;
}

void TMainScreen::FormCreate() {
  FirstActivation = true;
  InReceiveMode = ReceivingNow = false;
  ListFilter = QString::fromLatin1(records::kNotArchived);
  // The tables: a failure to open the outgoing table is reported and the window
  // closes itself, but the received table is still tried, as the user sees both messages.
  const std::string folder = ProgramFolder();
  // Each table that fails is reported, then the window closes itself.
  const records::StartupResult opened =
      records::OpenTablesAtStartup(FaxTable, RecTable, folder, ListFilter.toStdString());
  if (opened != records::StartupResult::Ok) {
    if (opened != records::StartupResult::RecFailed) ShowInfo(QString::fromLatin1(kFaxTableFailed));
    if (opened != records::StartupResult::FaxFailed) ShowInfo(QString::fromLatin1(kRecTableFailed));
    QCoreApplication::postEvent(this, new QEvent(kCloseWindowEvent));
    return;
  }
  tablesOpen_ = true;
  faxModel_ = new TRecordModel(FaxTable, FaxTableColumns(), this);
  recModel_ = new TRecordModel(RecTable, RecTableColumns(), this);
  FaxGrid->SetRecordModel(faxModel_);
  RecFaxGrid->SetRecordModel(recModel_);
  connect(FaxGrid, &TRecordGrid::CurrentRecordChanged, this, &TMainScreen::FaxDataSourceDataChange);
  connect(RecFaxGrid, &TRecordGrid::CurrentRecordChanged, this, &TMainScreen::SetArchiveCaptions);
  ShowPage(true);
  ApplyListFilter();

  LoadSettings();
  settingsLoaded_ = true;
  // The pause around drawing fax pages, for the viewers and every print (also on
  // receipt), follows the setting as it was at start-up.
  fe::SetPrintPause(g_WorkingImposeWait);
  fe::SetViewerPause(g_WorkingImposeWait);
  if (Settings().ComPort == -1) {
    FirstRun = true;
    g_FirstRun = true;
    Settings().ComPort = 0;
  }
  SetApplicationHelpFile(QString::fromStdString(folder) + QStringLiteral("QN.hlp"));
  MakeDataFolders();

  mnuShowHint->setChecked(Settings().HintsOn);
  SetHintsEnabled(Settings().HintsOn);
  ReceiveLogLines = new QStringList;
  RefreshGrids();
}

void TMainScreen::ApplyListFilter() {
  // A current record that no longer passes is left for the first one that
  // does by the table itself.
  FaxTable.setFilter(ListFilter.toStdString());
  RecTable.setFilter(ListFilter.toStdString());
  RefreshGrids();
}

void TMainScreen::RefreshGrids() {
  if (!tablesOpen_) return;
  FaxGrid->Refresh();
  RecFaxGrid->Refresh();
}

bool TMainScreen::OutgoingPageShown() const { return NoteBook->currentIndex() == 0; }

void TMainScreen::ShowPage(bool outgoing) {
  const int index = outgoing ? 0 : 1;
  if (TabSet1->currentIndex() != index) {
    TabSet1->setCurrentIndex(index);  // the tab's handler shows the page and refreshes the buttons
    return;
  }
  NoteBook->setCurrentIndex(index);
  if (tablesOpen_) SetButtons();
}

bool TMainScreen::RefusedInReceiveMode() {
  if (!InReceiveMode) return false;
  MessageBoxText(QString::fromLatin1(kGuardMessage), QStringLiteral("Information"), mbOk | mbIconInformation);
  return true;
}

// ---- activation ------------------------------------------------------------------

void TMainScreen::showEvent(QShowEvent* e) {
  QMainWindow::showEvent(e);
  if (FirstActivation && !firstActivationQueued_) {
    firstActivationQueued_ = true;
    QTimer::singleShot(0, this, &TMainScreen::FormActivate);
  }
}

void TMainScreen::FormActivate() {
  if (!tablesOpen_ || closing_) return;
  if (!FirstActivation) {
    if (Hooks().ProcessExtraPDFaxFiles) Hooks().ProcessExtraPDFaxFiles(*this);
    RefreshGrids();
    SetButtons();
    return;
  }
  DoFirstActivation();
}

void TMainScreen::DoFirstActivation() {
  setVisible(true);
  QCoreApplication::processEvents();
  RestorePlacement(this);
  // Faxes the printer driver left behind become records before anything else.
  int added = 0;
  if (Hooks().ProcessExtraPDFaxFiles) added = Hooks().ProcessExtraPDFaxFiles(*this);
  const uint32_t addedRecNo = FaxTable.recNo();
  if (StartMinimized) {
    showMinimized();
  } else if (!(windowState() & Qt::WindowMinimized)) {
    raise();
    activateWindow();
  }
  QCoreApplication::processEvents();
  if (FirstRun && Hooks().RunQuickSetup && Hooks().RunQuickSetup(*this)) {
    FirstRun = false;
    g_FirstRun = false;
  }
  if (records::NeedsIndexRebuild(FaxTable, RecTable)) mnuRebuildIndexesClick();
  if (added > 0) FaxTable.go(addedRecNo);
  RefreshGrids();
  SetButtons();
  LoadGridOrders();
  connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
    if (state == Qt::ApplicationActive) FormActivate();
  });
  if (Hooks().WriteQNPDINI) Hooks().WriteQNPDINI(*this);
  if (Settings().AtStartup && Hooks().StartReceiveModeAtStartup) {
    try {
      Hooks().StartReceiveModeAtStartup(*this);
    } catch (...) {
      // A failed start of receive mode leaves the window usable.
    }
  }
  FirstActivation = false;
  // Documents named on the command line (or sent by a later copy) meanwhile.
  if (!pendingDocuments_.isEmpty()) QTimer::singleShot(0, this, [this] { FaxDocuments({}); });
  emit FirstActivationDone();
}

// ---- buttons -------------------------------------------------------------------------

bool TMainScreen::CurrentArchived() {
  const bool outgoing = OutgoingPageShown();
  TRecordGrid* grid = outgoing ? FaxGrid : RecFaxGrid;
  return grid->HasCurrent() && (outgoing ? FaxTable : RecTable).getLogical("ARCHIVED");
}

void TMainScreen::SetArchiveCaptions() {
  if (!tablesOpen_) return;
  mnuArchive->setText(CurrentArchived() ? QStringLiteral("Un&Archive") : QStringLiteral("&Archive"));
}

void TMainScreen::FaxDataSourceDataChange() {
  SetArchiveCaptions();
  if (FirstActivation) return;
  const bool enable = FaxGrid->HasCurrent() && FaxTable.getTrimString("FAXCOVER").empty();
  AddCoverButton->setEnabled(enable);
  mnuAddCover->setEnabled(enable);
}

void TMainScreen::SetButtons() {
  if (!tablesOpen_) return;
  statusBar()->clearMessage();
  const bool faxHas = FaxGrid->HasCurrent();
  const bool recHas = RecFaxGrid->HasCurrent();
  const bool outgoing = OutgoingPageShown();
  if (outgoing) {
    OrderButton->setEnabled(true);
    Newbutton->setEnabled(true);
    for (QPushButton* b : {DeleteButton, EditButton, ButtonviewPrint}) b->setEnabled(faxHas);
    // The modem belongs to receive mode while it runs: Send shows it cannot be used.
    SendButton->setEnabled(faxHas && !InReceiveMode);
    AddCoverButton->setEnabled(faxHas && FaxTable.getTrimString("FAXCOVER").empty());
    mnuArchive->setEnabled(DeleteButton->isEnabled());
    mnuClone->setEnabled(faxHas);
  } else {
    OrderButton->setEnabled(true);
    mnuClone->setEnabled(false);
    Newbutton->setEnabled(false);
    AddCoverButton->setEnabled(false);
    for (QPushButton* b : {EditButton, DeleteButton, ButtonviewPrint}) b->setEnabled(recHas);
    mnuArchive->setEnabled(DeleteButton->isEnabled());
  }
  Printbutton->setEnabled(ButtonviewPrint->isEnabled());
  mnuPrint->setEnabled(ButtonviewPrint->isEnabled());
  mnuForward->setEnabled(!outgoing && recHas);
  mnuNewCover->setEnabled(Newbutton->isEnabled());
  mnuAddCover->setEnabled(AddCoverButton->isEnabled());
  mnuViewPrint->setEnabled(ButtonviewPrint->isEnabled());
  mnuDelete->setEnabled(DeleteButton->isEnabled());
  mnuEdit->setEnabled(EditButton->isEnabled());
  mnuSend->setEnabled(SendButton->isEnabled());
  SetArchiveCaptions();

  // The lists know how many records are visible; asking the tables would be
  // another pass over each.
  faxModel_->ReloadIfChanged();
  recModel_->ReloadIfChanged();
  const bool faxEmpty = faxModel_->rowCount() == 0;
  if (faxEmpty) {
    if (FaxTable.order() != 0) FaxTable.setOrder(0);
  } else if (FaxTable.order() == 0) {
    // The first record of the new order is current before the list is read.
    FaxTable.setOrder(FaxTable.tagArea("DATESENT"));
    mnuDateSent->setChecked(true);
    FaxTable.goTop();
  }
  FaxGrid->setEnabled(faxHas);
  const bool recEmpty = recModel_->rowCount() == 0;
  if (!recEmpty && RecTable.order() == 0) {
    RecTable.setOrder(RecTable.tagArea("DATETIME"));
    mnuSortDateReceived->setChecked(true);
    RecTable.goTop();
  } else if (recEmpty && RecTable.order() != 0) {
    RecTable.setOrder(0);
  }
  RecFaxGrid->setEnabled(recHas);
  RefreshGrids();
}

// ---- events ---------------------------------------------------------------------------

bool TMainScreen::event(QEvent* e) {
  if (e->type() == kCloseWindowEvent) {
    close();
    return true;
  }
  if (e->type() == kPlaySoundEvent) {
    if (Hooks().PlayReceiveSound) Hooks().PlayReceiveSound(*this);
    return true;
  }
  return QMainWindow::event(e);
}

bool TMainScreen::eventFilter(QObject* watched, QEvent* e) {
  // The window sees keys before its controls.
  if (e->type() == QEvent::KeyPress && isActiveWindow() && watched->isWidgetType() &&
      static_cast<QWidget*>(watched)->window() == this) {
    auto* k = static_cast<QKeyEvent*>(e);
    if (k->key() == Qt::Key_Tab && k->modifiers() == Qt::ControlModifier) {
      ShowPage(!OutgoingPageShown());
      return true;
    }
    if (k->key() == Qt::Key_Z && k->modifiers() == (Qt::ControlModifier | Qt::ShiftModifier)) {
      ReceiveLogging = !ReceiveLogging;
      if (!ReceiveLogging)
        ShowInfo(QStringLiteral("Logging is now OFF"));
      else
        ShowInfo(
            QStringLiteral("Logging is now ON. Log file will be saved\rfor this fax session as QNIN.LOG. This "
                           "will\roverwrite any previous QNIN.LOG."));
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, e);
}

namespace {

// The local files of a drag, or none when it carries anything else.
QStringList DroppedFiles(const QMimeData* data) {
  QStringList files;
  if (!data || !data->hasUrls()) return files;
  for (const QUrl& url : data->urls()) {
    if (!url.isLocalFile()) return {};
    files << url.toLocalFile();
  }
  return files;
}

}  // namespace

void TMainScreen::dragEnterEvent(QDragEnterEvent* e) {
  if (tablesOpen_ && Hooks().FaxDocuments && !DroppedFiles(e->mimeData()).isEmpty()) e->acceptProposedAction();
}

void TMainScreen::dropEvent(QDropEvent* e) {
  const QStringList files = DroppedFiles(e->mimeData());
  if (files.isEmpty()) return;
  e->acceptProposedAction();
  // The drag ends first; the conversion and its windows come after.
  QTimer::singleShot(0, this, [this, files] { FaxDocuments(files); });
}

void TMainScreen::closeEvent(QCloseEvent* e) {
  if (tablesOpen_ && Hooks().CloseQueryReceive && !Hooks().CloseQueryReceive(*this)) {
    e->ignore();
    return;
  }
  closing_ = true;
  if (tablesOpen_) {
    SaveGridOrders();
    FaxTable.close();
    RecTable.close();
    tablesOpen_ = false;
  }
  // Settings and placement are written back only when they were read: a start that
  // failed at the tables must not replace the user's settings with defaults.
  if (settingsLoaded_) {
    SavePlacement(this);
    SaveSettings();
  }
  if (QWidget* help = HelpWindow()) help->close();
  e->accept();
}

}  // namespace qn
