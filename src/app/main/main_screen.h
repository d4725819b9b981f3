// The main window: the two fax lists on two tabs, the button bar, the menu, the
// status line; it owns the three record tables and the receive-mode flags.
#pragma once

#include <QMainWindow>
#include <QStringList>

#include "xbase/xb_table.h"

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QPrinter;
class QPushButton;
class QStackedWidget;
class QTabBar;

namespace qn {

class TRecordGrid;
class TRecordModel;

inline constexpr const char* kGuardMessage =
    "You are in Fax Receive mode. This operation cannot be done\rwhile in Fax Receive mode. Click the Stop button "
    "to end\rFax Receive mode";

inline constexpr const char* kFaxTableFailed = "Unable to open/create the FAX datafile - closing program";
inline constexpr const char* kRecTableFailed = "Unable to open/create the FAX RECEIVE datafile - closing program";

class TMainScreen : public QMainWindow {
  Q_OBJECT
 public:
  explicit TMainScreen(QWidget* parent = nullptr);
  ~TMainScreen() override;

  // ---- state other subsystems read and set ----
  bool FirstActivation = true;
  // Set before the window is shown: the first activation leaves it minimised
  // (quillon --minimized, as the desktop autostart entry starts it).
  bool StartMinimized = false;
  bool InReceiveMode = false;
  bool ReceivingNow = false;
  bool ReceiveLogging = false;
  QStringList* ReceiveLogLines = nullptr;
  bool FirstRun = false;
  QString ListFilter = QStringLiteral(".not. archived");
  bool TablesOpen() const { return tablesOpen_; }

  xb::Table FaxTable, RecTable, PhoneTable;
  TRecordGrid *FaxGrid, *RecFaxGrid;
  QTabBar* TabSet1;
  QStackedWidget* NoteBook;
  QPushButton *Newbutton, *FaxDocumentButton, *AddCoverButton, *EditButton, *DeleteButton, *Printbutton, *OrderButton, *ButtonviewPrint,
      *SendButton, *ReceiveButton, *Exitbutton, *BitBtn1, *ProblemSolverButton;
  QAction *mnuNewCover, *mnuFaxDocument, *mnuAddCover, *mnuEdit, *mnuClone, *mnuDelete, *mnuArchive, *mnuForward, *mnuPrint,
      *mnuPrintSetup, *mnuShowArchives, *mnuCleanup, *mnuSend, *mnuReceive, *mnuViewPrint, *mnuPhoneBook, *mnuDesigner,
      *mnuRebuildIndexes, *mnuPreferences, *mnuExit, *mnuStartHere, *mnuQuickAnalysis, *mnuProblemSolver,
      *mnuConfigInfo, *mnuContents, *mnuAbout, *mnuFaq, *mnuSupport, *mnuOnLine, *mnuShowHint;
  QMenu *FaxSortMenu, *RecSortMenu;
  QAction *mnuDateSent, *mnuSubject, *mnuRecipient, *mnuSortDateReceived, *mnuSortFrom;

  bool OutgoingPageShown() const;
  void ShowPage(bool outgoing);  // exactly as a click on the tab
  // Shows the guard message and returns true while receive mode runs.
  bool RefusedInReceiveMode();
  void SetButtons();
  void SetArchiveCaptions();
  void FaxTableCloseAndOpen();
  void ApplyListFilter();
  void SaveGridOrders();
  void LoadGridOrders();

  // ---- commands ----
  void NewbuttonClick();
  void FaxDocumentClick();
  // Makes each file an outgoing fax (converter, progress, Fax Information
  // Editor). Files that come before the first activation has run, or while a
  // batch runs, wait and follow.
  void FaxDocuments(const QStringList& files);
  void AddCoverButtonClick();
  void EditButtonClick();
  void DeleteButtonClick();
  void DeleteFromSend();
  void DeleteFromRec();
  void PrintbuttonClick();
  void OrderButtonClick();
  void mnuViewPrintClick();
  void SendButtonClick();
  void ReceiveButtonClick();
  void mnuPreferencesClick();
  void ProblemSolverButtonClick();
  void mnuCloneClick();
  // Clones the current outgoing fax (files and record) without asking.
  void CloneCurrentFax();
  void mnuArchiveClick();
  void mnuForwardClick();
  void PrintSetup1Click();
  void mnuShowArchivesClick();
  void FaxLogFileCleanup1Click();
  void mnuPhoneBookClick();
  void CovreSheetTemplateEditor1Click();
  void mnuRebuildIndexesClick();
  void StartHere1Click();
  void QuickConfigurationAnalysis1Click();
  void ConfigurationInformation1Click();
  void About1Click();
  void mnuOnLineClick();
  void mnuShowHintClick();
  void mnuDateSentClick();
  void mnuSubjectClick();
  void mnuRecipientClick();
  void mnuSortDateReceivedClick();
  void mnuSortFromClick();

  QPrinter* Printer();
  // Picks up faxes printed into the SEND folder now and shows them, as on
  // activation (nothing happens before the first activation has run).
  void PickUpPrintedFaxes() { FormActivate(); }

 signals:
  // The first activation has run all its steps.
  void FirstActivationDone();

 protected:
  bool event(QEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  // Files dropped on the window are faxed.
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dropEvent(QDropEvent* e) override;

 private:
  void FormCreate();
  void BuildButtons(QWidget* bar);
  void BuildMenus();
  void BuildPages();
  void FormActivate();
  void DoFirstActivation();
  void FaxDataSourceDataChange();
  void SetFaxOrder(const char* tag, QAction* item);
  void SetRecOrder(const char* tag, QAction* item);
  void RefreshGrids();
  bool CurrentArchived();

  TRecordModel *faxModel_ = nullptr, *recModel_ = nullptr;
  QPrinter* printer_ = nullptr;
  bool tablesOpen_ = false;
  bool settingsLoaded_ = false;
  bool firstActivationQueued_ = false;
  bool closing_ = false;
  QStringList pendingDocuments_;
  bool documentsRunning_ = false;
};

}  // namespace qn
