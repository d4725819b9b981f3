#include "designer_dialogs.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPixmap>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QShowEvent>
#include <QVBoxLayout>

#include "common/dialogs.h"
#include "common/folders.h"
#include "common/help.h"
#include "common/ini_file.h"
#include "covers/cover_render.h"
#include "covers/cover_template.h"

namespace covers {

namespace {

constexpr int kSaveAsHelpTopic = 50001;
constexpr int kSelectHelpTopic = 50002;
constexpr int kPreviewHelpTopic = 50003;
constexpr char kMruSection[] = "CDMRU";

QString CoversDir() {
  return QString::fromStdString(qn::ResolvePath(qn::CoversFolder()));
}

QHBoxLayout* ButtonRow(std::initializer_list<QPushButton*> buttons) {
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  for (QPushButton* b : buttons) row->addWidget(b);
  return row;
}

}  // namespace

QString ReadTemplateDescription(const QString& anyTemplateFile) {
  const std::string des = qn::ResolvePath(qn::ChangeFileExt(anyTemplateFile.toStdString(), ".DES"));
  return DecodeText(ReadDescription(des));
}

QStringList CoverFiles(const QString& extension) {
  QStringList out;
  const QDir dir(CoversDir());
  for (const QString& name : dir.entryList(QDir::Files, QDir::Name | QDir::IgnoreCase))
    if (name.endsWith(extension, Qt::CaseInsensitive)) out << name;
  return out;
}

// ---- recent files ---------------------------------------------------------------------

TMRUFileList::TMRUFileList(int maxEntries, QObject* parent) : QObject(parent), max_(maxEntries) {}

void TMRUFileList::Add(const QString& path) {
  files_.removeAll(path);
  files_.prepend(path);
  while (files_.size() > max_) files_.removeLast();
  Rebuild();
}

void TMRUFileList::Remove(const QString& path) {
  files_.removeAll(path);
  Rebuild();
}

void TMRUFileList::Load(const std::string& iniPath) {
  const qn::IniFile ini(iniPath);
  files_.clear();
  for (int i = 0; i < max_; ++i) {
    const std::string f = ini.ReadString(kMruSection, "F" + std::to_string(i), "");
    if (!f.empty() && !files_.contains(QString::fromStdString(f))) files_ << QString::fromStdString(f);
  }
  Rebuild();
}

bool TMRUFileList::Save(const std::string& iniPath) const {
  qn::IniFile ini(iniPath);
  ini.EraseSection(kMruSection);
  for (int i = 0; i < files_.size(); ++i)
    ini.WriteString(kMruSection, "F" + std::to_string(i), files_[i].toStdString());
  return ini.Flush();
}

void TMRUFileList::AttachTo(QMenu* menu) {
  menu_ = menu;
  Rebuild();
}

void TMRUFileList::Rebuild() {
  if (!menu_) return;
  for (QAction* a : items_) {
    menu_->removeAction(a);
    a->deleteLater();
  }
  items_.clear();
  if (files_.isEmpty()) return;
  items_ << menu_->addSeparator();
  for (int i = 0; i < files_.size(); ++i) {
    const QString path = files_[i];
    QAction* a = menu_->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(path));
    connect(a, &QAction::triggered, this, [this, path] {
      Remove(path);
      emit clicked(path);
    });
    items_ << a;
  }
}

// ---- save as ---------------------------------------------------------------------------

bool TemplateExists(const std::string& fcsPath) {
  return qn::FileExists(qn::ChangeFileExt(fcsPath, ".FCS")) || qn::FileExists(qn::ChangeFileExt(fcsPath, ".FCT"));
}

QString NextTemplateName(const std::string& coversFolder) {
  std::string folder = coversFolder;
  if (!folder.empty() && folder.back() != '/') folder += '/';
  for (int n = 10001; n <= 99999; ++n) {
    const QString name = QStringLiteral("QN%1.FCS").arg(QString::number(n).right(4));
    if (!TemplateExists(folder + name.toStdString())) return name;
  }
  return QStringLiteral("QN9999.FCS");
}

bool ValidTemplateName(const QString& name) {
  static const QRegularExpression re(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*\\.[Ff][Cc][Ss]$"));
  return name.size() >= 1 && name.size() <= 12 && re.match(name).hasMatch();
}

TSaveTemplateAs::TSaveTemplateAs(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Save fax cover template as"));
  TemplateName = new QLineEdit(this);
  TemplateName->setMaxLength(64);
  TemplateDescription = new QLineEdit(this);
  TemplateDescription->setMaxLength(255);
  ExistingTemplates = new QListWidget(this);
  ExistingTemplates->addItems(CoverFiles(QStringLiteral(".fct")));
  ExistingTemplates->setToolTip(QStringLiteral("Select from existing templates (overwrite)"));
  auto* rules = new QLabel(QStringLiteral("The file name must start with a character (A-Z) and may contain characters, "
                                          "numbers or underscores. The file extension must be .FCS. File name can be "
                                          "up to 12 characters long."),
                           this);
  rules->setWordWrap(true);
  OkButton = new QPushButton(QStringLiteral("Ok "), this);
  OkButton->setDefault(true);
  CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
  HelpButton = new QPushButton(QStringLiteral("&Help"), this);

  auto* nameLabel = new QLabel(QStringLiteral("Enter the &file name"), this);
  nameLabel->setBuddy(TemplateName);
  auto* descLabel = new QLabel(QStringLiteral("Enter the &description (required)"), this);
  descLabel->setBuddy(TemplateDescription);
  auto* listLabel = new QLabel(QStringLiteral("E&xisting Templates"), this);
  listLabel->setBuddy(ExistingTemplates);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(nameLabel);
  layout->addWidget(TemplateName);
  layout->addWidget(descLabel);
  layout->addWidget(TemplateDescription);
  layout->addWidget(listLabel);
  layout->addWidget(ExistingTemplates, 1);
  layout->addWidget(rules);
  layout->addLayout(ButtonRow({OkButton, CancelButton, HelpButton}));
  resize(420, 420);

  connect(TemplateName, &QLineEdit::textChanged, this, &TSaveTemplateAs::CheckOk);
  connect(TemplateDescription, &QLineEdit::textChanged, this, &TSaveTemplateAs::CheckOk);
  connect(ExistingTemplates, &QListWidget::itemClicked, this, &TSaveTemplateAs::ExistingClicked);
  connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  qn::SetHelpTopic(this, kSaveAsHelpTopic);
  connect(HelpButton, &QPushButton::clicked, this, [this] { qn::ShowHelpFor(this); });
  CheckOk();
}

void TSaveTemplateAs::CheckOk() {
  OkButton->setEnabled(ValidTemplateName(TemplateName->text()) && !TemplateDescription->text().isEmpty());
}

void TSaveTemplateAs::ExistingClicked() {
  if (QListWidgetItem* item = ExistingTemplates->currentItem())
    TemplateDescription->setText(ReadTemplateDescription(CoversDir() + item->text()));
}

// ---- template chooser -------------------------------------------------------------------

TPreviewCovers::TPreviewCovers(const QString& currentFile, bool browseOnly, QWidget* parent)
    : QDialog(parent), current_(currentFile) {
  setWindowTitle(browseOnly ? QStringLiteral("Preview Fax Cover Templates")
                            : QStringLiteral("Select  Fax Cover Template"));
  FileList = new QListWidget(this);
  FileList->addItems(CoverFiles(QStringLiteral(".FCS")));
  FileList->setMinimumWidth(150);
  Preview = new QLabel(this);
  Preview->setAlignment(Qt::AlignCenter);
  PreviewBox = new QScrollArea(this);
  PreviewBox->setWidgetResizable(true);
  PreviewBox->setWidget(Preview);
  PreviewBox->setMinimumSize(460, 420);
  Description = new QLabel(this);
  Description->setTextFormat(Qt::PlainText);
  OkButton = new QPushButton(QStringLiteral("Ok"), this);
  HelpButton = new QPushButton(QStringLiteral("&Help"), this);
  CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
  OkButton->setVisible(!browseOnly);
  (browseOnly ? CancelButton : OkButton)->setDefault(true);

  auto* listLabel = new QLabel(QStringLiteral("Fax Cover &Templates"), this);
  listLabel->setBuddy(FileList);
  auto* left = new QVBoxLayout;
  left->addWidget(listLabel);
  left->addWidget(FileList, 1);
  auto* right = new QVBoxLayout;
  right->addWidget(new QLabel(QStringLiteral("Preview"), this));
  right->addWidget(PreviewBox, 1);
  auto* top = new QHBoxLayout;
  top->addLayout(left);
  top->addLayout(right, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top, 1);
  layout->addWidget(Description);
  layout->addLayout(ButtonRow({OkButton, HelpButton, CancelButton}));
  resize(680, 560);

  connect(FileList, &QListWidget::currentRowChanged, this, &TPreviewCovers::SelectionChanged);
  connect(FileList, &QListWidget::itemDoubleClicked, this, [this, browseOnly] {
    if (!browseOnly) OkClick();
  });
  connect(OkButton, &QPushButton::clicked, this, &TPreviewCovers::OkClick);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  qn::SetHelpTopic(this, [this] {
    return windowTitle().toUpper().contains(QLatin1String("SELECT")) ? kSelectHelpTopic : kPreviewHelpTopic;
  });
  connect(HelpButton, &QPushButton::clicked, this, [this] { qn::ShowHelpFor(this); });
}

void TPreviewCovers::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (FileList->currentRow() < 0 && FileList->count() > 0) {
    const QString currentName = QFileInfo(current_).fileName().toUpper();
    int row = 0;
    for (int i = 0; i < FileList->count(); ++i)
      if (!currentName.isEmpty() && FileList->item(i)->text().toUpper() == currentName) row = i;
    FileList->setCurrentRow(row);
  }
  SelectionChanged();
  FileList->setFocus();
}

void TPreviewCovers::SelectionChanged() {
  QListWidgetItem* item = FileList->currentItem();
  if (!item) {
    chosen_.clear();
    Preview->setText(QStringLiteral("Image not available"));
    Description->clear();
    return;
  }
  chosen_ = CoversDir() + item->text();
  const QString bmp = QString::fromStdString(qn::ResolvePath(qn::ChangeFileExt(chosen_.toStdString(), ".bmp")));
  picture_ = QPixmap();
  if (QFileInfo::exists(bmp) && picture_.load(bmp))
    FitPicture();
  else
    Preview->setText(QStringLiteral("Image not available"));
  Description->setText(ReadTemplateDescription(chosen_));
}

void TPreviewCovers::FitPicture() {
  if (picture_.isNull()) return;
  const QSize room = PreviewBox->viewport()->size() - QSize(4, 4);
  if (room.isEmpty()) return;
  Preview->setPixmap(picture_.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

void TPreviewCovers::resizeEvent(QResizeEvent* e) {
  QDialog::resizeEvent(e);
  FitPicture();
}

void TPreviewCovers::OkClick() {
  if (!FileList->currentItem()) {
    qn::Beep();
    return;
  }
  accept();
}

}  // namespace covers
