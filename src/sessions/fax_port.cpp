#include "sessions/fax_port.h"

#include <dirent.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "common/folders.h"
#include "fe_device.h"
#include "fe_errors.h"
#include "fe_lockfile.h"
#include "fe_texts.h"

namespace qn {

namespace {

constexpr long kModemReplyTicks = 36;  // about 2 s for a modem's "OK"
constexpr long kSettleTicks = 12;      // about 0.66 s before the first "AT"
constexpr int kStopWaitMs = 15000;     // a cancelled component hangs up (about 2 s) first

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string RealPath(const std::string& path) {
  char buf[PATH_MAX];
  if (::realpath(path.c_str(), buf)) return buf;
  return {};
}

std::string ProcessName(const std::string& pid) {
  std::ifstream in("/proc/" + pid + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

}  // namespace

unsigned ComNumberOf(const std::string& name) {
  const std::string upper = Upper(name);
  if (upper.size() < 4 || upper.size() > 6 || upper.compare(0, 3, "COM") != 0) return 0;
  unsigned n = 0;
  for (size_t i = 3; i < upper.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(upper[i]))) return 0;
    n = n * 10 + static_cast<unsigned>(upper[i] - '0');
  }
  return n;
}

std::string PortHolder(const std::string& device) {
  // A program that keeps the convention of lock files names itself there.
  if (const pid_t owner = fe::LockFileOwner(device); owner > 0) {
    const std::string pid = std::to_string(owner);
    std::string name = ProcessName(pid);
    if (name.empty()) name = "another program";
    return name + " (process " + pid + ")";
  }
  const std::string target = RealPath(device);
  if (target.empty()) return {};
  const std::string self = std::to_string(::getpid());
  DIR* proc = ::opendir("/proc");
  if (!proc) return {};
  std::string found;
  while (dirent* e = ::readdir(proc)) {
    const std::string pid = e->d_name;
    if (pid.empty() || !std::isdigit(static_cast<unsigned char>(pid[0])) || pid == self) continue;
    const std::string fdDir = "/proc/" + pid + "/fd";
    DIR* fds = ::opendir(fdDir.c_str());
    if (!fds) continue;  // another user's process: the system does not tell
    while (dirent* f = ::readdir(fds)) {
      if (f->d_name[0] == '.') continue;
      char link[PATH_MAX];
      const ssize_t n = ::readlink((fdDir + "/" + f->d_name).c_str(), link, sizeof link - 1);
      if (n <= 0) continue;
      link[n] = 0;
      if (target == link) {
        found = ProcessName(pid) + " (process " + pid + ")";
        break;
      }
    }
    ::closedir(fds);
    if (!found.empty()) break;
  }
  ::closedir(proc);
  return found;
}

std::string PermissionNote(const std::string& device, unsigned mode, unsigned owner, unsigned group, unsigned uid,
                           const std::vector<unsigned>& groups) {
  const unsigned rw = 06;
  if (uid == 0) return {};
  if (uid == owner) {
    if (((mode >> 6) & rw) == rw) return {};
  } else if (std::find(groups.begin(), groups.end(), group) != groups.end()) {
    if (((mode >> 3) & rw) == rw) return {};
  } else if ((mode & rw) == rw) {
    return {};
  }
  std::string name = std::to_string(group);
  if (const struct group* g = ::getgrgid(group)) name = g->gr_name;
  return "You may not use " + device + ": it belongs to the group \"" + name +
         "\". Ask your administrator to add your account to that group (sudo usermod -aG " + name +
         " $USER), then log out and in again.";
}

namespace {
// PermissionNote for this process's user and groups.
std::string PermissionNoteFor(const std::string& device) {
  struct stat st {};
  if (device.empty() || ::stat(device.c_str(), &st) != 0) return {};
  std::vector<gid_t> ids(std::size_t(std::max(0, ::getgroups(0, nullptr))));
  ids.resize(std::size_t(std::max(0, ::getgroups(int(ids.size()), ids.data()))));
  std::vector<unsigned> groups(ids.begin(), ids.end());
  groups.push_back(::getegid());
  return PermissionNote(device, st.st_mode, st.st_uid, st.st_gid, ::geteuid(), groups);
}

// The device's path and, when its permissions keep this user out, why.
std::string DeviceLines(const std::string& device) {
  if (device.empty()) return {};
  const std::string note = PermissionNoteFor(device);
  return "\r\n\r\nDevice: " + device + (note.empty() ? std::string() : "\r\n" + note);
}
}  // namespace

std::string OpenFailureMessage(int code, unsigned portNumber, const std::string& device) {
  const std::string n = std::to_string(portNumber);
  // A device this user may not open is no port in use: say what keeps them out.
  if (code == -fe::ecHardware && !PermissionNoteFor(device).empty())
    return "Unable to open the specified communications port ( Com" + n + " )" + DeviceLines(device);
  if (code == -fe::ecAlreadyOpen || code == -fe::ecHardware) {
    std::string text = "The communications port is in use ( Com " + n +
                       " )\r\n\r\nPlease make sure that all communication programs (internet, AOL, etc) are "
                       "closed, and then try again.";
    if (!device.empty()) {
      if (const std::string holder = PortHolder(device); !holder.empty())
        text += "\r\n\r\n" + device + " is held by " + holder + ".";
      else
        text += DeviceLines(device);
    }
    return text;
  }
  const std::string head = "Unable to open the specified communications port ( Com" + n + " )";
  if (code == -fe::ecBadId) return head + DeviceLines(device);
  const int abs = code < 0 ? -code : code;
  return head + "\r\nError message: " + (fe::HasErrorText(abs) ? fe::ErrorText(abs) : std::string("Unknown error")) +
         DeviceLines(device);
}

void UseProgramPortMap() {
  fe::SetComPortLookup(&PortDeviceFromSettings);
}

std::string ComPortDevice(unsigned number) {
  UseProgramPortMap();
  return fe::MapComNumber(number);
}

TFaxSessionPort::TFaxSessionPort() {
  UseProgramPortMap();
  Idle = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
}

TFaxSessionPort::~TFaxSessionPort() {
  Close();
}

int TFaxSessionPort::Open(const std::string& name, const std::string& traceFile) {
  port.SetAutoOpen(false);
  port.SetTapiMode(fe::tmOff);
  port.SetPromptForPort(false);
  fe::ConfigureFaxPort(port);
  port.SetBufferFull(7372);
  port.SetBufferResume(819);
  port.SetTraceSize(traceSize_);
  port.SetLogSize(logSize_);
  if (const unsigned n = ComNumberOf(name)) {
    port.SetDevicePath({});
    port.SetComNumber(n);
  } else {
    port.SetDevicePath(name);
  }
  traceFile_ = traceFile;
  if (!traceFile_.empty()) {
    port.SetTraceName(traceFile_);
    port.SetTracing(fe::tlOn);
  }
  const int rc = port.SetOpen(true);
  return rc;
}

int TFaxSessionPort::Open(fe::TFeAbstractFax& fax, const std::string& name, const std::string& traceFile) {
  if (const int rc = Open(name, traceFile); rc < 0) return rc;
  Attach(fax);
  return 0;
}

void TFaxSessionPort::Attach(fe::TFeAbstractFax& fax, fe::TFeEventSink* events) {
  if (!link_) link_.emplace(port);
  fax.SetComPort(&*link_);
  fax.SetEventSink(events ? events : &sink);
  fax_ = &fax;
}

bool TFaxSessionPort::AwaitOk(const std::string& command) {
  port.FlushInBuffer();
  if (port.SendText(command + "\r") < 0) return false;
  return port.AwaitText("OK", kModemReplyTicks, true, false) == 1;
}

bool TFaxSessionPort::CheckForModem(const std::string& resetString) {
  if (!port.Open()) return false;
  if (Idle)
    Idle(static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(fe::TicksToDuration(kSettleTicks)).count()));
  if (AwaitOk("AT")) return true;
  std::string reset = resetString;
  while (!reset.empty() && std::isspace(static_cast<unsigned char>(reset.back()))) reset.pop_back();
  while (!reset.empty() && std::isspace(static_cast<unsigned char>(reset.front()))) reset.erase(0, 1);
  if (reset.empty()) return false;
  return AwaitOk(resetString);
}

bool TFaxSessionPort::SendModemCommand(std::string& command) {
  if (Upper(command).find("AT") == std::string::npos) command = "AT" + command;
  if (!port.Open()) return false;
  return AwaitOk(command);
}

bool TFaxSessionPort::Tracing() const {
  return port.Tracing() == fe::tlOn;
}

void TFaxSessionPort::Mark(const std::string& text) {
  port.AddTraceMark(text);
}

void TFaxSessionPort::PauseTrace() {
  if (Tracing()) port.SetTracing(fe::tlPause);
}

int TFaxSessionPort::DumpTrace() {
  if (traceFile_.empty() || port.Tracing() == fe::tlOff) return 0;
  return port.SetTracing(fe::tlDump);
}

bool TFaxSessionPort::StopComponent(int timeoutMs) {
  if (!fax_ || !fax_->Running()) return true;
  fax_->Cancel();
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  // Events queued for this thread (when the component uses our sink) keep going.
  while (!fax_->WaitDone(20)) {
    sink.ProcessPending();
    if (!port.Open()) return false;  // the device went away: nothing reaches the component now
    if (std::chrono::steady_clock::now() >= until) return false;
  }
  return true;
}

void TFaxSessionPort::Close() {
  // Never take the link or the port from under a running component: it is
  // cancelled and waited for, asked again whenever a wait runs out. Only a
  // device that went away (no event can reach the component any more, and a
  // handler still running is waited for when the link detaches) ends this.
  while (!StopComponent(kStopWaitMs) && port.Open()) {
  }
  if (fax_) {
    fax_->SetComPort(nullptr);
    fax_->SetEventSink(nullptr);
    fax_ = nullptr;
  }
  link_.reset();
  if (port.Open()) port.SetOpen(false);
}

}  // namespace qn
