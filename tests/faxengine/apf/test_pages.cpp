#include "test_pages.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

namespace fe::testing {

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "qn-apf-XXXXXX").string();
  path_ = ::mkdtemp(tmpl.data());
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

namespace {
void Set(TRasterImage& img, unsigned x, unsigned y) {
  img.row(y)[x / 8] |= static_cast<std::uint8_t>(0x80u >> (x % 8));
}
}  // namespace

TRasterImage BlankPage(unsigned width, unsigned height) {
  TRasterImage img;
  img.resize(width, height);
  return img;
}

TRasterImage DitheredPhoto(unsigned width, unsigned height) {
  TRasterImage img;
  img.resize(width, height);
  std::vector<float> err(2 * (width + 2), 0.0f);
  for (unsigned y = 0; y < height; ++y) {
    float* cur = err.data() + (y % 2) * (width + 2) + 1;
    float* next = err.data() + ((y + 1) % 2) * (width + 2) + 1;
    for (unsigned x = 0; x < width + 2; ++x) next[static_cast<int>(x) - 1] = 0;
    for (unsigned x = 0; x < width; ++x) {
      double fx = double(x) / width, fy = double(y) / height;
      double grey = 0.5 + 0.35 * std::sin(fx * 9.0 + std::cos(fy * 7.0)) * std::cos(fy * 5.0 - fx * 3.0);
      float v = static_cast<float>(grey) + cur[x];
      float out = v > 0.5f ? 1.0f : 0.0f;
      if (out < 0.5f) Set(img, x, y);  // dark = black
      float e = v - out;
      cur[x + 1] += e * 7 / 16;
      next[static_cast<int>(x) - 1] += e * 3 / 16;
      next[x] += e * 5 / 16;
      next[x + 1] += e * 1 / 16;
    }
  }
  return img;
}

TRasterImage StrokePage(unsigned width, unsigned height) {
  TRasterImage img;
  img.resize(width, height);
  std::mt19937 rng(7);
  for (unsigned y = 0; y < height; ++y) {
    if ((y / 24) % 2) continue;  // lines of "text" with gaps between
    for (unsigned x = 100; x + 100 < width; x += 14 + rng() % 9) {
      unsigned w = 2 + rng() % 6;
      for (unsigned i = 0; i < w; ++i) Set(img, x + i, y);
    }
  }
  return img;
}

TRasterImage BlackStartPage(unsigned width, unsigned height) {
  TRasterImage img;
  img.resize(width, height);
  for (unsigned y = 0; y < height; ++y)
    for (unsigned x = 0; x < (y * 37) % width + 1; ++x) Set(img, x, y);
  return img;
}

TRasterImage CheckerPage(unsigned width, unsigned height) {
  TRasterImage img;
  img.resize(width, height);
  for (unsigned y = 0; y < height; ++y)
    for (unsigned x = y % 2; x < width; x += 2) Set(img, x, y);
  return img;
}

TRasterImage NoisePage(unsigned width, unsigned height, unsigned seed) {
  TRasterImage img;
  img.resize(width, height);
  std::mt19937 rng(seed);
  for (auto& b : img.bits) b = static_cast<std::uint8_t>(rng());
  if (width % 8)
    for (unsigned y = 0; y < height; ++y)
      img.row(y)[img.stride() - 1] &= static_cast<std::uint8_t>(0xFF00u >> (width % 8));
  return img;
}

int Run(const std::string& command, unsigned seconds) {
  std::string full = "timeout " + std::to_string(seconds) + " sh -c '" + command + "' >/dev/null 2>&1";
  int rc = std::system(full.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

}  // namespace fe::testing
