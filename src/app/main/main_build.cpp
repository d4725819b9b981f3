// The main window's controls: button bar, tabs and pages, menus and sort menus.
#include <QActionGroup>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabBar>
#include <QVBoxLayout>

#include "common/dialogs.h"
#include "common/help.h"
#include "main_screen.h"
#include "records/ui/record_grid.h"

namespace qn {
namespace {

QPushButton* AddButton(QWidget* bar, QHBoxLayout* row, const char* name, const QString& caption, const QString& hint) {
  auto* b = new QPushButton(caption, bar);
  b->setObjectName(QLatin1String(name));
  b->setToolTip(hint);
  b->setAutoDefault(false);
  b->setFocusPolicy(Qt::TabFocus);
  // Buttons share the bar's width: on an 800-pixel screen they narrow down to
  // their captions instead of pushing the last ones off the window.
  b->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  b->setMinimumWidth(b->fontMetrics().horizontalAdvance(QString(caption).remove(QLatin1Char('&'))) + 12);
  row->addWidget(b);
  return b;
}

QWidget* MakePage(QWidget* parent, const QString& band, const QColor& colour, TRecordGrid* grid) {
  auto* page = new QWidget(parent);
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  auto* label = new QLabel(band, page);
  label->setAutoFillBackground(true);
  QPalette p = label->palette();
  p.setColor(QPalette::Window, colour);
  p.setColor(QPalette::WindowText, Qt::white);
  label->setPalette(p);
  QFont f = label->font();
  f.setBold(true);
  f.setPointSizeF(f.pointSizeF() * 1.3);
  label->setFont(f);
  label->setContentsMargins(6, 3, 6, 3);
  layout->addWidget(label);
  layout->addWidget(grid, 1);
  return page;
}

}  // namespace

void TMainScreen::BuildButtons(QWidget* bar) {
  auto* row = new QHBoxLayout(bar);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(3);
  Newbutton = AddButton(bar, row, "Newbutton", QStringLiteral("&New"),
                        QStringLiteral("Create a new stand-alone fax cover sheet for\ra quick one page fax message"));
  FaxDocumentButton =
      AddButton(bar, row, "FaxDocumentButton", QStringLiteral("Fax Docu&ment"),
                QStringLiteral("Make a document (PDF, PostScript, TIFF, text or image file)\rinto an outgoing fax. "
                               "You can also drop files on this window."));
  AddCoverButton = AddButton(bar, row, "AddCoverButton", QStringLiteral("Add C&over"),
                             QStringLiteral("Add a fax cover sheet to the existing fax"));
  AddCoverButton->setEnabled(false);
  EditButton = AddButton(
      bar, row, "EditButton", QStringLiteral("&Edit"),
      QStringLiteral("Edit the currently selected fax [CTRL+E]\r\rOutgoing faxes: If the fax has a cover sheet, the "
                     "cover sheet \reditor will be used, otherwise the fax \rinformation editor will be used.)\r\r"
                     "Incoming faxes: You be able to edit your notes about the fax."));
  DeleteButton = AddButton(
      bar, row, "DeleteButton", QStringLiteral("&Delete"),
      QStringLiteral("Delete  the currently selected fax [CTRL+D]\r(If the fax has both a cover sheet and a fax\rbody, "
                     "you will be given the option to delete\ronly the cover sheet or only the body of the\rfax.)"));
  Printbutton = AddButton(bar, row, "Printbutton", QStringLiteral("&Print"), QStringLiteral("Print the selected fax"));
  Printbutton->setDefault(true);
  OrderButton = AddButton(bar, row, "OrderButton", QStringLiteral("Sor&t"),
                          QStringLiteral("Change the sort order of the faxes"));
  ButtonviewPrint = AddButton(bar, row, "ButtonviewPrint", QStringLiteral("&View"),
                              QStringLiteral("View or print the current fax [CTRL+V]"));
  SendButton = AddButton(bar, row, "SendButton", QStringLiteral("&Send"),
                         QStringLiteral("Send the currently selected fax [CTRL+S]"));
  ReceiveButton = AddButton(bar, row, "ReceiveButton", QStringLiteral("&Receive"),
                            QStringLiteral("Go into Fax Receive mode [CTRL+R]"));
  Exitbutton = AddButton(bar, row, "Exitbutton", QStringLiteral("E&xit"), QStringLiteral("Exit the program [CTRL+X]"));
  row->addStretch();
  BitBtn1 = AddButton(bar, row, "BitBtn1", QStringLiteral("Preferen&ces"), QStringLiteral("Load the Preferences screen"));
  ProblemSolverButton = AddButton(
      bar, row, "ProblemSolverButton", QStringLiteral("Pro&blem Solver"),
      QStringLiteral("Click here to bring up the Fax Problem Solver for:\r -Error message solving\r -Technical FAQ\r "
                     "-General Fax Troubleshooting"));
  connect(Newbutton, &QPushButton::clicked, this, &TMainScreen::NewbuttonClick);
  connect(FaxDocumentButton, &QPushButton::clicked, this, &TMainScreen::FaxDocumentClick);
  connect(AddCoverButton, &QPushButton::clicked, this, &TMainScreen::AddCoverButtonClick);
  connect(EditButton, &QPushButton::clicked, this, &TMainScreen::EditButtonClick);
  connect(DeleteButton, &QPushButton::clicked, this, &TMainScreen::DeleteButtonClick);
  connect(Printbutton, &QPushButton::clicked, this, &TMainScreen::PrintbuttonClick);
  connect(OrderButton, &QPushButton::clicked, this, &TMainScreen::OrderButtonClick);
  connect(ButtonviewPrint, &QPushButton::clicked, this, &TMainScreen::mnuViewPrintClick);
  connect(SendButton, &QPushButton::clicked, this, &TMainScreen::SendButtonClick);
  connect(ReceiveButton, &QPushButton::clicked, this, &TMainScreen::ReceiveButtonClick);
  connect(Exitbutton, &QPushButton::clicked, this, &QWidget::close);
  connect(BitBtn1, &QPushButton::clicked, this, &TMainScreen::mnuPreferencesClick);
  connect(ProblemSolverButton, &QPushButton::clicked, this, &TMainScreen::ProblemSolverButtonClick);
}

void TMainScreen::BuildPages() {
  FaxGrid = new TRecordGrid(this);
  FaxGrid->setObjectName(QStringLiteral("FaxGrid"));
  RecFaxGrid = new TRecordGrid(this);
  RecFaxGrid->setObjectName(QStringLiteral("RecFaxGrid"));
  NoteBook = new QStackedWidget(this);
  NoteBook->addWidget(MakePage(NoteBook, QStringLiteral("Outgoing Faxes"), QColor(0, 0, 160), FaxGrid));
  NoteBook->addWidget(MakePage(NoteBook, QStringLiteral("Incoming Faxes"), QColor(0, 128, 0), RecFaxGrid));
  TabSet1 = new QTabBar(this);
  TabSet1->setObjectName(QStringLiteral("TabSet1"));
  TabSet1->setShape(QTabBar::RoundedSouth);
  TabSet1->addTab(QStringLiteral("Out&going Faxes"));
  TabSet1->addTab(QStringLiteral("&Incoming Faxes"));
  TabSet1->setFocusPolicy(Qt::NoFocus);
  connect(TabSet1, &QTabBar::currentChanged, this, [this](int index) {
    NoteBook->setCurrentIndex(index);
    SetButtons();
  });
  // Choosing a row (double click or Enter) edits an outgoing fax ...
  connect(FaxGrid, &TRecordGrid::RecordChosen, this, [this] {
    if (EditButton->isEnabled()) EditButton->click();
  });
  // ... and views a received one, which has nothing to edit but its notes.
  connect(RecFaxGrid, &TRecordGrid::RecordChosen, this, [this] {
    if (RecFaxGrid->HasCurrent()) mnuViewPrintClick();
  });
}

void TMainScreen::BuildMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  auto add = [this](QMenu* menu, const QString& caption, const QString& hint, QKeySequence key, auto handler) {
    QAction* a = menu->addAction(caption);
    if (!hint.isEmpty()) a->setStatusTip(hint);
    if (!key.isEmpty()) {
      a->setShortcut(key);
      a->setShortcutContext(Qt::WindowShortcut);
    }
    connect(a, &QAction::triggered, this, handler);
    return a;
  };
  const QKeySequence none;
  mnuNewCover = add(file, QStringLiteral("&New Cover Sheet"), {}, QKeySequence(Qt::CTRL | Qt::Key_N),
                    &TMainScreen::NewbuttonClick);
  mnuFaxDocument = add(file, QStringLiteral("Fax a Docu&ment..."),
                       QStringLiteral("Make a document into an outgoing fax"), none, &TMainScreen::FaxDocumentClick);
  mnuAddCover = add(file, QStringLiteral("Add C&over Sheet"), {}, QKeySequence(Qt::CTRL | Qt::Key_O),
                    &TMainScreen::AddCoverButtonClick);
  mnuEdit = add(file, QStringLiteral("&Edit"), QStringLiteral("Edit the currently selected fax"),
                QKeySequence(Qt::CTRL | Qt::Key_E), [this] { EditButton->click(); });
  mnuClone = add(file, QStringLiteral("&Clone"), QStringLiteral("Clone the currently selected fax"),
                 QKeySequence(Qt::CTRL | Qt::Key_C), &TMainScreen::mnuCloneClick);
  mnuDelete = add(file, QStringLiteral("&Delete"), QStringLiteral("Delete the currently selected fax"),
                  QKeySequence(Qt::CTRL | Qt::Key_D), [this] { DeleteButton->click(); });
  mnuArchive = add(file, QStringLiteral("&Archive"), {}, QKeySequence(Qt::CTRL | Qt::Key_A), &TMainScreen::mnuArchiveClick);
  mnuForward = add(file, QStringLiteral("For&ward Received Fax"), {}, none, &TMainScreen::mnuForwardClick);
  mnuPrint = add(file, QStringLiteral("Pr&int"), {}, none, &TMainScreen::PrintbuttonClick);
  mnuPrintSetup = add(file, QStringLiteral("Print Set&up"), {}, none, &TMainScreen::PrintSetup1Click);
  mnuShowArchives = add(file, QStringLiteral("S&how Archived Faxes"), {}, none, &TMainScreen::mnuShowArchivesClick);
  mnuShowArchives->setCheckable(true);
  mnuCleanup = add(file, QStringLiteral("Fax &Log Cleanup "), {}, none, &TMainScreen::FaxLogFileCleanup1Click);
  mnuSend = add(file, QStringLiteral("&Send Fax"), QStringLiteral("Send the currently selected fax"),
                QKeySequence(Qt::CTRL | Qt::Key_S), [this] { SendButton->click(); });
  mnuReceive = add(file, QStringLiteral("&Receive Faxes"), {}, QKeySequence(Qt::CTRL | Qt::Key_R),
                   &TMainScreen::ReceiveButtonClick);
  mnuViewPrint = add(file, QStringLiteral("&View/Print Fax"),
                     QStringLiteral("See a preview of and optionally  print the fax"), QKeySequence(Qt::CTRL | Qt::Key_V),
                     &TMainScreen::mnuViewPrintClick);
  mnuPhoneBook = add(file, QStringLiteral("&Phone Book"), QStringLiteral("Create or modify phone book entries"), none,
                     &TMainScreen::mnuPhoneBookClick);
  mnuDesigner = add(file, QStringLiteral("Cover Sheet &Template Designer"), {}, none,
                    &TMainScreen::CovreSheetTemplateEditor1Click);
  mnuRebuildIndexes = add(file, QStringLiteral("Re&build Indexes"), QStringLiteral("Do this every 2 weeks "), none,
                          &TMainScreen::mnuRebuildIndexesClick);
  mnuPreferences = add(file, QStringLiteral("Pre&ferences"), QStringLiteral("Set Quillon preferences"), none,
                       &TMainScreen::mnuPreferencesClick);
  file->addSeparator();
  mnuExit = add(file, QStringLiteral("E&xit"), QStringLiteral("Exit Quillon"), QKeySequence(Qt::CTRL | Qt::Key_X),
                [this] { close(); });

  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  mnuStartHere = add(help, QStringLiteral("&Quick Start Instructions!"), {}, none, &TMainScreen::StartHere1Click);
  mnuQuickAnalysis = add(help, QStringLiteral("Quick Co&nfiguration Analysis"), {}, none,
                         &TMainScreen::QuickConfigurationAnalysis1Click);
  mnuProblemSolver = add(help, QStringLiteral("&Problem Solver"), {}, none, &TMainScreen::ProblemSolverButtonClick);
  mnuConfigInfo = add(help, QStringLiteral("Configuration &Information"), {}, none,
                      &TMainScreen::ConfigurationInformation1Click);
  mnuContents = add(help, QStringLiteral("Help &Contents"), QStringLiteral("Open the Quillon help file"), none,
                    [] { ShowHelpTopic(kHelpContentsTopic); });
  SetHelpTopic(this, kHelpContentsTopic);
  mnuAbout = add(help, QStringLiteral("&About Quillon"), QStringLiteral("Information about Quillon"), none,
                 &TMainScreen::About1Click);
  mnuFaq = add(help, QStringLiteral("&Frequently Asked Questions (FAQ)"), {}, none, [] { ShowHelpTopic(911); });
  mnuSupport = add(help, QStringLiteral("&Technical Support"), {}, none, [] { ShowHelpTopic(1025); });
  mnuOnLine = add(help, QStringLiteral("&Visit Our Internet Website"), {}, none, &TMainScreen::mnuOnLineClick);
  mnuShowHint = add(help, QStringLiteral("&Show Hints"), {}, none, &TMainScreen::mnuShowHintClick);
  mnuShowHint->setCheckable(true);
  mnuShowHint->setChecked(true);

  FaxSortMenu = new QMenu(this);
  auto* faxGroup = new QActionGroup(this);
  mnuDateSent = add(FaxSortMenu, QStringLiteral("&Date Sent"), {}, none, &TMainScreen::mnuDateSentClick);
  mnuSubject = add(FaxSortMenu, QStringLiteral("&Subject"), {}, none, &TMainScreen::mnuSubjectClick);
  mnuRecipient = add(FaxSortMenu, QStringLiteral("&Recipient"), {}, none, &TMainScreen::mnuRecipientClick);
  for (QAction* a : {mnuDateSent, mnuSubject, mnuRecipient}) {
    a->setCheckable(true);
    faxGroup->addAction(a);
  }
  mnuDateSent->setChecked(true);
  RecSortMenu = new QMenu(this);
  auto* recGroup = new QActionGroup(this);
  mnuSortDateReceived = add(RecSortMenu, QStringLiteral("&Date Received"), {}, none, &TMainScreen::mnuSortDateReceivedClick);
  mnuSortFrom = add(RecSortMenu, QStringLiteral("&From"), {}, none, &TMainScreen::mnuSortFromClick);
  for (QAction* a : {mnuSortDateReceived, mnuSortFrom}) {
    a->setCheckable(true);
    recGroup->addAction(a);
  }
  mnuSortDateReceived->setChecked(true);
}

}  // namespace qn
