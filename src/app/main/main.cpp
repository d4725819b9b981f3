// Quillon: one copy per user and program folder, the settings, the tables and
// the main window.
#include <QApplication>
#include <QLocale>

#include "common/dialogs.h"
#include "faxprep_hooks.h"
#include "hints.h"
#include "hooks.h"
#include "main_screen.h"
#include "session_hooks.h"
#include "single_instance.h"
#include "viewing_hooks.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quillon"));
  QApplication::setApplicationDisplayName(QStringLiteral("Quillon"));

  qn::TJustOne justOne;
  if (!justOne.Claim()) return 0;  // the first copy comes forward instead

  qn::SetUserShortDateFormat(QLocale().dateFormat(QLocale::ShortFormat));
  qn::InstallHintStyle();
  qn::InstallPrintHooks();
  qn::InstallViewingHooks();
  qn::InstallSessionHooks();
  qn::InstallFaxPrepHooks();
  qn::TMainScreen window;
  QObject::connect(&justOne, &qn::TJustOne::ComeForward, &window, [&window] {
    if (window.isMinimized()) window.showNormal();
    window.raise();
    window.activateWindow();
  });
  window.show();
  return QApplication::exec();
}
