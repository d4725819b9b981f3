#include "fe_device.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>
#include <utility>

#include "fe_errors.h"
#include "fe_lockfile.h"

namespace fe {

namespace {

// Devices this process has open, by device node, so that a second open is 2008,
// with the lock file written for each.
struct TOpenDevice {
  std::pair<dev_t, ino_t> node;
  std::string lockFile;  // empty when none could be written
};
std::mutex gOpenMu;
std::map<std::pair<dev_t, ino_t>, int> gOpen;  // node -> descriptor
std::map<int, TOpenDevice> gByFd;

speed_t SpeedConstant(long baud) {
  switch (baud) {
    case 300:
      return B300;
    case 600:
      return B600;
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    case 230400:
      return B230400;
    case 460800:
      return B460800;
    case 921600:
      return B921600;
    default:
      return B0;
  }
}

// Opens the device itself: non-blocking, raw, TIOCEXCL and an exclusive flock.
int OpenLocked(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    switch (errno) {
      case EBUSY:
      case EACCES:
      case EPERM:
      case EAGAIN:
        return -ecHardware;
      default:
        return -ecBadId;  // ENOENT, ENXIO, ENODEV, EIO (no hardware behind the node)
    }
  }
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) {  // not a terminal
    ::close(fd);
    return -ecBadId;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {  // another program holds it
    ::close(fd);
    return -ecHardware;
  }
  ::ioctl(fd, TIOCEXCL);
  ::cfmakeraw(&tio);
  tio.c_cflag |= CREAD | CLOCAL;
  tio.c_cc[VMIN] = 1;  // with O_NONBLOCK: no data is EAGAIN, 0 is a hang-up
  tio.c_cc[VTIME] = 0;
  ::tcsetattr(fd, TCSANOW, &tio);
  return fd;
}

}  // namespace

namespace {
std::mutex gLookupMu;
ComPortLookup gLookup;
}  // namespace

void SetComPortLookup(ComPortLookup lookup) {
  std::lock_guard<std::mutex> lock(gLookupMu);
  gLookup = std::move(lookup);
}

std::string MapComNumber(unsigned number) {
  if (number == 0) return {};
  const std::string key = "COM" + std::to_string(number);
  if (const char* env = std::getenv(("QN_" + key).c_str()); env && *env) return env;
  ComPortLookup lookup;
  {
    std::lock_guard<std::mutex> lock(gLookupMu);
    lookup = gLookup;
  }
  if (lookup) {
    if (std::string device = lookup(number); !device.empty()) return device;
  }
  if (number <= 4) return "/dev/ttyS" + std::to_string(number - 1);
  if (number == 5) return "/dev/ttyUSB0";
  if (number == 6) return "/dev/ttyACM0";
  return {};
}

int OpenSerialDevice(const std::string& path) {
  if (path.empty()) return -ecBadId;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return errno == EACCES ? -ecHardware : -ecBadId;
  if (!S_ISCHR(st.st_mode)) return -ecBadId;
  const auto node = std::make_pair(st.st_dev, st.st_ino);
  std::lock_guard<std::mutex> lock(gOpenMu);
  if (gOpen.count(node)) return -ecAlreadyOpen;
  // Another node under the same name (a lock file names devices by name only).
  const std::string lockName = LockFilePath(path);
  for (const auto& [openFd, open] : gByFd)
    if (!lockName.empty() && open.lockFile == lockName) return -ecAlreadyOpen;

  // The lock file comes first, so that a device another program holds that way
  // is not even opened (opening raises DTR).
  std::string lockFile;
  pid_t holder = 0;
  if (AcquireDeviceLock(path, lockFile, holder) < 0) return -ecHardware;
  const int fd = OpenLocked(path);
  if (fd < 0) {
    ReleaseDeviceLock(lockFile);
    return fd;
  }
  gOpen[node] = fd;
  gByFd[fd] = TOpenDevice{node, lockFile};
  return fd;
}

void CloseSerialDevice(int fd) {
  if (fd < 0) return;
  std::string lockFile;
  {
    std::lock_guard<std::mutex> lock(gOpenMu);
    if (auto it = gByFd.find(fd); it != gByFd.end()) {
      gOpen.erase(it->second.node);
      lockFile = it->second.lockFile;
      gByFd.erase(it);
    }
  }
  ::ioctl(fd, TIOCNXCL);
  ::flock(fd, LOCK_UN);
  ::close(fd);
  ReleaseDeviceLock(lockFile);
}

int ConfigureSerialDevice(int fd, const TPortSettings& s) {
  if (const int rc = CheckLineSettings(s); rc < 0) return rc;
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) return -ecBadId;
  const speed_t speed = SpeedConstant(s.baud);
  ::cfsetispeed(&tio, speed);
  ::cfsetospeed(&tio, speed);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  tio.c_cflag |= CREAD | CLOCAL;
  switch (s.dataBits) {
    case 5:
      tio.c_cflag |= CS5;
      break;
    case 6:
      tio.c_cflag |= CS6;
      break;
    case 7:
      tio.c_cflag |= CS7;
      break;
    default:
      tio.c_cflag |= CS8;
      break;
  }
  switch (s.parity) {
    case pOdd:
      tio.c_cflag |= PARENB | PARODD;
      break;
    case pEven:
      tio.c_cflag |= PARENB;
      break;
    case pMark:
      tio.c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case pSpace:
      tio.c_cflag |= PARENB | CMSPAR;
      break;
    default:
      break;
  }
  if (s.stopBits == 2) tio.c_cflag |= CSTOPB;
  if (s.hwFlow & (hwfUseRTS | hwfRequireCTS)) tio.c_cflag |= CRTSCTS;
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  if (s.swFlow == swfReceive || s.swFlow == swfBoth) tio.c_iflag |= IXOFF;
  if (s.swFlow == swfTransmit || s.swFlow == swfBoth) tio.c_iflag |= IXON;
  tio.c_cc[VSTART] = static_cast<cc_t>(s.xonChar);
  tio.c_cc[VSTOP] = static_cast<cc_t>(s.xoffChar);
  if (::tcsetattr(fd, TCSANOW, &tio) != 0) return -ecDefault;  // the device refuses them
  SetModemLines(fd, s.dtr, s.rts);
  return 0;
}

int SetModemLines(int fd, bool dtr, bool rts) {
  int set = 0, clear = 0;
  (dtr ? set : clear) |= TIOCM_DTR;
  (rts ? set : clear) |= TIOCM_RTS;
  // A pseudo-terminal has no modem lines: nothing to do there.
  if (set) ::ioctl(fd, TIOCMBIS, &set);
  if (clear) ::ioctl(fd, TIOCMBIC, &clear);
  return 0;
}

int ReadModemStatus(int fd) {
  int lines = 0;
  if (::ioctl(fd, TIOCMGET, &lines) != 0) return -1;
  int bits = 0;
  if (lines & TIOCM_CTS) bits |= msCTS;
  if (lines & TIOCM_DSR) bits |= msDSR;
  if (lines & TIOCM_RI) bits |= msRI;
  if (lines & TIOCM_CD) bits |= msDCD;
  return bits;
}

bool ReadLineCounters(int fd, TLineCounters& out) {
  serial_icounter_struct ic{};
  if (::ioctl(fd, TIOCGICOUNT, &ic) != 0) return false;
  out.overrun = ic.overrun + ic.buf_overrun;
  out.parity = ic.parity;
  out.frame = ic.frame;
  out.brk = ic.brk;
  return true;
}

int DriverOutputQueued(int fd) {
  int queued = 0;
  if (::ioctl(fd, TIOCOUTQ, &queued) != 0) return 0;
  return queued;
}

}  // namespace fe
