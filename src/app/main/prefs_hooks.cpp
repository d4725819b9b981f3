#include "prefs_hooks.h"

#include "autostart.h"
#include "common/dialogs.h"
#include "hooks.h"
#include "main_screen.h"
#include "sessions/modem/modem_tools.h"
#include "sessions/prefs/preferences.h"
#include "sessions/prefs/prefs_tools.h"
#include "sessions/prefs/quick_setup.h"
#include "sessions/send_fax_form.h"
#include "sessions/settings.h"
#ifdef QN_HAVE_SIP_LINE
#include "sessions/sip_line.h"
#endif

namespace qn {

namespace {
// The wizard, then the autostart entry brought in line with "Start Receiving at
// program startup"; a failure to write it is told, the settings stay saved.
bool RunWizard(QWidget* parent) {
  if (!RunPreferencesWizard(parent)) return false;
  if (!SyncAutostartEntry(Settings().AtStartup))
    MessageBoxText(QStringLiteral("The settings were saved, but the entry that starts Quillon with your desktop "
                                  "could not be written:\r") +
                       AutostartEntryPath(),
                   QStringLiteral("Preferences"), mbOk | mbIconWarning);
  return true;
}
}  // namespace

void InstallPrefsHooks() {
  Hooks().RunQuickSetup = [](TMainScreen& w) { return RunQuickSetup(&w); };
  Hooks().Preferences = [](TMainScreen& w) { RunWizard(&w); };
  TSendFaxForm::RunPreferencesWizard() = [](QWidget* parent) { return RunWizard(parent); };
  // The wizard's and Quick Setup's tool buttons run the modem tools.
  ModemTools().FindModem = &RunFindModem;
  ModemTools().CheckFaxClass = [](QWidget* parent, int com, QString* name) {
    return RunCheckFaxClass(parent, com, name);
  };
  ModemTools().InitStringHelper = &InitStringHelper;
#ifdef QN_HAVE_SIP_LINE
  ModemTools().TestSipAccount = &TestSipRegistration;
#endif
}

}  // namespace qn
