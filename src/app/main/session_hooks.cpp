#include "session_hooks.h"

#include <QStatusBar>
#include <QTabBar>

#include "common/dialogs.h"
#include "hooks.h"
#include "main_screen.h"
#include "records/ui/record_grid.h"
#include "sessions/send_command.h"

namespace qn {

void InstallSessionHooks() {
  // "&Send": the highlighted outgoing fax goes to the Send Fax window; the list
  // shows the outcome afterwards.
  Hooks().SendFax = [](TMainScreen& w) {
    if (w.InReceiveMode) {
      ShowInfo(
          QStringLiteral("You are in Fax Receive mode. You cannot send\rwhile in Fax Receive mode. Click the "
                         "Stop button to end\rFax Receive mode"));
      return;
    }
    if (!w.OutgoingPageShown()) {
      ShowInfo(QStringLiteral("Please switch to the Outgoing Faxes tab\rand highlight a fax to send"));
      return;
    }
    if (!w.FaxGrid->HasCurrent()) {
      Beep();
      return;
    }
    SendCurrentFax(&w, w.FaxTable, [&w](const QString& text) {
      if (text.isEmpty())
        w.statusBar()->clearMessage();
      else
        w.statusBar()->showMessage(text);
      w.statusBar()->repaint();
    });
    w.FaxGrid->Refresh();
    w.SetButtons();
  };
}

}  // namespace qn
