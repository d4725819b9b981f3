// receive-mode-shot OUTPUT.png: the main window in receive mode after a fax
// arrived from a simulated fax machine through a virtual Class 1 modem, on a
// program folder with sample faxes (run by scripts/screenshot.sh receive).
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include "app/main/main_screen.h"
#include "app/main/receive_hooks.h"
#include "common/folders.h"
#include "common/ini_file.h"
#include "fax_pages.h"
#include "sessions/receive_mode.h"
#include "sim_harness.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) return 2;
  const QString output = QString::fromLocal8Bit(argv[1]);
  const QString home = QDir::tempPath() + QStringLiteral("/qn-receive-shot-") + QString::number(app.applicationPid());
  QDir(home).removeRecursively();
  QDir().mkpath(home);
  qputenv("QUILLON_HOME", home.toLocal8Bit());
  qn::ResetProgramFolder();
  // The sample faxes of both lists (the tables with their current layout).
  if (QProcess::execute(QString::fromLocal8Bit(qgetenv("QN_BINARY_DIR")) + QStringLiteral("/bin/quillon-sample"),
                        {home}) != 0)
    return 1;
  qn::MakeDataFolders();

  qn::sim::FaxModemSim sim;
  const std::string tif = sim.workDir() + "/letter.tif";
  if (!qn::sim::writeTiff(tif, qn::sim::makeTestPages(2, 120, false, 5))) return 1;
  sim.addModem(qn::sim::ModemKind::Class1, "100");
  sim.addArgs(
      {"--terminal", "send:200:" + tif + ":call=100:after=3000:ident=+44 20 7946 0321", "--ring-period", "1000"});
  if (!sim.start()) return 1;
  sim.pointComPort(1, "100");
  {
    qn::IniFile ini(qn::ProgramFolder() + "QN.INI");
    ini.WriteInteger("Modem", "ComPort", 0);
    ini.WriteInteger("Modem", "FaxClassReceive", 1);
    ini.WriteInteger("Modem", "MaximumBPSReceive", 14400);
    ini.WriteString("User", "Fax", "555 0100");
    ini.WriteBool("Receive", "AtStartup", true);
    ini.WriteInteger("TMainScreen_Placement", "Left", 0);
    ini.WriteInteger("TMainScreen_Placement", "Top", 0);
    ini.WriteInteger("TMainScreen_Placement", "Right", 1100);
    ini.WriteInteger("TMainScreen_Placement", "Bottom", 620);
    ini.Flush();
  }
  qn::InstallReceiveHooks();
  qn::SoundPlayer() = {};
  auto* window = new qn::TMainScreen;
  window->show();
  bool stored = false, counting = false;
  uint32_t before = 0;
  QElapsedTimer clock;
  clock.start();
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (window->InReceiveMode && !counting) {
      counting = true;
      before = window->RecTable.recCount();
    }
    stored = counting && window->RecTable.recCount() > before;
    if (stored || clock.elapsed() > 120000) {
      poll.stop();
      QTimer::singleShot(1500, [&] {
        window->grab().save(output);
        app.quit();
      });
    }
  });
  poll.start(200);
  app.exec();
  window->close();  // stops receive mode and lets the port go
  delete window;
  sim.stop();
  QDir(home).removeRecursively();
  return stored ? 0 : 1;
}
