// A pseudo-terminal whose slave side is the virtual modem's serial port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace faxsim {

class Pty {
 public:
  // Opens a master, puts the slave in raw mode and, when link is not empty,
  // points a symlink at the slave path. Throws std::runtime_error on failure.
  explicit Pty(std::string link);
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  const std::string& slavePath() const { return slave_; }
  const std::string& link() const { return link_; }

  // Reads what the DTE wrote; 0 when nothing is waiting (or nobody has the port open).
  size_t read(uint8_t* buf, size_t len);
  // Queues bytes for the DTE; they are written as the pseudo-terminal takes them.
  void write(const uint8_t* buf, size_t len);
  void write(const std::string& text) { write(reinterpret_cast<const uint8_t*>(text.data()), text.size()); }
  void flush();
  size_t pending() const { return out_.size(); }

 private:
  int master_ = -1;
  std::string slave_;
  std::string link_;
  std::string out_;
};

}  // namespace faxsim
