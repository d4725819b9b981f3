// What the Preferences Wizard and Quick Setup share: the radio groups of their
// pages, the small bold question numbers beside the controls, the entry points
// of the modem tools, the "Find Modem Port" button's behaviour and the playback
// of the receive sound.
//
// Conventions callers rely on:
//  - User-interface thread only.
//  - ModemTools() holds the modem finder, fax-class check and init-string
//    helper as plain functions; start-up fills them. A window whose tool is not
//    filled in disables the button that would run it, so no button does nothing.
//  - Radio groups count positions from 0; -1 means nothing is selected. A value
//    out of range selects nothing, so a stored value a group cannot show is never
//    replaced by a guess (see TRadioGroup::ItemIndex).
#pragma once

#include <QGroupBox>
#include <QStringList>
#include <functional>
#include <string>

class QButtonGroup;
class QLabel;
class QRadioButton;

namespace qn {

struct FaxSettings;

struct ModemToolHooks {
  // Runs the finder; asks about a modem found on another port than
  // `selectedCom` (1 = COM1, 0 = none). Returns the COM number to select, 0 to
  // keep the selection.
  std::function<int(QWidget* parent, int selectedCom)> FindModem;
  // Runs the fax-class check on COM `comNumber`: the recommended class index
  // (-1 none, 0 Class 1, 1 Class 2, 2 Class 2.0) and its name.
  std::function<int(QWidget* parent, int comNumber, QString* name)> CheckFaxClass;
  // Runs the init-string helper on the current text; returns the new text.
  std::function<QString(QWidget* parent, const QString& current, bool forSending)> InitStringHelper;
  // Registers with the SIP account of `account` (its [SIP] fields) and the
  // password; returns the registrar's answer in plain words ("Registered.",
  // "The password is wrong.", ...). Runs on a helper thread: no widgets.
  std::function<std::string(const FaxSettings& account, const std::string& password)> TestSipAccount;
};
ModemToolHooks& ModemTools();

// A titled group of radio buttons laid out in `columns` columns (row by row).
class TRadioGroup : public QGroupBox {
  Q_OBJECT
 public:
  TRadioGroup(const QString& title, const QStringList& items, int columns, QWidget* parent = nullptr);
  int ItemIndex() const;
  // Out of range (-1 included) clears the selection.
  void SetItemIndex(int index);
  QRadioButton* Button(int index) const;
  int Count() const;

 signals:
  // Another button became the selected one (by the user or SetItemIndex).
  void Changed();

 private:
  QButtonGroup* group_;
};

// The small bold question number printed beside a control.
QLabel* QuestionNumber(int n, QWidget* parent);

// The six COM ports as the port groups list them, each with the device behind
// it: "COM5 — /dev/ttyUSB0 (USB modem, U.S. Robotics 56K)".
QStringList PortLabels();
// Shows the devices behind the ports again (the finder may have mapped one).
void RefreshPortLabels(TRadioGroup* ports);

// "Find Modem Port": runs the finder for the port selected in `ports` (COM1 at
// position 0), selects the port it returns and shows the ports' devices again.
void FindModemPort(QWidget* parent, TRadioGroup* ports);

// Settings texts in the record are in the locale's encoding.
QString Q(const std::string& s);
std::string S(const QString& s);

// SaveSettings, telling the user (under `caption`) when QN.INI could not be
// written; the record keeps the changes for this run either way.
bool SaveSettingsOrSay(const QString& caption);

// Starts playing a WAV file and returns at once; false when the file does not
// exist. A second call stops the first sound.
bool PlayWavFile(const QString& path);

}  // namespace qn
