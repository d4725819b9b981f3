#include "cover_dialogs.h"

#include <QDialogButtonBox>
#include <QFontDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>

#include "common/help.h"
#include "covers/cover_render.h"

namespace covers {

namespace {

constexpr int kFirstChar = 32;
constexpr int kLastChar = 255;

// Ok, Cancel and Help; Help shows the topic and keeps the dialog open.
QDialogButtonBox* Buttons(QDialog* d, std::function<void()> showHelp) {
  auto* box = new QDialogButtonBox(d);
  box->addButton(QStringLiteral("&Ok"), QDialogButtonBox::AcceptRole)->setDefault(true);
  box->addButton(QStringLiteral("&Cancel"), QDialogButtonBox::RejectRole);
  QPushButton* help = box->addButton(QStringLiteral("&Help"), QDialogButtonBox::HelpRole);
  QObject::connect(box, &QDialogButtonBox::accepted, d, &QDialog::accept);
  QObject::connect(box, &QDialogButtonBox::rejected, d, &QDialog::reject);
  QObject::connect(help, &QPushButton::clicked, d, std::move(showHelp));
  return box;
}

}  // namespace

TCoverTextDialog::TCoverTextDialog(const QString& text, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Text"));
  auto* layout = new QVBoxLayout(this);
  auto* label = new QLabel(QStringLiteral("&Enter Text"), this);
  edit_ = new QLineEdit(text, this);
  edit_->setMinimumWidth(320);
  edit_->selectAll();
  label->setBuddy(edit_);
  layout->addWidget(label);
  layout->addWidget(edit_);
  qn::SetHelpTopic(this, 40004);
  layout->addWidget(Buttons(this, [this] { qn::ShowHelpFor(this); }));
}

QString TCoverTextDialog::Text() const {
  return edit_->text();
}

TRuneboardDialog::TRuneboardDialog(const QFont& font, int character, QWidget* parent)
    : QDialog(parent), font_(font), character_(std::clamp(character, kFirstChar, kLastChar)) {
  setWindowTitle(QStringLiteral("Runeboard"));
  auto* layout = new QVBoxLayout(this);
  table_ = new QTableWidget(this);
  table_->horizontalHeader()->hide();
  table_->verticalHeader()->hide();
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setMinimumSize(420, 300);
  layout->addWidget(table_, 1);
  auto* row = new QHBoxLayout;
  sample_ = new QLabel(this);
  sample_->setMinimumSize(96, 96);
  sample_->setAlignment(Qt::AlignCenter);
  sample_->setFrameShape(QFrame::Box);
  fontButton_ = new QPushButton(this);
  // The button shows the font itself; its label gives it a key (Alt+F).
  auto* fontLabel = new QLabel(QStringLiteral("&Font:"), this);
  fontLabel->setBuddy(fontButton_);
  row->addWidget(sample_);
  row->addWidget(fontLabel);
  row->addWidget(fontButton_, 1);
  layout->addLayout(row);
  qn::SetHelpTopic(this, 40005);
  layout->addWidget(Buttons(this, [this] { qn::ShowHelpFor(this); }));
  connect(fontButton_, &QPushButton::clicked, this, [this] {
    bool ok = false;
    const QFont f = QFontDialog::getFont(&ok, font_, this, QString(), QFontDialog::DontUseNativeDialog);
    if (ok) SetChosenFont(f);
  });
  connect(table_, &QTableWidget::currentCellChanged, this, [this](int r, int c) {
    const int index = r * table_->columnCount() + c;
    if (r >= 0 && c >= 0 && index <= kLastChar - kFirstChar) character_ = index + kFirstChar;
    ShowSample();
  });
  Fill();
}

int TRuneboardDialog::ColumnsForSize(int points) {
  if (points >= 6 && points <= 10) return 14;
  if (points >= 11 && points <= 20) return 10;
  if (points >= 21 && points <= 30) return 8;
  if (points >= 31 && points <= 40) return 6;
  if (points >= 41 && points <= 50) return 4;
  if (points >= 51 && points <= 60) return 3;
  if (points >= 61 && points <= 72) return 2;
  return 1;
}

QString TRuneboardDialog::FontButtonText(const QFont& f) {
  QString s = f.family() + QStringLiteral(", ") + QString::number(f.pointSize()) + QStringLiteral("pt ");
  if (f.italic())
    s += QStringLiteral("Italic ");
  else if (f.bold())
    s += QStringLiteral("Bold ");
  return s;
}

void TRuneboardDialog::SetChosenFont(const QFont& f) {
  font_ = f;
  Fill();
}

void TRuneboardDialog::SetCharacter(int code) {
  code = std::clamp(code, kFirstChar, kLastChar);
  const int cols = table_->columnCount();
  table_->setCurrentCell((code - kFirstChar) / cols, (code - kFirstChar) % cols);
  character_ = code;
  ShowSample();
}

int TRuneboardDialog::Character() const {
  return character_;
}

namespace {
QFont DisplayFont(const QFont& f) {
  // The table shows the installed family that stands for the stored name.
  QFont shown(f);
  shown.setFamily(ResolveFontFamily(f.family()));
  return shown;
}
}  // namespace

void TRuneboardDialog::Fill() {
  fontButton_->setText(FontButtonText(font_));
  const int keep = character_;
  const int cols = ColumnsForSize(font_.pointSize());
  const int count = kLastChar - kFirstChar + 1;
  table_->clear();
  table_->setColumnCount(cols);
  table_->setRowCount((count + cols - 1) / cols);
  const QFont shown = DisplayFont(font_);
  table_->setFont(shown);
  for (int i = 0; i < count; ++i) {
    auto* item = new QTableWidgetItem(QString(QChar(kFirstChar + i)));
    item->setTextAlignment(Qt::AlignCenter);
    table_->setItem(i / cols, i % cols, item);
  }
  // Leftover cells of the last row cannot be chosen.
  for (int i = count; i < table_->rowCount() * cols; ++i) {
    auto* item = new QTableWidgetItem;
    item->setFlags(Qt::NoItemFlags);
    table_->setItem(i / cols, i % cols, item);
  }
  table_->resizeColumnsToContents();
  table_->resizeRowsToContents();
  SetCharacter(keep);
}

void TRuneboardDialog::ShowSample() {
  QFont f = DisplayFont(font_);
  f.setPointSize(std::max(font_.pointSize(), 36));
  sample_->setFont(f);
  sample_->setText(QString(QChar(character_)));
}

}  // namespace covers
