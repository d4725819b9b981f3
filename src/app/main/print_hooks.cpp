// The main window's "Print" and "Print Setup" print through the viewing
// subsystem's fax printer on the window's chosen printer.
#include "hooks.h"
#include "main_screen.h"
#include "records/ui/record_grid.h"
#include "viewing/fax_printing.h"
#include "viewing/viewer_printing.h"

namespace qn {

void InstallPrintHooks() {
  InstallViewerPrinting();
  Hooks().PrintFax = [](TMainScreen& w) {
    const bool outgoing = w.OutgoingPageShown();
    if (!(outgoing ? w.FaxGrid : w.RecFaxGrid)->HasCurrent()) return;
    PrintSelectedFax(w, outgoing ? w.FaxTable : w.RecTable, outgoing, w.Printer());
  };
  Hooks().PrintSetup = [](TMainScreen& w) { PrintSetupCommand(&w, w.Printer()); };
}

}  // namespace qn
