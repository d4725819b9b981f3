#include "sessions/modem/init_string_helper.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <cctype>

#include "common/dialogs.h"
#include "sessions/modem/modem_tools.h"

namespace qn {

namespace {

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

bool LongS7(const std::string& current) {
  const std::string upper = Upper(current);
  const auto at = upper.find("S7=");
  if (at == std::string::npos) return false;
  std::string part = upper.substr(at, 6);
  while (!part.empty() && !std::isdigit(static_cast<unsigned char>(part.back()))) part.pop_back();
  if (part.size() <= 3) return false;
  const std::string digits = part.substr(3, 3);
  int value = 0;
  for (char c : digits) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    value = value * 10 + (c - '0');
  }
  const int limit = current.find("&H3") != std::string::npos ? 90 : 65;
  return value > limit;
}

int ModemKindPreset(const std::string& current) {
  const std::string upper = Upper(current);
  static const std::pair<const char*, int> kMarks[] = {
      {"S36=0", 2}, {"S33=34", 4}, {"S36=8", 3}, {"\\Q3", 5}, {"&R2", 1}};
  for (const auto& [mark, kind] : kMarks)
    if (upper.find(mark) != std::string::npos) return kind;
  return 0;
}

std::string BuildInitString(int kind, bool forSending, bool longWait) {
  std::string s7 = "S7=65";
  if (forSending) s7 = longWait ? "S7=120" : kind != 0 ? "S7=90" : "S7=65";
  switch (kind) {
    case 1:
      return "AT&H3&I2&R2" + s7;
    case 2:
      return "AT&H3&I2&R2" + s7 + "S36=0";
    case 3:
      return "AT&H3&I2&R2" + s7 + "S36=8";
    case 4:
      return "AT&H3&I2&R2" + s7 + "S36=8S33=34";
    case 5:
      return "AT&F&C1&D2\\Q3" + s7;
    default:
      return "AT&F&C1&D2&K3" + s7;
  }
}

TModemInitStringHelperForm::TModemInitStringHelperForm(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Modem Initialization String Helper"));
  auto* layout = new QVBoxLayout(this);
  auto* box = new QGroupBox(QStringLiteral("I have a:"), this);
  auto* boxLayout = new QVBoxLayout(box);
  KindGroup = new QButtonGroup(this);
  static const char* const kNames[6] = {
      "Hayes Compatible modem   or   UNKNOWN",
      "US Robotics/3COM Modem   or   WinModem",
      "US Robotics/3COM Sportster 28.8 or Early 33.6 model",
      "US Robotics/3COM Late Model Sportster 33.6 model",
      "US Robotics/3COM Sportster X2 modem",
      "Cirrus Logic or AT&&T modem",
  };
  for (int i = 0; i < 6; ++i) {
    Kinds[i] = new QRadioButton(QString::fromLatin1(kNames[i]), box);
    KindGroup->addButton(Kinds[i], i);
    boxLayout->addWidget(Kinds[i]);
  }
  Kinds[0]->setChecked(true);
  layout->addWidget(box);

  auto* row = new QHBoxLayout;
  LongWaitBox = new QCheckBox(this);
  LongWaitCaption = new QLabel(
      QStringLiteral("The Faxmodem frequently hangs up before the faxmodem/fax machine on the other end answers "
                     "and/or I have problems with international calls"),
      this);
  LongWaitCaption->setWordWrap(true);
  LongWaitCaption->installEventFilter(this);
  LongWaitBox->setAccessibleName(LongWaitCaption->text());
  row->addWidget(LongWaitBox, 0, Qt::AlignTop);
  row->addWidget(LongWaitCaption, 1);
  layout->addLayout(row);

  auto* buttons = new QHBoxLayout;
  OkButton = new QPushButton(QStringLiteral("Ok"), this);
  OkButton->setDefault(true);
  CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
  BlankButton = new QPushButton(QStringLiteral("Leave it &Blank"), this);
  buttons->addStretch();
  buttons->addWidget(OkButton);
  buttons->addWidget(CancelButton);
  buttons->addWidget(BlankButton);
  layout->addLayout(buttons);
  connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  connect(BlankButton, &QPushButton::clicked, this, [this] { done(kLeaveItBlank); });
}

bool TModemInitStringHelperForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == LongWaitCaption && event->type() == QEvent::MouseButtonRelease) {
    LongWaitBox->toggle();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

int TModemInitStringHelperForm::Kind() const {
  return KindGroup->checkedId() < 0 ? 0 : KindGroup->checkedId();
}

void TModemInitStringHelperForm::SetKind(int kind) {
  if (kind >= 0 && kind < 6) Kinds[kind]->setChecked(true);
}

QString InitStringHelper(QWidget* parent, const QString& current, bool forSending) {
  if (ToolNotForSipLine(parent, QStringLiteral("The init string helper"))) return current;
  const std::string now = current.toStdString();
  TModemInitStringHelperForm form(parent);
  form.LongWaitBox->setChecked(LongS7(now));
  form.LongWaitBox->setVisible(forSending);
  form.LongWaitCaption->setVisible(forSending);
  form.SetKind(ModemKindPreset(now));
  CentreForm(&form);
  const int rc = form.exec();
  if (rc == kLeaveItBlank) return {};
  if (rc == QDialog::Accepted)
    return QString::fromStdString(BuildInitString(form.Kind(), forSending, form.LongWaitBox->isChecked()));
  return current;
}

}  // namespace qn
