// The error window of the fax sessions and modem tools: a caption, the message
// in a read-only text area sized to it, a pointer to the problem solver, "Ok",
// " Fax Problem Solver" and, when asked for, "Continue".
//
// The error code the message is about (absolute value, 0 when none) picks the
// problem solver's page that the " Fax Problem Solver" button opens.
//
// Conventions: user-interface thread only. One error window exists at a time:
// a request while one is shown returns false at once (ShowErrorBoxInTurn waits
// its turn instead). The result is true only when the user chose "Continue".
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

// An error window without "Continue" that must not be lost: shown at once when
// no other is, else as soon as the one on screen (and those queued before it)
// has closed.
void ShowErrorBoxInTurn(const QString& title, const QString& message, bool autoClose, int problemCode = 0);
// An engine error as the error window tells it: a plain sentence first, where
// the engine's own text names internals ("ie_NOpen - device not open"), then
// the engine's text, which the records and logs keep unchanged. Codes whose
// text is plain already give just that text.
QString PlainErrorText(int code);
QString ErrorWindowText(int code);

}  // namespace qn
