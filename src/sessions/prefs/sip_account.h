// The SIP account's fields, shared by Quick Setup (the account itself) and the
// Preferences Wizard's "SIP Account" page (with the ports, T.38 and codec too),
// and its "Test account" button, which registers with the account as typed and
// says in plain words what the registrar answered.
//
// Conventions callers rely on:
//  - User-interface thread only. The test runs ModemTools().TestSipAccount on a
//    helper thread (the window keeps painting); without that tool the button is
//    disabled.
//  - Load() shows a settings record and the stored password; Save() writes the
//    fields back into the record and stores the password (secret_store.h), and
//    says where when storing failed. Nothing is saved by the box on its own.
#pragma once

#include <QGroupBox>
#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace qn {

struct FaxSettings;

class TSipAccountBox : public QGroupBox {
  Q_OBJECT
 public:
  // full: the advanced fields as well (the wizard's page).
  TSipAccountBox(bool full, QWidget* parent = nullptr);

  void Load(const FaxSettings& s);
  // False (with a message shown) when the password could not be stored.
  bool Save(FaxSettings& s);
  // The account as typed, for a test: the settings with these fields.
  FaxSettings Typed(const FaxSettings& base) const;
  QString Password() const;
  // Runs the test; the answer shows beside the button and is returned.
  QString TestAccount();

  QLineEdit *User, *Domain, *PasswordEdit, *Registrar;
  QLineEdit *AuthUser = nullptr, *PublicAddress = nullptr;
  QSpinBox *SipPort = nullptr, *MediaLow = nullptr, *MediaHigh = nullptr, *Redundancy = nullptr,
           *MaxDatagram = nullptr;
  QCheckBox* T38 = nullptr;
  QComboBox* Codec = nullptr;
  QPushButton* TestButton;
  QLabel* Answer;

 private:
  bool full_;
};

// "user@domain", the name the password is stored under.
std::string SipAccountName(const FaxSettings& s);

}  // namespace qn
