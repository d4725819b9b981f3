#include "quick_fax.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "common/dialogs.h"
#include "common/field_input.h"
#include "common/folders.h"
#include "common/help.h"
#include "covers/cover_render.h"
#include "covers/cover_template.h"
#include "fe_exceptions.h"
#include "prep_files.h"
#include "records/ui/editors.h"
#include "records/ui/record_grid.h"
#include "sessions/settings.h"

namespace faxprep {

namespace {

constexpr int kEditorHelpTopic = 1029;
constexpr int kChooserHelpTopic = 1030;

QString Text(const std::string& bytes) {
  return covers::DecodeText(bytes);
}
std::string Bytes(const QString& s) {
  return s.toStdString();
}

QLineEdit* Edit(QWidget* parent, int maxLength) {
  auto* e = new QLineEdit(parent);
  e->setMaxLength(maxLength);
  qn::NoteWhenFull(e, maxLength);
  return e;
}

QLabel* Label(const QString& text, QWidget* buddy, QWidget* parent) {
  auto* l = new QLabel(text, parent);
  l->setBuddy(buddy);
  return l;
}

// The Covers folder's flat templates, sorted without regard to case.
QStringList TemplateFiles() {
  QDir dir(QString::fromStdString(qn::ResolvePath(qn::CoversFolder())));
  QStringList out;
  for (const QString& name : dir.entryList(QDir::Files))
    if (name.endsWith(QLatin1String(".fct"), Qt::CaseInsensitive)) out << name;
  out.sort(Qt::CaseInsensitive);
  return out;
}

// A row of buttons at the right of a dialog's foot.
QHBoxLayout* ButtonRow(std::initializer_list<QPushButton*> buttons) {
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  for (QPushButton* b : buttons) row->addWidget(b);
  return row;
}

QString CoversPath(const QString& name) {
  return QString::fromStdString(qn::ResolvePath(qn::CoversFolder() + name.toStdString()));
}

}  // namespace

// ---- the editor ------------------------------------------------------------------

TCreateEditQuickFax::TCreateEditQuickFax(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Fax Cover Sheet Editor"));
  auto* grid = new QGridLayout;
  Recipient = Edit(this, 35);
  RecipientFax = new QLineEdit(this);
  qn::MakeFaxNumberField(RecipientFax, 25);
  Regarding = Edit(this, 50);
  Notes = Edit(this, 50);
  Codes = Edit(this, 25);
  AddressButton = new QPushButton(QStringLiteral("&Phonebook"), this);
  grid->addWidget(Label(QStringLiteral("&Recipient"), Recipient, this), 0, 0);
  grid->addWidget(Recipient, 0, 1);
  grid->addWidget(AddressButton, 0, 2);
  grid->addWidget(Label(QStringLiteral("Recipient &Fax Number"), RecipientFax, this), 1, 0);
  grid->addWidget(RecipientFax, 1, 1);
  grid->addWidget(Label(QStringLiteral("Re&garding"), Regarding, this), 2, 0);
  grid->addWidget(Regarding, 2, 1, 1, 2);
  grid->addWidget(Label(QStringLiteral("&Notes"), Notes, this), 3, 0);
  grid->addWidget(Notes, 3, 1, 1, 2);
  grid->addWidget(Label(QStringLiteral("Co&des"), Codes, this), 4, 0);
  grid->addWidget(Codes, 4, 1);

  auto* flagsBox = new QGroupBox(QStringLiteral("Importance Flags"), this);
  auto* flagsLayout = new QHBoxLayout(flagsBox);
  cUrgent = new QCheckBox(QStringLiteral("&Urgent"), flagsBox);
  cForReview = new QCheckBox(QStringLiteral("For Re&view"), flagsBox);
  cPleaseComment = new QCheckBox(QStringLiteral("Please C&omment"), flagsBox);
  cPleaseReply = new QCheckBox(QStringLiteral("Please Repl&y"), flagsBox);
  cPleaseRecycle = new QCheckBox(QStringLiteral("Please Recycl&e"), flagsBox);
  for (QCheckBox* c : {cUrgent, cForReview, cPleaseComment, cPleaseReply, cPleaseRecycle}) flagsLayout->addWidget(c);

  FaxMessage = new QPlainTextEdit(this);
  FaxMessage->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  FaxMessage->setTabChangesFocus(true);
  FaxMessage->setMinimumHeight(160);

  auto* templateRow = new QHBoxLayout;
  auto* usingLabel = new QLabel(QStringLiteral("Using Fax Cover Template:"), this);
  CurrentQFileLabel = new QLabel(this);
  CurrentQFileLabel->setTextFormat(Qt::PlainText);
  ExplorerButton1 = new QPushButton(QStringLiteral("Select Fax Cover &Template"), this);
  ChangeSenderInfoButton = new QPushButton(QStringLiteral("&Change Sender Info"), this);
  templateRow->addWidget(usingLabel);
  templateRow->addWidget(CurrentQFileLabel, 1);
  templateRow->addWidget(ExplorerButton1);
  templateRow->addWidget(ChangeSenderInfoButton);

  OkButton = new QPushButton(QStringLiteral("&Save"), this);
  OkButton->setDefault(true);
  CancelButton = new QPushButton(QStringLiteral("Cance&l"), this);
  HelpButton = new QPushButton(QStringLiteral("&Help"), this);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(flagsBox);
  layout->addWidget(Label(QStringLiteral("&Message"), FaxMessage, this));
  layout->addWidget(FaxMessage, 1);
  layout->addLayout(templateRow);
  layout->addLayout(ButtonRow({OkButton, CancelButton, HelpButton}));

  setTabOrder(Recipient, AddressButton);
  setTabOrder(AddressButton, RecipientFax);
  setTabOrder(RecipientFax, Regarding);
  setTabOrder(Regarding, Notes);
  setTabOrder(Notes, Codes);
  setTabOrder(Codes, cUrgent);
  setTabOrder(cUrgent, cForReview);
  setTabOrder(cForReview, cPleaseComment);
  setTabOrder(cPleaseComment, cPleaseReply);
  setTabOrder(cPleaseReply, cPleaseRecycle);
  setTabOrder(cPleaseRecycle, FaxMessage);
  setTabOrder(FaxMessage, ExplorerButton1);
  setTabOrder(ExplorerButton1, ChangeSenderInfoButton);
  setTabOrder(ChangeSenderInfoButton, OkButton);
  setTabOrder(OkButton, CancelButton);
  setTabOrder(CancelButton, HelpButton);

  connect(AddressButton, &QPushButton::clicked, this, &TCreateEditQuickFax::AddressButtonClick);
  connect(ExplorerButton1, &QPushButton::clicked, this, &TCreateEditQuickFax::ExplorerButton1Click);
  connect(ChangeSenderInfoButton, &QPushButton::clicked, this, &TCreateEditQuickFax::ChangeSenderInfoButtonClick);
  connect(OkButton, &QPushButton::clicked, this, &TCreateEditQuickFax::OkButtonClick);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  qn::SetHelpTopic(this, kEditorHelpTopic);
  connect(HelpButton, &QPushButton::clicked, this, [this] { qn::ShowHelpFor(this); });
  SetTemplateName(QString::fromLatin1(kDefaultTemplate));
  guard_.SetExtra([this] { return QStringList{template_}; });
  resize(640, 560);
}

void TCreateEditQuickFax::reject() {
  if (guard_.MayClose()) QDialog::reject();
}

void TCreateEditQuickFax::SetTemplateName(const QString& name) {
  template_ = name;
  CurrentQFileLabel->setText(name);
}

std::array<bool, 5> TCreateEditQuickFax::Flags() const {
  return {cUrgent->isChecked(), cForReview->isChecked(), cPleaseComment->isChecked(), cPleaseReply->isChecked(),
          cPleaseRecycle->isChecked()};
}

void TCreateEditQuickFax::SetFlags(const std::array<bool, 5>& flags) {
  QCheckBox* boxes[] = {cUrgent, cForReview, cPleaseComment, cPleaseReply, cPleaseRecycle};
  for (std::size_t i = 0; i < flags.size(); ++i) boxes[i]->setChecked(flags[i]);
}

QStringList TCreateEditQuickFax::MessageLines() const {
  const QString text = FaxMessage->toPlainText();
  if (text.isEmpty()) return {};
  return text.split(QLatin1Char('\n'));
}

void TCreateEditQuickFax::SetMessageLines(const QStringList& lines) {
  FaxMessage->setPlainText(lines.join('\n'));
}

void TCreateEditQuickFax::UpdateSenderHint() {
  const qn::FaxSettings& s = qn::Settings();
  QString hint;
  if (s.Name.empty() && s.Company.empty() && s.Fax.empty() && s.Voice.empty())
    hint = QStringLiteral("No sender information entered");
  else
    hint = QStringList{Text(s.Name), Text(s.Company), Text(s.Fax), Text(s.Voice)}.join(QLatin1Char('\n'));
  ChangeSenderInfoButton->setToolTip(hint);
}

void TCreateEditQuickFax::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  UpdateSenderHint();
  CurrentQFileLabel->setText(template_);
  if (!e->spontaneous()) guard_.Take();
}

void TCreateEditQuickFax::AddressButtonClick() {
  QString name, phone;
  if (!qn::PickFromPhoneBook(this, name, phone)) return;
  Recipient->setText(name);
  RecipientFax->setText(phone);
}

void TCreateEditQuickFax::ExplorerButton1Click() {
  TPreviewQuickFaxForms chooser(template_, this);
  if (chooser.exec() == QDialog::Accepted && !chooser.Chosen().isEmpty()) SetTemplateName(chooser.Chosen());
}

void TCreateEditQuickFax::ChangeSenderInfoButtonClick() {
  if (EditSenderInfo(this)) UpdateSenderHint();
}

void TCreateEditQuickFax::OkButtonClick() {
  if (Recipient->text().isEmpty()) {
    qn::ShowInfo(QStringLiteral("Please enter a recipient"));
    Recipient->setFocus();
    return;
  }
  if (RecipientFax->text().isEmpty()) {
    qn::ShowInfo(QStringLiteral("Please enter a recipient fax number"));
    RecipientFax->setFocus();
    return;
  }
  if (Regarding->text().isEmpty() && MessageLines().isEmpty()) {
    qn::ShowInfo(QStringLiteral("Please enter text for the \"regarding\" field\rand/or enter a message"));
    Regarding->setFocus();
    return;
  }
  accept();
}

// ---- the template chooser ---------------------------------------------------------

TPreviewQuickFaxForms::TPreviewQuickFaxForms(const QString& current, QWidget* parent)
    : QDialog(parent), current_(current) {
  setWindowTitle(QStringLiteral("Select  Fax Cover Template"));
  FileList = new QListWidget(this);
  FileList->addItems(TemplateFiles());
  FileList->setMinimumWidth(160);
  Preview = new QLabel(this);
  Preview->setFixedSize(306, 396);
  Preview->setAlignment(Qt::AlignCenter);
  Preview->setFrameShape(QFrame::Box);
  Description = new QLabel(this);
  Description->setTextFormat(Qt::PlainText);
  OkButton = new QPushButton(QStringLiteral("Ok"), this);
  OkButton->setDefault(true);
  CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
  HelpButton = new QPushButton(QStringLiteral("&Help"), this);

  auto* top = new QHBoxLayout;
  top->addWidget(FileList);
  top->addWidget(Preview);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top, 1);
  layout->addWidget(Description);
  layout->addLayout(ButtonRow({OkButton, CancelButton, HelpButton}));

  connect(FileList, &QListWidget::currentRowChanged, this, &TPreviewQuickFaxForms::SelectionChanged);
  connect(FileList, &QListWidget::itemDoubleClicked, this, &TPreviewQuickFaxForms::OkButtonClick);
  connect(OkButton, &QPushButton::clicked, this, &TPreviewQuickFaxForms::OkButtonClick);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  qn::SetHelpTopic(this, kChooserHelpTopic);
  connect(HelpButton, &QPushButton::clicked, this, [this] { qn::ShowHelpFor(this); });
}

void TPreviewQuickFaxForms::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (FileList->currentRow() < 0 && FileList->count() > 0) {
    int row = 0;
    for (int i = 0; i < FileList->count(); ++i)
      if (FileList->item(i)->text().toUpper() == current_.toUpper()) {
        row = i;
        break;
      }
    FileList->setCurrentRow(row);
  }
  SelectionChanged();
  FileList->setFocus();
}

void TPreviewQuickFaxForms::SelectionChanged() {
  QListWidgetItem* item = FileList->currentItem();
  if (!item) {
    Preview->setText(QStringLiteral("Image not available"));
    Description->clear();
    return;
  }
  chosen_ = item->text();
  const std::string fct = CoversPath(chosen_).toStdString();
  const QString bmp = QString::fromStdString(qn::ResolvePath(qn::ChangeFileExt(fct, ".bmp")));
  QPixmap picture;
  if (QFileInfo::exists(bmp) && picture.load(bmp))
    Preview->setPixmap(picture.scaled(Preview->size() - QSize(2, 2), Qt::KeepAspectRatio, Qt::SmoothTransformation));
  else
    Preview->setText(QStringLiteral("Image not available"));
  Description->setText(Text(covers::ReadDescription(qn::ResolvePath(qn::ChangeFileExt(fct, ".des")))));
}

void TPreviewQuickFaxForms::OkButtonClick() {
  if (!FileList->currentItem()) {
    qn::Beep();
    return;
  }
  chosen_ = FileList->currentItem()->text();
  accept();
}

// ---- sender information -----------------------------------------------------------

TSenderInfo::TSenderInfo(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Sender Information"));
  SenderName = new QLineEdit(this);
  Company = new QLineEdit(this);
  Fax = new QLineEdit(this);
  Voice = new QLineEdit(this);
  auto* grid = new QGridLayout;
  grid->addWidget(Label(QStringLiteral("&Name"), SenderName, this), 0, 0);
  grid->addWidget(SenderName, 0, 1);
  grid->addWidget(Label(QStringLiteral("&Company"), Company, this), 1, 0);
  grid->addWidget(Company, 1, 1);
  grid->addWidget(Label(QStringLiteral("&Fax Number"), Fax, this), 2, 0);
  grid->addWidget(Fax, 2, 1);
  grid->addWidget(Label(QStringLiteral("&Voice Number"), Voice, this), 3, 0);
  grid->addWidget(Voice, 3, 1);
  AcceptButton = new QPushButton(QStringLiteral("&Accept"), this);
  AcceptButton->setDefault(true);
  CancelButton = new QPushButton(QStringLiteral("Cance&l"), this);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addLayout(ButtonRow({AcceptButton, CancelButton}));
  connect(AcceptButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  resize(380, sizeHint().height());
}

bool EditSenderInfo(QWidget* parent) {
  qn::FaxSettings& s = qn::Settings();
  TSenderInfo dlg(parent);
  dlg.SenderName->setText(Text(s.Name));
  dlg.Company->setText(Text(s.Company));
  dlg.Fax->setText(Text(s.Fax));
  dlg.Voice->setText(Text(s.Voice));
  qn::CentreForm(&dlg);
  if (dlg.exec() != QDialog::Accepted) return false;
  s.Name = Bytes(dlg.SenderName->text());
  s.Company = Bytes(dlg.Company->text());
  s.Fax = Bytes(dlg.Fax->text());
  s.Voice = Bytes(dlg.Voice->text());
  if (!qn::SaveSettings()) qn::ShowInfo(QStringLiteral("The sender information could not be saved."));
  return true;
}

// ---- opening the editor, rendering, storing -------------------------------------------

namespace {

// What a cover sheet is made of and what its record keeps.
struct CoverFax {
  QString recipient, phone, subject, notes, codes, templateName;
  std::array<bool, 5> flags{};
  QStringList lines;
};

// Renders the cover (replacing coverPath when the fax has one, else a new file),
// then stores the record (a new one, or record recNo) naming it, and the ".FCD"
// beside it. The cover is rendered before the record is touched; a failure is
// told and changes nothing.
bool StoreCoverFax(xb::Table& fax, bool newFax, std::uint32_t recNo, const std::string& faxCover,
                   std::string coverPath, const CoverFax& cover) {
  const qn::FaxSettings& s = qn::Settings();
  covers::CoverData data;
  data.texts = {covers::LongDateText(),
                covers::LongTimeText(),
                Bytes(cover.subject),
                Bytes(cover.recipient),
                Bytes(cover.phone),
                s.Name,
                s.Company,
                s.Fax,
                s.Voice};
  data.flags = cover.flags;
  const std::string fct = CoversPath(cover.templateName).toStdString();
  try {
    coverPath = covers::RenderCover(coverPath, fct, data, cover.lines);
  } catch (const std::exception& e) {
    qn::MessageBoxText(
        QStringLiteral("The cover sheet could not be written:\r%1").arg(QString::fromLocal8Bit(e.what())),
        QStringLiteral("Fax Cover Sheet Editor"), qn::mbOk | qn::mbIconError);
    return false;
  }
  const bool madeNewFile = faxCover.empty();
  int rc = newFax ? fax.appendBlank() : fax.go(recNo);
  if (rc == 0) {
    fax.setString("RECIPIENT", qn::ToField(cover.recipient));
    fax.setString("SUBJECT", qn::ToField(cover.subject));
    fax.setString("PHONE", qn::ToField(cover.phone));
    fax.setString("NOTES", qn::ToField(cover.notes));
    fax.setString("CODES", qn::ToField(cover.codes));
    fax.setString("FAXCOVER", qn::FileNameOnly(coverPath));
    rc = fax.post();
  }
  if (rc != 0) {
    // A cover no record names would only lie about in the SEND folder.
    if (madeNewFile) qn::DeleteFileCI(coverPath);
    qn::MessageBoxText(QStringLiteral("The fax record could not be stored."), QStringLiteral("Fax Cover Sheet Editor"),
                       qn::mbOk | qn::mbIconError);
    return false;
  }
  CoverInputs saved;
  saved.templateName = Bytes(cover.templateName);
  saved.flags = FlagsText(cover.flags);
  for (const QString& line : cover.lines) saved.message.push_back(Bytes(line));
  if (!WriteCoverDataFile(qn::ResolvePath(qn::ChangeFileExt(coverPath, ".FCD")), saved))
    qn::MessageBoxText(QStringLiteral("The cover sheet's inputs could not be kept; the cover cannot be edited later."),
                       QStringLiteral("Fax Cover Sheet Editor"), qn::mbOk | qn::mbIconWarning);
  return true;
}

}  // namespace

bool EditAddQuickFax(QWidget* parent, xb::Table& fax, bool newFax) {
  TCreateEditQuickFax editor(parent);
  qn::CentreForm(&editor);
  CoverInputs inputs;
  std::string coverPath;
  // Records may come from other programs: a cover name that is no plain file
  // name in SEND ("../x", a path) names no cover here, and a new one is made,
  // so neither its inputs are read nor a file written outside SEND.
  const std::string recordedCover = fax.getTrimString("FAXCOVER");
  const std::string faxCover = qn::IsPlainFileName(recordedCover) ? recordedCover : std::string();
  if (!newFax && !faxCover.empty()) {
    ReadCoverDataFile(qn::FileInFolder(qn::SendFolder(), qn::ChangeFileExt(faxCover, ".FCD")), inputs);
    coverPath = qn::FileInFolder(qn::SendFolder(), faxCover);
  } else {
    inputs.flags.clear();
  }
  editor.SetTemplateName(Text(inputs.templateName));
  editor.SetFlags(ParseFlags(inputs.flags));
  QStringList message;
  for (const std::string& line : inputs.message) message << Text(line);
  editor.SetMessageLines(message);
  if (!newFax) {
    editor.Recipient->setText(qn::FromField(fax.getTrimString("RECIPIENT")));
    editor.RecipientFax->setText(qn::FromField(fax.getTrimString("PHONE")));
    editor.Regarding->setText(qn::FromField(fax.getTrimString("SUBJECT")));
    editor.Notes->setText(qn::FromField(fax.getTrimString("NOTES")));
    editor.Codes->setText(qn::FromField(fax.getTrimString("CODES")));
  }
  const std::uint32_t recNo = fax.recNo();
  if (editor.exec() != QDialog::Accepted) return false;

  CoverFax cover;
  cover.recipient = editor.Recipient->text();
  cover.phone = editor.RecipientFax->text();
  cover.subject = editor.Regarding->text();
  cover.notes = editor.Notes->text();
  cover.codes = editor.Codes->text();
  cover.templateName = editor.TemplateName();
  cover.flags = editor.Flags();
  cover.lines = editor.MessageLines();
  return StoreCoverFax(fax, newFax, recNo, faxCover, coverPath, cover);
}

bool AttachDefaultCover(xb::Table& fax) {
  if (!fax.getTrimString("FAXCOVER").empty()) return false;  // it has one
  CoverFax cover;
  cover.recipient = qn::FromField(fax.getTrimString("RECIPIENT"));
  cover.phone = qn::FromField(fax.getTrimString("PHONE"));
  cover.subject = qn::FromField(fax.getTrimString("SUBJECT"));
  cover.notes = qn::FromField(fax.getTrimString("NOTES"));
  cover.codes = qn::FromField(fax.getTrimString("CODES"));
  cover.templateName = QString::fromLatin1(kDefaultTemplate);
  cover.flags = {};
  return StoreCoverFax(fax, false, fax.recNo(), {}, {}, cover);
}

}  // namespace faxprep
