#include "fax_pages.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <random>

namespace qn::sim {

namespace {
constexpr int kWidth = 1728;
constexpr int kRowBytes = kWidth / 8;

bool blank(const std::vector<uint8_t>& row) {
  return std::all_of(row.begin(), row.end(), [](uint8_t b) { return b == 0; });
}

std::vector<std::vector<uint8_t>> trimmed(const std::vector<std::vector<uint8_t>>& rows) {
  size_t first = 0;
  size_t last = rows.size();
  while (first < last && blank(rows[first])) ++first;
  while (last > first && blank(rows[last - 1])) --last;
  return {rows.begin() + static_cast<long>(first), rows.begin() + static_cast<long>(last)};
}
}  // namespace

std::vector<RasterPage> makeTestPages(int pages, int rowsPerPage, bool fine, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<RasterPage> result;
  for (int page = 0; page < pages; ++page) {
    RasterPage out;
    out.width = kWidth;
    out.fine = fine;
    // Lines of "text": 12-row glyph bands every 24 rows, words of 3-9 glyphs;
    // each glyph row is one short black run, so a page codes to a few kilobytes.
    std::vector<unsigned> glyphs;  // per 12-pixel cell: 0 space, else a seed for the glyph
    for (int y = 0; y < rowsPerPage; ++y) {
      std::vector<uint8_t> row(kRowBytes);
      const int band = y % 24;
      if (band == 0) {
        glyphs.assign(kWidth / 12, 0);
        for (int cell = 8; cell < kWidth / 12 - 40;) {
          const int word = 3 + static_cast<int>(random() % 7);
          for (int i = 0; i < word; ++i) glyphs[static_cast<size_t>(cell++)] = 1 + random() % 1000;
          ++cell;
        }
        glyphs[2] = 5000 + static_cast<unsigned>(page) * 37;  // differs from page to page
      }
      if (band >= 6 && band < 18) {
        for (size_t cell = 0; cell < glyphs.size(); ++cell) {
          if (glyphs[cell] == 0) continue;
          const unsigned h = (glyphs[cell] * 2654435761u) >> ((band - 6) * 2);
          const int from = static_cast<int>(h % 5);
          const int to = from + 2 + static_cast<int>((h >> 3) % 5);
          for (int px = from; px < to; ++px) {
            const int x = static_cast<int>(cell) * 12 + px;
            row[static_cast<size_t>(x / 8)] |= static_cast<uint8_t>(0x80 >> (x % 8));
          }
        }
      }
      out.rows.push_back(std::move(row));
    }
    result.push_back(std::move(out));
  }
  return result;
}

bool writeTiff(const std::string& path, const std::vector<RasterPage>& pages) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (tif == nullptr) return false;
  bool ok = true;
  for (size_t page = 0; page < pages.size() && ok; ++page) {
    const RasterPage& in = pages[page];
    const auto rows = static_cast<uint32_t>(in.rows.size());
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(in.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, rows);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, 0);
    TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rows);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, 204.0f);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, in.fine ? 196.0f : 98.0f);
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(tif, TIFFTAG_PAGENUMBER, static_cast<uint16_t>(page), static_cast<uint16_t>(pages.size()));
    for (uint32_t y = 0; y < rows && ok; ++y) {
      std::vector<uint8_t> row = in.rows[y];
      ok = TIFFWriteScanline(tif, row.data(), y, 0) >= 0;
    }
    ok = ok && TIFFWriteDirectory(tif);
  }
  TIFFClose(tif);
  return ok;
}

bool writePbm(const std::string& path, const RasterPage& page) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  std::fprintf(f, "P4\n%d %zu\n", page.width, page.rows.size());
  bool ok = true;
  for (const auto& row : page.rows) ok = ok && std::fwrite(row.data(), 1, row.size(), f) == row.size();
  return std::fclose(f) == 0 && ok;
}

std::vector<RasterPage> readPages(const std::string& path) {
  std::vector<RasterPage> pages;
  TIFFSetWarningHandler(nullptr);
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (tif == nullptr) return pages;
  do {
    uint32_t width = 0, length = 0;
    uint16_t photometric = PHOTOMETRIC_MINISWHITE;
    float yres = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &length);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yres);
    RasterPage page;
    page.width = static_cast<int>(width);
    page.fine = yres > 150;
    const tmsize_t size = TIFFScanlineSize(tif);
    for (uint32_t y = 0; y < length; ++y) {
      std::vector<uint8_t> row(static_cast<size_t>(size));
      if (TIFFReadScanline(tif, row.data(), y, 0) < 0) {
        TIFFClose(tif);
        return {};
      }
      if (photometric == PHOTOMETRIC_MINISBLACK)
        for (auto& b : row) b = static_cast<uint8_t>(~b);
      page.rows.push_back(std::move(row));
    }
    pages.push_back(std::move(page));
  } while (TIFFReadDirectory(tif));
  TIFFClose(tif);
  return pages;
}

bool samePage(const RasterPage& a, const RasterPage& b, std::string* why) {
  auto fail = [&](const std::string& text) {
    if (why != nullptr) *why = text;
    return false;
  };
  if (a.width != b.width) return fail("width " + std::to_string(a.width) + " against " + std::to_string(b.width));
  if (a.fine != b.fine) return fail("resolution differs");
  const auto ra = trimmed(a.rows);
  const auto rb = trimmed(b.rows);
  if (ra.size() != rb.size())
    return fail("image rows " + std::to_string(ra.size()) + " against " + std::to_string(rb.size()));
  for (size_t y = 0; y < ra.size(); ++y)
    if (ra[y] != rb[y]) return fail("row " + std::to_string(y) + " of the image differs");
  return true;
}

}  // namespace qn::sim
