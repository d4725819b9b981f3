#include "sessions/error_box.h"

#include <QApplication>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <deque>

#include "common/dialogs.h"
#include "common/help.h"
#include "fe_texts.h"

namespace qn {

namespace {
bool gShown = false;  // one error window at a time

struct TPendingBox {
  QString title, message;
  bool autoClose;
  int problemCode;
};
std::deque<TPendingBox> gPending;  // waiting for the window on screen to close

void ShowNextPending() {
  if (gShown || gPending.empty()) return;
  const TPendingBox next = gPending.front();
  gPending.pop_front();
  ShowErrorBox(next.title, next.message, false, next.autoClose, next.problemCode);
}
}  // namespace

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
  ProblemSolverButton = new QPushButton(QStringLiteral(" Fax &Problem Solver"), this);
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

namespace {
struct PlainText {
  int code;
  const char* text;
};
// Engine texts that name internals, with what they mean to the person at the desk.
constexpr PlainText kPlainTexts[] = {
    {1002, "Quillon met an unexpected value (an internal error)."},
    {1005, "The modem port is missing (an internal error)."},
    {1007, "The modem is missing (an internal error)."},
    {1008, "The phone book is missing (an internal error)."},
    {1009, "This cannot be done over a network connection."},
    {2001, "The modem port does not exist."},
    {2002, "The modem port does not support this speed."},
    {2003, "The modem port's settings are not valid."},
    {2004, "The modem port's settings are not valid."},
    {2005, "The modem port is in use by another program, or you may not use it."},
    {2006, "There is not enough memory to open the modem port."},
    {2007, "The modem port is not open."},
    {2008, "The modem port is already open."},
    {2009, "Too many files are open."},
    {2010, "Quillon ran out of timers (an internal error)."},
    {2011, "No modem port has been chosen."},
    {2012, "The modem port could not be opened."},
    {3001, "The modem port cannot be used this way."},
    {3002, "Quillon could not watch the modem port."},
    {3006, "The modem port's buffer is too small."},
    {3010, "The modem port has no address."},
    {5001, "Quillon ran out of modem watches (an internal error)."},
    {5003, "Quillon lost track of a modem watch (an internal error)."},
    {7012, "The table is not ready (an internal error)."},
    {8001, "The file is not a fax file."},
    {8005, "Quillon could not make a picture of the page."},
    {8052, "The fax font is missing or damaged."},
    {8054, "The page is too tall to show."},
};
}  // namespace

QString PlainErrorText(int code) {
  const int abs = code < 0 ? -code : code;
  for (const PlainText& p : kPlainTexts)
    if (p.code == abs) return QString::fromLatin1(p.text);
  return QString::fromStdString(fe::ErrorText(abs));
}

QString ErrorWindowText(int code) {
  const QString engine = QString::fromStdString(fe::ErrorText(code < 0 ? -code : code));
  const QString plain = PlainErrorText(code);
  return plain == engine ? engine : plain + QStringLiteral("\r\n(") + engine + QLatin1Char(')');
}

bool ShowErrorBox(const QString& title, const QString& message, bool showContinue, bool autoClose,
                  int problemCode) {
  if (gShown) return false;
  gShown = true;
  TShowErrorForm form(title, message, showContinue, autoClose, nullptr, problemCode);
  CentreForm(&form);
  const int result = form.exec();
  gShown = false;
  // Windows that waited for this one come next, once its caller has gone on.
  if (!gPending.empty()) QTimer::singleShot(0, qApp, &ShowNextPending);
  if (result == TShowErrorForm::kProblemSolverResult) ShowProblemSolverForError(problemCode);
  return result == TShowErrorForm::kContinueResult;
}

void ShowErrorBoxInTurn(const QString& title, const QString& message, bool autoClose, int problemCode) {
  if (gShown) {
    gPending.push_back({title, message, autoClose, problemCode});
    return;
  }
  ShowErrorBox(title, message, false, autoClose, problemCode);
}

}  // namespace qn
