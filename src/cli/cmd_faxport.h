// Opening the fax modem's port for the fax commands: PORT is COM1-COM6 (mapped
// as the program maps them) or a device path; the port gets a fax component's
// settings.
#pragma once

#include <cctype>
#include <cstdlib>
#include <string>

#include "abstract_fax.h"
#include "comport_link.h"
#include "fe_comport.h"
#include "fe_texts.h"

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

// Opens port as PORT names it; 0 or a negative error code.
inline int OpenFaxPort(fe::TFeComPort& port, const std::string& name) {
  port.SetAutoOpen(false);
  port.SetTapiMode(fe::tmOff);
  port.SetPromptForPort(false);
  fe::ConfigureFaxPort(port);
  std::string upper;
  for (char c : name) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper.size() == 4 && upper.compare(0, 3, "COM") == 0 && upper[3] >= '1' && upper[3] <= '6')
    port.SetComNumber(static_cast<unsigned>(upper[3] - '0'));
  else
    port.SetDevicePath(name);
  return port.SetOpen(true);
}

// A command declares its fax component before the port link and the event sink
// it hands it; this guard, declared after them, lets go of both first so the
// component never outlives what it points at.
struct ReleaseFaxLinks {
  fe::TFeAbstractFax& fax;
  ~ReleaseFaxLinks() {
    fax.SetComPort(nullptr);
    fax.SetEventSink(nullptr);
  }
};

}  // namespace qnfax
