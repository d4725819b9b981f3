#include "fe_lockfile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fe_errors.h"

namespace fe {

namespace {

constexpr std::size_t kMaxLockBytes = 64;  // a lock file is a dozen bytes; more is not one

bool IsFolder(const char* path) {
  struct stat st {};
  return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool ProcessRuns(pid_t pid) {
  if (pid <= 0) return false;
  // EPERM: the process exists but belongs to another user.
  return ::kill(pid, 0) == 0 || errno == EPERM;
}

// The ASCII form: optional blanks, digits, optional blanks and line ends.
pid_t ParseAsciiPid(const char* text, std::size_t n) {
  std::size_t i = 0;
  while (i < n && text[i] == ' ') ++i;
  long long value = 0;
  std::size_t digits = 0;
  for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
    value = value * 10 + (text[i] - '0');
    if (value > INT_MAX) return 0;
  }
  if (digits == 0) return 0;
  for (; i < n; ++i)
    if (text[i] != ' ' && text[i] != '\n' && text[i] != '\r' && text[i] != '\t') return 0;
  return static_cast<pid_t>(value);
}

// Creates `path` exclusively holding our process id in the HDB form; false
// (and no file left) when that fails.
bool CreateLockText(const std::string& path, pid_t self) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  char text[16];
  const int n = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(self));
  const bool ok = n > 0 && ::write(fd, text, static_cast<std::size_t>(n)) == n;
  ::fchmod(fd, 0644);  // readable by every other program, whatever our umask
  if (::close(fd) != 0 || !ok) {
    ::unlink(path.c_str());
    return false;
  }
  return true;
}

std::string WriteTemporary(const std::string& folder, pid_t self) {
  static std::atomic<unsigned> counter{0};
  const std::string tmp = folder + "/LTMP." + std::to_string(self) + "." + std::to_string(counter++);
  return CreateLockText(tmp, self) ? tmp : std::string();
}

}  // namespace

std::string LockFolder() {
  if (const char* env = std::getenv("QN_LOCK_DIR"); env && *env) return env;
  if (IsFolder("/run/lock")) return "/run/lock";
  return "/var/lock";
}

namespace {

std::string LockFileOf(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const auto slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty()) return {};
  return LockFolder() + "/LCK.." + name;
}

// The lock file under the name the device was given, when that differs from
// the real one (a program given /dev/modem may lock it as LCK..modem).
std::string GivenNameLockFile(const std::string& device) {
  const std::string given = LockFileOf(device);
  return given == LockFilePath(device) ? std::string() : given;
}

pid_t LiveHolder(const std::string& lock) {
  if (lock.empty()) return 0;
  const pid_t pid = ReadLockFile(lock);
  return pid != ::getpid() && ProcessRuns(pid) ? pid : 0;
}

}  // namespace

std::string LockFilePath(const std::string& device) {
  if (device.empty()) return {};
  std::string real = device;
  if (char* resolved = ::realpath(device.c_str(), nullptr)) {
    real = resolved;
    std::free(resolved);
  }
  return LockFileOf(real);
}

pid_t ReadLockFile(const std::string& lockPath) {
  bool noAccess = false;
  return ReadLockFile(lockPath, noAccess);
}

pid_t ReadLockFile(const std::string& lockPath, bool& noAccess) {
  noAccess = false;
  const int fd = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) {
    noAccess = errno == EACCES || errno == EPERM;
    return 0;
  }
  char buf[kMaxLockBytes + 1];
  std::size_t n = 0;
  for (;;) {
    const ssize_t got = ::read(fd, buf + n, sizeof buf - n);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    n += static_cast<std::size_t>(got);
    if (n == sizeof buf) break;
  }
  ::close(fd);
  if (n == 0 || n > kMaxLockBytes) return 0;
  if (const pid_t pid = ParseAsciiPid(buf, n); pid > 0) return pid;
  if (n == sizeof(int)) {
    int value = 0;
    std::memcpy(&value, buf, sizeof value);
    return value > 0 ? static_cast<pid_t>(value) : 0;
  }
  return 0;
}

pid_t LockFileOwner(const std::string& device) {
  if (device.empty()) return 0;
  if (const pid_t pid = LiveHolder(LockFilePath(device))) return pid;
  return LiveHolder(GivenNameLockFile(device));
}

int AcquireDeviceLock(const std::string& device, std::string& ours, pid_t& holder) {
  ours.clear();
  holder = 0;
  const std::string lock = LockFilePath(device);
  if (lock.empty()) return 0;
  const std::string folder = lock.substr(0, lock.rfind('/'));
  const pid_t self = ::getpid();
  if (const pid_t other = LiveHolder(GivenNameLockFile(device))) {
    holder = other;
    return -ecHardware;
  }
  // Another program may make or remove its lock between our steps: look again
  // after each surprise, a few times.
  for (int attempt = 0; attempt < 4; ++attempt) {
    struct stat st {};
    if (::lstat(lock.c_str(), &st) == 0) {
      bool noAccess = false;
      const pid_t pid = ReadLockFile(lock, noAccess);
      // A lock another user keeps from us cannot be judged: it holds the device.
      if (noAccess || (pid != self && ProcessRuns(pid))) {
        holder = pid;
        return -ecHardware;
      }
      // Stale: its process is gone, it names none, or it is our own leftover.
      if (::unlink(lock.c_str()) != 0 && errno != ENOENT) return 0;  // not ours to remove: go on without
    } else if (errno != ENOENT) {
      return 0;  // the folder cannot be looked into: go on without a lock file
    }
    // Made complete under another name and linked into place, so that nobody
    // ever reads a lock file of ours half written; the link fails when a lock
    // file exists, which makes taking it exclusive.
    const std::string tmp = WriteTemporary(folder, self);
    if (tmp.empty()) return 0;  // the folder is not writable for us
    const int linked = ::link(tmp.c_str(), lock.c_str());
    const int err = errno;
    ::unlink(tmp.c_str());
    if (linked == 0) {
      ours = lock;
      return 0;
    }
    if (err == EEXIST) continue;
    if (err != EPERM && err != ENOSYS && err != EOPNOTSUPP) return 0;
    // A file system without hard links: create the lock file itself exclusively.
    if (CreateLockText(lock, self)) {
      ours = lock;
      return 0;
    }
    if (errno == EEXIST) continue;
    return 0;
  }
  // Someone keeps making the lock file as fast as we look: treat it as held.
  holder = ReadLockFile(lock);
  return -ecHardware;
}

void ReleaseDeviceLock(const std::string& ours) {
  if (ours.empty()) return;
  if (ReadLockFile(ours) == ::getpid()) ::unlink(ours.c_str());
}

}  // namespace fe
