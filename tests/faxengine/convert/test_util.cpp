#include "test_util.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "fe_fax_unpacker.h"

namespace fe_test {

bool Page::blankRow(unsigned y) const {
  for (std::uint8_t b : rows[y])
    if (b) return false;
  return true;
}

std::vector<Page> DecodeApf(const std::string& path) {
  fe::TFeFaxUnpacker u;
  u.InFileName = path;
  u.AutoScaleMode = fe::asNone;
  std::vector<Page> pages;
  u.OnOutputLine = [&](fe::TFeFaxUnpacker&, bool starting, bool ending, const std::uint8_t* data, unsigned len,
                       unsigned) {
    if (starting) pages.emplace_back();
    if (starting || ending) return;
    pages.back().width = len * 8;
    pages.back().rows.emplace_back(data, data + len);
  };
  u.UnpackFile();
  const bool highRes = !pages.empty() && u.PageResolution() == fe::frHigh;  // page 1's flag
  for (auto& p : pages) p.highRes = highRes;
  return pages;
}

std::filesystem::path TempDir(const std::string& name) {
  // Each test case is its own process and CTest runs them side by side: the
  // process id keeps one case from clearing another's folder.
  const auto dir =
      std::filesystem::path(QN_BINARY_DIR) / "test-output" / "convert" / (name + "-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

int Run(const std::string& command) {
  const int rc = std::system((command + " 2>/dev/null").c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

bool ReadPbm(const std::string& path, Bitmap& out) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  in >> magic;
  if (magic != "P4") return false;
  auto number = [&](unsigned& v) {
    while (in >> std::ws && in.peek() == '#') in.ignore(1 << 20, '\n');
    return bool(in >> v);
  };
  if (!number(out.width) || !number(out.height)) return false;
  in.get();
  out.bits.resize(std::size_t((out.width + 7) / 8) * out.height);
  in.read(reinterpret_cast<char*>(out.bits.data()), std::streamsize(out.bits.size()));
  return bool(in);
}

bool WritePbm(const std::string& path, const Bitmap& image) {
  std::ofstream out(path, std::ios::binary);
  out << "P4\n" << image.width << " " << image.height << "\n";
  out.write(reinterpret_cast<const char*>(image.bits.data()), std::streamsize(image.bits.size()));
  return bool(out);
}

Bitmap Pattern(unsigned width, unsigned height) {
  Bitmap b;
  b.width = width;
  b.height = height;
  const unsigned stride = (width + 7) / 8;
  b.bits.assign(std::size_t(stride) * height, 0);
  auto set = [&](unsigned x, unsigned y) { b.bits[y * stride + x / 8] |= std::uint8_t(0x80 >> (x % 8)); };
  for (unsigned y = 0; y < height; ++y)
    for (unsigned x = 0; x < width; ++x) {
      const bool frame = x < 2 || y < 2 || x + 2 >= width || y + 2 >= height;
      const bool diagonal = (x * height / width) == y || ((width - 1 - x) * height / width) == y;
      const bool block = (x / 37 + y / 23) % 5 == 0 && x % 37 < 20;
      if (frame || diagonal || block) set(x, y);
    }
  return b;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace fe_test
