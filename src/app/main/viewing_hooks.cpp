#include "viewing_hooks.h"

#include "hooks.h"
#include "main_screen.h"
#include "viewing/view_command.h"

namespace qn {

void InstallViewingHooks() {
  Hooks().ViewPrintFax = [](TMainScreen& w) {
    const bool outgoing = w.OutgoingPageShown();
    ViewFaxCommand(&w, outgoing ? w.FaxTable : w.RecTable, outgoing);
  };
}

}  // namespace qn
