// Fills the main window's hooks whose windows belong to the fax sessions.
#pragma once

namespace qn {

void InstallSessionHooks();

}  // namespace qn
