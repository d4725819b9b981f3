// Helpers of the cover template tests: a Qt application for fonts, temporary
// folders and decoded pages.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace covers_test {

// Starts the offscreen Qt application once (fonts need it).
void EnsureApp();

std::filesystem::path TempDir(const std::string& name);

// A decoded page: rows of width/8 bytes, MSB leftmost, 1 = black.
struct Page {
  unsigned width = 0;
  bool highRes = false;
  std::vector<std::vector<std::uint8_t>> rows;
  bool black(unsigned x, unsigned y) const { return rows[y][x / 8] & (0x80 >> (x % 8)); }
  // Black pixels inside [x1, x2) x [y1, y2).
  long Ink(int x1, int y1, int x2, int y2) const;
};
// The first page of an APF file through our decoder; false when unreadable.
bool DecodeFirstPage(const std::string& apf, Page& page);
// The same page through libtiff's fax2tiff; false when the tool fails.
bool DecodeWithFax2tiff(const std::string& apf, const std::string& workDir, Page& page);

}  // namespace covers_test
