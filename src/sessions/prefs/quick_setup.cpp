#include "sessions/prefs/quick_setup.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/dialogs.h"
#include "common/field_input.h"
#include "sessions/prefs/prefs_tools.h"
#include "sessions/prefs/printer_offer.h"
#include "sessions/prefs/sip_account.h"
#include "sessions/settings.h"

namespace qn {
namespace {

QLabel* Wrapped(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setWordWrap(true);
  return label;
}

}  // namespace

TQuickSetupForm::TQuickSetupForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("TQuickSetupForm"));
  setWindowTitle(QStringLiteral("Quick Setup Form"));

  auto* intro = Wrapped(QStringLiteral("Welcome to Quillon. Answer these two questions to get your fax modem "
                                       "working."),
                        this);
  PortGroup = new TRadioGroup(QStringLiteral("Port"), PortLabels(), 1, this);
  FindModemButton = new QPushButton(QStringLiteral("Find &Modem Port"), this);
  FindModemButton->setEnabled(static_cast<bool>(ModemTools().FindModem));
  auto* portText = Wrapped(QStringLiteral("Which communications port is your fax modem on? If you do not know, "
                                          "click \"Find Modem Port\"."),
                           this);
  NoModemBox = new QCheckBox(QStringLiteral("I have no fax modem: use a SIP &account"), this);
  SipBox = new TSipAccountBox(false, this);
  SipBox->hide();
  NameEdit = new QLineEdit(this);
  NameEdit->setMaxLength(35);
  NoteWhenFull(NameEdit, 35);
  FaxEdit = new QLineEdit(this);
  FaxEdit->setMaxLength(20);
  NoteWhenFull(FaxEdit, 20);
  auto* nameLabel = new QLabel(QStringLiteral("Your &name"), this);
  nameLabel->setBuddy(NameEdit);
  auto* faxLabel = new QLabel(QStringLiteral("Your &fax number (Station ID#)"), this);
  faxLabel->setBuddy(FaxEdit);
  SM56Box = new QCheckBox(QStringLiteral("My modem is a Motorola &SM56"), this);
  auto* closing = Wrapped(QStringLiteral("You can fine-tune these and every other fax setting at any time with the "
                                         "Preferences button of the main window."),
                          this);
  PrinterOffer = new TFaxPrinterOffer(this);
  OkButton = new QPushButton(QStringLiteral("Ok"), this);
  OkButton->setDefault(true);
  CancelButton = new QPushButton(QStringLiteral("Cance&l"), this);

  auto* grid = new QGridLayout;
  grid->setColumnStretch(1, 1);
  // The questions read "1." and "2." here.
  QLabel* first = QuestionNumber(1, this);
  first->setText(QStringLiteral("1."));
  QLabel* second = QuestionNumber(2, this);
  second->setText(QStringLiteral("2."));
  grid->addWidget(first, 0, 0);
  grid->addWidget(portText, 0, 1, 1, 2);
  grid->addWidget(PortGroup, 1, 1);
  grid->addWidget(FindModemButton, 1, 2, Qt::AlignTop);
  grid->addWidget(SipBox, 1, 1, 1, 2);
  grid->addWidget(NoModemBox, 2, 1, 1, 2);
  grid->addWidget(second, 3, 0);
  grid->addWidget(nameLabel, 3, 1, 1, 2);
  grid->addWidget(NameEdit, 4, 1, 1, 2);
  grid->addWidget(faxLabel, 5, 1, 1, 2);
  grid->addWidget(FaxEdit, 6, 1, 1, 2);
  grid->addWidget(new QLabel(QStringLiteral("(Note: these are optional fields)"), this), 7, 1, 1, 2);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(OkButton);
  buttons->addWidget(CancelButton);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(intro);
  layout->addLayout(grid);
  layout->addWidget(SM56Box);
  layout->addWidget(closing);
  layout->addWidget(PrinterOffer);
  layout->addStretch();
  layout->addLayout(buttons);
  setMinimumWidth(460);

  connect(FindModemButton, &QPushButton::clicked, this, [this] { FindModemPort(this, PortGroup); });
  // Without a modem the port question becomes the account's.
  connect(NoModemBox, &QCheckBox::toggled, this, [this, portText](bool sip) {
    PortGroup->setVisible(!sip);
    FindModemButton->setVisible(!sip);
    SM56Box->setVisible(!sip);
    SipBox->setVisible(sip);
    portText->setText(sip ? QStringLiteral("Which SIP account do faxes go out and come in on? Your telephone "
                                           "provider gives its user name, domain and password.")
                          : QStringLiteral("Which communications port is your fax modem on? If you do not know, "
                                           "click \"Find Modem Port\"."));
    // The layout takes the shown and hidden rows into account only once it
    // is activated; the window then grows (or shrinks) to what they need.
    // adjustSize() stops at two thirds of the screen's height, which squeezes
    // the account's fields on a small screen: the full height is asked for.
    if (QLayout* l = QWidget::layout()) l->activate();
    adjustSize();
    if (height() < sizeHint().height()) resize(width(), sizeHint().height());
  });
  connect(SM56Box, &QCheckBox::clicked, this, [](bool on) { SetWorkingSM56Fix(on); });
  connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

bool RunQuickSetup(QWidget* parent) {
  TQuickSetupForm form(parent);
  LoadSettings();
  FaxSettings& s = Settings();
  // A first run sends through COM1 until a port is chosen: the main window
  // works with that port, and Ok must never store "no port".
  if (s.ComPort < 0) s.ComPort = 0;
  form.PortGroup->SetItemIndex(s.ComPort);
  form.NameEdit->setText(Q(s.Name));
  form.FaxEdit->setText(Q(s.Fax));
  form.SM56Box->setChecked(s.UseMotorolaSM56Fix);
  form.SipBox->Load(s);
  form.NoModemBox->setChecked(s.SipLine);
  CentreForm(&form);
  if (form.exec() != QDialog::Accepted) return false;
  g_FirstRun = false;
  if (form.PortGroup->ItemIndex() >= 0) s.ComPort = form.PortGroup->ItemIndex();
  s.Name = S(form.NameEdit->text());
  s.Fax = S(form.FaxEdit->text());
  s.UseMotorolaSM56Fix = form.SM56Box->isChecked();
  s.SipLine = form.NoModemBox->isChecked();
  if (s.SipLine) form.SipBox->Save(s);
  SaveSettingsOrSay(QStringLiteral("Quick Setup Form"));
  return true;
}

}  // namespace qn
