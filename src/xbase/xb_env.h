// Process-wide engine settings, the environment every table handle consults
// (the program uses one user-interface thread; the settings are not locked).
#pragma once

#include <functional>

namespace xb {

using ProgressFn = std::function<void(int percent)>;  // 0..100

struct Env {
  bool deleted = false;     // SET DELETED: records marked deleted are skipped by navigation
  bool century = false;     // SET CENTURY: four-digit years when dates are shown
  bool exact = false;       // SET EXACT: "=" on character values compares whole values
  bool softSeek = false;    // SET NEAR: a failed seek stays on the next higher key
  int dateFormat = 0;       // 0 American "mm/dd/yy"
  int lockTimeout = 1;      // seconds a shared writer waits for the table lock
  bool syncOnPost = false;  // fdatasync after every post (survives power loss, slow)
  ProgressFn gaugeHook;     // receives pack and indexing progress; empty = none
};

Env& env();

inline void setDeleted(bool on) {
  env().deleted = on;
}
inline void setCentury(bool on) {
  env().century = on;
}
inline void setExact(bool on) {
  env().exact = on;
}
inline void setGaugeHook(ProgressFn fn) {
  env().gaugeHook = std::move(fn);
}
// Engine-specific system properties. Code 1009 is accepted and has no effect;
// unknown codes are accepted and ignored as well.
inline void sysProp(int code, int value) {
  (void)code;
  (void)value;
}

}  // namespace xb
