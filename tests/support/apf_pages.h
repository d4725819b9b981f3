// The pages of an APF file as rasters, in the simulator's page form, for tests
// that compare what a receiver stored with what the far end sent, and APF
// files written from such pages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "apf_reader.h"
#include "apf_writer.h"
#include "fax_pages.h"
#include "mh_codec.h"

namespace qntest {

// Writes pages into an APF file, each page at its own resolution and width
// (2048 pixels is a 255 mm page). False when the file cannot be written.
inline bool WriteApfPages(const std::string& path, const std::vector<qn::sim::RasterPage>& pages) {
  fe::TApfWriter w;
  if (w.Create(path) != 0) return false;
  for (const auto& p : pages) {
    const uint16_t flags = fe::pfLineRecords | (p.fine ? fe::pfHighRes : 0) | (p.width == 2048 ? fe::pfWide : 0);
    if (w.BeginPage(flags) != 0) return false;
    for (const auto& row : p.rows)
      if (w.AppendRasterLine(row.data(), static_cast<unsigned>(p.width)) != 0) return false;
    if (w.EndPage() != 0) return false;
  }
  return w.Close() == 0;
}

// Every page our decoder makes of the file; empty when it cannot be opened, and
// the pages before the first that cannot be read.
inline std::vector<qn::sim::RasterPage> ReadApfPages(const std::string& file) {
  std::vector<qn::sim::RasterPage> out;
  fe::TApfReader r;
  if (r.Open(file) != 0) return out;
  for (unsigned n = 1; n <= r.PageCount(); ++n) {
    fe::TApfPageInfo info;
    std::vector<std::uint8_t> data;
    if (r.ReadPage(n, &info, &data) != 0) break;
    qn::sim::RasterPage page;
    page.width = static_cast<int>(info.widthPixels());
    page.fine = info.highRes();
    fe::MhDecodePage(data.data(), data.size(), info.lineRecords(), info.widthPixels(),
                     [&](const std::uint8_t* line, unsigned bytes) {
                       page.rows.emplace_back(line, line + bytes);
                       return true;
                     });
    out.push_back(std::move(page));
  }
  return out;
}

}  // namespace qntest
