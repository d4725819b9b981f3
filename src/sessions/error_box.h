// The error window of the fax sessions and modem tools: a caption, the message
// in a read-only text area sized to it, a pointer to the problem solver, "Ok",
// " Fax Problem Solver" and, when asked for, "Continue".
//
// The error code the message is about (absolute value, 0 when none) picks the
// problem solver's page that the " Fax Problem Solver" button opens.
//
// Conventions: user-interface thread only. One error window exists at a time:
// a request while one is shown returns false at once. The result is true only
// when the user chose "Continue".
#pragma once

#include <QDialog>

class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace qn {

class TShowErrorForm : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kContinueResult = -99;
  static constexpr int kProblemSolverResult = 4;
  static constexpr int kAutoCloseMs = 30000;

  TShowErrorForm(const QString& title, const QString& message, bool showContinue, bool autoClose,
                 QWidget* parent = nullptr, int problemCode = 0);

  QPlainTextEdit* Memo1;
  QPushButton *OkButton, *ProblemSolverButton, *ContinueButton;

 protected:
  void done(int result) override;

 private:
  void ProblemSolverButtonClick();
  QTimer* timer_ = nullptr;
  int problemCode_ = 0;
};

bool ShowErrorBox(const QString& title, const QString& message, bool showContinue, bool autoClose,
                  int problemCode = 0);

}  // namespace qn
