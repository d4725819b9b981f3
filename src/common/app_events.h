// The program's own window messages.
#pragma once

#include <QEvent>

namespace qn {

// Closes the window that receives it (posted when the tables cannot be opened
// and by the rebuild window to itself).
inline constexpr QEvent::Type kCloseWindowEvent = static_cast<QEvent::Type>(QEvent::User + 42);
// Plays the sound named in the receive settings.
inline constexpr QEvent::Type kPlaySoundEvent = static_cast<QEvent::Type>(QEvent::User + 43);

}  // namespace qn
