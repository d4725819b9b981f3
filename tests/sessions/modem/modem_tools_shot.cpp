// modem-tools-shot FOLDER: pictures of the modem finder (after trying the ports:
// a scripted modem on COM2, the rest missing), the quick configuration analysis
// on its first problem page and the configuration report, written as
// FOLDER/modem-finder.png, quick-analysis.png and config-info.png
// (run under Xvfb by scripts/screenshot.sh modem).
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include "common/folders.h"
#include "scripted_modem.h"
#include "sessions/modem/config_info.h"
#include "sessions/modem/find_modem.h"
#include "sessions/modem/quick_suggest.h"
#include "sessions/settings.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) return 2;
  const QString folder = QString::fromLocal8Bit(argv[1]);
  QTemporaryDir home;
  qputenv("QUILLON_HOME", home.path().toUtf8());
  qn::ResetProgramFolder();

  qnsim::ScriptedModem modem;
  modem.Answer("AT", "OK");
  modem.Start();
  qputenv("QN_COM2", QByteArray::fromStdString(modem.DevicePath()));
  for (int n : {1, 3, 4, 5, 6}) qputenv(("QN_COM" + std::to_string(n)).c_str(), (home.path() + "/none").toUtf8());

  bool ok = true;
  {
    qn::TFindModemForm finder;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (finder.Working() || !finder.OkButton->isVisible()) return;
      poll.stop();
      QTimer::singleShot(300, [&] {
        ok = finder.grab().save(folder + "/modem-finder.png") && ok;
        finder.accept();
      });
    });
    poll.start(50);
    finder.exec();
  }
  {
    qn::FaxSettings s;
    s.String = "ATZ";
    s.IgnoreBusy = true;
    s.ComPort = 5;
    s.MaximumBPS = 14400;
    qn::PortCheck port;
    port.user = "ann";
    port.device.path = "/dev/ttyACM0";
    port.device.group = "dialout";
    port.device.mode = 0660;
    qn::TQuickSuggest wizard(s, port);
    wizard.show();
    wizard.NextButton->click();
    QTimer::singleShot(300, [&] {
      ok = wizard.grab().save(folder + "/quick-analysis.png") && ok;
      wizard.reject();
    });
    wizard.exec();
  }
  {
    qn::SystemFacts facts = qn::GatherSystemFacts();
    qn::TConfigurationInfo report(qn::ConfigurationReport(qn::Settings(), facts, qn::CurrentDisplay()));
    report.show();
    QTimer::singleShot(300, [&] {
      ok = report.grab().save(folder + "/config-info.png") && ok;
      report.accept();
    });
    report.exec();
  }
  return ok ? 0 : 1;
}
