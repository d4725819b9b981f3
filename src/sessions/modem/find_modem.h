// The modem finder window: tests COM1 to COM6 one after the other on a worker
// thread, one result line per port, then lists the machine's other serial
// devices (USB modems) so the user can pick one; a pick maps the device to a
// free COM number in the [Ports] section of QN.INI.
//
// Conventions callers rely on:
//  - The test starts when the window is first shown; "Ok" appears when it ends.
//    Result(): the first COM number where a modem answered, or -1. Chosen(): the
//    COM number the user mapped a device to, or 0.
//  - Only a pick from the device list writes to QN.INI, and only [Ports].
#pragma once

#include <QDialog>
#include <QString>
#include <array>
#include <atomic>
#include <string>
#include <vector>

#include "sessions/modem/system_facts.h"

class QLabel;
class QListWidget;
class QPushButton;

namespace qn {

// How one COM port answered the finder.
struct PortOutcome {
  int openCode = 0;     // 0 or the negated error code of opening
  bool modem = false;   // a modem answered "OK"
  bool tested = false;  // the port was reached by the loop
  std::string device;   // the device the number maps to
};

// The text after "Com n: " for an outcome.
std::string PortOutcomeText(const PortOutcome& o);
// The finder's closing message for the found port (-1 = none).
std::string FinderMessage(int found, bool portInUse);
// The COM number (1-6) a device outside the mapping can take: one whose device
// does not exist, else one that answered as no modem, highest first; 0 when every
// number names a device that is in use or a modem (or is pinned by QN_COM<n>).
int FreeComNumber(const std::array<PortOutcome, 6>& outcomes);
// Writes COM<n>=device into [Ports] of the settings file; false on failure.
bool MapComNumberTo(int n, const std::string& device);

class TFindModemForm : public QDialog {
  Q_OBJECT
 public:
  explicit TFindModemForm(QWidget* parent = nullptr, std::string resetString = {});
  ~TFindModemForm() override;

  int Result() const { return result_; }
  int Chosen() const { return chosen_; }
  bool Working() const { return working_; }

  QLabel* Lines[6] = {};
  QLabel* DeviceLines[6] = {};  // the device behind each COM number, beside its line
  QLabel* Message = nullptr;
  QListWidget* Devices = nullptr;
  QPushButton* UseDeviceButton = nullptr;
  QPushButton* OkButton = nullptr;
  QPushButton* CancelButton = nullptr;

 protected:
  void showEvent(QShowEvent* e) override;
  void reject() override;

 private:
  void FindModem();
  void FillDevices();
  void UseDeviceButtonClick();

  std::string reset_;
  std::array<PortOutcome, 6> outcomes_{};
  std::vector<SerialDevice> others_;
  int result_ = -1;
  int chosen_ = 0;
  bool started_ = false;
  bool working_ = false;
  std::atomic<bool> cancel_{false};
};

}  // namespace qn
