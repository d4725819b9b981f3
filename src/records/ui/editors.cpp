#include "editors.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "common/folders.h"
#include "common/dialogs.h"
#include "common/field_input.h"
#include "common/help.h"
#include "record_grid.h"
#include "records/record_tables.h"

namespace qn {
namespace {

QPushButton* MakeButton(QWidget* parent, const QString& caption, const QString& hint) {
  auto* b = new QPushButton(caption, parent);
  b->setToolTip(DisplayText(hint));
  b->setAutoDefault(false);
  return b;
}

TEnterEdit* AddField(QWidget* parent, QFormLayout* form, const QString& label, const char* name, int maxLength,
                     const QString& hint) {
  auto* e = new TEnterEdit(parent);
  e->setObjectName(QLatin1String(name));
  e->setMaxLength(maxLength);
  LimitToFieldBytes(e, maxLength);
  e->setToolTip(DisplayText(hint));
  form->addRow(label, e);
  return e;
}


}  // namespace

void TEnterEdit::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
    focusNextChild();
    e->accept();
    return;
  }
  QLineEdit::keyPressEvent(e);
}

// ---- phone book editor -------------------------------------------------------

TPhoneBookEditor::TPhoneBookEditor(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Phone Book Editor"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  auto* form = new QFormLayout;
  Name = new QLineEdit(this);
  Name->setObjectName(QStringLiteral("Name"));
  Name->setMaxLength(35);
  LimitToFieldBytes(Name, 35);
  Name->setToolTip(QStringLiteral("Type the recipient's name here"));
  Number = new QLineEdit(this);
  Number->setObjectName(QStringLiteral("Number"));
  Number->setToolTip(QStringLiteral("Type the fax number here"));
  MakeFaxNumberField(Number, 25);
  form->addRow(QStringLiteral("&Name"), Name);
  form->addRow(QStringLiteral("&Fax Number"), Number);
  AcceptButton = MakeButton(this, QStringLiteral("&Accept"), QStringLiteral("Accept changes made and exit"));
  AcceptButton->setDefault(true);
  CancelButton = MakeButton(this, QStringLiteral("Cance&l"), QStringLiteral("Cancel changes made and exit"));
  auto* help = MakeButton(this, QStringLiteral("&Help"), QStringLiteral("Get help for Phone Book Editor"));
  connect(AcceptButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  SetHelpTopic(this, 1020);
  connect(help, &QPushButton::clicked, this, [this] { ShowHelpFor(this); });
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(AcceptButton);
  buttons->addWidget(CancelButton);
  buttons->addWidget(help);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addLayout(buttons);
  setMinimumWidth(380);
}

void TPhoneBookEditor::reject() {
  if (guard_.MayClose()) QDialog::reject();
}

void TPhoneBookEditor::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (!e->spontaneous()) guard_.Take();
}

// ---- phone book browser ------------------------------------------------------

TPhoneBook::TPhoneBook(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Phone Book Browser"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowMaximizeButtonHint);
  PhoneGrid = new TRecordGrid(this);
  PhoneGrid->setObjectName(QStringLiteral("PhoneGrid"));
  Addbutton = MakeButton(this, QStringLiteral("&New"), QStringLiteral("Create a new phone book entry"));
  Modifybutton =
      MakeButton(this, QStringLiteral("&Edit"), QStringLiteral("Edit the currently selected phone book entry"));
  Deletebutton =
      MakeButton(this, QStringLiteral("&Delete"), QStringLiteral("Delete the currently selected phone book entry"));
  Closebutton = MakeButton(this, QStringLiteral("C&lose"), QStringLiteral("Close the Phone Book Browser"));
  Cancelbutton = MakeButton(this, QStringLiteral("Cance&l"),
                            QStringLiteral("Cancel - do not use any of these phone book entries"));
  OKButton = MakeButton(this, QStringLiteral("&Accept"), QStringLiteral("Use this phone book entry"));
  OKButton->setDefault(true);
  Helpbutton = MakeButton(this, QStringLiteral("&Help"), QStringLiteral("Get help for Phonebook Browser"));
  connect(Addbutton, &QPushButton::clicked, this, &TPhoneBook::AddbuttonClick);
  connect(Modifybutton, &QPushButton::clicked, this, &TPhoneBook::ModifyButtonClick);
  connect(Deletebutton, &QPushButton::clicked, this, &TPhoneBook::DeleteButtonClick);
  connect(Closebutton, &QPushButton::clicked, this, &QDialog::reject);
  connect(Cancelbutton, &QPushButton::clicked, this, &QDialog::reject);
  connect(OKButton, &QPushButton::clicked, this, &TPhoneBook::AcceptbuttonClick);
  SetHelpTopic(this, 1019);
  connect(Helpbutton, &QPushButton::clicked, this, [this] { ShowHelpFor(this); });
  auto* buttons = new QVBoxLayout;
  for (QPushButton* b : {Addbutton, Modifybutton, Deletebutton, OKButton, Cancelbutton, Closebutton, Helpbutton})
    buttons->addWidget(b);
  buttons->addStretch();
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(PhoneGrid, 1);
  layout->addLayout(buttons);
  SetPicking(false);
  resize(560, 360);
}

TPhoneBook::~TPhoneBook() { PhoneTable.close(); }

bool TPhoneBook::OpenTable() {
  if (!records::OpenPhoneDBF(PhoneTable, ProgramFolder(), false)) return false;
  model_ = new TRecordModel(PhoneTable, PhoneTableColumns(), this);
  PhoneGrid->SetRecordModel(model_);
  PhoneGrid->SyncToTable();
  return true;
}

void TPhoneBook::SetPicking(bool picking) {
  Closebutton->setVisible(!picking);
  Cancelbutton->setVisible(picking);
  OKButton->setVisible(picking);
}

void TPhoneBook::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  UpdateButtons();
}

void TPhoneBook::UpdateButtons() {
  QCoreApplication::processEvents();
  const bool any = PhoneTable.isOpen() && PhoneTable.countVisible() > 0;
  Modifybutton->setEnabled(any);
  Deletebutton->setEnabled(any);
  OKButton->setEnabled(any);
}

void TPhoneBook::RefreshGrid() {
  PhoneGrid->Refresh();
  QCoreApplication::processEvents();
  UpdateButtons();
}

void TPhoneBook::AddbuttonClick() {
  TPhoneBookEditor editor(this);
  CentreForm(&editor);
  if (editor.exec() == QDialog::Accepted && PhoneTable.appendBlank() == 0) {
    PhoneTable.setString("NAME", ToField(editor.Name->text()));
    PhoneTable.setString("PHONE", ToField(editor.Number->text()));
    PhoneTable.post();
  }
  RefreshGrid();
}

void TPhoneBook::ModifyButtonClick() {
  if (!PhoneGrid->HasCurrent()) {
    Beep();
    return;
  }
  TPhoneBookEditor editor(this);
  editor.Name->setText(FromField(PhoneTable.getTrimString("NAME")));
  editor.Number->setText(FromField(PhoneTable.getTrimString("PHONE")));
  CentreForm(&editor);
  if (editor.exec() == QDialog::Accepted) {
    PhoneTable.setString("NAME", ToField(editor.Name->text()));
    PhoneTable.setString("PHONE", ToField(editor.Number->text()));
    PhoneTable.post();
  }
  RefreshGrid();
}

void TPhoneBook::DeleteButtonClick() {
  if (!PhoneGrid->HasCurrent()) {
    Beep();
    return;
  }
  const QString text = QStringLiteral("Delete the current phone book entry?:\r") + FromField(PhoneTable.getTrimString("NAME"));
  if (AskYesNoDefaultNo(text, QStringLiteral("Delete"))) {
    PhoneTable.deleteRecord();
    PhoneTable.skip(1);
    if (PhoneTable.eof()) PhoneTable.goBottom();
  }
  RefreshGrid();
}

void TPhoneBook::AcceptbuttonClick() {
  if (!PhoneGrid->HasCurrent()) return;
  chosenName_ = FromField(PhoneTable.getTrimString("NAME"));
  chosenPhone_ = FromField(PhoneTable.getTrimString("PHONE"));
  accept();
}

void ShowPhoneBook(QWidget* parent) {
  TPhoneBook book(parent);
  if (!book.OpenTable()) return;
  CentreForm(&book);
  book.exec();
}

bool PickFromPhoneBook(QWidget* parent, QString& name, QString& phone) {
  TPhoneBook book(parent);
  if (!book.OpenTable()) return false;
  CentreForm(&book);
  book.SetPicking(true);
  if (book.exec() != QDialog::Accepted) return false;
  name = book.ChosenName();
  phone = book.ChosenPhone();
  return true;
}

// ---- fax information editor ----------------------------------------------------

TFaxEditor::TFaxEditor(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Fax Information Editor"));
  auto* form = new QFormLayout;
  Recipient = AddField(this, form, QStringLiteral("&Recipient"), "Recipient", 35, QStringLiteral("Enter recipient name here"));
  FaxNumber = AddField(this, form, QStringLiteral("Recipient &Fax#"), "FaxNumber", 25,
                       QStringLiteral("Enter recipient fax number here"));
  MakeFaxNumberField(FaxNumber, 25);
  Subject = AddField(this, form, QStringLiteral("Re&garding"), "Subject", 50,
                     QStringLiteral("Enter subject (topic) of fax here"));
  Notes = AddField(this, form, QStringLiteral("&Notes"), "Notes", 50,
                   QStringLiteral("Enter notes you want to remember about this\rfax here (they will not be part of the "
                                  "fax - they\rare for your own reference)"));
  Codes = AddField(this, form, QStringLiteral("Co&des"), "Codes", 25,
                   QStringLiteral("Enter codes you want to assign to this\rfax here (they will not be part of the fax "
                                  "- they\rare for your own reference)"));
  AddCover = new QCheckBox(QStringLiteral("Add a C&over Sheet"), this);
  AddCover->setObjectName(QStringLiteral("AddCover"));
  AddCover->setToolTip(QStringLiteral("Send the default cover sheet, filled in from these\rfields, before the fax"));
  AddCover->setVisible(false);
  form->addRow(QString(), AddCover);
  AddressButton = MakeButton(this, QStringLiteral("&Phonebook"), QStringLiteral("Click here to access the Phone Book"));
  AcceptButton = MakeButton(this, QStringLiteral("&Accept"), QStringLiteral("Ok - save changes to this fax"));
  CancelButton = MakeButton(this, QStringLiteral("Cance&l"), QStringLiteral("Cancel - do not save changes to this fax"));
  HelpButton = MakeButton(this, QStringLiteral("&Help"), QStringLiteral("Get help for Fax Editor"));
  connect(AddressButton, &QPushButton::clicked, this, &TFaxEditor::AddressButtonClick);
  connect(AcceptButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  SetHelpTopic(this, 1015);
  connect(HelpButton, &QPushButton::clicked, this, [this] { ShowHelpFor(this); });
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(AddressButton);
  buttons->addStretch();
  buttons->addWidget(AcceptButton);
  buttons->addWidget(CancelButton);
  buttons->addWidget(HelpButton);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addLayout(buttons);
  setMinimumWidth(460);
  CentreForm(this);
}

void TFaxEditor::reject() {
  if (guard_.MayClose()) QDialog::reject();
}

void TFaxEditor::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (!e->spontaneous()) guard_.Take();
}

void TFaxEditor::AddressButtonClick() {
  QString name, phone;
  if (PickFromPhoneBook(this, name, phone)) {
    Recipient->setText(name);
    FaxNumber->setText(phone);
  }
}

bool EditOutgoingFax(QWidget* parent, xb::Table& fax, bool* addCover) {
  const uint32_t recno = fax.recNo();
  TFaxEditor editor(parent);
  if (addCover) {
    editor.AddCover->setVisible(true);
    editor.AddCover->setChecked(*addCover);
    *addCover = false;
  }
  editor.Recipient->setText(FromField(fax.getTrimString("RECIPIENT")));
  editor.FaxNumber->setText(FromField(fax.getTrimString("PHONE")));
  editor.Subject->setText(FromField(fax.getTrimString("SUBJECT")));
  editor.Notes->setText(FromField(fax.getTrimString("NOTES")));
  editor.Codes->setText(FromField(fax.getTrimString("CODES")));
  if (editor.exec() != QDialog::Accepted) return false;
  if (fax.go(recno) != 0) return false;
  fax.setString("RECIPIENT", ToField(editor.Recipient->text()));
  fax.setString("PHONE", ToField(editor.FaxNumber->text()));
  fax.setString("SUBJECT", ToField(editor.Subject->text()));
  fax.setString("NOTES", ToField(editor.Notes->text()));
  fax.setString("CODES", ToField(editor.Codes->text()));
  if (fax.post() != 0) return false;
  if (addCover) *addCover = editor.AddCover->isChecked();
  return true;
}

// ---- received fax notes --------------------------------------------------------

TEditReceiveNotes::TEditReceiveNotes(const QString& from, const QString& notes, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Received Fax Notes"));
  Description = new QLabel(QStringLiteral("From: ") + from, this);
  NotesEdit = new QLineEdit(notes, this);
  NotesEdit->setObjectName(QStringLiteral("Notes"));
  NotesEdit->setMaxLength(60);
  LimitToFieldBytes(NotesEdit, 60);
  AcceptButton = MakeButton(this, QStringLiteral("&Accept"), {});
  AcceptButton->setDefault(true);
  CancelButton = MakeButton(this, QStringLiteral("Cance&l"), {});
  connect(AcceptButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("&Notes"), NotesEdit);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(AcceptButton);
  buttons->addWidget(CancelButton);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Description);
  layout->addLayout(form);
  layout->addLayout(buttons);
  setMinimumWidth(460);
  CentreForm(this);
}

bool EditReceivedNotes(QWidget* parent, xb::Table& rec) {
  const uint32_t recno = rec.recNo();
  TEditReceiveNotes dialog(FromField(rec.getTrimString("FROM")), FromField(rec.getTrimString("NOTES")), parent);
  if (dialog.exec() != QDialog::Accepted) return false;
  if (rec.go(recno) != 0) return false;
  rec.setString("NOTES", ToField(dialog.NotesEdit->text()));
  return rec.post() == 0;
}

}  // namespace qn
