#include "pty.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace faxsim {

namespace {
std::runtime_error sysError(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}
}  // namespace

Pty::Pty(std::string link) : link_(std::move(link)) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (master_ < 0) throw sysError("posix_openpt");
  if (grantpt(master_) != 0 || unlockpt(master_) != 0) throw sysError("grantpt/unlockpt");
  const char* name = ptsname(master_);
  if (name == nullptr) throw sysError("ptsname");
  slave_ = name;
  // Raw mode from the start: a DTE that never sets its own line discipline must
  // not see our replies echoed back to us as commands.
  int slave = open(slave_.c_str(), O_RDWR | O_NOCTTY);
  if (slave < 0) throw sysError("open " + slave_);
  termios tio{};
  tcgetattr(slave, &tio);
  cfmakeraw(&tio);
  cfsetspeed(&tio, B19200);
  tcsetattr(slave, TCSANOW, &tio);
  close(slave);
  if (!link_.empty()) {
    unlink(link_.c_str());
    if (symlink(slave_.c_str(), link_.c_str()) != 0) throw sysError("symlink " + link_);
  }
}

Pty::~Pty() {
  if (!link_.empty()) unlink(link_.c_str());
  if (master_ >= 0) close(master_);
}

size_t Pty::read(uint8_t* buf, size_t len) {
  ssize_t n = ::read(master_, buf, len);
  // EAGAIN: nothing waiting; EIO: no process has the slave open.
  return n > 0 ? static_cast<size_t>(n) : 0;
}

void Pty::write(const uint8_t* buf, size_t len) {
  out_.append(reinterpret_cast<const char*>(buf), len);
  flush();
}

void Pty::flush() {
  while (!out_.empty()) {
    ssize_t n = ::write(master_, out_.data(), out_.size());
    if (n <= 0) return;  // the DTE is not reading: keep the rest for the next tick
    out_.erase(0, static_cast<size_t>(n));
  }
}

}  // namespace faxsim
