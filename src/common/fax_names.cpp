#include "fax_names.h"

#include <cstring>

namespace qn {
namespace {
constexpr int kSpeeds[] = {2400, 4800, 7200, 9600, 12000, 14400};
constexpr int kDefaultSpeedIndex = 3;
}  // namespace

std::string FaxClassName(int classIndex) {
  switch (classIndex) {
    case 0: return "AutoDetect";
    case 1: return "Class 1";
    case 2: return "Class 2";
    case 3: return "Class 2.0";
    default: return "unknown";
  }
}

int FaxSpeedBps(int speedIndex) {
  if (speedIndex < 0 || speedIndex >= static_cast<int>(std::size(kSpeeds))) return kSpeeds[kDefaultSpeedIndex];
  return kSpeeds[speedIndex];
}

int FaxSpeedIndex(int bps) {
  for (int i = 0; i < static_cast<int>(std::size(kSpeeds)); ++i)
    if (kSpeeds[i] == bps) return i;
  return kDefaultSpeedIndex;
}

std::string TrimLeftSpaces(const std::string& s) {
  const size_t first = s.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : s.substr(first);
}

std::string TrimRightSpaces(const std::string& s) {
  const size_t last = s.find_last_not_of(' ');
  return last == std::string::npos ? std::string() : s.substr(0, last + 1);
}

std::string TrimSpaces(const std::string& s) { return TrimRightSpaces(TrimLeftSpaces(s)); }

bool IsDialCharacter(char c) {
  return (c >= '0' && c <= '9') || (c != '\0' && std::strchr(" +-().,*#WPTwpt", c) != nullptr);
}

}  // namespace qn
