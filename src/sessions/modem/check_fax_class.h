// The fax-class check window: opens the port, checks for a modem, resets it to
// its factory settings, asks which fax classes it supports and recommends one.
// The modem work runs on a worker thread; the window keeps painting.
//
// Conventions callers rely on:
//  - The check starts when the window is first shown and ends with "Ok" shown;
//    the port is closed again whatever happened.
//  - Result(): -1 none, 0 Class 1, 1 Class 2, 2 Class 2.0; ResultName() the name.
#pragma once

#include <QDialog>
#include <QString>
#include <string>

class QLabel;
class QPushButton;

namespace qn {

class TFaxSessionPort;

// Sends "AT&F" and waits up to 36 ticks for "OK" (any case). When "AT&F" cannot
// be sent, tries "ATZ" the same way but still answers false.
bool ResetModemToFactory(TFaxSessionPort& port);

class TCheckFaxClassForm : public QDialog {
  Q_OBJECT
 public:
  TCheckFaxClassForm(QWidget* parent, int comNumber, std::string resetString = {});

  int Result() const { return result_; }
  QString ResultName() const { return name_; }
  bool Working() const { return working_; }

  QLabel* Class1Line = nullptr;
  QLabel* Class2Line = nullptr;
  QLabel* Class20Line = nullptr;
  QLabel* Status = nullptr;
  QPushButton* OkButton = nullptr;

 protected:
  void showEvent(QShowEvent* e) override;
  void reject() override;

 private:
  void CheckFaxClass();
  void UnknownLines();

  int com_;
  std::string reset_;
  int result_ = -1;
  QString name_;
  bool started_ = false;
  bool working_ = false;
};

}  // namespace qn
