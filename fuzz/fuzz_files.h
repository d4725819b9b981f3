// Files for fuzz targets whose reader takes a path: one private temporary folder
// per process, and whole-file writes and reads.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace qnfuzz {

// The folder goes with the process (libFuzzer ends its runs through exit()).
inline const std::string& WorkDir() {
  struct Dir {
    std::string path;
    ~Dir() {
      std::error_code ec;
      if (path.find("/qn-fuzz-") != std::string::npos) std::filesystem::remove_all(path, ec);
    }
  };
  static const Dir dir{[] {
    // Under $TMPDIR when set: scripts/fuzz.sh points it at memory where it can.
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/qn-fuzz-XXXXXX";
    const char* d = ::mkdtemp(tmpl.data());
    return std::string(d ? d : "/tmp");
  }()};
  return dir.path;
}

inline void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
}

inline std::string ReadFile(const std::string& path) {
  std::string bytes;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return bytes;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) bytes.append(buf, n);
  std::fclose(f);
  return bytes;
}

}  // namespace qnfuzz
