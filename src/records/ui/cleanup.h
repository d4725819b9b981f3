// The fax log clean-up utility: bulk deletion of faxes (records marked, files
// removed) over the main window's two fax tables, with its date and conditions
// dialogs.
#pragma once

#include <QDate>
#include <QDialog>

#include "xbase/xb_table.h"

class QCalendarWidget;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QRadioButton;
class QTabWidget;
class QAction;

namespace qn {

class TRecordGrid;
class TRecordModel;

class TDateSelector : public QDialog {
  Q_OBJECT
 public:
  explicit TDateSelector(QWidget* parent = nullptr);
  QDate Date() const;
  void SetDate(const QDate& d);
  QCalendarWidget* Calendar;
  QLabel* DatePanel;

 private:
  void UpdatePanel();
};

class TDeleteForConditions : public QDialog {
  Q_OBJECT
 public:
  // outgoing: the page shown; the current fax's values prefill the fields.
  TDeleteForConditions(bool outgoing, const QString& from, const QString& recipient, const QString& phone,
                       QWidget* parent = nullptr);
  // The xBase condition for the chosen field (empty when none can be built).
  QString Condition() const;
  QRadioButton *rFrom, *rRecipient, *rPhone;
  QLineEdit *FaxFROM, *FaxRECIPIENT, *FaxPHONE;
  QCheckBox* ExactMatch;

 private:
  void OkClick();
  QLineEdit* ChosenField() const;
};

// Builds the match condition: exact ALLTRIM(UPPER(X))=="V", else "V"$ALLTRIM(UPPER(X)),
// with V upper-cased and trimmed. The quote is one that V does not contain; empty
// when V holds both kinds of quote (it could not be written safely).
QString MatchCondition(const QString& field, const QString& value, bool exact);

class TDMForm : public QDialog {
  Q_OBJECT
 public:
  TDMForm(xb::Table& fax, xb::Table& rec, QWidget* parent = nullptr);
  void SetFullMode(bool full) { fullMode_ = full; }
  bool SomethingDeleted() const { return somethingDeleted_; }

  // Marks every record of the current page's table for which the condition holds
  // (and that is not marked yet), removing its files; shows and returns the count.
  // A condition that cannot be evaluated on some record deletes nothing and is
  // reported (-1); a record the table refuses to mark keeps its files, ends the
  // run and is reported, and the count shown is of what was deleted.
  int DeleteWhere(const QString& condition);
  bool OutgoingPageShown() const;
  void ShowPage(bool outgoing);

  QTabWidget* Pages;
  TRecordGrid *SendGrid, *RecGrid;
  QMenuBar* Menu;
  QMenu* mnuActions;
  QAction *aDeleteCurrent, *aBeforeDate, *aArchived, *aSent, *aNotSent, *aConditions, *aAll;

 protected:
  void showEvent(QShowEvent* e) override;
  void done(int r) override;

 private:
  void FirstActivation();
  void UpdateStates();
  xb::Table& CurrentTable();
  TRecordGrid* CurrentGrid();
  // Marks the current record, then removes its files; false (files kept) when
  // the table refused the mark.
  bool DeleteRecordAndFiles(xb::Table& t, bool outgoing);
  void mnuToggleDeletedStateClick();
  void DeleteBeforeDate();
  void Bulk(const QString& question, const QString& caption, const QString& condition);
  void DeleteForConditions();

  xb::Table& fax_;
  xb::Table& rec_;
  TRecordModel *sendModel_ = nullptr, *recModel_ = nullptr;
  QMenu* popup_ = nullptr;
  std::string savedFaxFilter_, savedRecFilter_;
  bool fullMode_ = false;
  bool activated_ = false;
  bool somethingDeleted_ = false;
};

}  // namespace qn
