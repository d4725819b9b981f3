// Helpers for the table engine tests: a fresh folder per test and small table
// builders.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "xbase/xb_table.h"

namespace xbtest {

// A fresh, empty folder below the system's temporary folder, removed at the end.
class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/qn-xbase-XXXXXX";
    path_ = ::mkdtemp(tmpl);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline std::vector<xb::FieldDef> peopleFields() {
  return {{"NAME", 'C', 20, 0, 0}, {"BORN", 'D', 8, 0, 0}, {"ACTIVE", 'L', 1, 0, 0}, {"SCORE", 'N', 6, 2, 0}};
}

}  // namespace xbtest
