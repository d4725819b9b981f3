#include "sessions/prefs/prefs_tools.h"

#include <QApplication>
#include <QButtonGroup>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QPointer>
#include <QRadioButton>
#include <QSoundEffect>
#include <QUrl>

#include "common/dialogs.h"
#include "common/folders.h"
#include "sessions/modem/system_facts.h"
#include "sessions/settings.h"

namespace qn {

ModemToolHooks& ModemTools() {
  static ModemToolHooks hooks;
  return hooks;
}

TRadioGroup::TRadioGroup(const QString& title, const QStringList& items, int columns, QWidget* parent)
    : QGroupBox(title, parent), group_(new QButtonGroup(this)) {
  auto* grid = new QGridLayout(this);
  columns = std::max(1, columns);
  for (int i = 0; i < items.size(); ++i) {
    auto* b = new QRadioButton(items[i], this);
    group_->addButton(b, i);
    grid->addWidget(b, i / columns, i % columns);
  }
  connect(group_, &QButtonGroup::idToggled, this, [this](int, bool checked) {
    if (checked) emit Changed();
  });
}

int TRadioGroup::ItemIndex() const {
  return group_->checkedId();
}

void TRadioGroup::SetItemIndex(int index) {
  if (QAbstractButton* b = group_->button(index)) {
    b->setChecked(true);
    return;
  }
  // An exclusive group never unchecks its last button by itself.
  group_->setExclusive(false);
  for (QAbstractButton* b : group_->buttons()) b->setChecked(false);
  group_->setExclusive(true);
}

QRadioButton* TRadioGroup::Button(int index) const {
  return qobject_cast<QRadioButton*>(group_->button(index));
}
int TRadioGroup::Count() const {
  return static_cast<int>(group_->buttons().size());
}

QLabel* QuestionNumber(int n, QWidget* parent) {
  auto* label = new QLabel(QString::number(n), parent);
  QFont f = label->font();
  f.setBold(true);
  f.setPointSizeF(f.pointSizeF() * 0.9);
  label->setFont(f);
  label->setAlignment(Qt::AlignRight | Qt::AlignTop);
  label->setObjectName(QStringLiteral("Question%1").arg(n));
  return label;
}

QStringList PortLabels() {
  QStringList labels;
  for (unsigned n = 1; n <= 6; ++n) {
    QString label = QString::fromStdString(PortLabel(n));
    labels << label.replace(QLatin1Char('&'), QLatin1String("&&"));  // no mnemonic from a device name
  }
  return labels;
}

void RefreshPortLabels(TRadioGroup* ports) {
  const QStringList labels = PortLabels();
  for (int i = 0; i < ports->Count() && i < labels.size(); ++i) ports->Button(i)->setText(labels[i]);
}

void FindModemPort(QWidget* parent, TRadioGroup* ports) {
  if (!ModemTools().FindModem) return;
  const int selected = ports->ItemIndex() + 1;  // 0 when none is selected
  const int com = ModemTools().FindModem(parent, selected);
  RefreshPortLabels(ports);
  // The groups offer COM1 to COM6; a number beyond them keeps the selection.
  if (com >= 1 && com <= ports->Count()) ports->SetItemIndex(com - 1);
}

QString Q(const std::string& s) {
  return QString::fromLocal8Bit(s.data(), static_cast<qsizetype>(s.size()));
}
std::string S(const QString& s) {
  return s.toLocal8Bit().toStdString();
}

bool SaveSettingsOrSay(const QString& caption) {
  if (SaveSettings()) return true;
  MessageBoxText(QStringLiteral("The settings could not be written to ") + QString::fromStdString(SettingsFile()) +
                     QStringLiteral(".\rThey apply until Quillon closes."),
                 caption, mbOk | mbIconError);
  return false;
}

bool PlayWavFile(const QString& path) {
  if (path.isEmpty() || !QFileInfo(path).isFile()) return false;
  // One effect for the program: it has to outlive this call to be heard.
  static QPointer<QSoundEffect> effect;
  if (!effect) effect = new QSoundEffect(qApp);
  effect->stop();
  effect->setSource(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
  effect->play();
  return true;
}

}  // namespace qn
