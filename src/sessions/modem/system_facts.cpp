#include "sessions/modem/system_facts.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "common/folders.h"
#include "common/ini_file.h"
#include "fe_device.h"

namespace qn {

namespace fs = std::filesystem;

namespace {

std::string gRoot;

std::string At(const std::string& path) {
  return gRoot + path;
}

std::string Trim(std::string s) {
  const auto notSpace = [](unsigned char c) { return !std::isspace(c); };
  s.erase(s.begin(), std::find_if(s.begin(), s.end(), notSpace));
  s.erase(std::find_if(s.rbegin(), s.rend(), notSpace).base(), s.end());
  return s;
}

std::string FirstLine(const std::string& path) {
  std::ifstream in(At(path));
  std::string line;
  std::getline(in, line);
  return Trim(line);
}

// udev writes "\x20" for a blank in its encoded names.
std::string UdevDecode(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x' && std::isxdigit(static_cast<unsigned char>(s[i + 2])) &&
        std::isxdigit(static_cast<unsigned char>(s[i + 3]))) {
      out += static_cast<char>(std::stoi(s.substr(i + 2, 2), nullptr, 16));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

// The E: properties of the udev database entry of a character device.
std::map<std::string, std::string> UdevProperties(unsigned major, unsigned minor) {
  std::map<std::string, std::string> props;
  std::ifstream in(At("/run/udev/data/c" + std::to_string(major) + ":" + std::to_string(minor)));
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("E:", 0) != 0) continue;
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    props[line.substr(2, eq - 2)] = line.substr(eq + 1);
  }
  return props;
}

// Vendor, model and driver from sysfs when udev has no entry: a USB device's
// "manufacturer" and "product" lie a few levels above the tty's device.
void SysfsNames(const std::string& node, SerialDevice& d) {
  const std::string base = At("/sys/class/tty/" + fs::path(node).filename().string() + "/device");
  std::error_code ec;
  const fs::path dev = fs::canonical(base, ec);
  if (ec) return;
  if (d.driver.empty()) d.driver = fs::read_symlink(dev / "driver", ec).filename().string();
  fs::path p = dev;
  for (int up = 0; up < 4 && !p.empty() && p != p.root_path(); ++up, p = p.parent_path()) {
    std::ifstream m(p / "manufacturer"), pr(p / "product");
    if (!m && !pr) continue;
    std::string vendor, model;
    std::getline(m, vendor);
    std::getline(pr, model);
    if (d.vendor.empty()) d.vendor = Trim(vendor);
    if (d.model.empty()) d.model = Trim(model);
    return;
  }
}

std::string UserNameOf(uid_t uid) {
  if (!gRoot.empty()) return std::to_string(uid);
  if (const passwd* pw = ::getpwuid(uid)) return pw->pw_name;
  return std::to_string(uid);
}

std::string GroupNameOf(gid_t gid) {
  if (const group* gr = ::getgrgid(gid)) return gr->gr_name;
  return std::to_string(gid);
}

bool UserInGroup(gid_t gid, uid_t owner) {
  if (::geteuid() == 0 || ::geteuid() == owner || ::getegid() == gid) return true;
  const int n = ::getgroups(0, nullptr);
  if (n <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(n));
  const int got = ::getgroups(n, groups.data());
  return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.begin() + got;
}

uint64_t MemInfoValue(const std::string& text, const std::string& key) {
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key + ":", 0) != 0) continue;
    std::istringstream v(line.substr(key.size() + 1));
    uint64_t kb = 0;
    v >> kb;
    return kb * 1024;
  }
  return 0;
}

}  // namespace

void SetFactsRoot(const std::string& root) {
  gRoot = root;
  while (!gRoot.empty() && gRoot.back() == '/') gRoot.pop_back();
}

const std::string& FactsRoot() {
  return gRoot;
}

std::string SerialDevice::Describe() const {
  std::string name = fs::path(path).filename().string();
  std::string what = Trim(vendor + " " + model);
  if (what.empty() && !byId.empty()) what = fs::path(byId).filename().string();
  return what.empty() ? name : name + " (" + what + ")";
}

std::string DeviceSummary(const std::string& path) {
  const SerialDevice d = DescribeSerialDevice(path);
  if (d.path.empty()) return "not present";
  // The node's kind from its own name, else from what a link (by-id) leads to.
  auto kindOf = [](const fs::path& p) -> std::string {
    const std::string node = p.filename().string();
    if (node.rfind("ttyACM", 0) == 0) return "USB modem";
    if (node.rfind("ttyUSB", 0) == 0) return "USB serial";
    if (node.rfind("ttyS", 0) == 0) return "serial port";
    if (p.parent_path().filename() == "pts" || node.rfind("pty", 0) == 0) return "pseudo-terminal";
    return {};
  };
  std::string kind = kindOf(path);
  fs::path p = path;
  for (int hop = 0; hop < 8 && kind.empty(); ++hop) {  // follow the links within the facts root
    std::error_code ec;
    if (!fs::is_symlink(At(p.string()), ec)) break;
    const fs::path target = fs::read_symlink(At(p.string()), ec);
    if (ec) break;
    p = target.is_absolute() ? target : (p.parent_path() / target).lexically_normal();
    kind = kindOf(p);
  }
  if (kind.empty()) kind = "serial device";
  std::string what = Trim(d.vendor + " " + d.model);
  std::replace(what.begin(), what.end(), '_', ' ');
  return what.empty() ? kind : kind + ", " + what;
}

std::string PortLabel(unsigned n) {
  const std::string device = fe::MapComNumber(n);
  return "COM" + std::to_string(n) + " \u2014 " + (device.empty() ? "no device" : device + " (" + DeviceSummary(device) + ")");
}

std::string PortPinnedBy(unsigned n) {
  const std::string name = "QN_COM" + std::to_string(n);
  const char* env = std::getenv(name.c_str());
  return env && *env ? name : std::string();
}

bool SetPortDevice(unsigned n, const std::string& device) {
  IniFile ini(SettingsFile());
  if (!ini.readable()) return false;
  ini.WriteString("Ports", "COM" + std::to_string(n), device);
  return ini.Flush();
}

SerialDevice DescribeSerialDevice(const std::string& path) {
  SerialDevice d;
  struct stat st {};
  if (::stat(At(path).c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return d;
  d.path = path;
  d.mode = st.st_mode & 07777;
  d.gid = st.st_gid;
  d.owner = UserNameOf(st.st_uid);
  d.group = GroupNameOf(st.st_gid);
  d.userInGroup = UserInGroup(st.st_gid, st.st_uid);
  d.accessible = ::access(At(path).c_str(), R_OK | W_OK) == 0;
  const auto props = UdevProperties(major(st.st_rdev), minor(st.st_rdev));
  const auto prop = [&props](const char* key) {
    const auto it = props.find(key);
    return it == props.end() ? std::string() : UdevDecode(it->second);
  };
  d.vendor = prop("ID_VENDOR_FROM_DATABASE");
  if (d.vendor.empty()) d.vendor = prop("ID_VENDOR_ENC");
  if (d.vendor.empty()) d.vendor = prop("ID_VENDOR");
  d.model = prop("ID_MODEL_FROM_DATABASE");
  if (d.model.empty()) d.model = prop("ID_MODEL_ENC");
  if (d.model.empty()) d.model = prop("ID_MODEL");
  d.driver = prop("ID_USB_DRIVER");
  SysfsNames(path, d);
  return d;
}

std::vector<SerialDevice> ListSerialDevices(const std::vector<std::string>& extra) {
  std::vector<SerialDevice> list;
  std::map<std::string, size_t> byNode;  // resolved node -> index in list
  std::error_code ec;
  const auto add = [&](const std::string& node, const std::string& byId) {
    SerialDevice d = DescribeSerialDevice(node);
    if (d.path.empty()) return;
    if (const auto it = byNode.find(node); it != byNode.end()) {
      if (list[it->second].byId.empty()) list[it->second].byId = byId;
      return;
    }
    d.byId = byId;
    byNode[node] = list.size();
    list.push_back(std::move(d));
  };
  // by-id links first: they carry the names udev made for USB devices.
  std::vector<std::pair<std::string, std::string>> links;
  for (const auto& e : fs::directory_iterator(At("/dev/serial/by-id"), ec)) {
    std::error_code lec;
    const fs::path target = fs::read_symlink(e.path(), lec);
    if (lec) continue;
    const fs::path node = (fs::path("/dev/serial/by-id") / target).lexically_normal();
    links.emplace_back(node.string(), "/dev/serial/by-id/" + e.path().filename().string());
  }
  std::sort(links.begin(), links.end());
  std::vector<std::string> nodes;
  for (const auto& e : fs::directory_iterator(At("/dev"), ec)) {
    const std::string name = e.path().filename().string();
    if (name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0) nodes.push_back("/dev/" + name);
  }
  std::sort(nodes.begin(), nodes.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  for (const auto& [node, id] : links) add(node, id);
  for (const auto& node : nodes) add(node, {});
  for (const auto& node : extra) {
    if (node.empty()) continue;
    std::error_code cec;
    const fs::path real = fs::weakly_canonical(At(node), cec);
    std::string path = cec ? node : real.string();
    if (!gRoot.empty() && path.rfind(gRoot, 0) == 0) path = path.substr(gRoot.size());
    add(path, {});
  }
  return list;
}

std::vector<ProcessInfo> RunningProcesses() {
  std::vector<ProcessInfo> list;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(At("/proc"), ec)) {
    const std::string pid = e.path().filename().string();
    if (pid.empty() || !std::all_of(pid.begin(), pid.end(), [](unsigned char c) { return std::isdigit(c); })) continue;
    // A kernel thread has an empty command line; one byte tells, the rest is
    // never read.
    std::ifstream cmd(e.path() / "cmdline", std::ios::binary);
    char first = 0;
    if (!cmd.get(first)) continue;
    ProcessInfo p;
    p.pid = std::stoi(pid);
    p.name = FirstLine("/proc/" + pid + "/comm");
    list.push_back(std::move(p));
  }
  std::sort(list.begin(), list.end(), [](const ProcessInfo& a, const ProcessInfo& b) { return a.pid < b.pid; });
  return list;
}

bool IsModemManagerRunning(const std::vector<ProcessInfo>& processes) {
  return std::any_of(processes.begin(), processes.end(), [](const ProcessInfo& p) { return p.name == "ModemManager"; });
}

std::string GroupFixCommand(const std::string& user, const std::string& group) {
  return "sudo usermod -aG " + group + " " + user;
}

SystemFacts GatherSystemFacts() {
  SystemFacts f;
  {
    std::ifstream in(At("/etc/os-release"));
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind("PRETTY_NAME=", 0) != 0) continue;
      std::string v = Trim(line.substr(12));
      if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
      f.osName = v;
    }
  }
  if (gRoot.empty()) {
    utsname u{};
    if (::uname(&u) == 0) f.kernel = std::string(u.sysname) + " " + u.release + " " + u.version + " " + u.machine;
  } else {
    f.kernel = FirstLine("/proc/version");
  }
  {
    std::ifstream in(At("/proc/cpuinfo"));
    std::string line;
    while (std::getline(in, line)) {
      const auto colon = line.find(':');
      if (colon == std::string::npos) continue;
      const std::string key = Trim(line.substr(0, colon));
      if (key == "processor") ++f.processors;
      if (f.processor.empty() && (key == "model name" || key == "Model" || key == "cpu model"))
        f.processor = Trim(line.substr(colon + 1));
    }
  }
  {
    std::ifstream in(At("/proc/meminfo"));
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    f.memTotal = MemInfoValue(text, "MemTotal");
    f.memAvailable = MemInfoValue(text, "MemAvailable");
    f.swapTotal = MemInfoValue(text, "SwapTotal");
    f.swapFree = MemInfoValue(text, "SwapFree");
  }
  f.userName = UserNameOf(::geteuid());
  std::vector<std::string> mapped;
  for (unsigned n = 1; n <= 6; ++n) mapped.push_back(fe::MapComNumber(n));
  f.serialDevices = ListSerialDevices(mapped);
  f.processes = RunningProcesses();
  f.modemManagerRunning = IsModemManagerRunning(f.processes);
  return f;
}

}  // namespace qn
