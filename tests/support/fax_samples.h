// Fax files for viewer tests and benchmarks: text-like pages written through the
// APF writer, and the raster our decoder makes of a page (the reference a viewer
// must show).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "apf_reader.h"
#include "apf_writer.h"
#include "mh_codec.h"

namespace qntest {

struct SamplePage {
  unsigned width = 1728, height = 0;
  std::vector<std::uint8_t> rows;  // height rows of width/8 bytes, 1 = black
  bool black(unsigned x, unsigned y) const { return rows[std::size_t(y) * (width / 8) + x / 8] & (0x80 >> (x % 8)); }
};

// Lines of "text": glyph cells of 20 x 24 pixels with pseudo-random strokes,
// 8 blank lines between text lines, a margin; a frame around the page so that
// its edges are visible in every rotation.
inline SamplePage TextLikePage(unsigned width, unsigned height, unsigned seed) {
  SamplePage p;
  p.width = width;
  p.height = height;
  const unsigned bytes = width / 8;
  p.rows.assign(std::size_t(bytes) * height, 0);
  auto set = [&](unsigned x, unsigned y) { p.rows[std::size_t(y) * bytes + x / 8] |= std::uint8_t(0x80 >> (x % 8)); };
  std::uint32_t s = seed * 2654435761u + 1;
  auto rnd = [&] { return s = s * 1664525u + 1013904223u, s >> 8; };
  for (unsigned top = 40; top + 24 < height; top += 32) {
    unsigned x = 60 + rnd() % 40;
    while (x + 20 < width - 60) {
      const unsigned word = 2 + rnd() % 8;
      for (unsigned c = 0; c < word && x + 20 < width - 60; ++c, x += 20) {
        const std::uint32_t glyph = rnd();
        for (unsigned gy = 2; gy < 22; ++gy)
          for (unsigned gx = 3; gx < 17; ++gx)
            if (((glyph >> ((gx + gy * 3) % 24)) & 1) && ((gx + gy) % 3 != 0)) set(x + gx, top + gy);
      }
      x += 20;
    }
  }
  for (unsigned x = 0; x < width; ++x) set(x, 0), set(x, height - 1);
  for (unsigned y = 0; y < height; ++y) set(0, y), set(width - 1, y), set(7, y);
  return p;
}

// Writes the pages (line records) with the page flags given; 0 or a negative code.
inline int WriteFax(const std::string& path, const std::vector<SamplePage>& pages, std::uint16_t flags) {
  fe::TApfWriter w;
  if (int rc = w.Create(path)) return rc;
  for (const SamplePage& p : pages) {
    if (int rc = w.BeginPage(std::uint16_t(flags | fe::pfLineRecords | (p.width == 2048 ? fe::pfWide : 0)))) return rc;
    for (unsigned y = 0; y < p.height; ++y)
      if (int rc = w.AppendRasterLine(p.rows.data() + std::size_t(y) * (p.width / 8), p.width)) return rc;
    if (int rc = w.EndPage()) return rc;
  }
  return w.Close();
}

// Page n of a file as our decoder alone makes it.
inline SamplePage DecodePage(const std::string& path, unsigned n) {
  SamplePage out;
  fe::TApfReader reader;
  fe::TApfPageInfo info;
  std::vector<std::uint8_t> data;
  if (reader.Open(path) < 0 || reader.ReadPage(n, &info, &data) < 0) return out;
  out.width = info.widthPixels();
  fe::MhDecodePage(data.data(), data.size(), info.lineRecords(), out.width,
                   [&](const std::uint8_t* line, unsigned bytes) {
                     out.rows.insert(out.rows.end(), line, line + bytes);
                     ++out.height;
                     return true;
                   });
  return out;
}

}  // namespace qntest
