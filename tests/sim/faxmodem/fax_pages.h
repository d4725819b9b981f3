// Fax pages in TIFF files, for tests that send pages through the simulator:
// writing realistic short test pages and comparing what arrived with what was sent.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qn::sim {

struct RasterPage {
  int width = 0;
  bool fine = false;
  std::vector<std::vector<uint8_t>> rows;  // 1 bit per pixel, most significant bit leftmost, 1 = black
};

// Realistic short test pages, 1728 pixels wide: rows of "text" (short black
// runs in word-like groups) on white, different from page to page.
std::vector<RasterPage> makeTestPages(int pages, int rowsPerPage, bool fine, unsigned seed);
// Writes pages as a TIFF-F file (Group 3 1-D, least significant bit first).
bool writeTiff(const std::string& path, const std::vector<RasterPage>& pages);
// Writes one page as a raw PBM image (for tools such as efix).
bool writePbm(const std::string& path, const RasterPage& page);
// Reads every page of a TIFF fax file (any libtiff-readable coding); empty on error.
std::vector<RasterPage> readPages(const std::string& path);
// True when both pages show the same image. Blank rows at the top and bottom are
// ignored: a sender may pad a page, a receiver may add blank rows at its end.
bool samePage(const RasterPage& a, const RasterPage& b, std::string* why = nullptr);

}  // namespace qn::sim
