// Fills the main window's receive-mode hooks: the receive button and menu
// command, receive at start-up, the close query and the sound.
#pragma once

namespace qn {

class TMainScreen;
class TReceiveMode;

void InstallReceiveHooks();
// The window's receive mode (made on first use, owned by the window).
TReceiveMode& ReceiveModeOf(TMainScreen& w);

}  // namespace qn
