// Fills the main window's "Cover Sheet &Template Designer" hook with the
// cover sheet template designer.
#pragma once

namespace qn {

void InstallDesignerHooks();

}  // namespace qn
