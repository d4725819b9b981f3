#include "sessions/error_box.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "common/dialogs.h"
#include "common/help.h"

namespace qn {

namespace {
bool gShown = false;  // one error window at a time
}

TShowErrorForm::TShowErrorForm(const QString& title, const QString& message, bool showContinue, bool autoClose,
                               QWidget* parent, int problemCode)
    : QDialog(parent ? parent : MainWindow(), Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      problemCode_(problemCode) {
  setObjectName(QStringLiteral("TShowErrorForm"));
  setWindowTitle(title);
  const QString text = DisplayText(message);
  Memo1 = new QPlainTextEdit(text, this);
  Memo1->setReadOnly(true);
  Memo1->setFrameShape(QFrame::NoFrame);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setPalette(palette());
  Memo1->viewport()->setAutoFillBackground(false);
  // Tall enough for the message's lines and three more.
  const int lines = static_cast<int>(text.count(QLatin1Char('\n'))) + 1 + 3;
  const QFontMetrics fm(Memo1->font());
  Memo1->setFixedHeight(lines * fm.height() + 2 * static_cast<int>(Memo1->document()->documentMargin()));
  int widest = 0;
  for (const QString& line : text.split(QLatin1Char('\n'))) widest = std::max(widest, fm.horizontalAdvance(line));
  Memo1->setMinimumWidth(std::min(widest + 40, 900));

  auto* hint = new QLabel(
      QStringLiteral("For more information and possible solutions, click the Fax Problem Solver button"), this);
  hint->setWordWrap(true);
  OkButton = new QPushButton(QStringLiteral("Ok"), this);
  ProblemSolverButton = new QPushButton(QStringLiteral(" Fax Problem Solver"), this);
  ContinueButton = new QPushButton(QStringLiteral("Continue"), this);
  ContinueButton->setVisible(showContinue);
  OkButton->setDefault(true);
  connect(OkButton, &QPushButton::clicked, this, [this] { done(QDialog::Accepted); });
  connect(ContinueButton, &QPushButton::clicked, this, [this] { done(kContinueResult); });
  connect(ProblemSolverButton, &QPushButton::clicked, this, &TShowErrorForm::ProblemSolverButtonClick);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(OkButton);
  buttons->addWidget(ProblemSolverButton);
  buttons->addWidget(ContinueButton);
  buttons->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Memo1);
  layout->addWidget(hint);
  layout->addLayout(buttons);
  setTabOrder(OkButton, ProblemSolverButton);
  setTabOrder(ProblemSolverButton, ContinueButton);
  OkButton->setFocus();

  if (autoClose) {
    timer_ = new QTimer(this);
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this, [this] { done(QDialog::Accepted); });
    timer_->start(kAutoCloseMs);
  }
}

void TShowErrorForm::done(int result) {
  if (timer_) timer_->stop();
  QDialog::done(result);
}

void TShowErrorForm::ProblemSolverButtonClick() {
  if (ContinueButton->isVisible())
    ShowProblemSolverForError(problemCode_);
  else
    done(kProblemSolverResult);
}

bool ShowErrorBox(const QString& title, const QString& message, bool showContinue, bool autoClose,
                  int problemCode) {
  if (gShown) return false;
  gShown = true;
  TShowErrorForm form(title, message, showContinue, autoClose, nullptr, problemCode);
  CentreForm(&form);
  const int result = form.exec();
  gShown = false;
  if (result == TShowErrorForm::kProblemSolverResult) ShowProblemSolverForError(problemCode);
  return result == TShowErrorForm::kContinueResult;
}

}  // namespace qn
