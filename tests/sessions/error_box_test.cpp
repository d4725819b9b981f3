// The error window's " Fax Problem Solver" button opens the problem solver's
// page of the error the window shows: every error text a "Fax Failure",
// "Failed To Receive Incoming Fax", "Receive Mode Ended" or port window can
// show has a page that names that error.
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

#include "common/folders.h"
#include "common/help.h"
#include "fe_errors.h"
#include "fe_texts.h"
#include "modal_script.h"
#include "sessions/error_box.h"

using namespace qn;
using qntest::ModalScript;

namespace {

// The errors that the sessions' error windows report: the engine's finish and
// error codes, the port's open failures and the modem checks.
const int kSessionErrors[] = {
    fe::ecFileNotFound, fe::ecPathNotFound, fe::ecAccessDenied, fe::ecReadBeyondEOF, fe::ecDiskFull,
    fe::ecFileNotOpen, fe::ecFileNotOpenForOutput, fe::ecDeviceWriteError, fe::ecBadArgument, fe::ecGotQuitMsg,
    fe::ecPortNotAssigned, fe::ecBadId, fe::ecBaudRate, fe::ecByteSize, fe::ecDefault, fe::ecHardware,
    fe::ecNotOpen, fe::ecAlreadyOpen, fe::ecNoPortSelected, fe::ecPutBlockFail, fe::ecGetBlockFail,
    fe::ecModemNotResponding, fe::ecModemRejectedCommand, fe::ecCancelRequested, fe::ecTimeout, fe::ecNoFilename,
    fe::ecFileRejected, fe::ecFaxBadFormat, fe::ecBadGraphicsFormat, fe::ecConvertAbort, fe::ecUnpackAbort,
    fe::ecCantMakeBitmap, fe::ecNoImageLoaded, fe::ecNoImageBlockMarked, fe::ecFontFileNotFound,
    fe::ecInvalidPageNumber, fe::ecBadMaxHeight, fe::ecFontTooLarge, fe::ecFaxBadMachine, fe::ecFaxBadModemResult,
    fe::ecFaxTrainError, fe::ecFaxInitError, fe::ecFaxBusy, fe::ecFaxVoiceCall, fe::ecFaxDataCall,
    fe::ecFaxNoDialTone, fe::ecFaxNoCarrier, fe::ecFaxSessionError, fe::ecFaxPageError, fe::ecFaxMCFNoAnswer,
    fe::ecFaxNoFaxFile, fe::ecFaxNoLocalFile, fe::ecFaxNoAnswer};

QTextBrowser* HelpBrowser() {
  QWidget* w = HelpWindow();
  return w ? w->findChild<QTextBrowser*>() : nullptr;
}

QString ShownPage() {
  QTextBrowser* b = HelpBrowser();
  return b ? QFileInfo(b->source().toLocalFile()).fileName() : QString();
}

QString ShownFolder() {
  QTextBrowser* b = HelpBrowser();
  return b ? QFileInfo(b->source().toLocalFile()).dir().dirName() : QString();
}

// The text the user reads on the shown page (no markup).
QString ShownText() {
  QTextBrowser* b = HelpBrowser();
  return b ? b->toPlainText() : QString();
}

}  // namespace

class ErrorBoxTest : public QObject {
  Q_OBJECT
  QTemporaryDir home_;

 private slots:
  void initTestCase() {
    QVERIFY(home_.isValid());
    qputenv("QUILLON_HOME", QFile::encodeName(home_.path()));
    SetApplicationHelpFile(QString::fromStdString(ProgramFolder()) + QStringLiteral("QN.hlp"));
  }

  // Ok-only windows close first, then the page opens; the page is the error's
  // own, headed by the error text the window showed, with its causes and remedies.
  void problemSolverOpensThePageOfEveryCode() {
    QStringList wrong;
    for (const int code : kSessionErrors) {
      if (QWidget* w = HelpWindow()) w->close();
      QCoreApplication::processEvents();
      const QString text = QString::fromStdString(fe::ErrorText(code));
      ModalScript script;
      script.Then([](QWidget* w) {
        auto* box = qobject_cast<TShowErrorForm*>(w);
        if (box) box->ProblemSolverButton->click();
        else w->close();
      });
      // The codes arrive negated from the engine and positive from the session's
      // finish; both pick the same page.
      const int passed = code % 2 ? -code : code;
      const bool chosenContinue =
          ShowErrorBox(QStringLiteral("Fax Failure"),
                       QStringLiteral("We have received an error message while trying to send the fax\r\n\r\n"
                                      "Error message: ") + text,
                       false, false, passed);
      QVERIFY(script.Done());
      QVERIFY(!chosenContinue);
      QVERIFY(!QApplication::activeModalWidget());
      const QString page = ShownPage();
      const QString shown = ShownText();
      if (ShownFolder() != QLatin1String("faxps") || page != QStringLiteral("error%1.html").arg(code))
        wrong << QStringLiteral("%1: opened %2/%3").arg(code).arg(ShownFolder(), page);
      else if (!shown.startsWith(text) || !shown.contains(QStringLiteral("What to try")) ||
               !shown.contains(QStringLiteral("Error %1").arg(code)))
        wrong << QStringLiteral("%1: the page does not explain \"%2\": %3").arg(code).arg(text, shown.left(120));
    }
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QLatin1Char('\n'))));
  }

  // With "Continue" offered the page opens at once and the window waits for the
  // user's choice; a code without a page of its own (or none) opens the contents.
  void continueWindowKeepsWaitingAndUnknownCodesOpenTheContents() {
    if (QWidget* w = HelpWindow()) w->close();
    QString pageWhileOpen;
    bool stillOpen = false;
    ModalScript script;
    script.Then([&](QWidget* w) {
      auto* box = qobject_cast<TShowErrorForm*>(w);
      QVERIFY(box);
      QVERIFY(box->ContinueButton->isVisible());
      box->ProblemSolverButton->click();
      pageWhileOpen = ShownPage();
      stillOpen = box->isVisible();
      box->ContinueButton->click();
    });
    QVERIFY(ShowErrorBox(QStringLiteral("No Response From Modem"), QStringLiteral("We did not receive a modem response"),
                         true, false, fe::ecModemNotResponding));
    QVERIFY(script.Done());
    QCOMPARE(pageWhileOpen, QStringLiteral("error4006.html"));
    QVERIFY(stillOpen);

    for (const int code : {0, int{fe::ecDatabaseFull}, 99999}) {
      ModalScript other;
      other.Then([](QWidget* w) { qobject_cast<TShowErrorForm*>(w)->ProblemSolverButton->click(); });
      QVERIFY(!ShowErrorBox(QStringLiteral("Fax Failure"), QStringLiteral("Error message: x"), false, false, code));
      QVERIFY(other.Done());
      QCOMPARE(ShownFolder(), QStringLiteral("faxps"));
      QCOMPARE(ShownPage(), QStringLiteral("1.html"));
    }
    // The program's own help is what the next help button opens.
    QCOMPARE(QFileInfo(ApplicationHelpFile()).fileName(), QStringLiteral("QN.hlp"));
  }

  // The list of error messages reaches every page, so a user without an error
  // window at hand finds them too.
  void errorListLinksEveryPage() {
    QFile index(HelpFolder() + QStringLiteral("/faxps/2.html"));
    QVERIFY(index.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(index.readAll());
    for (const int code : kSessionErrors)
      QVERIFY2(html.contains(QStringLiteral("href=\"error%1.html\"").arg(code)), qPrintable(QString::number(code)));
  }
};

QTEST_MAIN(ErrorBoxTest)
#include "error_box_test.moc"
