// The pictures of docs/quick-setup.png, docs/preferences-wizard.png and
// docs/help-beside-wizard.png (scripts/screenshot.sh prefs): Quick Setup on a
// first run, the wizard's first sending page, and the help window opened with
// F1 beside the wizard, each opened as the program opens it, captured from the
// screen of a virtual display (cut to the window, the whole screen for help).
// "ports" shows the wizard's port page with COM5 selected (docs/port-list.png,
// scripts/screenshot.sh ports, which maps COM5 to a pseudo-terminal in [Ports]
// of QN.INI first).
#include <QApplication>
#include <QCheckBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/dialogs.h"
#include "common/folders.h"
#include "common/help.h"
#include "sessions/prefs/preferences.h"
#include "sessions/prefs/prefs_tools.h"
#include "sessions/prefs/quick_setup.h"
#include "sessions/prefs/sip_account.h"
#include "sessions/settings.h"
#include "sessions/sip_line.h"

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4 ||
      (std::strcmp(argv[1], "quick") && std::strcmp(argv[1], "wizard") && std::strcmp(argv[1], "help") &&
       std::strcmp(argv[1], "ports") && std::strcmp(argv[1], "sip"))) {
    std::fputs(
        "usage: prefs-shot quick|wizard|help|ports|sip OUTPUT.png [PAGE]  (QUILLON_HOME names a scratch program "
        "folder)\n",
        stderr);
    return 2;
  }
  QApplication app(argc, argv);
  // sip: Quick Setup's road without a modem, the account typed in.
  const bool sip = !std::strcmp(argv[1], "sip");
  const bool quick = sip || !std::strcmp(argv[1], "quick");
  const bool help = !std::strcmp(argv[1], "help");
  const QString output = QString::fromLocal8Bit(argv[2]);
  const bool ports = !std::strcmp(argv[1], "ports");
  const int page = argc == 4 ? std::atoi(argv[3]) : ports ? 1 : 2;  // the wizard's page
  // The buttons of the modem tools show enabled, as in the program.
  qn::ModemTools().FindModem = [](QWidget*, int) { return 0; };
  qn::ModemTools().CheckFaxClass = [](QWidget*, int, QString*) { return -1; };
  qn::ModemTools().InitStringHelper = [](QWidget*, const QString& s, bool) { return s; };
  qn::ModemTools().TestSipAccount = &qn::TestSipRegistration;

  qn::LoadSettings();  // as the program starts: QN.INI, its [Ports] map included
  qn::Settings().Name = "Harbour Supplies Ltd";
  qn::Settings().Fax = "+44 20 7946 0321";
  qn::Settings().ComPort = ports ? 4 : 2;
  qn::Settings().InitString = "AT&F&C1&D2&K3S7=65";
  qn::SaveSettings();
  bool saved = false;
  QTimer::singleShot(1200, [&] {
    QWidget* w = QApplication::activeModalWidget();
    if (!w) {
      app.exit(1);
      return;
    }
    if (auto* p = qobject_cast<qn::TPreferences*>(w)) p->SetPage(page);
    if (auto* q = qobject_cast<qn::TQuickSetupForm*>(w); q && sip) {
      q->NoModemBox->click();
      q->SipBox->User->setText(QStringLiteral("4930123456"));
      q->SipBox->Domain->setText(QStringLiteral("sip.example.net"));
      q->SipBox->PasswordEdit->setText(QStringLiteral("example"));
      q->SipBox->User->setFocus();
    }
    if (help) {
      // F1 on the wizard, as a user presses it; the help window beside it.
      w->move(8, 8);
      w->activateWindow();
      QKeyEvent press(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
      QApplication::sendEvent(w->focusWidget() ? w->focusWidget() : w, &press);
      if (QWidget* h = qn::HelpWindow()) h->setGeometry(w->frameGeometry().right() + 12, 40, 520, 560);
    }
    QTimer::singleShot(600, [&, w] {
      const QRect r = help ? QGuiApplication::primaryScreen()->geometry() : w->frameGeometry();
      saved = QGuiApplication::primaryScreen()->grabWindow(0, r.x(), r.y(), r.width(), r.height()).save(output);
      w->close();
    });
  });
  if (quick) {
    qn::g_FirstRun = true;
    qn::RunQuickSetup();
  } else {
    qn::RunPreferencesWizard();
  }
  if (!saved) {
    std::fprintf(stderr, "prefs-shot: could not capture %s\n", argv[2]);
    return 1;
  }
  return 0;
}
