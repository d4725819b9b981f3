// Quick Setup: on the first run of the program, the port of the modem (with the
// modem finder), the user's name and fax number and the SM56 box, saved to
// QN.INI when the user presses Ok.
//
// Conventions callers rely on:
//  - User-interface thread only. RunQuickSetup loads the settings afresh, and
//    only Ok changes the record and saves it; Cancel stores nothing and leaves
//    the first-run flag set.
//  - Below the questions, the offer to add the "Quillon Fax" printer while it
//    is missing (printer_offer.h).
//  - A record that names no port yet (ComPort -1) shows Com1 selected, the port
//    a first run works with until the user chooses another.
#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace qn {

class TFaxPrinterOffer;
class TSipAccountBox;
class TRadioGroup;

// True when the user pressed Ok (the settings were updated and saved).
bool RunQuickSetup(QWidget* parent = nullptr);

class TQuickSetupForm : public QDialog {
  Q_OBJECT
 public:
  explicit TQuickSetupForm(QWidget* parent = nullptr);

  TRadioGroup* PortGroup;
  QPushButton* FindModemButton;
  QLineEdit *NameEdit, *FaxEdit;
  QCheckBox* SM56Box;
  // "I have no fax modem": the SIP account takes the port's place.
  QCheckBox* NoModemBox;
  TSipAccountBox* SipBox;
  TFaxPrinterOffer* PrinterOffer;
  QPushButton *OkButton, *CancelButton;
};

}  // namespace qn
