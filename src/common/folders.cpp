#include "folders.h"

#include <strings.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>

#include "ini_file.h"

namespace fs = std::filesystem;

namespace qn {
namespace {

std::mutex g_folderMutex;
std::optional<std::string> g_programFolder;

std::string WithSlash(std::string s) {
  if (s.empty() || s.back() != '/') s += '/';
  return s;
}

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return (v && *v) ? std::string(v) : fallback;
}

std::string HomeDir() { return EnvOr("HOME", "/tmp"); }

// One component looked up in dir: exact spelling first, else the first entry
// equal without regard to case, else the spelling as given.
std::string MatchComponent(const std::string& dir, const std::string& name) {
  std::error_code ec;
  const std::string base = dir.empty() ? std::string(".") : dir;
  if (fs::exists(fs::path(base) / name, ec)) return name;
  for (fs::directory_iterator it(base, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string entry = it->path().filename().string();
    if (strcasecmp(entry.c_str(), name.c_str()) == 0) return entry;
  }
  return name;
}

}  // namespace

std::string DataFolder() {
  const std::string env = EnvOr("QUILLON_DATA", "");
  if (!env.empty()) return WithSlash(env);
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const fs::path beside = (exe.parent_path() / QN_DATA_FROM_BINDIR).lexically_normal();
    if (fs::is_directory(beside, ec)) return WithSlash(beside.string());
  }
  return WithSlash(QN_DATA_INSTALLED);
}

std::string ProgramFolder() {
  std::lock_guard<std::mutex> lock(g_folderMutex);
  if (!g_programFolder) {
    std::string folder = EnvOr("QUILLON_HOME", "");
    if (folder.empty()) folder = EnvOr("XDG_DATA_HOME", HomeDir() + "/.local/share") + "/quillon";
    folder = WithSlash(folder);
    std::error_code ec;
    fs::create_directories(folder, ec);
    g_programFolder = folder;
  }
  return *g_programFolder;
}

void ResetProgramFolder() {
  std::lock_guard<std::mutex> lock(g_folderMutex);
  g_programFolder.reset();
}

std::string SettingsFile() { return ResolvePath(ProgramFolder() + "QN.INI"); }
std::string SendFolder() { return ResolvePath(ProgramFolder() + "SEND/"); }
std::string ReceiveFolder() { return ResolvePath(ProgramFolder() + "Receive/"); }
std::string CoversFolder() { return ResolvePath(ProgramFolder() + "Covers/"); }

std::string PortDeviceFromSettings(unsigned number) {
  return IniFile(SettingsFile()).ReadString("Ports", "COM" + std::to_string(number), "");
}

std::string HandOffFolder() {
  return WithSlash(EnvOr("XDG_CONFIG_HOME", HomeDir() + "/.config") + "/quillon");
}

std::string ResolvePath(const std::string& path) {
  if (path.empty()) return path;
  const bool trailing = path.back() == '/';
  std::string result = path.front() == '/' ? "/" : "";
  bool missing = false;  // once a component is missing, the rest is kept as spelled
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t next = path.find('/', pos);
    if (next == std::string::npos) next = path.size();
    std::string comp = path.substr(pos, next - pos);
    pos = next + 1;
    if (comp.empty() || comp == ".") continue;
    if (comp != ".." && !missing) {
      std::string found = MatchComponent(result, comp);
      std::error_code ec;
      if (!fs::exists(fs::path(result.empty() ? "." : result) / found, ec)) missing = true;
      comp = found;
    }
    if (!result.empty() && result.back() != '/') result += '/';
    result += comp;
  }
  if (trailing && (result.empty() || result.back() != '/')) result += '/';
  return result;
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::exists(ResolvePath(path), ec);
}

bool FolderExists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::is_directory(ResolvePath(path), ec);
}

bool DeleteFileCI(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  const std::string real = ResolvePath(path);
  if (fs::is_directory(real, ec)) return false;
  return fs::remove(real, ec);
}

bool IsPlainFileName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (const char c : name)
    if (c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
  return true;
}

std::string FileInFolder(const std::string& folder, const std::string& name) {
  if (!IsPlainFileName(name)) return {};
  return ResolvePath(WithSlash(folder) + name);
}

void MakeDataFolders() {
  ForceFolder(ProgramFolder() + "SEND");
  ForceFolder(ProgramFolder() + "Receive");
}

bool ForceFolder(const std::string& folder) {
  std::string f = folder;
  if (!f.empty() && f.back() == '/') f.pop_back();
  if (f.size() <= 2) return true;
  if (FolderExists(f)) return true;
  std::error_code ec;
  fs::create_directories(ResolvePath(f), ec);
  return !ec && FolderExists(f);
}

std::string NewFaxFileName(const std::string& folder, const std::string& prefix) {
  const std::string dir = WithSlash(ResolvePath(folder));
  char digits[16];
  int counter = 0;
  for (;;) {
    std::snprintf(digits, sizeof digits, "%5.5d", counter);
    std::string candidate = dir + prefix + digits + ".APF";
    if (!FileExists(candidate) || counter > 99998) return candidate;
    ++counter;
  }
}

std::string NewSendFileName(const std::string& prefix) { return NewFaxFileName(SendFolder(), prefix); }
std::string NewTempFileName(const std::string& prefix) { return NewFaxFileName(ProgramFolder(), prefix); }

bool CopyFaxFile(const std::string& source, const std::string& destination) {
  const std::string from = ResolvePath(source);
  const std::string to = ResolvePath(destination);
  // Opening the destination truncates it: a copy onto the source itself would
  // empty it and the failure path would then remove it.
  std::error_code ec;
  if (from == to || fs::equivalent(from, to, ec)) return false;
  std::FILE* in = std::fopen(from.c_str(), "rb");
  if (!in) return false;
  struct stat st {};
  if (fstat(fileno(in), &st) != 0 || S_ISDIR(st.st_mode)) {
    std::fclose(in);
    return false;
  }
  std::FILE* out = std::fopen(to.c_str(), "wb");
  if (!out) {
    std::fclose(in);
    return false;
  }
  char block[2048];
  long long left = st.st_size;
  bool ok = true;
  while (left > 0) {
    const size_t want = left < static_cast<long long>(sizeof block) ? static_cast<size_t>(left) : sizeof block;
    const size_t got = std::fread(block, 1, want, in);
    // A short read before the size is used up is a failed copy, never a retry loop.
    if (got == 0 || std::fwrite(block, 1, got, out) != got) {
      ok = false;
      break;
    }
    left -= static_cast<long long>(got);
  }
  std::fclose(in);
  if (std::fclose(out) != 0) ok = false;
  if (!ok) std::remove(to.c_str());
  return ok;
}

std::string FileNameOnly(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ChangeFileExt(const std::string& path, const std::string& ext) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + ext;
  return path.substr(0, dot) + ext;
}

}  // namespace qn
