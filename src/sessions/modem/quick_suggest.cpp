#include "sessions/modem/quick_suggest.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "common/dialogs.h"
#include "common/help.h"
#include "fe_device.h"
#include "sessions/fax_port.h"

namespace qn {

namespace {

constexpr const char* kPressNext = "Press Next to continue, or Finish to save changes:";

const char* const kInitChoices[6] = {
    "Generic string for Hayes compatible modems (most modems) ",
    "Basic string for US Robotics (aka 3COM) modems",
    "Basic string for for Cirrus Logic/AT&&T modems (very rare)",
    "For older US Robotics Sportster 28.8 or Early 33.6 models",
    "For US Robotics  Late Model Sportster 33.6 models",
    "For US Robotics Sportster X2 modems (56K)",
};

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

}  // namespace

const std::array<const char*, 6>& OfferedInitStrings() {
  static const std::array<const char*, 6> kStrings = {"AT&F&C1&D2&K3S7=90",    "AT&H3&I2&R2S7=90",
                                                      "AT&F&C1&D2\\Q3S7=90",   "AT&H3&I2&R2S7=90S36=0",
                                                      "AT&H3&I2&R2S7=90S36=8", "AT&H3&I2&R2S7=90S36=8S33=34"};
  return kStrings;
}

PortCheck CheckSettingsPort(const FaxSettings& s) {
  PortCheck check;
  const SystemFacts facts = GatherSystemFacts();
  check.user = facts.userName;
  check.modemManagerRunning = facts.modemManagerRunning;
  if (s.ComPort >= 0) {
    const std::string device = ComPortDevice(static_cast<unsigned>(s.ComPort + 1));
    if (!device.empty()) check.device = DescribeSerialDevice(device);
  }
  return check;
}

const std::vector<int>& TQuickSuggest::Order(bool sending) {
  static const std::vector<int> kSend = {pgPortSend, pgTone, pgClass,     pgBps,       pgReset,
                                         pgInit,     pgEcm,  pgBlindDial, pgIgnoreBusy};
  static const std::vector<int> kReceive = {pgPortReceive,  pgClassReceive, pgBpsReceive,
                                            pgResetReceive, pgInitReceive,  pgEcmReceive};
  return sending ? kSend : kReceive;
}

TQuickSuggest::TQuickSuggest(FaxSettings& settings, PortCheck port, QWidget* parent)
    : QDialog(parent), settings_(settings), port_(std::move(port)) {
  const FaxSettings& s = settings_;
  relevant_[pgMode] = true;
  relevant_[pgTone] = s.ToneOrPulse == 1;
  relevant_[pgClass] = s.FaxClass != 1;
  relevant_[pgBps] = s.MaximumBPS > 9600;
  relevant_[pgReset] = s.String.empty();
  relevant_[pgInit] = s.InitString.empty();
  relevant_[pgEcm] = s.ECM;
  relevant_[pgBlindDial] = s.BlindDial;
  relevant_[pgIgnoreBusy] = s.IgnoreBusy;
  relevant_[pgClassReceive] = s.FaxClassReceive != 1;
  relevant_[pgBpsReceive] = s.MaximumBPSReceive > 9600;
  relevant_[pgResetReceive] = s.String.empty();
  relevant_[pgInitReceive] = s.InitStringReceive.empty();
  relevant_[pgEcmReceive] = s.ECMReceive;
  relevant_[pgEnd] = true;
  relevant_[pgPortSend] = port_.Any();
  relevant_[pgPortReceive] = port_.Any();
  Build();
  GoTo(pgMode);
}

QWidget* TQuickSuggest::OfferPage(int page, const QString& finding, QWidget* offer) {
  auto* w = new QWidget(Pages);
  w->setObjectName(QStringLiteral("Page%1").arg(page));
  auto* layout = new QVBoxLayout(w);
  auto* text = new QLabel(finding + QStringLiteral("\n\n") + QString::fromLatin1(kPressNext), w);
  text->setWordWrap(true);
  layout->addWidget(text);
  if (offer) {
    offer->setParent(w);
    layout->addWidget(offer);
  }
  layout->addStretch();
  return w;
}

QWidget* TQuickSuggest::PortPage(int index) {
  auto* w = new QWidget(Pages);
  auto* layout = new QVBoxLayout(w);
  QString text;
  QString command;
  const QString device = Q(port_.device.path);
  if (port_.NoPermission()) {
    const std::string group = port_.device.group.empty() ? "dialout" : port_.device.group;
    text += QStringLiteral(
                "You (%1) may not open %2, the device of Com %3: it belongs to the group %4 (mode %5), "
                "and you are not allowed to read and write it. Every %6 will fail until you are. "
                "To join the group, run this command in a terminal, then log out and in again:")
                .arg(Q(port_.user), device, QString::number(settings_.ComPort + 1), Q(group),
                     QStringLiteral("%1").arg(port_.device.mode, 4, 8, QLatin1Char('0')),
                     index == 0 ? QStringLiteral("fax you send") : QStringLiteral("call you answer"));
    command = Q(GroupFixCommand(port_.user, group));
  }
  if (port_.modemManagerRunning) {
    if (!text.isEmpty()) text += QStringLiteral("\n\n");
    text += QStringLiteral(
        "ModemManager is running. It opens new modems to find out what they are and may hold "
        "the port, so that the fax program finds it in use or the modem answers strangely. "
        "If you use no mobile broadband modem, stop it with this command:");
    if (!command.isEmpty()) command += QStringLiteral("; ");
    command += QStringLiteral("sudo systemctl disable --now ModemManager");
  }
  auto* label = new QLabel(text, w);
  label->setWordWrap(true);
  PortText[index] = label;
  layout->addWidget(label);
  auto* row = new QHBoxLayout;
  auto* edit = new QLineEdit(command, w);
  edit->setReadOnly(true);
  edit->setObjectName(QStringLiteral("FixCommand"));
  auto* copy = new QPushButton(QStringLiteral("C&opy Command"), w);
  copy->setAutoDefault(false);
  connect(copy, &QPushButton::clicked, this, [edit] { QGuiApplication::clipboard()->setText(edit->text()); });
  row->addWidget(edit, 1);
  row->addWidget(copy);
  layout->addLayout(row);
  layout->addStretch();
  return w;
}

void TQuickSuggest::Build() {
  setWindowTitle(QStringLiteral("Quick Configuration Analysis"));
  auto* layout = new QVBoxLayout(this);
  Pages = new QStackedWidget(this);
  layout->addWidget(Pages, 1);
  std::array<QWidget*, kPages> page{};

  // Page 0: the mode.
  {
    auto* w = new QWidget(Pages);
    auto* l = new QVBoxLayout(w);
    auto* text = new QLabel(QStringLiteral("This analysis looks at the settings that most often make faxing fail and "
                                           "offers to change them. What is the trouble?"),
                            w);
    text->setWordWrap(true);
    l->addWidget(text);
    SendingButton = new QRadioButton(QStringLiteral("I am having trouble sending faxes"), w);
    ReceivingButton = new QRadioButton(QStringLiteral("I am having trouble receiving faxes"), w);
    SendingButton->setChecked(true);
    l->addWidget(SendingButton);
    l->addWidget(ReceivingButton);
    l->addStretch();
    page[pgMode] = w;
    connect(SendingButton, &QRadioButton::clicked, this, &TQuickSuggest::UpdateButtons);
    connect(ReceivingButton, &QRadioButton::clicked, this, &TQuickSuggest::UpdateButtons);
  }
  const auto box = [this](int p, const char* caption) {
    Offer[p] = new QCheckBox(QString::fromLatin1(caption));
    connect(Offer[p], &QCheckBox::clicked, this, &TQuickSuggest::UpdateButtons);
    return Offer[p];
  };
  const auto resetOffer = [this](int index) {
    auto* w = new QWidget;
    auto* l = new QVBoxLayout(w);
    ResetChoice[index] = new QButtonGroup(w);
    const char* const names[3] = {"Use ATZ as the reset string (recommended)", "Use AT&&F as the reset string",
                                  "Continue using No reset string (sometimes works better)"};
    for (int i = 0; i < 3; ++i) {
      auto* b = new QRadioButton(QString::fromLatin1(names[i]), w);
      ResetChoice[index]->addButton(b, i);
      l->addWidget(b);
    }
    ResetChoice[index]->button(2)->setChecked(true);
    connect(ResetChoice[index], &QButtonGroup::idClicked, this, &TQuickSuggest::UpdateButtons);
    return w;
  };
  const auto initOffer = [this](int index) {
    auto* w = new QWidget;
    auto* l = new QVBoxLayout(w);
    InitChoice[index] = new QButtonGroup(w);
    for (int i = 0; i < 7; ++i) {
      auto* b = new QRadioButton(
          i < 6 ? QString::fromLatin1(kInitChoices[i]) : QStringLiteral("Continue Using NO Initialization string"), w);
      if (i < 6) b->setToolTip(QString::fromLatin1(OfferedInitStrings()[static_cast<size_t>(i)]));
      InitChoice[index]->addButton(b, i);
      l->addWidget(b);
    }
    InitChoice[index]->button(6)->setChecked(true);
    connect(InitChoice[index], &QButtonGroup::idClicked, this, &TQuickSuggest::UpdateButtons);
    return w;
  };

  page[pgTone] = OfferPage(pgTone,
                           QStringLiteral("Your modem dials with PULSE dialing. Nearly every telephone line today "
                                          "takes TONE dialing, and pulse dialing fails on many of them."),
                           box(pgTone, "Switch to the more common TONE dialing"));
  page[pgClass] = OfferPage(pgClass,
                            QStringLiteral("Faxes are sent with %1. Class 1 works with the most modems and fax "
                                           "machines.")
                                .arg(settings_.FaxClass == 0 ? QStringLiteral("the fax class detected at each call")
                                                             : QStringLiteral("another fax class than Class 1")),
                            box(pgClass, "Use Fax Class 1 for Sending faxes"));
  page[pgBps] = OfferPage(pgBps,
                          QStringLiteral("Faxes are sent at up to %1 bits per second. Noisy or long-distance lines "
                                         "often fail at the higher rates; 9600 is slower but much surer.")
                              .arg(settings_.MaximumBPS),
                          box(pgBps, "Reduce the Transfer Rate for Sending to 9600"));
  page[pgReset] = OfferPage(pgReset,
                            QStringLiteral("No reset string is set, so the modem starts each session with whatever "
                                           "settings the last program left in it."),
                            resetOffer(0));
  page[pgInit] = OfferPage(pgInit,
                           QStringLiteral("No initialization string is set for sending. A string that suits your "
                                          "modem sets it up the way faxing needs."),
                           initOffer(0));
  page[pgEcm] = OfferPage(pgEcm,
                          QStringLiteral("Fax Error Control (ECM) is on for sending. Some modems and fax machines "
                                         "fail with it; faxes go through without it."),
                          box(pgEcm, "Disable Fax Error Control for Sending"));
  page[pgBlindDial] = OfferPage(pgBlindDial,
                                QStringLiteral("Blind dialing is on: the modem dials without waiting for the dial "
                                               "tone, and a call on a line that is not ready fails."),
                                box(pgBlindDial, "Disable Blind Dialing"));
  page[pgIgnoreBusy] = OfferPage(pgIgnoreBusy,
                                 QStringLiteral("The busy signal is ignored: a busy number is not noticed, and the "
                                                "modem waits in vain for a fax machine to answer."),
                                 box(pgIgnoreBusy, "Disable the Ignore Busy Signal setting"));
  page[pgClassReceive] = OfferPage(pgClassReceive,
                                   QStringLiteral("Faxes are received with another fax class than Class 1. Class 1 "
                                                  "works with the most modems and fax machines."),
                                   box(pgClassReceive, "Use Fax Class 1 for Receiving faxes"));
  page[pgBpsReceive] = OfferPage(pgBpsReceive,
                                 QStringLiteral("Faxes are received at up to %1 bits per second. Noisy lines often "
                                                "fail at the higher rates.")
                                     .arg(settings_.MaximumBPSReceive),
                                 box(pgBpsReceive, "Reduce the Transfer Rate for Sending to 9600 for Receiving"));
  page[pgResetReceive] = OfferPage(pgResetReceive,
                                   QStringLiteral("No reset string is set, so the modem starts each session with "
                                                  "whatever settings the last program left in it. The reset string "
                                                  "is used for sending too."),
                                   resetOffer(1));
  page[pgInitReceive] = OfferPage(pgInitReceive,
                                  QStringLiteral("No initialization string is set for receiving. A string that suits "
                                                 "your modem sets it up the way answering calls needs."),
                                  initOffer(1));
  page[pgEcmReceive] = OfferPage(pgEcmReceive,
                                 QStringLiteral("Fax Error Control (ECM) is on for receiving. Some modems and fax "
                                                "machines fail with it."),
                                 box(pgEcmReceive, "Disable Fax Error Control for Receiving"));
  {
    auto* w = new QWidget(Pages);
    auto* l = new QVBoxLayout(w);
    EndText = new QLabel(w);
    EndText->setWordWrap(true);
    l->addWidget(EndText);
    ProblemSolverButton = new QPushButton(QStringLiteral("Problem Solver"), w);
    ProblemSolverButton->setAutoDefault(false);
    l->addWidget(ProblemSolverButton, 0, Qt::AlignLeft);
    l->addStretch();
    page[pgEnd] = w;
    connect(ProblemSolverButton, &QPushButton::clicked, this, [this] { done(kProblemSolverResult); });
  }
  page[pgPortSend] = PortPage(0);
  page[pgPortReceive] = PortPage(1);
  for (QWidget* w : page) Pages->addWidget(w);

  auto* buttons = new QHBoxLayout;
  CancelButton = new QPushButton(QStringLiteral("Cance&l"), this);
  BackButton = new QPushButton(QStringLiteral("< Back"), this);
  NextButton = new QPushButton(QStringLiteral("Next >"), this);
  FinishButton = new QPushButton(QStringLiteral("&Finish"), this);
  for (QPushButton* b : {CancelButton, BackButton, NextButton, FinishButton}) b->setAutoDefault(false);
  NextButton->setDefault(true);
  buttons->addWidget(CancelButton);
  buttons->addStretch();
  buttons->addWidget(BackButton);
  buttons->addWidget(NextButton);
  buttons->addWidget(FinishButton);
  layout->addLayout(buttons);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  connect(BackButton, &QPushButton::clicked, this, &TQuickSuggest::BackClick);
  connect(NextButton, &QPushButton::clicked, this, &TQuickSuggest::NextClick);
  connect(FinishButton, &QPushButton::clicked, this, &TQuickSuggest::FinishClick);
  setMinimumSize(fontMetrics().horizontalAdvance(QLatin1Char('x')) * 70, fontMetrics().lineSpacing() * 18);
}

int TQuickSuggest::CurrentPage() const {
  return Pages->currentIndex();
}

bool TQuickSuggest::Sending() const {
  return SendingButton->isChecked();
}

bool TQuickSuggest::ProblemFound() const {
  const auto& order = Order(Sending());
  return std::any_of(order.begin(), order.end(), [this](int p) { return Relevant(p); });
}

bool TQuickSuggest::OfferSelected() const {
  for (int p : Order(Sending())) {
    if (!Relevant(p)) continue;
    if (Offer[p] && Offer[p]->isChecked()) return true;
    if ((p == pgReset || p == pgResetReceive) && ResetChoice[p == pgResetReceive]->checkedId() != 2) return true;
    if ((p == pgInit || p == pgInitReceive) && InitChoice[p == pgInitReceive]->checkedId() != 6) return true;
  }
  return false;
}

void TQuickSuggest::GoTo(int page) {
  Pages->setCurrentIndex(page);
  UpdateButtons();
  // The page's first offer takes the keyboard; pages without one leave it on Next.
  if (QWidget* w = Pages->currentWidget()) {
    for (QAbstractButton* b : w->findChildren<QAbstractButton*>()) {
      if (b->isEnabled() && b->isVisibleTo(w)) {
        b->setFocus();
        return;
      }
    }
  }
  NextButton->setFocus();
}

void TQuickSuggest::NextClick() {
  const auto& order = Order(Sending());
  const auto at = std::find(order.begin(), order.end(), CurrentPage());
  for (auto it = at == order.end() ? order.begin() : at + 1; it != order.end(); ++it)
    if (Relevant(*it)) return GoTo(*it);
  GoTo(pgEnd);
}

void TQuickSuggest::BackClick() {
  const auto& order = Order(Sending());
  const int current = CurrentPage();
  const auto at = std::find(order.begin(), order.end(), current);
  // From the closing page every page of the mode lies before it.
  auto end = current == pgEnd ? order.end() : at;
  if (current != pgEnd && at == order.end()) return GoTo(pgMode);
  for (auto it = std::make_reverse_iterator(end); it != order.rend(); ++it)
    if (Relevant(*it)) return GoTo(*it);
  GoTo(pgMode);
}

void TQuickSuggest::UpdateButtons() {
  const int page = CurrentPage();
  const bool problem = ProblemFound();
  BackButton->setEnabled(page != pgMode);
  NextButton->setEnabled(page != pgEnd);
  FinishButton->setEnabled(problem && OfferSelected());
  if (page == pgEnd) {
    EndText->setText(
        problem ? QStringLiteral("This concludes the Quick Config Analysis. Click Finish to save the changes you "
                                 "chose, or Cancel to discard them. The Preferences Wizard offers every other "
                                 "setting.")
                : QStringLiteral("The analysis did not find anything wrong with the more common Configuration "
                                 "settings. The Problem Solver helps with other troubles, and the Preferences Wizard "
                                 "offers every setting."));
    ProblemSolverButton->setVisible(!problem);
  }
  // Enter moves on through the pages and finishes on the last one.
  NextButton->setDefault(page != pgEnd);
  FinishButton->setDefault(page == pgEnd);
}

void TQuickSuggest::FinishClick() {
  if (!FinishButton->isEnabled()) return;
  FaxSettings& s = settings_;
  const auto on = [this](int p) { return Relevant(p) && Offer[p] && Offer[p]->isChecked(); };
  const auto reset = [this, &s](int index) {
    const int id = ResetChoice[index]->checkedId();
    if (id == 0) s.String = "ATZ";
    if (id == 1) s.String = "AT&F";
  };
  const auto init = [this](int index, std::string& target) {
    const int id = InitChoice[index]->checkedId();
    if (id >= 0 && id < 6) target = OfferedInitStrings()[static_cast<size_t>(id)];
  };
  if (Sending()) {
    if (on(pgTone)) s.ToneOrPulse = 0;
    if (on(pgClass)) s.FaxClass = 1;
    if (on(pgBps)) s.MaximumBPS = 9600;
    if (Relevant(pgReset)) reset(0);
    if (Relevant(pgInit)) init(0, s.InitString);
    if (on(pgEcm)) s.ECM = false;
    if (on(pgBlindDial)) s.BlindDial = false;
    if (on(pgIgnoreBusy)) s.IgnoreBusy = false;
  } else {
    if (on(pgClassReceive)) s.FaxClassReceive = 1;
    if (on(pgBpsReceive)) s.MaximumBPSReceive = 9600;
    if (Relevant(pgResetReceive)) reset(1);
    if (Relevant(pgInitReceive)) init(1, s.InitStringReceive);
    if (on(pgEcmReceive)) s.ECMReceive = false;
  }
  accept();
}

void RunQuickConfigurationAnalysis(QWidget* parent) {
  TQuickSuggest wizard(Settings(), CheckSettingsPort(Settings()), parent);
  CentreForm(&wizard);
  const int rc = wizard.exec();
  if (rc == QDialog::Accepted) {
    if (!SaveSettings())
      MessageBoxText(QStringLiteral("The settings could not be saved."), QStringLiteral("Quick Configuration Analysis"),
                     mbOk | mbIconError);
  } else if (rc == kProblemSolverResult) {
    ShowProblemSolver();
  }
}

}  // namespace qn
