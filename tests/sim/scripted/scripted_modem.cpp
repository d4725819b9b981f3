#include "scripted_modem.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <random>
#include <stdexcept>

namespace qnsim {

namespace {

using Clock = std::chrono::steady_clock;

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::string Trimmed(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return std::string(s);
}

// Printable form of bytes for failure messages.
std::string Visible(std::string_view s) {
  std::string out;
  for (unsigned char c : s) {
    if (c >= 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
    } else {
      static const char* hex = "0123456789ABCDEF";
      out += "<";
      out += hex[c >> 4];
      out += hex[c & 15];
      out += ">";
    }
  }
  return out;
}

void MakeRaw(int fd) {
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) return;
  ::cfmakeraw(&tio);
  ::tcsetattr(fd, TCSANOW, &tio);
}

}  // namespace

ScriptedModem::ScriptedModem() {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
    throw std::runtime_error("scripted modem: no pseudo-terminal");
  char name[128];
  if (::ptsname_r(master_, name, sizeof name) != 0) throw std::runtime_error("scripted modem: no terminal name");
  devicePath_ = name;
  slave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slave_ >= 0) MakeRaw(slave_);
  MakeRaw(master_);
  ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
  if (::pipe2(stopPipe_, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("scripted modem: no pipe");
}

ScriptedModem::~ScriptedModem() {
  Stop();
  for (int fd : {master_, slave_, stopPipe_[0], stopPipe_[1]})
    if (fd >= 0) ::close(fd);
}

// ---------------------------------------------------------------------- steps

ScriptedModem& ScriptedModem::Add(std::function<bool(ScriptedModem&)> fn) {
  steps_.push_back(Step{std::move(fn)});
  return *this;
}

ScriptedModem& ScriptedModem::Expect(std::string_view command) {
  return Add([want = std::string(command)](ScriptedModem& m) {
    std::string line;
    if (!m.ReadLine(line, Clock::now() + m.expectTimeout_)) {
      m.Fail("expected \"" + want + "\", got nothing" + (line.empty() ? "" : " but \"" + Visible(line) + "\""));
      return false;
    }
    if (Upper(Trimmed(line)) != Upper(Trimmed(want))) {
      m.Fail("expected \"" + want + "\", got \"" + Visible(line) + "\"");
      m.Write("\r\nERROR\r\n");
      return false;
    }
    return true;
  });
}

ScriptedModem& ScriptedModem::ExpectPrefix(std::string_view prefix) {
  return Add([want = std::string(prefix)](ScriptedModem& m) {
    std::string line;
    if (!m.ReadLine(line, Clock::now() + m.expectTimeout_)) {
      m.Fail("expected a line starting \"" + want + "\", got nothing");
      return false;
    }
    if (Upper(Trimmed(line)).rfind(Upper(want), 0) != 0) {
      m.Fail("expected a line starting \"" + want + "\", got \"" + Visible(line) + "\"");
      m.Write("\r\nERROR\r\n");
      return false;
    }
    return true;
  });
}

ScriptedModem& ScriptedModem::Reply(std::string_view result) {
  return Send("\r\n" + std::string(result) + "\r\n");
}

ScriptedModem& ScriptedModem::Send(std::string_view bytes) {
  return Add([b = std::string(bytes)](ScriptedModem& m) {
    m.Write(b);
    return true;
  });
}

ScriptedModem& ScriptedModem::Trickle(std::string_view bytes, Duration gap) {
  return Add([b = std::string(bytes), gap](ScriptedModem& m) {
    for (char c : b) {
      m.Write(std::string_view(&c, 1));
      if (!m.Sleep(gap)) return false;
    }
    return true;
  });
}

ScriptedModem& ScriptedModem::Pause(Duration d) {
  return Add([d](ScriptedModem& m) { return m.Sleep(d); });
}

ScriptedModem& ScriptedModem::Ring(int count, Duration gap) {
  return Add([count, gap](ScriptedModem& m) {
    for (int i = 0; i < count; ++i) {
      if (i > 0 && !m.Sleep(gap)) return false;
      m.Write("\r\nRING\r\n");
    }
    return true;
  });
}

ScriptedModem& ScriptedModem::Frame(std::string_view frame) {
  std::string out;
  for (char c : frame) {
    out += c;
    if (c == kDLE) out += kDLE;
  }
  out += kDLE;
  out += kETX;
  return Send(out);
}

ScriptedModem& ScriptedModem::ExpectData(std::string_view enders, Duration limit) {
  return Add([enders = std::string(enders), limit](ScriptedModem& m) {
    std::string data;
    char ender = 0;
    std::size_t used = 0;
    // Scans pending_ as it grows; DLE DLE is one DLE, DLE + ender ends the block.
    auto scan = [&] {
      while (used < m.pending_.size()) {
        const char c = m.pending_[used];
        if (c != kDLE) {
          data += c;
          ++used;
          continue;
        }
        if (used + 1 >= m.pending_.size()) return false;  // wait for the byte after DLE
        const char next = m.pending_[used + 1];
        used += 2;
        if (next == kDLE) {
          data += kDLE;
        } else if (enders.find(next) != std::string::npos) {
          ender = next;
          return true;
        } else {
          data += next;  // DLE + other: the other character
        }
      }
      return false;
    };
    const bool ok = m.ReadUntil(scan, Clock::now() + limit);
    m.pending_.erase(0, used);
    std::lock_guard<std::mutex> lock(m.mu_);
    m.dataBlocks_.push_back(data);
    if (!ok) {
      m.failures_.push_back("page data not ended by DLE and one of \"" + Visible(enders) + "\" after " +
                            std::to_string(data.size()) + " bytes");
      return false;
    }
    m.dataEnders_ += ender;
    return true;
  });
}

ScriptedModem& ScriptedModem::ExpectBytes(std::size_t count, Duration limit) {
  return Add([count, limit](ScriptedModem& m) {
    const bool ok = m.ReadUntil([&] { return m.pending_.size() >= count; }, Clock::now() + limit);
    const std::size_t n = std::min(count, m.pending_.size());
    std::lock_guard<std::mutex> lock(m.mu_);
    m.dataBlocks_.push_back(m.pending_.substr(0, n));
    m.pending_.erase(0, n);
    if (!ok) m.failures_.push_back("expected " + std::to_string(count) + " bytes, got " + std::to_string(n));
    return ok;
  });
}

ScriptedModem& ScriptedModem::ExpectByte(char c, Duration limit) {
  return Add([c, limit](ScriptedModem& m) {
    std::size_t at = std::string::npos;
    const bool ok = m.ReadUntil([&] { return (at = m.pending_.find(c)) != std::string::npos; }, Clock::now() + limit);
    if (!ok) {
      m.Fail("expected byte " + Visible(std::string(1, c)) + ", not received");
      return false;
    }
    m.pending_.erase(0, at + 1);
    return true;
  });
}

ScriptedModem& ScriptedModem::Garbage(std::size_t count, unsigned seed) {
  return Add([count, seed](ScriptedModem& m) {
    std::mt19937 rng(seed);
    std::string noise(count, '\0');
    for (char& c : noise) c = static_cast<char>(rng() & 0xFF);
    m.Write(noise);
    return true;
  });
}

ScriptedModem& ScriptedModem::HangUp() {
  return Add([](ScriptedModem& m) {
    std::lock_guard<std::mutex> lock(m.mu_);
    for (int* fd : {&m.master_, &m.slave_}) {
      if (*fd >= 0) ::close(*fd);
      *fd = -1;
    }
    return true;
  });
}

ScriptedModem& ScriptedModem::Call(std::function<void(ScriptedModem&)> fn) {
  return Add([fn = std::move(fn)](ScriptedModem& m) {
    fn(m);
    return true;
  });
}

// -------------------------------------------------------------------- running

void ScriptedModem::Start() {
  std::lock_guard<std::mutex> lock(mu_);
  if (started_) return;
  started_ = true;
  thread_ = std::thread([this] { Run(); });
}

void ScriptedModem::Run() {
  for (auto& step : steps_) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (stopping_) break;
    }
    if (!step.run(*this)) break;
  }
  std::lock_guard<std::mutex> lock(mu_);
  done_ = true;
  cv_.notify_all();
}

bool ScriptedModem::WaitDone(Duration limit) {
  std::unique_lock<std::mutex> lock(mu_);
  if (!cv_.wait_for(lock, limit, [&] { return done_; })) {
    failures_.push_back("script not finished in time");
    return false;
  }
  return failures_.empty();
}

bool ScriptedModem::Done() const {
  std::lock_guard<std::mutex> lock(mu_);
  return done_;
}

void ScriptedModem::Stop() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopping_ = true;
  }
  if (stopPipe_[1] >= 0) {
    const char c = 1;
    [[maybe_unused]] auto n = ::write(stopPipe_[1], &c, 1);
  }
  if (thread_.joinable()) thread_.join();
}

void ScriptedModem::Fail(std::string what) {
  std::lock_guard<std::mutex> lock(mu_);
  failures_.push_back(std::move(what));
}

bool ScriptedModem::Sleep(Duration d) {
  pollfd p{stopPipe_[0], POLLIN, 0};
  return ::poll(&p, 1, static_cast<int>(d.count())) == 0;
}

void ScriptedModem::Write(std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    int fd;
    {
      std::lock_guard<std::mutex> lock(mu_);
      fd = master_;
      if (stopping_ || fd < 0) return;
    }
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return;
    // The computer is not reading: wait until the terminal takes more.
    pollfd p[2] = {{fd, POLLOUT, 0}, {stopPipe_[0], POLLIN, 0}};
    if (::poll(p, 2, 100) > 0 && p[1].revents) return;
  }
}

bool ScriptedModem::ReadUntil(const std::function<bool()>& enough, Clock::time_point until) {
  for (;;) {
    if (enough()) return true;
    const auto now = Clock::now();
    if (now >= until) return false;
    int fd;
    {
      std::lock_guard<std::mutex> lock(mu_);
      fd = master_;
      if (stopping_ || fd < 0) return false;
    }
    const int wait = static_cast<int>(
        std::min<long long>(50, std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count() + 1));
    pollfd p[2] = {{fd, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    if (::poll(p, 2, wait) < 0 && errno != EINTR) return false;
    if (p[1].revents) return false;
    char buf[4096];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) {
      pending_.append(buf, static_cast<std::size_t>(n));
      std::lock_guard<std::mutex> lock(mu_);
      received_.append(buf, static_cast<std::size_t>(n));
    }
  }
}

bool ScriptedModem::ReadLine(std::string& line, Clock::time_point until) {
  std::size_t echoed = 0;
  for (;;) {
    // Empty lines and line feeds between commands are skipped.
    while (!pending_.empty() && (pending_[0] == '\r' || pending_[0] == '\n')) pending_.erase(0, 1);
    std::size_t cr = std::string::npos;
    const bool got = ReadUntil(
        [&] {
          if (echo_ && pending_.size() > echoed) {
            Write(std::string_view(pending_).substr(echoed));
            echoed = pending_.size();
          }
          cr = pending_.find('\r');
          return cr != std::string::npos;
        },
        until);
    if (!got) {
      line = pending_;
      return false;
    }
    line = pending_.substr(0, cr);
    pending_.erase(0, cr + 1);
    line.erase(std::remove(line.begin(), line.end(), '\n'), line.end());
    if (line.empty()) continue;
    std::lock_guard<std::mutex> lock(mu_);
    commands_.push_back(line);
    return true;
  }
}

// ------------------------------------------------------------------- results

bool ScriptedModem::Ok() const {
  std::lock_guard<std::mutex> lock(mu_);
  return failures_.empty();
}

std::vector<std::string> ScriptedModem::Failures() const {
  std::lock_guard<std::mutex> lock(mu_);
  return failures_;
}

std::string ScriptedModem::Received() const {
  std::lock_guard<std::mutex> lock(mu_);
  return received_;
}

std::vector<std::string> ScriptedModem::Commands() const {
  std::lock_guard<std::mutex> lock(mu_);
  return commands_;
}

std::vector<std::string> ScriptedModem::DataBlocks() const {
  std::lock_guard<std::mutex> lock(mu_);
  return dataBlocks_;
}

std::string ScriptedModem::DataEnders() const {
  std::lock_guard<std::mutex> lock(mu_);
  return dataEnders_;
}

std::string ScriptedModem::Report() const {
  std::lock_guard<std::mutex> lock(mu_);
  std::string out;
  for (const auto& f : failures_) out += "failure: " + f + "\n";
  out += "commands:";
  for (const auto& c : commands_) out += " \"" + Visible(c) + "\"";
  out += "\nreceived: " + Visible(received_) + "\n";
  return out;
}

}  // namespace qnsim
