// Test pages and small helpers shared by the fax file tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "raster_pbm.h"

namespace fe::testing {

// A fresh folder under the system's temporary folder, removed at destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

std::vector<std::uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

// Pages of `width` pixels: all white; a dithered photo-like picture (error
// diffusion over smooth shading); text-like strokes; lines that begin black;
// the worst case of alternating single pixels; random noise.
TRasterImage BlankPage(unsigned width, unsigned height);
TRasterImage DitheredPhoto(unsigned width, unsigned height);
TRasterImage StrokePage(unsigned width, unsigned height);
TRasterImage BlackStartPage(unsigned width, unsigned height);
TRasterImage CheckerPage(unsigned width, unsigned height);
TRasterImage NoisePage(unsigned width, unsigned height, unsigned seed);

// Runs a shell command under `timeout`; returns its exit status.
int Run(const std::string& command, unsigned seconds = 60);

}  // namespace fe::testing
