#include "sessions/prefs/preferences.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPrinterInfo>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "common/dialogs.h"
#include "common/fax_names.h"
#include "common/folders.h"
#include "common/field_input.h"
#include "common/help.h"
#include "fe_device.h"
#include "sessions/modem/system_facts.h"
#include "sessions/prefs/prefs_tools.h"
#include "sessions/prefs/printer_offer.h"
#include "sessions/prefs/sip_account.h"

namespace qn {
namespace {

const QStringList kSpeeds = {QStringLiteral("2400"), QStringLiteral("4800"),  QStringLiteral("7200"),
                             QStringLiteral("9600"), QStringLiteral("12000"), QStringLiteral("14400")};
const QStringList kClasses = {QStringLiteral("auto detect"), QStringLiteral("class 1"), QStringLiteral("class 2"),
                              QStringLiteral("class 2.0")};

QLabel* Text(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setWordWrap(true);
  return label;
}

QLabel* BoldText(const QString& text, QWidget* parent) {
  QLabel* label = Text(text, parent);
  QFont f = label->font();
  f.setBold(true);
  label->setFont(f);
  return label;
}

// A caption whose mnemonic moves the focus to `buddy`.
QLabel* Caption(const QString& text, QWidget* buddy, QWidget* parent) {
  QLabel* label = Text(text, parent);
  label->setBuddy(buddy);
  return label;
}

QLineEdit* Edit(QWidget* parent, int maxLength = 0) {
  auto* edit = new QLineEdit(parent);
  if (maxLength > 0) {
    edit->setMaxLength(maxLength);
    NoteWhenFull(edit, maxLength);
  }
  return edit;
}

QComboBox* SpeedCombo(QWidget* parent) {
  auto* list = new QComboBox(parent);
  list->addItems(kSpeeds);
  return list;
}

// A page: rows of a question number beside its controls, pushed to the top.
struct PageGrid {
  QWidget* page;
  QGridLayout* grid;
  int row = 0;

  explicit PageGrid(QWidget* parent) : page(new QWidget(parent)), grid(new QGridLayout(page)) {
    grid->setColumnStretch(1, 1);
    grid->setVerticalSpacing(6);
  }
  // The number goes beside the first row of the question.
  void Question(int n) { grid->addWidget(QuestionNumber(n, page), row, 0); }
  void Add(QWidget* w) { grid->addWidget(w, row++, 1); }
  void Add(QLayout* l) { grid->addLayout(l, row++, 1); }
  QWidget* Done() {
    grid->setRowStretch(row, 1);
    return page;
  }
};

QHBoxLayout* Row(std::initializer_list<QWidget*> widgets, bool stretch = true) {
  auto* row = new QHBoxLayout;
  for (QWidget* w : widgets) row->addWidget(w);
  if (stretch) row->addStretch();
  return row;
}

// "12" -> 12; anything but a whole number fails with the usual conversion message.
bool ToInteger(const QString& text, int* value, QString* error) {
  bool ok = false;
  const int v = text.trimmed().toInt(&ok);
  if (!ok) {
    if (error) *error = QStringLiteral("'%1' is not a valid integer value").arg(text);
    return false;
  }
  if (value) *value = v;
  return true;
}

}  // namespace

const char* const TPreferences::kPageTitles[kPageCount] = {
    "Wizard Information",       "Modem and Communications Port", "Sending Faxes - Part 1",
    "Sending Faxes - Part 2",   "Sending Faxes - Part 3",        "Receiving Faxes - Part 1",
    "Receiving Faxes - Part 2", "Receiving Faxes - Part 3",      "Advanced",
    "SIP Account"};

TPreferences::TPreferences(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("TPreferences"));
  setWindowTitle(QStringLiteral("Preferences Wizard"));
  // The wizard takes the first-run state over: the main window's flag is done with.
  firstRun_ = g_FirstRun.exchange(false);

  CaptionLabel = new QLabel(this);
  QFont big = CaptionLabel->font();
  big.setBold(true);
  big.setPointSizeF(big.pointSizeF() * 1.3);
  CaptionLabel->setFont(big);
  PageList = new QComboBox(this);
  for (const char* title : kPageTitles) PageList->addItem(QLatin1String(title));
  PageList->setToolTip(QStringLiteral("Go to a page of the wizard"));

  Pages = new QStackedWidget(this);
  Pages->addWidget(BuildInformationPage());
  Pages->addWidget(BuildModemPage());
  Pages->addWidget(BuildSendPage1());
  Pages->addWidget(BuildSendPage2());
  Pages->addWidget(BuildSendPage3());
  Pages->addWidget(BuildReceivePage1());
  Pages->addWidget(BuildReceivePage2());
  Pages->addWidget(BuildReceivePage3());
  Pages->addWidget(BuildAdvancedPage());
  Pages->addWidget(BuildSipPage());

  HelpButton = new QPushButton(QStringLiteral("&Help"), this);
  ProblemSolverButton = new QPushButton(QStringLiteral("Problem Sol&ver"), this);
  BackButton = new QPushButton(QStringLiteral("< &Back"), this);
  NextButton = new QPushButton(QStringLiteral("Ne&xt >"), this);
  FinishButton = new QPushButton(QStringLiteral("&Finish"), this);
  CancelButton = new QPushButton(QStringLiteral("Cance&l"), this);
  NextButton->setDefault(true);

  auto* top = new QHBoxLayout;
  top->addWidget(CaptionLabel, 1);
  top->addWidget(PageList);
  auto* bottom = new QHBoxLayout;
  for (QPushButton* b : {HelpButton, ProblemSolverButton}) bottom->addWidget(b);
  bottom->addStretch();
  for (QPushButton* b : {BackButton, NextButton, FinishButton, CancelButton}) bottom->addWidget(b);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(Pages, 1);
  layout->addLayout(bottom);

  connect(PageList, &QComboBox::activated, this, &TPreferences::SetPage);
  connect(BackButton, &QPushButton::clicked, this, [this] { SetPage(Page() - 1); });
  connect(NextButton, &QPushButton::clicked, this, [this] { SetPage(Page() + 1); });
  connect(FinishButton, &QPushButton::clicked, this, &TPreferences::FinishButtonClick);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  SetHelpTopic(this, [this] {
    // One topic for the port, one for sending, one for receiving; the rest share the wizard's.
    const int page = Page();
    return page == 1   ? 3501
           : (page >= 2 && page <= 4) ? 3502
           : (page >= 5 && page <= 7) ? 3503
           : page == 9                ? 3504
                                      : 1022;
  });
  connect(HelpButton, &QPushButton::clicked, this, [this] { ShowHelpFor(this); });
  connect(ProblemSolverButton, &QPushButton::clicked, this, [] { ShowProblemSolver(); });

  // The tools a build has not got leave their buttons disabled.
  const ModemToolHooks& tools = ModemTools();
  FindModemButton->setEnabled(static_cast<bool>(tools.FindModem));
  CheckClassButton->setEnabled(static_cast<bool>(tools.CheckFaxClass));
  CheckClassReceiveButton->setEnabled(static_cast<bool>(tools.CheckFaxClass));
  InitHelpButton->setEnabled(static_cast<bool>(tools.InitStringHelper));
  InitReceiveHelpButton->setEnabled(static_cast<bool>(tools.InitStringHelper));

  FirstRunWarning->setVisible(firstRun_);
  // At least as tall as the fullest page needs (the port page lists six ports
  // with their devices), so no row is ever squeezed.
  setMinimumSize(660, 470);
  setMinimumHeight(std::max(470, layout->minimumSize().height()));
  SetPage(0);
}

// ---- pages ----------------------------------------------------------------------------

QWidget* TPreferences::BuildInformationPage() {
  PageGrid p(this);
  p.Add(Text(QStringLiteral("This wizard takes you through every setting Quillon needs to send and receive "
                            "faxes with your fax modem: the port it is on, how to dial, and how to send and "
                            "receive."),
             p.page));
  p.Add(Text(QStringLiteral("Use \"Next >\" and \"< Back\" to move from page to page, or choose a page from the "
                            "list at the top right. The numbers beside the questions are the ones the help "
                            "pages refer to; \"Help\" explains the questions of the page you are on."),
             p.page));
  p.Add(Text(QStringLiteral("\"Finish\" saves your changes; \"Cancel\" leaves every setting as it was."), p.page));
  FirstRunWarning = BoldText(QStringLiteral("While the default settings will work for most people, be sure to verify "
                                            "that the COMMUNICATIONS PORT and FAX CLASS settings are correct before "
                                            "continuing to use the program."),
                             p.page);
  FirstRunWarning->setObjectName(QStringLiteral("FirstRunWarning"));
  FirstRunWarning->setStyleSheet(QStringLiteral("color: #c00000;"));
  p.Add(FirstRunWarning);
  PrinterOffer = new TFaxPrinterOffer(p.page);
  p.Add(PrinterOffer);
  return p.Done();
}

QWidget* TPreferences::BuildModemPage() {
  PageGrid p(this);
  PortGroup = new TRadioGroup(QStringLiteral("Port"), PortLabels(), 1, p.page);
  FindModemButton = new QPushButton(QStringLiteral("Find &Modem Port"), p.page);
  PortDeviceBox = new QComboBox(p.page);
  PortDeviceBox->setObjectName(QStringLiteral("PortDeviceBox"));
  PortDeviceBox->setEditable(true);
  PortDeviceBox->setInsertPolicy(QComboBox::NoInsert);
  PortDeviceBox->setMinimumContentsLength(28);
  for (const SerialDevice& d : ListSerialDevices()) {
    PortDeviceBox->addItem(Q(d.byId.empty() ? d.path : d.byId));
    PortDeviceBox->setItemData(PortDeviceBox->count() - 1, Q(d.Describe()), Qt::ToolTipRole);
  }
  PortDeviceNote = new QLabel(p.page);
  PortDeviceNote->setWordWrap(true);
  for (unsigned n = 1; n <= 6; ++n) portDevices_[n - 1] = Q(fe::MapComNumber(n));
  p.Question(1);
  p.Add(PortGroup);
  p.Add(Caption(QStringLiteral("Device of the selected p&ort:"), PortDeviceBox, p.page));
  p.Add(Row({PortDeviceBox, FindModemButton}, false));
  p.Add(PortDeviceNote);
  connect(PortGroup, &TRadioGroup::Changed, this, &TPreferences::ShowPortDevice);
  connect(PortDeviceBox, &QComboBox::editTextChanged, this, [this](const QString& text) {
    const int i = PortGroup->ItemIndex();
    if (showingDevice_ || i < 0 || i >= 6) return;
    portDevices_[i] = text.trimmed();
  });
  ToneGroup =
      new TRadioGroup(QStringLiteral("Tone or Pulse"), {QStringLiteral("Tone"), QStringLiteral("Pulse")}, 2, p.page);
  p.Question(2);
  p.Add(ToneGroup);
  ResetBeforeEdit = Edit(p.page);
  ResetAfterEdit = Edit(p.page);
  p.Question(3);
  p.Add(Caption(QStringLiteral("Use this reset string B&EFORE  fax sessions:"), ResetBeforeEdit, p.page));
  p.Add(Row({ResetBeforeEdit, new QLabel(QStringLiteral("(usually AT&F or blank)"), p.page)}, false));
  p.Add(Caption(QStringLiteral("Use this reset string &AFTER fax sessions"), ResetAfterEdit, p.page));
  p.Add(Row({ResetAfterEdit, new QLabel(QStringLiteral("(usually ATZ or blank)"), p.page)}, false));
  SM56Box = new QCheckBox(QStringLiteral("My modem is a Motorola &SM56"), p.page);
  p.Add(SM56Box);
  connect(FindModemButton, &QPushButton::clicked, this, [this] {
    FindModemPort(this, PortGroup);
    // The finder may have mapped a port: its device is the one on file now.
    for (unsigned n = 1; n <= 6; ++n) portDevices_[n - 1] = Q(fe::MapComNumber(n));
    ShowPortDevice();
  });
  // The serial port polls as soon as the box says so, before anything is saved.
  connect(SM56Box, &QCheckBox::clicked, this, [](bool on) { SetWorkingSM56Fix(on); });
  return p.Done();
}

QWidget* TPreferences::BuildSendPage1() {
  PageGrid p(this);
  ClassGroup = new TRadioGroup(QStringLiteral("Fax &class for SENDING Faxes"), kClasses, 4, p.page);
  CheckClassButton = new QPushButton(QStringLiteral("Chec&k Fax Class"), p.page);
  p.Question(4);
  p.Add(ClassGroup);
  p.Add(Row({CheckClassButton}));
  SpeedList = SpeedCombo(p.page);
  p.Question(5);
  p.Add(Caption(QStringLiteral("&Transfer Rate (BPS) for SENDING faxes"), SpeedList, p.page));
  p.Add(Row({SpeedList}));
  InitEdit = Edit(p.page);
  InitHelpButton = new QPushButton(QStringLiteral("Help with &Init Strings"), p.page);
  p.Question(6);
  p.Add(Caption(QStringLiteral("&Modem initialization string for SENDING faxes (usually blank):"), InitEdit, p.page));
  p.Add(Row({InitEdit, InitHelpButton}, false));
  connect(CheckClassButton, &QPushButton::clicked, this, [this] { CheckClass(ClassGroup); });
  connect(InitHelpButton, &QPushButton::clicked, this,
          [this] { InitEdit->setText(ModemTools().InitStringHelper(this, InitEdit->text(), true)); });
  return p.Done();
}

QWidget* TPreferences::BuildSendPage2() {
  PageGrid p(this);
  NameEdit = Edit(p.page, 35);
  FaxEdit = Edit(p.page, 20);
  p.Question(7);
  p.Add(Caption(QStringLiteral("Your &name"), NameEdit, p.page));
  p.Add(NameEdit);
  p.Add(Caption(QStringLiteral("Your fax number (Station &ID#)"), FaxEdit, p.page));
  p.Add(FaxEdit);
  ECMBox = new QCheckBox(QStringLiteral("Use Fax &Error Control when SENDING"), p.page);
  p.Question(8);
  p.Add(ECMBox);
  PrefixEdit = Edit(p.page);
  SuffixEdit = Edit(p.page);
  p.Question(9);
  p.Add(Caption(QStringLiteral("&Dial prefix or Calling Card Number:"), PrefixEdit, p.page));
  p.Add(PrefixEdit);
  p.Add(Caption(QStringLiteral("Dial s&uffix or access code:"), SuffixEdit, p.page));
  p.Add(SuffixEdit);
  p.Add(Text(QStringLiteral("A comma in the prefix or suffix makes the modem pause for 2 seconds."), p.page));
  return p.Done();
}

QWidget* TPreferences::BuildSendPage3() {
  PageGrid p(this);
  // Whole numbers only; Finish still checks, since an edit may be left empty.
  AttemptsEdit = Edit(p.page, 4);
  AttemptsEdit->setValidator(new QIntValidator(0, 9999, AttemptsEdit));
  RetryWaitEdit = Edit(p.page, 4);
  RetryWaitEdit->setValidator(new QIntValidator(0, 9999, RetryWaitEdit));
  for (QLineEdit* e : {AttemptsEdit, RetryWaitEdit}) e->setMaximumWidth(80);
  p.Question(10);
  p.Add(Caption(QStringLiteral("Number of &attempts to dial each fax:"), AttemptsEdit, p.page));
  p.Add(Row({AttemptsEdit}));
  p.Question(11);
  p.Add(Caption(QStringLiteral("&Seconds to wait between dial attempts:"), RetryWaitEdit, p.page));
  p.Add(Row({RetryWaitEdit}));
  RenegotiateBox = new QCheckBox(QStringLiteral("&Renegotiate Between Pages when SENDING"), p.page);
  BlindDialBox = new QCheckBox(QStringLiteral("Bl&ind Dial"), p.page);
  IgnoreBusyBox = new QCheckBox(QStringLiteral("I&gnore Busy Signal"), p.page);
  p.Question(12);
  p.Add(RenegotiateBox);
  p.Question(13);
  p.Add(BlindDialBox);
  p.Question(14);
  p.Add(IgnoreBusyBox);
  return p.Done();
}

QWidget* TPreferences::BuildReceivePage1() {
  PageGrid p(this);
  ClassReceiveGroup = new TRadioGroup(QStringLiteral("Fax &class for RECEIVING Faxes"), kClasses, 4, p.page);
  CheckClassReceiveButton = new QPushButton(QStringLiteral("Chec&k Fax Class"), p.page);
  SameClassButton = new QPushButton(QStringLiteral("&Same as SEND"), p.page);
  p.Question(15);
  p.Add(ClassReceiveGroup);
  p.Add(Row({CheckClassReceiveButton, SameClassButton}));
  SpeedReceiveList = SpeedCombo(p.page);
  SameSpeedButton = new QPushButton(QStringLiteral("Same &as SEND"), p.page);
  p.Question(16);
  p.Add(Caption(QStringLiteral("&Transfer Rate (BPS) for RECEIVING faxes"), SpeedReceiveList, p.page));
  p.Add(Row({SpeedReceiveList, SameSpeedButton}));
  InitReceiveEdit = Edit(p.page);
  SameInitButton = new QPushButton(QStringLiteral("Same as S&END"), p.page);
  InitReceiveHelpButton = new QPushButton(QStringLiteral("Help With &Init Strings"), p.page);
  p.Question(17);
  p.Add(Caption(QStringLiteral("&Modem initialization string for RECEIVING faxes (usually blank):"), InitReceiveEdit,
                p.page));
  p.Add(Row({InitReceiveEdit, SameInitButton, InitReceiveHelpButton}, false));
  connect(CheckClassReceiveButton, &QPushButton::clicked, this, [this] { CheckClass(ClassReceiveGroup); });
  connect(SameClassButton, &QPushButton::clicked, this,
          [this] { ClassReceiveGroup->SetItemIndex(ClassGroup->ItemIndex()); });
  connect(SameSpeedButton, &QPushButton::clicked, this,
          [this] { SpeedReceiveList->setCurrentIndex(SpeedList->currentIndex()); });
  connect(SameInitButton, &QPushButton::clicked, this, [this] { InitReceiveEdit->setText(InitEdit->text()); });
  connect(InitReceiveHelpButton, &QPushButton::clicked, this,
          [this] { InitReceiveEdit->setText(ModemTools().InitStringHelper(this, InitReceiveEdit->text(), false)); });
  return p.Done();
}

QWidget* TPreferences::BuildReceivePage2() {
  PageGrid p(this);
  QStringList rings;
  for (int i = 1; i <= 8; ++i) rings << QString::number(i);
  RingGroup = new TRadioGroup(QStringLiteral("Answer on ring"), rings, 8, p.page);
  p.Question(18);
  p.Add(RingGroup);
  AtStartupBox = new QCheckBox(QStringLiteral("&Start Receiving at program startup"), p.page);
  ECMReceiveBox = new QCheckBox(QStringLiteral("Use Fax &Error Control when RECEIVING"), p.page);
  p.Question(19);
  p.Add(AtStartupBox);
  p.Question(20);
  p.Add(ECMReceiveBox);
  return p.Done();
}

QWidget* TPreferences::BuildReceivePage3() {
  PageGrid p(this);
  WavEdit = Edit(p.page);
  ChooseWavButton = new QPushButton(QStringLiteral("&Choose"), p.page);
  PlayWavButton = new QPushButton(QStringLiteral("Play &Now"), p.page);
  NoWavButton = new QPushButton(QStringLiteral("N&one"), p.page);
  p.Question(21);
  p.Add(Caption(QStringLiteral("Select &WAV File to play when receiving a fax:"), WavEdit, p.page));
  p.Add(WavEdit);
  p.Add(Row({ChooseWavButton, PlayWavButton, NoWavButton}));
  PrintOnReceiptBox =
      new QCheckBox(QStringLiteral("&Print each fax as it is received, on the following printer:"), p.page);
  PrinterList = new QComboBox(p.page);
  // The system's default printer is shown as such; the settings keep the
  // stored name for it.
  PrinterList->addItem(QStringLiteral("Default printer"), QLatin1String(kDefaultPrinter));
  for (const QString& name : QPrinterInfo::availablePrinterNames()) PrinterList->addItem(name, name);
  p.Question(22);
  p.Add(PrintOnReceiptBox);
  p.Add(Row({PrinterList}));
  DisableNotificationBox = new QCheckBox(QStringLiteral("&Disable Receiving Faxes Notification Box"), p.page);
  p.Question(23);
  p.Add(DisableNotificationBox);
  connect(ChooseWavButton, &QPushButton::clicked, this, &TPreferences::ChooseWav);
  connect(PlayWavButton, &QPushButton::clicked, this, [this] {
    if (!PlayWavFile(WavEdit->text())) Beep();
  });
  connect(NoWavButton, &QPushButton::clicked, WavEdit, &QLineEdit::clear);
  return p.Done();
}

QWidget* TPreferences::BuildAdvancedPage() {
  PageGrid p(this);
  p.Add(BoldText(QStringLiteral("Change the settings on this page only when technical support asks you to."), p.page));
  ImposeWaitBox = new QCheckBox(QStringLiteral("&RAGE MOBILITY Printing/Viewing Problems"), p.page);
  p.Add(ImposeWaitBox);
  p.Add(Text(QStringLiteral("Some display drivers draw fax pages wrongly when they are sent too fast. With this box "
                            "checked, printing and viewing pause briefly around every block of the page. The "
                            "change takes effect the next time Quillon starts."),
             p.page));
  return p.Done();
}

// ---- settings ---------------------------------------------------------------------------

void TPreferences::ShowPortDevice() {
  const int i = PortGroup->ItemIndex();
  showingDevice_ = true;
  PortDeviceBox->setEditText(i >= 0 && i < 6 ? portDevices_[i] : QString());
  showingDevice_ = false;
  const std::string pinned = i >= 0 && i < 6 ? PortPinnedBy(static_cast<unsigned>(i + 1)) : std::string();
  PortDeviceBox->setEnabled(i >= 0 && i < 6 && pinned.empty());
  if (!pinned.empty())
    PortDeviceNote->setText(QStringLiteral("The environment variable ") + Q(pinned) +
                            QStringLiteral(" sets this port's device."));
  else if (i >= 0 && i < 6)
    PortDeviceNote->setText(QStringLiteral("Saved as COM%1 in section [Ports] of QN.INI.").arg(i + 1));
  else
    PortDeviceNote->clear();
}

bool TPreferences::StorePortDevices(QString* failed) const {
  bool ok = true;
  for (unsigned n = 1; n <= 6; ++n) {
    const QString wanted = portDevices_[n - 1];
    if (wanted.isEmpty() || !PortPinnedBy(n).empty() || S(wanted) == fe::MapComNumber(n)) continue;
    if (!SetPortDevice(n, S(wanted))) {
      ok = false;
      if (failed) *failed += QStringLiteral(" COM%1").arg(n);
    }
  }
  return ok;
}

void TPreferences::LoadFrom(const FaxSettings& s) {
  PortGroup->SetItemIndex(s.ComPort);
  ShowPortDevice();
  ToneGroup->SetItemIndex(s.ToneOrPulse);
  ResetBeforeEdit->setText(Q(s.String));
  ResetAfterEdit->setText(Q(s.AfterString));
  SM56Box->setChecked(s.UseMotorolaSM56Fix);
  ClassGroup->SetItemIndex(s.FaxClass);
  SpeedList->setCurrentIndex(FaxSpeedIndex(s.MaximumBPS));
  InitEdit->setText(Q(s.InitString));
  NameEdit->setText(Q(s.Name));
  FaxEdit->setText(Q(s.Fax));
  ECMBox->setChecked(s.ECM);
  PrefixEdit->setText(Q(s.DialPrefix));
  SuffixEdit->setText(Q(s.DialSuffix));
  AttemptsEdit->setText(QString::number(s.DialAttempts));
  RetryWaitEdit->setText(QString::number(s.RetryWait));
  RenegotiateBox->setChecked(s.RenegotiateBetween);
  BlindDialBox->setChecked(s.BlindDial);
  IgnoreBusyBox->setChecked(s.IgnoreBusy);
  ClassReceiveGroup->SetItemIndex(s.FaxClassReceive);
  SpeedReceiveList->setCurrentIndex(FaxSpeedIndex(s.MaximumBPSReceive));
  InitReceiveEdit->setText(Q(s.InitStringReceive));
  RingGroup->SetItemIndex(s.AnswerOnRing - 1);
  AtStartupBox->setChecked(s.AtStartup);
  ECMReceiveBox->setChecked(s.ECMReceive);
  WavEdit->setText(Q(s.Wav));
  PrintOnReceiptBox->setChecked(s.PrintOnReceipt);
  const int printer = PrinterList->findData(Q(s.PrintOnReceiptPrinter), Qt::UserRole, Qt::MatchExactly);
  PrinterList->setCurrentIndex(printer >= 0 ? printer : 0);
  DisableNotificationBox->setChecked(s.DisableReceivingFaxesNotification);
  ImposeWaitBox->setChecked(s.ImposeWaitBeforePrinting);
  SipLineBox->setChecked(s.SipLine);
  SipBox->setEnabled(s.SipLine);
  SipBox->Load(s);
}

QWidget* TPreferences::BuildSipPage() {
  PageGrid p(this);
  p.Add(Text(QStringLiteral("Without a fax modem, Quillon sends and receives faxes through a SIP account, the "
                            "kind of telephone account most internet and telephone providers give. Faxes then "
                            "travel as T.38 where both sides can, else as audio (G.711)."),
             p.page));
  SipLineBox = new QCheckBox(QStringLiteral("I have &no fax modem: use a SIP account"), p.page);
  p.Add(SipLineBox);
  SipBox = new TSipAccountBox(true, p.page);
  p.Add(SipBox);
  connect(SipLineBox, &QCheckBox::toggled, SipBox, &QWidget::setEnabled);
  SipBox->setEnabled(false);
  return p.Done();
}

bool TPreferences::StoreTo(FaxSettings& s, QString* error) const {
  int attempts = 0, wait = 0;
  if (!ToInteger(AttemptsEdit->text(), &attempts, error) || !ToInteger(RetryWaitEdit->text(), &wait, error))
    return false;
  // A group showing no selection keeps the stored value it could not show.
  auto take = [](const TRadioGroup* g, int& field, int offset = 0) {
    if (g->ItemIndex() >= 0) field = g->ItemIndex() + offset;
  };
  take(PortGroup, s.ComPort);
  take(ToneGroup, s.ToneOrPulse);
  s.String = S(ResetBeforeEdit->text());
  s.AfterString = S(ResetAfterEdit->text());
  s.UseMotorolaSM56Fix = SM56Box->isChecked();
  take(ClassGroup, s.FaxClass);
  s.MaximumBPS = FaxSpeedBps(SpeedList->currentIndex());
  s.InitString = S(InitEdit->text());
  s.Name = S(NameEdit->text());
  s.Fax = S(FaxEdit->text());
  s.ECM = ECMBox->isChecked();
  s.DialPrefix = S(PrefixEdit->text());
  s.DialSuffix = S(SuffixEdit->text());
  s.DialAttempts = attempts;
  s.RetryWait = wait;
  s.RenegotiateBetween = RenegotiateBox->isChecked();
  s.BlindDial = BlindDialBox->isChecked();
  s.IgnoreBusy = IgnoreBusyBox->isChecked();
  take(ClassReceiveGroup, s.FaxClassReceive);
  s.MaximumBPSReceive = FaxSpeedBps(SpeedReceiveList->currentIndex());
  s.InitStringReceive = S(InitReceiveEdit->text());
  take(RingGroup, s.AnswerOnRing, 1);
  s.AtStartup = AtStartupBox->isChecked();
  s.ECMReceive = ECMReceiveBox->isChecked();
  s.Wav = S(WavEdit->text());
  s.PrintOnReceipt = PrintOnReceiptBox->isChecked();
  s.PrintOnReceiptPrinter = S(PrinterList->currentData().toString());
  s.DisableReceivingFaxesNotification = DisableNotificationBox->isChecked();
  s.ImposeWaitBeforePrinting = ImposeWaitBox->isChecked();
  s.SipLine = SipLineBox->isChecked();
  s = SipBox->Typed(s);  // the password is stored apart (RunPreferencesWizard)
  return true;
}

// ---- pages and buttons ------------------------------------------------------------------

int TPreferences::Page() const {
  return Pages->currentIndex();
}

void TPreferences::SetPage(int page) {
  if (page < 0 || page >= kPageCount) return;
  Pages->setCurrentIndex(page);
  SetButtons();
}

void TPreferences::SetButtons() {
  const int page = Page();
  BackButton->setEnabled(page > 0);
  NextButton->setEnabled(page < kPageCount - 1);
  // On a first run the user walks through every page before finishing.
  FinishButton->setEnabled(!firstRun_ || page == kPageCount - 1);
  (NextButton->isEnabled() ? NextButton : FinishButton)->setDefault(true);
  PageList->setCurrentIndex(page);
  CaptionLabel->setText(QLatin1String(kPageTitles[page]));
}

void TPreferences::FinishButtonClick() {
  if (!AskYesNo(QStringLiteral("Save changes?"), QStringLiteral("Save Preferences"))) return;
  // A number that does not convert keeps the wizard open on its page, so the
  // user's other changes are not lost with it.
  FaxSettings check = Settings();
  QString error;
  if (!StoreTo(check, &error)) {
    MessageBoxText(error, QStringLiteral("Preferences Wizard"), mbOk | mbIconError);
    SetPage(4);
    QLineEdit* bad = ToInteger(AttemptsEdit->text(), nullptr, nullptr) ? RetryWaitEdit : AttemptsEdit;
    bad->setFocus();
    bad->selectAll();
    return;
  }
  accept();
}

void TPreferences::CheckClass(TRadioGroup* target) {
  if (!ModemTools().CheckFaxClass) return;
  // The check needs a port; a stored port the group cannot show is not one to test.
  if (PortGroup->ItemIndex() < 0) {
    ShowInfo(QStringLiteral("Please choose the Port of your modem first."));
    SetPage(1);
    PortGroup->setFocus();
    return;
  }
  const int com = PortGroup->ItemIndex() + 1;
  QString name;
  const int r = ModemTools().CheckFaxClass(this, com, &name);
  if (r < 0 || r + 1 == target->ItemIndex()) return;
  if (AskYesNo(QStringLiteral("Set fax class as ") + name + QStringLiteral(" ?"), QStringLiteral("Fax Class")))
    target->SetItemIndex(r + 1);
}

void TPreferences::ChooseWav() {
  const QString current = WavEdit->text();
  QFileDialog dialog(this, QStringLiteral("Select WAV File"), QString::fromStdString(ProgramFolder()),
                     QStringLiteral("WAVE files (*.wav *.WAV)"));
  dialog.setFileMode(QFileDialog::ExistingFile);
  if (!current.isEmpty() && QFileInfo(current).isFile()) {
    dialog.setDirectory(QFileInfo(current).absolutePath());
    dialog.selectFile(QFileInfo(current).fileName());
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  const QString chosen = QDir::toNativeSeparators(dialog.selectedFiles().first());
  if (chosen.toUpper().contains(QLatin1String(".WAV"))) WavEdit->setText(chosen);
}

// ---- the command --------------------------------------------------------------------------

bool RunPreferencesWizard(QWidget* parent) {
  TPreferences wizard(parent);
  wizard.LoadFrom(Settings());
  CentreForm(&wizard);
  if (wizard.exec() != QDialog::Accepted) return false;
  if (!wizard.StoreTo(Settings())) return false;  // checked before the wizard closed
  wizard.SipBox->Save(Settings());
  SaveSettingsOrSay(QStringLiteral("Save Preferences"));
  if (QString failed; !wizard.StorePortDevices(&failed))
    MessageBoxText(QStringLiteral("The devices of these ports could not be saved in QN.INI:") + failed,
                   QStringLiteral("Save Preferences"), mbOk | mbIconError);
  return true;
}

}  // namespace qn
