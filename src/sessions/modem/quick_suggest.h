// The quick configuration analysis: a small wizard that looks at the settings
// most often behind failed sessions, and at the two faults that stop most Linux
// users (no permission on the modem's device, ModemManager holding it), and
// offers a change for each, for sending or for receiving.
//
// Conventions callers rely on:
//  - Which pages are relevant is worked out once, when the window is created,
//    from the settings and the port check it is given.
//  - "&Finish" writes the offers chosen for the current mode into the settings
//    record it was given and closes with Accepted; the caller saves. "Problem
//    Solver" closes with kProblemSolverResult, "Cance&l" with Rejected; neither
//    changes the settings.
//  - The Linux pages name the command that mends the fault; nothing runs it.
#pragma once

#include <QDialog>
#include <array>
#include <string>
#include <vector>

#include "sessions/modem/system_facts.h"
#include "sessions/settings.h"

class QButtonGroup;
class QCheckBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QStackedWidget;

namespace qn {

inline constexpr int kProblemSolverResult = 99;

// What the analysis knows about the port of the settings.
struct PortCheck {
  std::string user;
  SerialDevice device;  // path empty when the port names no existing device
  bool modemManagerRunning = false;
  bool NoPermission() const { return !device.path.empty() && !device.accessible; }
  bool Any() const { return NoPermission() || modemManagerRunning; }
};
// The check for the port the settings name (ComPort), from the running system.
PortCheck CheckSettingsPort(const FaxSettings& s);

class TQuickSuggest : public QDialog {
  Q_OBJECT
 public:
  enum Page {
    pgMode = 0,
    pgTone = 1,
    pgClass = 2,
    pgBps = 3,
    pgReset = 4,
    pgInit = 5,
    pgEcm = 6,
    pgBlindDial = 7,
    pgIgnoreBusy = 8,
    pgClassReceive = 9,
    pgBpsReceive = 10,
    pgResetReceive = 11,
    pgInitReceive = 12,
    pgEcmReceive = 13,
    pgEnd = 14,
    pgPortSend = 15,     // device permission / ModemManager, sending
    pgPortReceive = 16,  // the same, receiving
    kPages = 17
  };

  TQuickSuggest(FaxSettings& settings, PortCheck port, QWidget* parent = nullptr);

  bool Relevant(int page) const { return relevant_[static_cast<size_t>(page)]; }
  int CurrentPage() const;
  bool Sending() const;
  // The pages of a mode in the order Next visits them (relevant or not).
  static const std::vector<int>& Order(bool sending);

  // Controls, for keyboard users' tab order and for tests.
  QRadioButton* SendingButton = nullptr;
  QRadioButton* ReceivingButton = nullptr;
  QCheckBox* Offer[kPages] = {};      // pages with one check box
  QButtonGroup* ResetChoice[2] = {};  // pages 4 and 11: 0 ATZ, 1 AT&F, 2 none (default)
  QButtonGroup* InitChoice[2] = {};   // pages 5 and 12: 0-5 the strings, 6 none (default)
  QLabel* PortText[2] = {};
  QLabel* EndText = nullptr;
  QPushButton* CancelButton = nullptr;
  QPushButton* BackButton = nullptr;
  QPushButton* NextButton = nullptr;
  QPushButton* FinishButton = nullptr;
  QPushButton* ProblemSolverButton = nullptr;
  QStackedWidget* Pages = nullptr;

 private:
  void Build();
  QWidget* OfferPage(int page, const QString& finding, QWidget* offer);
  QWidget* PortPage(int index);
  void GoTo(int page);
  void NextClick();
  void BackClick();
  void FinishClick();
  void UpdateButtons();
  bool OfferSelected() const;
  bool ProblemFound() const;

  FaxSettings& settings_;
  PortCheck port_;
  std::array<bool, kPages> relevant_{};
};

// The init strings the analysis offers, in the order of its choices.
const std::array<const char*, 6>& OfferedInitStrings();

// The main window's "Quick Configuration Analysis" command.
void RunQuickConfigurationAnalysis(QWidget* parent);

}  // namespace qn
