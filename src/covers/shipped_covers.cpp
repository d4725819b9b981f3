#include "shipped_covers.h"

#include <cstdint>

#include "common/folders.h"
#include "cover_description.h"
#include "cover_render.h"
#include "stream/cover_source.h"

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

namespace {
std::string WithSlash(const std::string& folder) {
  return !folder.empty() && folder.back() != '/' ? folder + '/' : folder;
}

bool WriteShippedSource(const std::string& fcs, const CoverDescription& d) {
  return WriteDesignSourceFile(fcs, ObjectsOfRecords(d.records, kDesignPixelsPerInch));
}
}  // namespace

int InstallShippedCovers(const std::string& coversFolder) {
  const std::string folder = WithSlash(coversFolder);
  if (!qn::ForceFolder(folder)) return -1;
  int written = 0;
  for (const ShippedCover& cover : ShippedCovers()) {
    const std::string fct = folder + cover.baseName + ".FCT";
    if (qn::FileExists(fct)) continue;
    CoverDescription d;
    std::string error;
    if (!CompileCoverDescription(cover.text, d, error)) return -1;
    // The source goes first: a template whose ".FCT" exists counts as installed.
    const std::string fcs = qn::ChangeFileExt(fct, ".FCS");
    if (!qn::FileExists(fcs) && !WriteShippedSource(fcs, d)) return -1;
    if (!SaveFlatTemplate(fct, d.records, d.description)) return -1;
    ++written;
  }
  return written;
}

int AddShippedDesignSources(const std::string& coversFolder) {
  const std::string folder = WithSlash(coversFolder);
  int added = 0;
  for (const ShippedCover& cover : ShippedCovers()) {
    const std::string fct = folder + cover.baseName + ".FCT";
    const std::string fcs = folder + cover.baseName + ".FCS";
    if (!qn::FileExists(fct) || qn::FileExists(fcs)) continue;
    CoverDescription d;
    std::string error;
    std::vector<TemplateRecord> installed;
    if (!CompileCoverDescription(cover.text, d, error) || !ReadTemplateFile(qn::ResolvePath(fct), installed) ||
        installed != d.records)
      continue;
    if (WriteShippedSource(fcs, d)) ++added;
  }
  return added;
}

void InstallCoversOnFirstStart() {
  const std::string folder = qn::CoversFolder();
  if (qn::FolderExists(folder))
    AddShippedDesignSources(folder);
  else
    InstallShippedCovers(folder);
}

}  // namespace covers
