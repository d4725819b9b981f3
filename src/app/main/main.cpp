// Quillon: one copy per user and program folder, the settings, the tables and
// the main window.
#include <QApplication>
#include <QLocale>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "common/dialogs.h"
#include "autostart.h"
#include "designer_hooks.h"
#include "faxprep_hooks.h"
#include "hints.h"
#include "hooks.h"
#include "main_screen.h"
#include "prefs_hooks.h"
#include "receive_hooks.h"
#include "session_hooks.h"
#include "sessions/modem/modem_hooks.h"
#include "single_instance.h"
#include "viewing_hooks.h"

namespace {

// What `quillon --help` prints; the manual page is made from this text too.
constexpr char kUsage[] =
    "usage: quillon [--minimized] [FILE...]\n"
    "       quillon --help | --version\n"
    "\n"
    "Starts Quillon, the desktop fax program: the outgoing and incoming fax lists,\n"
    "the phone book, sending and receiving through a fax modem on a serial port.\n"
    "One copy runs per user and program folder; starting it again brings the\n"
    "running window forward. Fax files are viewed with quillon-viewer FILE.APF.\n"
    "\n"
    "Each FILE (PDF, PostScript, TIFF, PCX, DCX, BMP or plain text) becomes an\n"
    "outgoing fax, and its Fax Information Editor asks for the number; when\n"
    "Quillon already runs, the running copy takes the files.\n"
    "\n"
    "options:\n"
    "  --minimized    start with the window minimised (the desktop autostart\n"
    "                 entry that Preferences writes for receiving at start-up)\n"
    "  --help, -h     show this text and exit\n"
    "  --version      show the version and exit\n"
    "\n"
    "environment:\n"
    "  QUILLON_HOME   the program folder: settings (QN.INI), fax tables and the\n"
    "                 SEND, Receive and Covers folders\n"
    "                 (default $XDG_DATA_HOME/quillon, else ~/.local/share/quillon)\n"
    "  QUILLON_DATA   a folder to read the help pages from instead of the\n"
    "                 installed data folder\n";

// --help and --version answer without a display; anything else is left to Qt.
bool AnswerInformationOption(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
      std::fputs(kUsage, stdout);
      return true;
    }
    if (!std::strcmp(argv[i], "--version")) {
      std::printf("quillon (Quillon) %s\n", QN_VERSION);
      return true;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (AnswerInformationOption(argc, argv)) return 0;
  // A file size limit must end a fax being received with "disk full", not end the program.
  std::signal(SIGXFSZ, SIG_IGN);
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quillon"));
  QApplication::setApplicationDisplayName(QStringLiteral("Quillon"));

  const QStringList documents = qn::DocumentArguments(QCoreApplication::arguments());
  qn::TJustOne justOne;
  if (!justOne.Claim(documents)) return 0;  // the first copy comes forward (and faxes them) instead

  qn::SetUserShortDateFormat(QLocale().dateFormat(QLocale::ShortFormat));
  qn::InstallHintStyle();
  qn::InstallPrintHooks();
  qn::InstallViewingHooks();
  qn::InstallSessionHooks();
  qn::InstallFaxPrepHooks();
  qn::InstallPrefsHooks();
  qn::InstallModemToolHooks(qn::Hooks());
  qn::InstallDesignerHooks();
  qn::InstallReceiveHooks();
  qn::TMainScreen window;
  QObject::connect(&justOne, &qn::TJustOne::ComeForward, &window, [&window] {
    if (window.isMinimized()) window.showNormal();
    window.raise();
    window.activateWindow();
  });
  QObject::connect(&justOne, &qn::TJustOne::PickUpRequested, &window, [&window] {
    if (!window.FirstActivation) window.PickUpPrintedFaxes();
  });
  QObject::connect(&justOne, &qn::TJustOne::FaxRequested, &window, &qn::TMainScreen::FaxDocuments);
  window.FaxDocuments(documents);  // they wait for the first activation
  window.StartMinimized = qn::StartMinimizedRequested(QCoreApplication::arguments());
  if (window.StartMinimized)
    window.showMinimized();
  else
    window.show();
  return QApplication::exec();
}
