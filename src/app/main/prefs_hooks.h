// Fills the main window's hooks whose windows edit the settings: Quick Setup on
// the first run and the Preferences Wizard ("Pre&ferences", and the send
// window's "Preferences" button).
#pragma once

namespace qn {

void InstallPrefsHooks();

}  // namespace qn
