// Helpers shared by the converter and unpacker tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace fe_test {

// One decoded page: rows of width/8 bytes (MSB leftmost, 1 = black).
struct Page {
  unsigned width = 0;
  bool highRes = false;
  std::vector<std::vector<std::uint8_t>> rows;
  bool black(unsigned x, unsigned y) const { return rows[y][x / 8] & (0x80 >> (x % 8)); }
  bool blankRow(unsigned y) const;
};

// Every page of an APF file as decoded by the unpacker (no aspect correction).
std::vector<Page> DecodeApf(const std::string& path);

// A fresh folder for one test's files.
std::filesystem::path TempDir(const std::string& name);

// Runs a shell command; returns its exit status.
int Run(const std::string& command);

// A bilevel image as a PBM holds it (1 = black).
struct Bitmap {
  unsigned width = 0, height = 0;
  std::vector<std::uint8_t> bits;  // rows of (width+7)/8 bytes
  bool black(unsigned x, unsigned y) const { return bits[y * ((width + 7) / 8) + x / 8] & (0x80 >> (x % 8)); }
};
bool ReadPbm(const std::string& path, Bitmap& out);  // P4 only
bool WritePbm(const std::string& path, const Bitmap& image);
// A test pattern: a frame, diagonals and a few blocks, `width` x `height`.
Bitmap Pattern(unsigned width, unsigned height);

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);

}  // namespace fe_test
