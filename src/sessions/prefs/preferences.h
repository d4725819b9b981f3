// The Preferences Wizard: nine pages over the fax settings (modem and port,
// sending, receiving, advanced), saved as a whole when the user finishes.
//
// Conventions callers rely on:
//  - User-interface thread only. RunPreferencesWizard works on Settings():
//    it fills the pages from the record, and only "&Finish" answered Yes copies
//    the pages back and calls SaveSettings. Cancel, closing the window or a
//    refused Finish leave the record and QN.INI as they were.
//  - The wizard takes over the process-wide first-run flag when it is created
//    (g_FirstRun is cleared at once): on a first run the warning on the first
//    page shows and "&Finish" waits for the last page.
//  - The SM56 check box sets the port's SM56 working flag as soon as it is
//    clicked, before anything is saved.
//  - Settings the pages cannot show (a port, class, tone or ring value out of
//    range) are kept as they are unless the user picks another value.
#pragma once

#include <QDialog>

#include "sessions/settings.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;

namespace qn {

class TFaxPrinterOffer;
class TSipAccountBox;
class TRadioGroup;

// The wizard over Settings(): true when the user finished and the settings
// were saved.
bool RunPreferencesWizard(QWidget* parent = nullptr);

class TPreferences : public QDialog {
  Q_OBJECT
 public:
  explicit TPreferences(QWidget* parent = nullptr);

  static constexpr int kPageCount = 10;
  static const char* const kPageTitles[kPageCount];

  void LoadFrom(const FaxSettings& s);
  // Copies the pages into `s`. False (and `s` untouched) when the dial attempts
  // or retry wait are not whole numbers; `error` gets the message.
  bool StoreTo(FaxSettings& s, QString* error = nullptr) const;
  // Writes the port devices the user changed into [Ports] of QN.INI. False, with
  // the ports that could not be written in `failed`, when the file refuses.
  bool StorePortDevices(QString* failed = nullptr) const;

  int Page() const;
  void SetPage(int page);
  bool FirstRun() const { return firstRun_; }

  // Top and bottom.
  QLabel* CaptionLabel;
  QComboBox* PageList;
  QStackedWidget* Pages;
  QPushButton *HelpButton, *ProblemSolverButton, *BackButton, *NextButton, *FinishButton, *CancelButton;
  // 0 Wizard Information
  QLabel* FirstRunWarning;
  TFaxPrinterOffer* PrinterOffer;  // on the first page, while the fax printer is missing
  // The last page: faxes over a SIP account instead of the modem.
  QCheckBox* SipLineBox;
  TSipAccountBox* SipBox;
  // 1 Modem and Communications Port
  TRadioGroup *PortGroup, *ToneGroup;
  QPushButton* FindModemButton;
  // The device of the selected port, as [Ports] of QN.INI maps it (editable;
  // the serial devices found are offered).
  QComboBox* PortDeviceBox;
  QLabel* PortDeviceNote;
  QLineEdit *ResetBeforeEdit, *ResetAfterEdit;
  QCheckBox* SM56Box;
  // 2 Sending Faxes - Part 1
  TRadioGroup* ClassGroup;
  QPushButton *CheckClassButton, *InitHelpButton;
  QComboBox* SpeedList;
  QLineEdit* InitEdit;
  // 3 Sending Faxes - Part 2
  QLineEdit *NameEdit, *FaxEdit, *PrefixEdit, *SuffixEdit;
  QCheckBox* ECMBox;
  // 4 Sending Faxes - Part 3
  QLineEdit *AttemptsEdit, *RetryWaitEdit;
  QCheckBox *RenegotiateBox, *BlindDialBox, *IgnoreBusyBox;
  // 5 Receiving Faxes - Part 1
  TRadioGroup* ClassReceiveGroup;
  QPushButton *CheckClassReceiveButton, *SameClassButton, *SameSpeedButton, *SameInitButton, *InitReceiveHelpButton;
  QComboBox* SpeedReceiveList;
  QLineEdit* InitReceiveEdit;
  // 6 Receiving Faxes - Part 2
  TRadioGroup* RingGroup;
  QCheckBox *AtStartupBox, *ECMReceiveBox;
  // 7 Receiving Faxes - Part 3
  QLineEdit* WavEdit;
  QPushButton *ChooseWavButton, *PlayWavButton, *NoWavButton;
  QCheckBox* PrintOnReceiptBox;
  QComboBox* PrinterList;
  QCheckBox* DisableNotificationBox;
  // 8 Advanced
  QCheckBox* ImposeWaitBox;

 private:
  QWidget* BuildInformationPage();
  QWidget* BuildModemPage();
  QWidget* BuildSendPage1();
  QWidget* BuildSendPage2();
  QWidget* BuildSendPage3();
  QWidget* BuildReceivePage1();
  QWidget* BuildReceivePage2();
  QWidget* BuildReceivePage3();
  QWidget* BuildAdvancedPage();
  QWidget* BuildSipPage();
  void SetButtons();
  void FinishButtonClick();
  void CheckClass(TRadioGroup* target);
  void ChooseWav();

  void ShowPortDevice();
  bool firstRun_ = false;
  QString portDevices_[6];  // per COM port: the device shown or typed
  bool showingDevice_ = false;
};

}  // namespace qn
