// The main window's "Cover Sheet &Template Designer" opens the designer
// modally, and is refused in receive mode.
#include "app/main/designer_hooks.h"

#include <QSignalSpy>
#include <QTest>

#include "app/main/hooks.h"
#include "app/main/main_screen.h"
#include "common/folders.h"
#include "common/ini_file.h"
#include "covers/designer/cover_designer.h"
#include "modal_script.h"
#include "sessions/settings.h"

using namespace qn;
using qntest::ModalScript;

class DesignerHooksTest : public QObject {
  Q_OBJECT

 private slots:
  void menuOpensTheDesigner() {
    const QString home = qntest::FreshHome(QStringLiteral("designer-hook"));
    qputenv("XDG_CONFIG_HOME", (home + QStringLiteral("config")).toLocal8Bit());
    ResetProgramFolder();
    Hooks() = MainHooks{};
    Settings() = FaxSettings{};
    InstallDesignerHooks();
    QVERIFY(Hooks().CoverDesigner);
    IniFile ini((home + "QN.INI").toStdString());
    ini.WriteInteger("Modem", "ComPort", 1);
    QVERIFY(ini.Flush());
    TMainScreen w;
    QSignalSpy done(&w, &TMainScreen::FirstActivationDone);
    w.show();
    if (done.isEmpty()) done.wait(10000);

    QString title;
    ModalScript script;
    script.Then([&title](QWidget* d) {
      auto* designer = qobject_cast<covers::TCoverDesMainScreen*>(d);
      QVERIFY(designer);
      title = designer->windowTitle();
      designer->close();
    });
    w.CovreSheetTemplateEditor1Click();
    QVERIFY(script.Done());
    QCOMPARE(title, QStringLiteral("Cover Sheet Template Designer"));

    // In receive mode the command only says why not.
    w.InReceiveMode = true;
    ModalScript refused;
    refused.Answer(QMessageBox::Ok);
    w.CovreSheetTemplateEditor1Click();
    QVERIFY(refused.Done());
    QVERIFY(refused.seen().at(0).text.startsWith(QStringLiteral("You are in Fax Receive mode")));
    w.InReceiveMode = false;
    w.close();
  }
};

QTEST_MAIN(DesignerHooksTest)
#include "designer_hooks_test.moc"
