#include "rx_naming.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <unordered_set>

#include "fe_errors.h"
#include "fe_texts.h"

namespace fe {

namespace {

std::string Upper(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// One pass over the folder instead of up to 9999 existence checks.
std::unordered_set<std::string> UpperNamesIn(const std::string& dir) {
  std::unordered_set<std::string> names;
  DIR* d = opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return names;
  while (dirent* e = readdir(d)) names.insert(Upper(e->d_name));
  closedir(d);
  return names;
}

}  // namespace

std::string JoinDir(const std::string& dir, const std::string& name) {
  if (dir.empty() || dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

std::string ReceiveFileName(const std::string& dir, const std::string& ext, TReceiveNaming scheme, std::time_t now) {
  if (scheme == TReceiveNaming::rnOther) return JoinDir(dir, "noname.apf");
  std::string prefix = "FAX";
  if (scheme == TReceiveNaming::rnMonthDay) {
    std::tm tm{};
    localtime_r(&now, &tm);
    char md[8];
    std::snprintf(md, sizeof md, "%02d%02d", (tm.tm_mon + 1) % 100, tm.tm_mday % 100);
    prefix = md;
  }
  const auto taken = UpperNamesIn(dir);
  for (int n = 1; n <= 9999; ++n) {
    char num[8];
    std::snprintf(num, sizeof num, "%04d", n);
    std::string name = prefix + num + "." + ext;
    if (!taken.count(Upper(name))) return JoinDir(dir, name);
  }
  return JoinDir(dir, "NONAME.APF");
}

int ClaimReceiveFileName(std::string& name) {
  const std::size_t slash = name.rfind('/');
  std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = name.size();
  std::string candidate = name;
  for (int n = 2;; ++n) {
    const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
      ::close(fd);
      name = candidate;
      return 0;
    }
    if (errno != EEXIST || n > 9999) return -IoErrorCode(errno);
    candidate = name.substr(0, dot) + std::to_string(n) + name.substr(dot);
  }
}

}  // namespace fe
