// The desktop autostart entry that starts Quillon minimised with the user's
// session, kept in step with the setting "Start Receiving at program startup":
// receiving at start-up is of use only when the program itself starts then.
//
// The entry is $XDG_CONFIG_HOME/autostart/quillon.desktop (default
// ~/.config/autostart). It carries the key X-Quillon-Autostart=true; an entry
// without it was made by someone else and is never changed or removed.
#pragma once

#include <QString>
#include <QStringList>

namespace qn {

// The command-line option that starts the program minimised (the entry uses it).
inline constexpr char kMinimizedOption[] = "--minimized";
bool StartMinimizedRequested(const QStringList& arguments);

QString AutostartEntryPath();
// Writes the entry (on) or removes ours (off). False when the entry could not
// be written or removed; the setting itself is kept either way.
bool SyncAutostartEntry(bool on);

}  // namespace qn
