// Opening the fax modem's port for the fax commands: PORT is COM1-COM6 (mapped
// as the program maps them) or a device path; the port gets a fax component's
// settings.
#pragma once

#include <cctype>
#include <cstdlib>
#include <optional>
#include <string>

#include "abstract_fax.h"
#include "comport_link.h"
#include "fe_comport.h"
#include "fe_eventsink.h"
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

// The port of one fax command with the link and event sink its fax component
// uses. Declared after the component, it lets go of both before they go, so the
// component never outlives what it points at.
class FaxCommandPort {
 public:
  // Opens PORT, starts the trace when a trace file is named and attaches the
  // component; 0 or a negative error code.
  int Open(fe::TFeAbstractFax& fax, const std::string& name, const std::string& traceFile) {
    if (const int rc = OpenFaxPort(port, name); rc < 0) return rc;
    traceFile_ = traceFile;
    if (!traceFile_.empty()) {
      port.SetTraceName(traceFile_);
      port.SetTracing(fe::tlOn);
    }
    link_.emplace(port);
    fax.SetComPort(&*link_);
    fax.SetEventSink(&sink);
    fax_ = &fax;
    return 0;
  }
  // Writes the trace file, when one was asked for.
  void DumpTrace() {
    if (!traceFile_.empty()) port.SetTracing(fe::tlDump);
  }
  ~FaxCommandPort() {
    if (!fax_) return;
    fax_->SetComPort(nullptr);
    fax_->SetEventSink(nullptr);
  }

  fe::TFeComPort port;
  fe::TFeQueueSink sink;  // events run on the command's thread, as on a user interface's

 private:
  std::optional<fe::TComPortLink> link_;
  fe::TFeAbstractFax* fax_ = nullptr;
  std::string traceFile_;
};

}  // namespace qnfax
