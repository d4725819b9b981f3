#include "designer_hooks.h"

#include "covers/designer/cover_designer.h"
#include "hooks.h"
#include "main_screen.h"

namespace qn {

void InstallDesignerHooks() {
  // The main window refuses the command in receive mode before it gets here.
  Hooks().CoverDesigner = [](TMainScreen& w) { covers::RunCoverDesigner(&w); };
}

}  // namespace qn
