// Quick Setup and the Preferences Wizard reached the way a user reaches them:
// the first start of the program, the main window's "Pre&ferences" and the
// Send Fax window's "Preferences" button, with the hooks start-up installs.
#include "app/main/prefs_hooks.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QRegularExpression>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "app/main/autostart.h"
#include "app/main/hooks.h"
#include "app/main/main_screen.h"
#include "common/folders.h"
#include "common/ini_file.h"
#include "modal_script.h"
#include "sessions/modem/init_string_helper.h"
#include "sessions/prefs/preferences.h"
#include "sessions/prefs/prefs_tools.h"
#include "sessions/prefs/quick_setup.h"
#include "sessions/send_fax_form.h"
#include "sessions/settings.h"

using namespace qn;
using qntest::ModalScript;

namespace {

void Type(QLineEdit* e, const QString& text) {
  e->setFocus();
  QTest::keyClick(e, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(e, Qt::Key_Delete);
  QTest::keyClicks(e, text);
}

std::unique_ptr<TMainScreen> Start() {
  auto w = std::make_unique<TMainScreen>();
  QSignalSpy done(w.get(), &TMainScreen::FirstActivationDone);
  w->show();
  if (done.isEmpty()) done.wait(20000);
  return w;
}

// Runs `step` once on the next visible modal window of class T. Started just
// before the click that opens it, so the window that opened it is never taken
// for it.
template <class T>
void OnNextModal(std::function<void(T*)> step) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, step] {
    auto* w = qobject_cast<T*>(QApplication::activeModalWidget());
    if (!w || !w->isVisible()) return;
    timer->stop();
    timer->deleteLater();
    QTimer::singleShot(0, w, [w, step] { step(w); });
  });
  timer->start(10);
}

}  // namespace

class PrefsHooksTest : public QObject {
  Q_OBJECT
  QString home_;

 private slots:
  void init() {
    home_ = qntest::FreshHome(QString::fromLatin1(QTest::currentTestFunction()));
    ResetProgramFolder();
    Hooks() = MainHooks{};
    Settings() = FaxSettings{};
    g_FirstRun = false;
    InstallPrefsHooks();
  }

  // The first start asks for the port, name and fax number and keeps them.
  void firstStartRunsQuickSetup() {
    ModalScript script;
    script.Then([](QWidget* w) {
      auto* f = qobject_cast<TQuickSetupForm*>(w);
      QVERIFY(f);
      QTest::mouseClick(f->PortGroup->Button(2), Qt::LeftButton, {}, QPoint(6, f->PortGroup->Button(2)->height() / 2));
      Type(f->NameEdit, QStringLiteral("Harbour Supplies"));
      Type(f->FaxEdit, QStringLiteral("555 0123"));
      QTest::mouseClick(f->OkButton, Qt::LeftButton);
    });
    auto w = Start();
    QVERIFY(script.Done());
    QVERIFY(!w->FirstRun);
    QVERIFY(!g_FirstRun);
    const IniFile ini((home_ + "QN.INI").toStdString());
    QCOMPARE(ini.ReadInteger("Modem", "ComPort", -1), 2);
    QCOMPARE(ini.ReadString("User", "Name", ""), std::string("Harbour Supplies"));
    QCOMPARE(ini.ReadString("User", "Fax", ""), std::string("555 0123"));
    w->close();
  }

  // "Pre&ferences" opens the wizard; so does the Send Fax window's button,
  // which then shows the dialling settings the wizard saved.
  void preferencesFromMainAndSendWindows() {
    {
      IniFile ini((home_ + "QN.INI").toStdString());
      ini.WriteInteger("Modem", "ComPort", 1);
      QVERIFY(ini.Flush());
    }
    auto w = Start();
    {
      ModalScript script;
      script
          .Then([](QWidget* d) {
            auto* p = qobject_cast<TPreferences*>(d);
            QVERIFY(p);
            QVERIFY(p->FinishButton->isEnabled());  // not a first run
            QCOMPARE(p->PortGroup->ItemIndex(), 1);
            p->SetPage(3);
            Type(p->PrefixEdit, QStringLiteral("9,"));
            QTest::mouseClick(p->FinishButton, Qt::LeftButton);
          })
          .Answer(QMessageBox::Yes);
      w->mnuPreferences->trigger();
      QVERIFY(script.Done());
    }
    QCOMPARE(IniFile((home_ + "QN.INI").toStdString()).ReadString("Dialing", "DialPrefix", ""), std::string("9,"));

    TSendFaxForm send;
    send.show();
    ModalScript script;
    script
        .Then([](QWidget* d) {
          auto* p = qobject_cast<TPreferences*>(d);
          QVERIFY(p);
          QCOMPARE(p->PrefixEdit->text(), QStringLiteral("9,"));
          p->SetPage(3);
          Type(p->SuffixEdit, QStringLiteral("#77"));
          QTest::mouseClick(p->FinishButton, Qt::LeftButton);
        })
        .Answer(QMessageBox::Yes);
    QTest::mouseClick(send.PreferencesButton, Qt::LeftButton);
    QVERIFY(script.Done());
    QCOMPARE(send.sfDialsuffix->text(), QStringLiteral("#77"));
    QCOMPARE(send.sfDialPrefix->text(), QStringLiteral("9,"));
    QCOMPARE(IniFile((home_ + "QN.INI").toStdString()).ReadString("Dialing", "DialSuffix", ""), std::string("#77"));
    send.close();
    w->close();
  }

  // Receiving at program start-up needs the program to start with the desktop:
  // the wizard writes the autostart entry that starts it minimised, removes it
  // when the box is cleared, and leaves an entry the user made alone.
  void receivingAtStartupWritesTheAutostartEntry() {
    qputenv("XDG_CONFIG_HOME", (home_ + QStringLiteral("config")).toLocal8Bit());
    const QString entry = home_ + QStringLiteral("config/autostart/quillon.desktop");
    QCOMPARE(AutostartEntryPath(), entry);
    auto runWizard = [](bool atStartup) {
      ModalScript script;
      script
          .Then([atStartup](QWidget* d) {
            auto* p = qobject_cast<TPreferences*>(d);
            QVERIFY(p);
            p->SetPage(6);
            if (p->AtStartupBox->isChecked() != atStartup)
              QTest::mouseClick(p->AtStartupBox, Qt::LeftButton, {}, QPoint(6, p->AtStartupBox->height() / 2));
            QCOMPARE(p->AtStartupBox->isChecked(), atStartup);
            QTest::mouseClick(p->FinishButton, Qt::LeftButton);
          })
          .Answer(QMessageBox::Yes);
      QVERIFY(TSendFaxForm::RunPreferencesWizard()(nullptr));
      QVERIFY(script.Done());
      QCOMPARE(Settings().AtStartup, atStartup);
    };
    runWizard(true);
    QFile f(entry);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(f.readAll());
    f.close();
    QVERIFY2(text.startsWith(QStringLiteral("[Desktop Entry]\n")), qPrintable(text));
    const QRegularExpression exec(QStringLiteral("^Exec=env QUILLON_HOME=(\\S+) quillon --minimized$"),
                                  QRegularExpression::MultilineOption);
    const QRegularExpressionMatch m = exec.match(text);
    QVERIFY2(m.hasMatch(), qPrintable(text));
    QCOMPARE(m.captured(1), QString::fromLocal8Bit(qgetenv("QUILLON_HOME")));
    QVERIFY(text.contains(QStringLiteral("\nType=Application\n")));
    runWizard(false);
    QVERIFY(!QFile::exists(entry));

    // The user's own entry: kept as it is, whatever the box says.
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("[Desktop Entry]\nType=Application\nExec=my-quillon-wrapper\n");
    f.close();
    runWizard(true);
    runWizard(false);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("[Desktop Entry]\nType=Application\nExec=my-quillon-wrapper\n"));
  }

  // The init-string buttons of the wizard run the helper for sending and for
  // receiving, and the string it builds lands in the edit beside the button.
  void initStringButtonsRunTheHelper() {
    bool sendingBox = false, receivingBox = true;
    ModalScript script;
    script.Then([&](QWidget* d) {
      auto* p = qobject_cast<TPreferences*>(d);
      QVERIFY(p);
      p->SetPage(2);
      OnNextModal<TModemInitStringHelperForm>([&](TModemInitStringHelperForm* h) {
        sendingBox = h->LongWaitBox->isVisible();
        h->Kinds[4]->setChecked(true);
        QTest::mouseClick(h->OkButton, Qt::LeftButton);
      });
      QTest::mouseClick(p->InitHelpButton, Qt::LeftButton);
      QCOMPARE(p->InitEdit->text(), QStringLiteral("AT&H3&I2&R2S7=90S36=8S33=34"));
      p->SetPage(5);
      OnNextModal<TModemInitStringHelperForm>([&](TModemInitStringHelperForm* h) {
        receivingBox = h->LongWaitBox->isVisible();
        QTest::mouseClick(h->OkButton, Qt::LeftButton);
      });
      QTest::mouseClick(p->InitReceiveHelpButton, Qt::LeftButton);
      QCOMPARE(p->InitReceiveEdit->text(), QStringLiteral("AT&F&C1&D2&K3S7=65"));
      QTest::mouseClick(p->CancelButton, Qt::LeftButton);
    });
    QVERIFY(!RunPreferencesWizard());
    QVERIFY(script.Done());
    QVERIFY(sendingBox);  // the long-wait question is for sending only
    QVERIFY(!receivingBox);
  }
};

QTEST_MAIN(PrefsHooksTest)
#include "prefs_hooks_test.moc"
