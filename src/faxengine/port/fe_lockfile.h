// UUCP lock files: the convention by which serial programs (minicom, cu, mgetty,
// efax, ppp...) tell each other that a device is in use. A device is held when
// the folder of lock files has "LCK..<device name>" naming a process that runs.
// The file holds the process id as ten right-aligned ASCII digits and a newline
// (the HDB form we write), or as a binary int (older programs).
//
// Conventions: no Qt; nothing throws. A lock folder we may not write in, or a
// stale lock we may not remove, is no reason to refuse the port: the port then
// opens without a lock file of ours. A live foreign lock always refuses.
#pragma once

#include <sys/types.h>

#include <string>

namespace fe {

// The folder of lock files: $QN_LOCK_DIR when set, else /run/lock when it is a
// folder, else /var/lock.
std::string LockFolder();

// "<LockFolder()>/LCK..<name>", name the last component of the device's real
// path (so /dev/modem -> /dev/ttyS1 is locked as LCK..ttyS1); empty for an
// empty path.
std::string LockFilePath(const std::string& device);

// The process id a lock file names: the ASCII form (blanks, digits, a line end)
// or a binary int of exactly its size. 0 when the file is missing, unreadable
// or names no process id.
pid_t ReadLockFile(const std::string& lockPath);
// The same; noAccess tells a file there that we may not read.
pid_t ReadLockFile(const std::string& lockPath, bool& noAccess);

// The running process, other than this one, that holds `device` by its lock
// file (under its real name, or under the name given when that is a link);
// 0 when none does (no file, a dead or unreadable one).
pid_t LockFileOwner(const std::string& device);

// Takes the lock of `device` for this process (a live lock under the name
// given, when that is a link, refuses too). A stale lock (a dead process,
// this process's own leftover, or content naming no process) is removed first;
// one we may not read is taken as held (holder 0).
// Returns 0 with `ours` set to the lock file written, 0 with `ours` empty when
// no lock file could be written (the port may still be used), or -ecHardware
// with `holder` set when a running process holds the device.
int AcquireDeviceLock(const std::string& device, std::string& ours, pid_t& holder);

// Removes a lock file written by AcquireDeviceLock, unless it names another
// process by now.
void ReleaseDeviceLock(const std::string& ours);

}  // namespace fe
