#include "fax_files.h"

#include <filesystem>
#include <optional>
#include <system_error>

#include "apf_reader.h"

namespace qn {

namespace {
// The resolution mark of page 1, or nothing when the file is unusable.
std::optional<bool> FirstPageFine(const std::string& path) {
  fe::TApfReader reader;
  if (path.empty() || reader.Open(path) < 0 || reader.PageCount() == 0) return std::nullopt;
  fe::TApfPageInfo page;
  if (reader.LocatePage(1, &page) < 0) return std::nullopt;
  return page.highRes();
}
}  // namespace

bool AppendFaxFile(const std::string& output, const std::string& cover, const std::string& body) {
  if (fe::JoinApfFiles({cover, body}, output) == 0) return true;
  std::error_code ec;
  std::filesystem::remove(output, ec);
  return false;
}

bool IsFineFaxFile(const std::string& path) {
  return FirstPageFine(path).value_or(false);
}

bool SameFaxResolution(const std::string& a, const std::string& b) {
  auto fa = FirstPageFine(a);
  auto fb = FirstPageFine(b);
  return fa && fb && *fa == *fb;
}

}  // namespace qn
