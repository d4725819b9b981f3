// The engine's process-wide settings.
#include "xb_env.h"

namespace xb {

Env& env() {
  static Env settings;
  return settings;
}

}  // namespace xb
