#include "cleanup.h"

#include <QApplication>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "common/dialogs.h"
#include "common/help.h"
#include "fax_actions.h"
#include "record_grid.h"

namespace qn {
namespace {

// Only the space character counts as a blank.
QString TrimBlanks(const QString& s) {
  qsizetype b = 0, e = s.size();
  while (b < e && s[b] == QLatin1Char(' ')) ++b;
  while (e > b && s[e - 1] == QLatin1Char(' ')) --e;
  return s.mid(b, e - b);
}

const QString kDelete = QStringLiteral("DELETE");
const QString kActionPermanent = QStringLiteral(" (action is permanent)");

std::vector<ColumnSpec> Pick(const std::vector<ColumnSpec>& all, std::initializer_list<const char*> names) {
  std::vector<ColumnSpec> out;
  for (const char* n : names)
    for (ColumnSpec c : all)
      if (c.field == QLatin1String(n)) {
        c.hidden = false;
        if (c.kind == ColumnKind::IsDeleted) c.label = QStringLiteral("Deleted?");
        if (c.kind == ColumnKind::IsArchived) c.label = QStringLiteral("Archived?");
        if (c.label.isEmpty()) c.label = c.field;
        out.push_back(c);
      }
  return out;
}

}  // namespace

// ---- date dialog -----------------------------------------------------------------

TDateSelector::TDateSelector(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Select Date"));
  Calendar = new QCalendarWidget(this);
  Calendar->setFirstDayOfWeek(Qt::Sunday);
  Calendar->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
  DatePanel = new QLabel(this);
  DatePanel->setFrameShape(QFrame::Panel);
  DatePanel->setFrameShadow(QFrame::Sunken);
  DatePanel->setAlignment(Qt::AlignCenter);
  struct Nav {
    const char* caption;
    const char* hint;
    int months;
    int years;
  };
  const Nav navs[] = {{"&Year-", "Show the previous year", 0, -1},
                      {"M&onth-", "Show the previous month", -1, 0},
                      {"&Today", "Show today's date", 0, 0},
                      {"Mo&nth +", "Show the next month", 1, 0},
                      {"Y&ear+", "Show the next year", 0, 1}};
  auto* navRow = new QHBoxLayout;
  for (const Nav& n : navs) {
    auto* b = new QPushButton(QLatin1String(n.caption), this);
    b->setToolTip(QLatin1String(n.hint));
    b->setAutoDefault(false);
    const int months = n.months, years = n.years;
    connect(b, &QPushButton::clicked, this, [this, months, years] {
      SetDate(months == 0 && years == 0 ? QDate::currentDate() : Date().addMonths(months).addYears(years));
    });
    navRow->addWidget(b);
  }
  auto* ok = new QPushButton(QStringLiteral("Ok"), this);
  ok->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(Calendar, &QCalendarWidget::selectionChanged, this, &TDateSelector::UpdatePanel);
  connect(Calendar, &QCalendarWidget::currentPageChanged, this, &TDateSelector::UpdatePanel);
  connect(Calendar, &QCalendarWidget::activated, this, &QDialog::accept);  // double click
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(DatePanel);
  layout->addWidget(Calendar);
  layout->addLayout(navRow);
  layout->addLayout(buttons);
  SetDate(QDate::currentDate());
}

QDate TDateSelector::Date() const { return Calendar->selectedDate(); }

void TDateSelector::SetDate(const QDate& d) {
  Calendar->setSelectedDate(d);
  Calendar->setCurrentPage(d.year(), d.month());
  UpdatePanel();
}

void TDateSelector::UpdatePanel() { DatePanel->setText(QLocale::c().toString(Date(), QStringLiteral("dddd, MMMM d, yyyy"))); }

// ---- conditions dialog -------------------------------------------------------------

QString MatchCondition(const QString& field, const QString& value, bool exact) {
  const QString v = TrimBlanks(value.toUpper());
  QChar q = QLatin1Char('"');
  if (v.contains(q)) q = QLatin1Char('\'');
  if (v.contains(q)) return {};
  const QString target = QStringLiteral("ALLTRIM(UPPER(") + field + QStringLiteral("))");
  const QString quoted = q + v + q;
  return exact ? target + QStringLiteral("==") + quoted : quoted + QStringLiteral("$") + target;
}

TDeleteForConditions::TDeleteForConditions(bool outgoing, const QString& from, const QString& recipient,
                                           const QString& phone, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(QStringLiteral("Delete Faxes Where...."));
  rFrom = new QRadioButton(QStringLiteral("Fax is FROM:"), this);
  rRecipient = new QRadioButton(QStringLiteral("RECIPIENT is:"), this);
  rPhone = new QRadioButton(QStringLiteral("FAX # is:"), this);
  FaxFROM = new QLineEdit(this);
  FaxFROM->setToolTip(QStringLiteral("For received faxes, who was the fax from"));
  FaxRECIPIENT = new QLineEdit(this);
  FaxRECIPIENT->setToolTip(QStringLiteral("For SENT faxes, who is the fax to"));
  FaxPHONE = new QLineEdit(this);
  FaxPHONE->setToolTip(QStringLiteral("For SENT faxes, what fax number is the fax to"));
  ExactMatch = new QCheckBox(QStringLiteral("Text must &match exactly"), this);
  ExactMatch->setChecked(true);
  auto* note = new QLabel(QStringLiteral("(uncheck to allow  partial matches)"), this);
  auto* grid = new QGridLayout;
  grid->addWidget(rFrom, 0, 0);
  grid->addWidget(FaxFROM, 0, 1);
  grid->addWidget(rRecipient, 1, 0);
  grid->addWidget(FaxRECIPIENT, 1, 1);
  grid->addWidget(rPhone, 2, 0);
  grid->addWidget(FaxPHONE, 2, 1);
  grid->addWidget(ExactMatch, 3, 0, 1, 2);
  grid->addWidget(note, 4, 0, 1, 2);
  auto* ok = new QPushButton(QStringLiteral("Ok"), this);
  ok->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  connect(ok, &QPushButton::clicked, this, &TDeleteForConditions::OkClick);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addLayout(buttons);
  if (outgoing) {
    rFrom->setEnabled(false);
    FaxFROM->setEnabled(false);
    rRecipient->setChecked(true);
    FaxRECIPIENT->setText(recipient);
    FaxPHONE->setText(phone);
  } else {
    for (QWidget* w : std::initializer_list<QWidget*>{rRecipient, rPhone, FaxRECIPIENT, FaxPHONE}) w->setEnabled(false);
    rFrom->setChecked(true);
    FaxFROM->setText(TrimBlanks(from));
  }
}

QLineEdit* TDeleteForConditions::ChosenField() const {
  if (rFrom->isChecked()) return FaxFROM;
  if (rRecipient->isChecked()) return FaxRECIPIENT;
  return FaxPHONE;
}

QString TDeleteForConditions::Condition() const {
  const char* field = rFrom->isChecked() ? "FROM" : rRecipient->isChecked() ? "RECIPIENT" : "PHONE";
  return MatchCondition(QLatin1String(field), ChosenField()->text(), ExactMatch->isChecked());
}

void TDeleteForConditions::OkClick() {
  if (TrimBlanks(ChosenField()->text()).isEmpty() || Condition().isEmpty()) {
    ShowInfo(QStringLiteral("Please enter a value"));
    return;
  }
  if (AskYesNo(QStringLiteral("Are you sure you wish to delete all faxes matching this criteria?"),
               QStringLiteral("VERIFY DELETE")))
    accept();
}

// ---- the utility window ------------------------------------------------------------------

TDMForm::TDMForm(xb::Table& fax, xb::Table& rec, QWidget* parent) : QDialog(parent), fax_(fax), rec_(rec) {
  setWindowTitle(QStringLiteral("Fax Log Cleanup Utility"));
  Menu = new QMenuBar(this);
  mnuActions = Menu->addMenu(QStringLiteral("&Actions"));
  aDeleteCurrent = mnuActions->addAction(QStringLiteral("Delete &Current Fax"));
  aDeleteCurrent->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_X));
  mnuActions->addSeparator();
  aBeforeDate = mnuActions->addAction(QStringLiteral("Delete All &Before A Particular Date"));
  aArchived = mnuActions->addAction(QStringLiteral("Delete All &Archived Faxes"));
  aSent = mnuActions->addAction(QStringLiteral("Delete All that Have Been &Sent"));
  aNotSent = mnuActions->addAction(QStringLiteral("Delete All That Have &NOT Been Sent"));
  aConditions = mnuActions->addAction(QStringLiteral("Delete All Faxes &Meeting Certain Conditions..."));
  mnuActions->addSeparator();
  aAll = mnuActions->addAction(QStringLiteral("Delete A&ll Faxes"));
  popup_ = new QMenu(this);
  popup_->addAction(QStringLiteral("Delete"), this, &TDMForm::mnuToggleDeletedStateClick);

  auto kind = [this] { return OutgoingPageShown() ? QStringLiteral("outgoing") : QStringLiteral("received"); };
  connect(aDeleteCurrent, &QAction::triggered, this, &TDMForm::mnuToggleDeletedStateClick);
  connect(aBeforeDate, &QAction::triggered, this, &TDMForm::DeleteBeforeDate);
  connect(aArchived, &QAction::triggered, this, [this, kind] {
    Bulk(QStringLiteral("Delete all archived ") + kind() + QStringLiteral(" faxes?") + kActionPermanent, kDelete,
         QStringLiteral("ARCHIVED"));
  });
  connect(aSent, &QAction::triggered, this, [this] {
    Bulk(QStringLiteral("Delete all outgoing faxes which have been sent?") + kActionPermanent, kDelete,
         QStringLiteral(".not. EMPTY(DATESENT)"));
  });
  connect(aNotSent, &QAction::triggered, this, [this] {
    Bulk(QStringLiteral("Delete all outgoing faxes which have NOT been sent?") + kActionPermanent, kDelete,
         QStringLiteral("EMPTY(DATESENT)"));
  });
  connect(aConditions, &QAction::triggered, this, &TDMForm::DeleteForConditions);
  connect(aAll, &QAction::triggered, this, [this, kind] {
    Bulk(QStringLiteral("Delete all ") + kind() + QStringLiteral(" faxes ?") + kActionPermanent,
         QStringLiteral("DELETE ALL"), QStringLiteral(".true."));
  });

  Pages = new QTabWidget(this);
  SendGrid = new TRecordGrid(this);
  SendGrid->setObjectName(QStringLiteral("SendGrid"));
  RecGrid = new TRecordGrid(this);
  RecGrid->setObjectName(QStringLiteral("RecGrid"));
  for (TRecordGrid* g : {SendGrid, RecGrid}) {
    QPalette p = g->palette();
    p.setColor(QPalette::Base, QColor(0xFF, 0xFF, 0xE1));  // tool-tip yellow
    g->setPalette(p);
    g->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(g, &QWidget::customContextMenuRequested, this, [this, g](const QPoint& pos) {
      if (g->isEnabled()) popup_->popup(g->viewport()->mapToGlobal(pos));
    });
    connect(g, &QAbstractItemView::doubleClicked, this, [this, g](const QModelIndex& index) {
      if (index.isValid() && g->recordModel()->columns()[index.column()].kind == ColumnKind::IsDeleted)
        mnuToggleDeletedStateClick();
    });
  }
  Pages->addTab(SendGrid, QStringLiteral("Outgoing Faxes"));
  Pages->addTab(RecGrid, QStringLiteral("Incoming Faxes"));
  connect(Pages, &QTabWidget::currentChanged, this, [this] { UpdateStates(); });

  auto* help = new QPushButton(QStringLiteral("&Help"), this);
  auto* close = new QPushButton(QStringLiteral("Close"), this);
  help->setAutoDefault(false);
  SetHelpTopic(this, 21071);
  connect(help, &QPushButton::clicked, this, [this] { ShowHelpFor(this); });
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(help);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->setMenuBar(Menu);
  layout->addWidget(Pages);
  layout->addLayout(buttons);
  resize(760, 440);
}

bool TDMForm::OutgoingPageShown() const { return Pages->currentIndex() == 0; }
void TDMForm::ShowPage(bool outgoing) { Pages->setCurrentIndex(outgoing ? 0 : 1); }
xb::Table& TDMForm::CurrentTable() { return OutgoingPageShown() ? fax_ : rec_; }
TRecordGrid* TDMForm::CurrentGrid() { return OutgoingPageShown() ? SendGrid : RecGrid; }

void TDMForm::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (!activated_) FirstActivation();
}

void TDMForm::FirstActivation() {
  activated_ = true;
  savedFaxFilter_ = fax_.filter();
  savedRecFilter_ = rec_.filter();
  fax_.setFilter("");
  rec_.setFilter("");
  ShowPage(true);
  if (fullMode_) {
    sendModel_ = new TRecordModel(fax_, Pick(FaxTableColumns(), {"ISDELETED", "ISARCHIVED", "DATESENT", "TIMESENT",
                                                                 "RECIPIENT", "SUBJECT", "PHONE", "LASTRESULT",
                                                                 "calcFaxFile", "CODES", "NOTES"}),
                                  this);
  } else {
    sendModel_ = new TRecordModel(
        fax_, Pick(FaxTableColumns(), {"ISDELETED", "DATESENT", "TIMESENT", "RECIPIENT", "SUBJECT", "PHONE", "LASTRESULT"}),
        this);
  }
  const auto recCols = fullMode_ ? Pick(RecTableColumns(), {"ISDELETED", "ISARCHIVED", "DATEREC", "TIMEREC", "FROM",
                                                            "PAGES", "FAXFILE", "NOTES"})
                                 : Pick(RecTableColumns(), {"ISDELETED", "DATEREC", "TIMEREC", "FROM", "PAGES",
                                                            "FAXFILE", "NOTES"});
  recModel_ = new TRecordModel(rec_, recCols, this);
  SendGrid->SetRecordModel(sendModel_);
  RecGrid->SetRecordModel(recModel_);
  SendGrid->Refresh();
  RecGrid->Refresh();
  aArchived->setVisible(fullMode_);
  UpdateStates();
}

void TDMForm::UpdateStates() {
  const bool outgoing = OutgoingPageShown();
  aSent->setVisible(outgoing);
  aNotSent->setVisible(outgoing);
  const bool faxAny = fax_.isOpen() && fax_.countVisible() > 0;
  const bool recAny = rec_.isOpen() && rec_.countVisible() > 0;
  SendGrid->setEnabled(faxAny);
  RecGrid->setEnabled(recAny);
  Pages->setTabText(0, faxAny ? QStringLiteral("&Outgoing Faxes") : QStringLiteral("&OutGoing Faxes (none)"));
  Pages->setTabText(1, recAny ? QStringLiteral("&Incoming Faxes") : QStringLiteral("&Incoming Faxes (none)"));
  mnuActions->setEnabled(CurrentGrid()->isEnabled());
  for (QAction* a : mnuActions->actions()) a->setEnabled(CurrentGrid()->isEnabled());
}

bool TDMForm::DeleteRecordAndFiles(xb::Table& t, bool outgoing) {
  const std::string file = t.getTrimString(outgoing ? "FAXDOC" : "FAXFILE");
  const std::string cover = outgoing ? t.getTrimString("FAXCOVER") : std::string();
  if (t.deleteRecord() != 0) return false;
  somethingDeleted_ = true;
  if (!outgoing) {
    DeleteReceivedFile(file);
  } else if (fullMode_) {
    DeleteOutgoingBody(file);
    DeleteOutgoingCover(cover);
  }
  return true;
}

void TDMForm::mnuToggleDeletedStateClick() {
  xb::Table& t = CurrentTable();
  if (!CurrentGrid()->HasCurrent()) {
    Beep();
    return;
  }
  if (!AskYesNo(QStringLiteral("Delete this fax?") + kActionPermanent, kDelete)) return;
  const uint32_t recno = t.recNo();
  t.skip(1);
  const uint32_t next = t.recNo();
  t.go(recno);
  if (!DeleteRecordAndFiles(t, OutgoingPageShown())) {
    ShowRecordError(QStringLiteral("The fax could not be deleted; its files were kept."), t.lastError());
  } else if (next != t.recCount() + 1) {
    t.go(next);
  } else {
    t.goBottom();
  }
  CurrentGrid()->Refresh();
  UpdateStates();
}

int TDMForm::DeleteWhere(const QString& condition) {
  xb::Table& t = CurrentTable();
  TRecordGrid* grid = CurrentGrid();
  const bool outgoing = OutgoingPageShown();
  const uint32_t remembered = t.recNo();
  const int order = t.order();
  t.setOrder(0);
  xb::setDeleted(false);
  grid->setUpdatesEnabled(false);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const std::string cond = ToField(condition);
  // The condition is tried on every record before anything is deleted, so that
  // one it cannot be evaluated on leaves the table as it was.
  std::vector<uint32_t> matches;
  bool evaluated = true;
  for (t.goTop(); !t.eof(); t.skip(1)) {
    bool match = false;
    if (t.evalLogical(cond, match) != 0) {
      evaluated = false;
      break;
    }
    if (match && !t.isDeleted()) matches.push_back(t.recNo());
  }
  const std::string evalError = evaluated ? std::string() : t.lastError();
  int count = 0;
  bool refused = false;
  for (const uint32_t r : evaluated ? matches : std::vector<uint32_t>{}) {
    if (t.go(r) != 0 || !DeleteRecordAndFiles(t, outgoing)) {
      refused = true;
      break;
    }
    ++count;
  }
  const std::string refusal = refused ? t.lastError() : std::string();
  xb::setDeleted(true);
  grid->setUpdatesEnabled(true);
  t.setOrder(order);
  if (t.go(remembered) != 0 || t.isDeleted()) t.goTop();
  grid->Refresh();
  grid->setFocus();
  QApplication::restoreOverrideCursor();
  if (!evaluated) {
    ShowRecordError(QStringLiteral("Nothing was deleted: the condition could not be checked."), evalError);
    UpdateStates();
    return -1;
  }
  if (refused) ShowRecordError(QStringLiteral("A fax could not be deleted; its files were kept."), refusal);
  ShowInfo(QString::number(count) + QStringLiteral(" deleted."));
  UpdateStates();
  return count;
}

void TDMForm::Bulk(const QString& question, const QString& caption, const QString& condition) {
  if (AskYesNo(question, caption)) DeleteWhere(condition);
}

void TDMForm::DeleteBeforeDate() {
  TDateSelector selector(this);
  selector.setWindowTitle(QStringLiteral("Delete all before..."));
  CentreForm(&selector);
  if (selector.exec() != QDialog::Accepted) return;
  const QDate d = selector.Date();
  const bool outgoing = OutgoingPageShown();
  const QString kind = outgoing ? QStringLiteral("outgoing") : QStringLiteral("received");
  const QString f = outgoing ? QStringLiteral("DATESENT") : QStringLiteral("DATEREC");
  // Compared as "CCYYMMDD" text: a date written with a two-digit year would be
  // read back in the sliding century window (1970 as 2070).
  const QString condition = QStringLiteral("(DTOS(") + f + QStringLiteral(")<\"") +
                            d.toString(QStringLiteral("yyyyMMdd")) + QStringLiteral("\") .and. (.not. EMPTY(") + f +
                            QStringLiteral("))");
  Bulk(QStringLiteral("Delete all ") + kind + QStringLiteral(" faxes prior to ") +
           QLocale().toString(d, QLocale::LongFormat) + kActionPermanent + QStringLiteral("?"),
       kDelete, condition);
}

void TDMForm::DeleteForConditions() {
  const bool outgoing = OutgoingPageShown();
  xb::Table& t = CurrentTable();
  const bool has = CurrentGrid()->HasCurrent();
  TDeleteForConditions dialog(outgoing, has && !outgoing ? FromField(t.getTrimString("FROM")) : QString(),
                              has && outgoing ? FromField(t.getTrimString("RECIPIENT")) : QString(),
                              has && outgoing ? FromField(t.getTrimString("PHONE")) : QString(), this);
  CentreForm(&dialog);
  if (dialog.exec() != QDialog::Accepted) return;
  const QString condition = dialog.Condition();
  if (!condition.trimmed().isEmpty()) DeleteWhere(condition);
}

void TDMForm::done(int r) {
  if (activated_) {
    fax_.setFilter(savedFaxFilter_);
    rec_.setFilter(savedRecFilter_);
  }
  QDialog::done(r);
}

}  // namespace qn
