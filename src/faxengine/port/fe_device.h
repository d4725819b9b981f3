// The serial device underneath a port: mapping COM numbers to device paths,
// opening with exclusive access, and applying line settings through termios.
#pragma once

#include <functional>
#include <string>

#include "fe_portsettings.h"

namespace fe {

// The devices the program's own settings give COM numbers (key COM<n> of
// [Ports] in its QN.INI): the layer above installs this lookup (the port layer
// reads none of the program's files); it returns "" for a number it does not map.
using ComPortLookup = std::function<std::string(unsigned number)>;
void SetComPortLookup(ComPortLookup lookup);

// COMn as a device path: environment QN_COM<n> when set, else the installed
// lookup's device, else COM1-COM4 = /dev/ttyS0-3, COM5 = /dev/ttyUSB0, COM6 =
// /dev/ttyACM0. Empty for 0 or numbers without a mapping.
std::string MapComNumber(unsigned number);

// Opens the device read/write, non-blocking, without becoming its controlling
// terminal, in raw mode, with TIOCEXCL and an exclusive flock, after taking its
// UUCP lock file (fe_lockfile.h; a stale one is taken over, an unwritable lock
// folder leaves the device without one). Returns the descriptor or: -ecBadId (no
// such device, not a terminal), -ecHardware (held by another program: its lock
// file names a running process, or it has the device flocked or exclusive),
// -ecAlreadyOpen (already open in this process).
int OpenSerialDevice(const std::string& path);
// Closes a descriptor returned by OpenSerialDevice and removes its lock file.
void CloseSerialDevice(int fd);

// Applies speed, framing, flow control and the DTR/RTS lines. Returns 0, an error
// of CheckLineSettings, or -ecDefault for values the device refuses (a
// pseudo-terminal refuses parity).
int ConfigureSerialDevice(int fd, const TPortSettings& s);
int SetModemLines(int fd, bool dtr, bool rts);
// Modem status bits (TModemStatusBit); -1 when the device has no modem lines.
int ReadModemStatus(int fd);
// Line error counters summed into TLineErrorBit flags since `previous`; false when
// the device keeps no counters.
struct TLineCounters {
  long overrun = 0, parity = 0, frame = 0, brk = 0;
};
bool ReadLineCounters(int fd, TLineCounters& out);
// Bytes still queued in the driver for output (0 when unknown).
int DriverOutputQueued(int fd);

}  // namespace fe
