// Fills the main window's viewing hook ("&View/Print Fax") with the Fax Viewer.
#pragma once

namespace qn {

void InstallViewingHooks();

}  // namespace qn
