// What the machine tells about itself: the system, kernel, processor and memory,
// the serial devices with their udev names and who may open them, whether
// ModemManager runs, and the running programs. The configuration report prints
// these facts and the configuration analysis looks for the faults they reveal.
//
// Conventions callers rely on:
//  - No Qt. Reading facts never throws and never blocks on a device: files that
//    cannot be read leave their fields empty (or zero).
//  - Every path is read below `FactsRoot` (the real "/" by default), so tests can
//    lay out a machine of their own in a temporary folder.
//  - The facts are a snapshot: gathered once, then passed around by value.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qn {

// One serial device node.
struct SerialDevice {
  std::string path;    // "/dev/ttyUSB0": the node itself
  std::string byId;    // "/dev/serial/by-id/usb-..." naming it, empty when none
  std::string vendor;  // as udev knows it (database name first), empty when unknown
  std::string model;
  std::string driver;  // kernel driver ("cdc_acm", "pl2303", "serial8250"), empty when unknown
  std::string owner;   // user name (or number) owning the node
  std::string group;   // group name (or number) owning the node
  unsigned mode = 0;   // permission bits (0660)
  gid_t gid = 0;
  bool userInGroup = false;  // the user is in the owning group (or is its owner, or root)
  bool accessible = false;   // the user may open it for reading and writing
  // "ttyUSB0 (U.S. Robotics USB Modem)" style name for lists.
  std::string Describe() const;
};

// A running program by name only: its command line may hold passwords or
// addresses, and the report is meant to be mailed, so it is never read.
struct ProcessInfo {
  int pid = 0;
  std::string name;  // /proc/<pid>/comm
};

struct SystemFacts {
  std::string osName;                                                    // PRETTY_NAME of os-release
  std::string kernel;                                                    // "Linux 6.1.0-13-amd64 #1 SMP ... x86_64"
  std::string processor;                                                 // model name of the first processor
  unsigned processors = 0;                                               // number of processors listed
  uint64_t memTotal = 0, memAvailable = 0, swapTotal = 0, swapFree = 0;  // bytes
  std::string userName;
  std::vector<SerialDevice> serialDevices;  // by node path, no duplicates
  bool modemManagerRunning = false;
  std::vector<ProcessInfo> processes;  // user-space programs, by pid
};

// The folder standing for "/" when facts are read ("" = the real root).
void SetFactsRoot(const std::string& root);
const std::string& FactsRoot();

// Everything at once.
SystemFacts GatherSystemFacts();

// The serial devices: those under /dev/serial/by-id, every ttyUSB*, ttyACM*,
// and the given extra nodes (the COM mapping's devices) when they exist.
std::vector<SerialDevice> ListSerialDevices(const std::vector<std::string>& extra = {});
// Facts of one node; path empty when it does not exist.
SerialDevice DescribeSerialDevice(const std::string& path);
std::vector<ProcessInfo> RunningProcesses();
bool IsModemManagerRunning(const std::vector<ProcessInfo>& processes);

// What a device node is, for port lists: "USB modem" (ttyACM), "USB serial"
// (ttyUSB), "serial port" (ttyS), "pseudo-terminal" (pts), then the vendor and
// model udev names, "not present" when there is no such node:
// "USB modem, U.S. Robotics 56K".
std::string DeviceSummary(const std::string& path);
// The COM port with the device behind it (environment, [Ports] of QN.INI or the
// default) as every port list shows it:
// "COM5 — /dev/ttyUSB0 (USB modem, U.S. Robotics 56K)".
std::string PortLabel(unsigned comNumber);
// The environment variable that fixes COM n's device ("QN_COM5"), or "" when it
// is not set: such a port's device cannot be changed in QN.INI.
std::string PortPinnedBy(unsigned comNumber);
// Writes COM<n>=device into [Ports] of the settings file (the other keys and
// sections stay); false when the file cannot be read or written.
bool SetPortDevice(unsigned comNumber, const std::string& device);

// The group command that lets `user` open a device owned by `group`.
std::string GroupFixCommand(const std::string& user, const std::string& group);

}  // namespace qn
