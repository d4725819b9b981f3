// The port of one fax session: opening the modem's port with a message a user can
// read, checking that a modem answers, one command the modem must acknowledge,
// the serial trace with the session's marks, and the order in which a session
// lets go of its fax component, link, event sink and port. qnfax send and
// receive, the send window, receive mode and the modem tools all run their
// sessions through it.
//
// Conventions callers rely on:
//  - No Qt. Everything runs on the owning thread (the thread that receives the
//    fax component's events), except CheckForModem and SendModemCommand, which
//    may run on a helper thread while the owner keeps its event loop going.
//  - Port operations return 0 or a negated fe::ErrorCode; the checks return
//    true or false; nothing throws.
//  - Port names: "COM<n>" (any letter case, n from 1) is mapped as the program
//    maps port numbers (QN_COM<n>, [Ports] in QN.INI, the default devices);
//    anything else is a device path.
//  - A fax component attached with Attach() is detached again by Close() or the
//    destructor before the link, the sink and the port go, so the component never
//    points at freed memory. Declare the session port after the component, or
//    call Close() before the component goes. Close() never lets go under a
//    running component: it cancels it and waits until it stopped (or its
//    device went away, so that nothing can reach it any more).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "abstract_fax.h"
#include "comport_link.h"
#include "fe_comport.h"
#include "fe_eventsink.h"

namespace qn {

// Hands the port layer the program's COM port map (key COM<n> of [Ports] in
// QN.INI, read afresh at every lookup, so the modem finder's picks count at
// once). Every session port does it; code that maps numbers without one calls it
// first (ComPortDevice does).
void UseProgramPortMap();
// COM<n> as the program maps it (fe::MapComNumber with the program's map).
std::string ComPortDevice(unsigned number);

// The message a user reads when opening port number `portNumber` failed with
// `code` (negative). A port held by another program names that program where
// the system tells (see PortHolder).
// With the device known, the message names its path, and when the device's
// permissions keep this user out, the group to join (see PermissionNote).
std::string OpenFailureMessage(int code, unsigned portNumber, const std::string& device = {});

// When a device of mode `mode`, owner `owner` and group `group` denies reading
// and writing to user `uid` with groups `groups`: the sentence that says so
// and names the group to join ("dialout" on most systems); else empty.
std::string PermissionNote(const std::string& device, unsigned mode, unsigned owner, unsigned group, unsigned uid,
                           const std::vector<unsigned>& groups);

// "minicom (process 812)" for the running process that `device`'s lock file
// names, else "ModemManager (process 812)" for the first other process that has
// `device` open, as far as /proc shows it (processes of other users are hidden
// from an ordinary user); empty when none is found.
std::string PortHolder(const std::string& device);

// The port number named by "COM<n>", 0 for anything else.
unsigned ComNumberOf(const std::string& name);

class TFaxSessionPort {
 public:
  TFaxSessionPort();
  ~TFaxSessionPort();
  TFaxSessionPort(const TFaxSessionPort&) = delete;
  TFaxSessionPort& operator=(const TFaxSessionPort&) = delete;

  // Opens the port `name` with the settings of a fax session (8192-byte buffers,
  // RTS/CTS flow control off at 7372 and on at 819 bytes, trace and log sizes
  // as SetLogSizes gave them).
  // With a trace file named, the byte trace is on from the first byte.
  int Open(const std::string& name, const std::string& traceFile = {});
  // The sizes of the byte trace and the dispatcher log for the next Open()
  // (32000 and 65500 unless set; receive mode keeps 500000 of each).
  void SetLogSizes(unsigned traceBytes, unsigned logBytes) {
    traceSize_ = traceBytes;
    logSize_ = logBytes;
  }
  // Open() and Attach(fax) in one: what a command-line session needs.
  int Open(fe::TFeAbstractFax& fax, const std::string& name, const std::string& traceFile);
  bool IsOpen() const { return port.Open(); }

  // Gives the component this port and the sink its events run through (the
  // session port's own queue sink when none is given).
  void Attach(fe::TFeAbstractFax& fax, fe::TFeEventSink* events = nullptr);

  // Is there a modem? Waits 12 ticks (letting the owner's events run through
  // Idle), sends "AT", waits up to 36 ticks for "OK" (any case); without it and
  // with a reset string, sends that string as it is and waits the same way.
  bool CheckForModem(const std::string& resetString);
  // Sends the command (with "AT" put in front when its upper-case form lacks it;
  // the caller's string is changed) and waits up to 36 ticks for "OK".
  bool SendModemCommand(std::string& command);

  // The byte trace: a mark between the bytes (only while tracing), pausing it
  // for the rest of the session, and writing it to the trace file (replacing it).
  bool Tracing() const;
  void Mark(const std::string& text);
  void PauseTrace();
  int DumpTrace();

  // Cancels the attached component when it runs and waits up to timeoutMs
  // (running the session port's own queued events) until it stopped; false
  // when it still runs (at once when the device went away meanwhile).
  bool StopComponent(int timeoutMs);
  // Lets go of the component, the link and the port, in that order; a running
  // component is stopped first (StopComponent, as often as it takes while the
  // port can still reach it), so nothing is taken from under it.
  void Close();

  // Waits `ms` milliseconds while letting the owner's events run; plain sleep
  // unless the owner sets it (a window keeps painting).
  std::function<void(int ms)> Idle;

  fe::TFeComPort port;
  fe::TFeQueueSink sink;  // events run on the owning thread, as on a user interface's

 private:
  bool AwaitOk(const std::string& command);

  std::optional<fe::TComPortLink> link_;
  fe::TFeAbstractFax* fax_ = nullptr;
  std::string traceFile_;
  unsigned traceSize_ = 32000, logSize_ = 65500;
};

}  // namespace qn
