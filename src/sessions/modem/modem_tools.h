// The modem tools a user reaches from Quick Setup and the Preferences Wizard:
// the modem finder, the fax-class check and the init-string helper.
//
// Conventions callers rely on:
//  - Each call shows its window modally over `parent` and returns once the user
//    closed it. Port tests run on a worker thread; the window keeps painting.
//  - Port numbers are COM numbers (1 = COM1), mapped to devices as the port layer
//    maps them (QN_COM<n>, [Ports] of QN.INI, the default devices).
//  - With the SIP account as the line there is no modem port to probe: each
//    tool then says it does not apply (ToolNotForSipLine) and changes nothing.
//  - None of them changes the settings. Only the finder writes to QN.INI, and
//    only the [Ports] section, when the user picks a device outside COM1-COM6.
#pragma once

#include <QString>

class QWidget;

namespace qn {

// The finder as Quick Setup and the wizard use it: runs the finder, then, when a
// modem was found on another port than `selectedCom` (0 = none selected), asks
// "Set Com Port to Com n". Returns the COM number to select, or 0 to keep the
// selection. A device the user picked from the list of other serial devices is
// mapped to a free COM number, which is returned without a further question.
int RunFindModem(QWidget* parent, int selectedCom);

// The fax-class check on COM `comNumber`: returns the recommended class index
// (-1 none, 0 Class 1, 1 Class 2, 2 Class 2.0); `name` gets "Class 1", "Class 2",
// "Class 2.0" or empty.
int RunCheckFaxClass(QWidget* parent, int comNumber, QString* name = nullptr);

// The init-string helper: returns the new init string (empty after "Leave it
// Blank", `current` after "Cancel").
QString InitStringHelper(QWidget* parent, const QString& current, bool forSending);

// The line the settings fax through: "SIP account user@domain" or "COM<n>".
QString FaxLineName();
// With the SIP account as the line: tells the user that `tool` is for fax
// modems and returns true; false (nothing shown) on a modem line.
bool ToolNotForSipLine(QWidget* parent, const QString& tool);

}  // namespace qn
