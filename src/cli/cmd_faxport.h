// What the fax commands share besides the session port (sessions/fax_port.h):
// number arguments and error texts. PORT is COM1-COM99 (mapped as the program
// maps them) or a device path.
#pragma once

#include <cstdlib>
#include <string>

#include "fe_texts.h"
#include "sessions/fax_port.h"

namespace qnfax {

// A whole number from 0 to 65535 (counts, waits, speeds); false for anything else.
inline bool ToCount(const std::string& s, int& out) {
  char* end = nullptr;
  const long v = std::strtol(s.c_str(), &end, 10);
  if (s.empty() || *end || v < 0 || v > 65535) return false;
  out = static_cast<int>(v);
  return true;
}

inline std::string FaxErrorMessage(int code) {
  const int abs = code < 0 ? -code : code;
  return std::to_string(abs) + " " + fe::ErrorText(abs);
}

// The port of one fax command: the same session port the windows use.
using FaxCommandPort = qn::TFaxSessionPort;

}  // namespace qnfax
