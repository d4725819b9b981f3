#include "prefs_hooks.h"

#include "hooks.h"
#include "main_screen.h"
#include "sessions/modem/modem_tools.h"
#include "sessions/prefs/preferences.h"
#include "sessions/prefs/prefs_tools.h"
#include "sessions/prefs/quick_setup.h"
#include "sessions/send_fax_form.h"

namespace qn {

void InstallPrefsHooks() {
  Hooks().RunQuickSetup = [](TMainScreen& w) { return RunQuickSetup(&w); };
  Hooks().Preferences = [](TMainScreen& w) { RunPreferencesWizard(&w); };
  TSendFaxForm::RunPreferencesWizard() = [](QWidget* parent) { return RunPreferencesWizard(parent); };
  // The wizard's and Quick Setup's tool buttons run the modem tools.
  ModemTools().FindModem = &RunFindModem;
  ModemTools().CheckFaxClass = [](QWidget* parent, int com, QString* name) {
    return RunCheckFaxClass(parent, com, name);
  };
  ModemTools().InitStringHelper = &InitStringHelper;
}

}  // namespace qn
