// The record editors: the phone book browser and editor, the fax information
// editor with its Enter-moves-on fields, and the received-fax notes dialog.
#pragma once

#include <QDialog>
#include <QLineEdit>

#include "common/change_guard.h"
#include "xbase/xb_table.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace qn {

class TRecordGrid;
class TRecordModel;

// A one-line edit in which Enter moves to the next field (the key is swallowed).
class TEnterEdit : public QLineEdit {
 public:
  using QLineEdit::QLineEdit;

 protected:
  void keyPressEvent(QKeyEvent* e) override;
};

class TPhoneBookEditor : public QDialog {
  Q_OBJECT
 public:
  explicit TPhoneBookEditor(QWidget* parent = nullptr);
  QLineEdit* Name;
  QLineEdit* Number;
  QPushButton* AcceptButton;
  QPushButton* CancelButton;
  // Escape and "Cance&l" ask before changes are dropped.
  void reject() override;

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  TChangeGuard guard_{this};
};

class TPhoneBook : public QDialog {
  Q_OBJECT
 public:
  explicit TPhoneBook(QWidget* parent = nullptr);
  ~TPhoneBook() override;
  // Opens QNPB shared; false when it cannot be opened or created.
  bool OpenTable();
  // Picking mode: "C&lose" hidden, "Cance&l" and "&Accept" shown.
  void SetPicking(bool picking);
  QString ChosenName() const { return chosenName_; }
  QString ChosenPhone() const { return chosenPhone_; }
  xb::Table& table() { return PhoneTable; }
  void UpdateButtons();

  TRecordGrid* PhoneGrid;
  QPushButton *Addbutton, *Modifybutton, *Deletebutton, *Closebutton, *Cancelbutton, *OKButton, *Helpbutton;

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  void AddbuttonClick();
  void ModifyButtonClick();
  void DeleteButtonClick();
  void AcceptbuttonClick();
  void RefreshGrid();

  xb::Table PhoneTable;
  TRecordModel* model_ = nullptr;
  QString chosenName_, chosenPhone_;
};

// The phone book in maintenance mode (only "C&lose" closes it); nothing is shown
// when the phone book cannot be opened.
void ShowPhoneBook(QWidget* parent);
// The phone book as a picker; true with the chosen name and number on "&Accept".
bool PickFromPhoneBook(QWidget* parent, QString& name, QString& phone);

class TFaxEditor : public QDialog {
  Q_OBJECT
 public:
  explicit TFaxEditor(QWidget* parent = nullptr);
  TEnterEdit *Recipient, *FaxNumber, *Subject, *Notes, *Codes;
  // "Add a C&over Sheet": shown only for a fax without a cover whose caller can
  // attach one (a document just made into a fax).
  QCheckBox* AddCover;
  QPushButton *AddressButton, *AcceptButton, *CancelButton, *HelpButton;
  // Escape, "Cance&l" and the close button ask before changes are dropped.
  void reject() override;

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  void AddressButtonClick();
  TChangeGuard guard_{this};
};

class TEditReceiveNotes : public QDialog {
  Q_OBJECT
 public:
  explicit TEditReceiveNotes(const QString& from, const QString& notes, QWidget* parent = nullptr);
  QLabel* Description;
  QLineEdit* NotesEdit;
  QPushButton *AcceptButton, *CancelButton;
};

// Edits NOTES of the current received record; true when the user accepted.
bool EditReceivedNotes(QWidget* parent, xb::Table& rec);
// Edits the five fields of the current outgoing record; true when accepted.
// With addCover the editor also offers "Add a C&over Sheet" and tells there
// whether it was checked (the caller attaches the cover).
bool EditOutgoingFax(QWidget* parent, xb::Table& fax, bool* addCover = nullptr);

}  // namespace qn
