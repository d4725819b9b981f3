// Helpers shared by the engine's source files (not part of the interface).
#pragma once

#include <string>

namespace xb {

// Thrown inside the engine and turned into a negated code plus text at the
// boundary of every public call.
struct Failure {
  int code;
  std::string message;
};

[[noreturn]] inline void failWith(int code, std::string message) {
  throw Failure{code, std::move(message)};
}

}  // namespace xb
