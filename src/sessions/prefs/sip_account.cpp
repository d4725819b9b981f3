#include "sessions/prefs/sip_account.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "common/dialogs.h"
#include "sessions/off_thread.h"
#include "sessions/prefs/prefs_tools.h"
#include "sessions/secret_store.h"
#include "sessions/settings.h"

namespace qn {
namespace {

QSpinBox* Spin(int low, int high, QWidget* parent) {
  auto* box = new QSpinBox(parent);
  box->setRange(low, high);
  return box;
}

}  // namespace

std::string SipAccountName(const FaxSettings& s) {
  return s.SipUser + "@" + s.SipDomain;
}

TSipAccountBox::TSipAccountBox(bool full, QWidget* parent)
    : QGroupBox(QStringLiteral("SIP account"), parent), full_(full) {
  setObjectName(QStringLiteral("SipAccountBox"));
  auto* form = new QFormLayout(this);
  User = new QLineEdit(this);
  User->setPlaceholderText(QStringLiteral("for example 4930123456"));
  Domain = new QLineEdit(this);
  Domain->setPlaceholderText(QStringLiteral("for example sip.example.net"));
  PasswordEdit = new QLineEdit(this);
  PasswordEdit->setEchoMode(QLineEdit::Password);
  Registrar = new QLineEdit(this);
  Registrar->setPlaceholderText(QStringLiteral("optional: the server's address if not the domain"));
  form->addRow(QStringLiteral("&User name:"), User);
  form->addRow(QStringLiteral("&Domain:"), Domain);
  form->addRow(QStringLiteral("Pass&word:"), PasswordEdit);
  form->addRow(QStringLiteral("&Registrar or proxy:"), Registrar);
  if (full) {
    AuthUser = new QLineEdit(this);
    AuthUser->setPlaceholderText(QStringLiteral("optional: when it differs from the user name"));
    PublicAddress = new QLineEdit(this);
    PublicAddress->setPlaceholderText(QStringLiteral("optional: behind a router that does not help"));
    SipPort = Spin(1, 65535, this);
    MediaLow = Spin(1, 65535, this);
    MediaHigh = Spin(1, 65535, this);
    T38 = new QCheckBox(QStringLiteral("Use &T.38 (fax relay) when the other side offers or accepts it"), this);
    Redundancy = Spin(0, 7, this);
    MaxDatagram = Spin(72, 65507, this);
    Codec = new QComboBox(this);
    Codec->addItem(QStringLiteral("A-law (PCMA, most of the world)"), QStringLiteral("PCMA"));
    Codec->addItem(QStringLiteral("\u00b5-law (PCMU, North America and Japan)"), QStringLiteral("PCMU"));
    auto* media = new QHBoxLayout;
    media->addWidget(MediaLow);
    media->addWidget(new QLabel(QStringLiteral("to"), this));
    media->addWidget(MediaHigh);
    media->addStretch();
    form->addRow(QStringLiteral("&Authentication user:"), AuthUser);
    form->addRow(QStringLiteral("&Public address:"), PublicAddress);
    form->addRow(QStringLiteral("SIP p&ort:"), SipPort);
    auto* mediaLabel = new QLabel(QStringLiteral("&Media ports:"), this);
    mediaLabel->setBuddy(MediaLow);
    form->addRow(mediaLabel, media);
    form->addRow(T38);
    form->addRow(QStringLiteral("R&edundancy (T.38):"), Redundancy);
    form->addRow(QStringLiteral("Largest data&gram (T.38):"), MaxDatagram);
    form->addRow(QStringLiteral("Audio &codec:"), Codec);
  }
  TestButton = new QPushButton(QStringLiteral("Te&st account"), this);
  TestButton->setEnabled(static_cast<bool>(ModemTools().TestSipAccount));
  Answer = new QLabel(this);
  Answer->setObjectName(QStringLiteral("SipAnswer"));
  Answer->setWordWrap(true);
  auto* test = new QHBoxLayout;
  test->addWidget(TestButton);
  test->addWidget(Answer, 1);
  form->addRow(test);
  connect(TestButton, &QPushButton::clicked, this, [this] { TestAccount(); });
}

void TSipAccountBox::Load(const FaxSettings& s) {
  User->setText(Q(s.SipUser));
  Domain->setText(Q(s.SipDomain));
  Registrar->setText(Q(s.SipRegistrar));
  PasswordEdit->setText(s.SipUser.empty() ? QString() : Q(LoadSipPassword(SipAccountName(s))));
  if (!full_) return;
  AuthUser->setText(Q(s.SipAuthUser));
  PublicAddress->setText(Q(s.SipPublicAddress));
  SipPort->setValue(s.SipPort);
  MediaLow->setValue(s.SipMediaPortLow);
  MediaHigh->setValue(s.SipMediaPortHigh);
  T38->setChecked(s.SipT38);
  Redundancy->setValue(s.SipRedundancy);
  MaxDatagram->setValue(s.SipMaxDatagram);
  Codec->setCurrentIndex(s.SipCodec == "PCMU" ? 1 : 0);
}

FaxSettings TSipAccountBox::Typed(const FaxSettings& base) const {
  FaxSettings s = base;
  s.SipUser = S(User->text().trimmed());
  s.SipDomain = S(Domain->text().trimmed());
  s.SipRegistrar = S(Registrar->text().trimmed());
  if (full_) {
    s.SipAuthUser = S(AuthUser->text().trimmed());
    s.SipPublicAddress = S(PublicAddress->text().trimmed());
    s.SipPort = SipPort->value();
    s.SipMediaPortLow = std::min(MediaLow->value(), MediaHigh->value());
    s.SipMediaPortHigh = std::max(MediaLow->value(), MediaHigh->value());
    s.SipT38 = T38->isChecked();
    s.SipRedundancy = Redundancy->value();
    s.SipMaxDatagram = MaxDatagram->value();
    s.SipCodec = S(Codec->currentData().toString());
  }
  return s;
}

QString TSipAccountBox::Password() const {
  return PasswordEdit->text();
}

bool TSipAccountBox::Save(FaxSettings& s) {
  s = Typed(s);
  if (s.SipUser.empty() || s.SipDomain.empty()) return true;
  std::string error;
  if (StoreSipPassword(SipAccountName(s), S(PasswordEdit->text()), &error)) return true;
  MessageBoxText(QStringLiteral("The SIP password could not be kept in ") + Q(SecretStoreName()) +
                     QStringLiteral(":\r") + Q(error),
                 QStringLiteral("SIP account"), mbOk | mbIconError);
  return false;
}

QString TSipAccountBox::TestAccount() {
  const auto& tool = ModemTools().TestSipAccount;
  if (!tool) return {};
  if (User->text().trimmed().isEmpty() || Domain->text().trimmed().isEmpty()) {
    Answer->setText(QStringLiteral("Please enter the user name and the domain of your SIP account."));
    (User->text().trimmed().isEmpty() ? User : Domain)->setFocus();
    return Answer->text();
  }
  const FaxSettings account = Typed(Settings());
  const std::string password = S(PasswordEdit->text());
  TestButton->setEnabled(false);
  Answer->setText(QStringLiteral("Registering..."));
  // Registration may take several seconds (a server that does not answer).
  const std::string answer = RunOffThread([&tool, account, password] { return tool(account, password); },
                                          QEventLoop::ExcludeUserInputEvents);
  Answer->setText(Q(answer));
  TestButton->setEnabled(true);
  return Answer->text();
}

}  // namespace qn
