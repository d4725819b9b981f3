#include "shipped_covers.h"

#include <cstdint>

#include "common/folders.h"
#include "cover_description.h"
#include "cover_render.h"

extern const std::uint8_t qn_cover_QN0001[];
extern const std::size_t qn_cover_QN0001_size;
extern const std::uint8_t qn_cover_QN0002[];
extern const std::size_t qn_cover_QN0002_size;
extern const std::uint8_t qn_cover_QN0003[];
extern const std::size_t qn_cover_QN0003_size;

namespace covers {

namespace {
std::string_view View(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}
}  // namespace

std::vector<ShippedCover> ShippedCovers() {
  return {{"QN0001", View(qn_cover_QN0001, qn_cover_QN0001_size)},
          {"QN0002", View(qn_cover_QN0002, qn_cover_QN0002_size)},
          {"QN0003", View(qn_cover_QN0003, qn_cover_QN0003_size)}};
}

bool SaveFlatTemplate(const std::string& fctPath, const std::vector<TemplateRecord>& records,
                      const std::string& description) {
  return WriteTemplateFile(fctPath, records) && MakePreview(fctPath) &&
         WriteDescription(qn::ChangeFileExt(fctPath, ".DES"), description);
}

int InstallShippedCovers(const std::string& coversFolder) {
  std::string folder = coversFolder;
  if (!folder.empty() && folder.back() != '/') folder += '/';
  if (!qn::ForceFolder(folder)) return -1;
  int written = 0;
  for (const ShippedCover& cover : ShippedCovers()) {
    const std::string fct = folder + cover.baseName + ".FCT";
    if (qn::FileExists(fct)) continue;
    CoverDescription d;
    std::string error;
    if (!CompileCoverDescription(cover.text, d, error) || !SaveFlatTemplate(fct, d.records, d.description)) return -1;
    ++written;
  }
  return written;
}

void InstallCoversOnFirstStart() {
  const std::string folder = qn::CoversFolder();
  if (qn::FolderExists(folder)) return;
  InstallShippedCovers(folder);
}

}  // namespace covers
