// Fills the main window's entries for the modem tools of the Help menu
// ("Configuration Information", "Quick Configuration Analysis"). A template over
// the hook table, so this layer needs nothing from the application's headers:
//   qn::InstallModemToolHooks(qn::Hooks());
#pragma once

#include <QWidget>

#include "sessions/modem/config_info.h"
#include "sessions/modem/quick_suggest.h"

namespace qn {

template <class HookTable>
void InstallModemToolHooks(HookTable& hooks) {
  hooks.ConfigurationInformation = [](auto& window) { ShowConfigurationInformation(&window); };
  hooks.QuickConfigurationAnalysis = [](auto& window) { RunQuickConfigurationAnalysis(&window); };
}

}  // namespace qn
