// Quick faxes: the Fax Cover Sheet Editor (TCreateEditQuickFax), its template
// chooser (TPreviewQuickFaxForms), the sender information dialog, and
// EditAddQuickFax, which opens the editor for a new fax or for the current
// outgoing record, renders the cover sheet and stores the record.
//
// Conventions callers rely on:
//  - EditAddQuickFax works on the current record of the outgoing table it is
//    given and leaves the saved record current. It returns true when a record
//    was added or changed; on Cancel nothing changes.
//  - The cover is rendered before the record is touched: when rendering fails
//    the user sees why and the record and its files stay as they were.
//  - Cover files live in the SEND folder with their ".FCD" beside them; an
//    edited cover keeps its file name and is replaced whole.
#pragma once

#include <QDialog>
#include <QString>
#include <array>

#include "common/change_guard.h"
#include "xbase/xb_table.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace faxprep {

class TCreateEditQuickFax : public QDialog {
  Q_OBJECT
 public:
  explicit TCreateEditQuickFax(QWidget* parent = nullptr);

  QLineEdit *Recipient, *RecipientFax, *Regarding, *Notes, *Codes;
  QPlainTextEdit* FaxMessage;
  QCheckBox *cUrgent, *cForReview, *cPleaseComment, *cPleaseReply, *cPleaseRecycle;
  QLabel* CurrentQFileLabel;
  QPushButton *AddressButton, *HelpButton, *OkButton, *CancelButton, *ExplorerButton1, *ChangeSenderInfoButton;

  // The chosen flat template: a file name in the Covers folder.
  QString TemplateName() const { return template_; }
  void SetTemplateName(const QString& name);
  std::array<bool, 5> Flags() const;
  void SetFlags(const std::array<bool, 5>& flags);
  QStringList MessageLines() const;
  void SetMessageLines(const QStringList& lines);
  // The hint of "&Change Sender Info": the sender settings, one per line.
  void UpdateSenderHint();

  // Escape, "Cance&l" and the close button ask before changes are dropped.
  void reject() override;

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  void AddressButtonClick();
  void ExplorerButton1Click();
  void ChangeSenderInfoButtonClick();
  void OkButtonClick();

  QString template_;
  qn::TChangeGuard guard_{this};
};

class TPreviewQuickFaxForms : public QDialog {
  Q_OBJECT
 public:
  explicit TPreviewQuickFaxForms(const QString& current, QWidget* parent = nullptr);
  QListWidget* FileList;
  QLabel *Preview, *Description;
  QPushButton *OkButton, *CancelButton, *HelpButton;
  QString Chosen() const { return chosen_; }

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  void SelectionChanged();
  void OkButtonClick();
  QString current_, chosen_;
};

class TSenderInfo : public QDialog {
  Q_OBJECT
 public:
  explicit TSenderInfo(QWidget* parent = nullptr);
  QLineEdit *SenderName, *Company, *Fax, *Voice;
  QPushButton *AcceptButton, *CancelButton;
};

// Shows the sender dialog with the User settings; on Accept stores and saves them.
bool EditSenderInfo(QWidget* parent);

// Opens the editor (newFax: for a new record; else for the current record,
// reading its ".FCD" when it has a cover). True when a record was saved.
bool EditAddQuickFax(QWidget* parent, xb::Table& fax, bool newFax);

// Gives the current outgoing record, which has no cover yet, the cover a new
// quick fax starts with: the default template filled from the record's
// recipient, number and subject, no flags and no message, with its ".FCD"
// (so "&Edit" opens it in the editor later). True when the record names it.
bool AttachDefaultCover(xb::Table& fax);

}  // namespace faxprep
