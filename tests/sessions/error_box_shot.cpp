// The picture of docs/problem-solver.png (scripts/screenshot.sh solver): a "Fax
// Failure" window for a fax that failed in mid-session, its " Fax Problem Solver"
// button pressed, and the page that opens, captured from the screen of a virtual
// display and cut to the help window.
#include <QApplication>
#include <QGuiApplication>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <cstdio>

#include "common/help.h"
#include "fe_errors.h"
#include "fe_texts.h"
#include "sessions/error_box.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: error-box-shot OUTPUT.png\n", stderr);
    return 2;
  }
  QApplication app(argc, argv);
  const QString output = QString::fromLocal8Bit(argv[1]);
  bool saved = false;
  QTimer::singleShot(1000, [] {
    if (auto* box = qobject_cast<qn::TShowErrorForm*>(QApplication::activeModalWidget()))
      box->ProblemSolverButton->click();
  });
  QTimer::singleShot(2500, [&] {
    QWidget* help = qn::HelpWindow();
    if (help) {
      help->move(20, 20);
      const QRect r = help->frameGeometry();
      saved = QGuiApplication::primaryScreen()->grabWindow(0, r.x(), r.y(), r.width(), r.height()).save(output);
    }
    app.quit();
  });
  qn::ShowErrorBox(QStringLiteral("Fax Failure"),
                   QStringLiteral("We have received an error message while trying to send the fax\r\n\r\n"
                                  "Error message: ") +
                       QString::fromStdString(fe::ErrorText(fe::ecFaxSessionError)),
                   false, false, fe::ecFaxSessionError);
  if (!saved) app.exec();
  if (!saved) {
    std::fprintf(stderr, "error-box-shot: could not capture %s\n", argv[1]);
    return 1;
  }
  return 0;
}
