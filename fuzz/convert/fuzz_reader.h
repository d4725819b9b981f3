// Drives one raster reader over fuzz input: every line of every page is read
// until the reader ends or fails; it must never read or write out of bounds.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fe_raster_reader.h"

inline void DrainReader(fe::RasterReader& reader) {
  if (reader.open() != 0) return;
  std::vector<std::uint8_t> line(fe::kMaxRasterBytes);
  for (unsigned n = 0; n < 2000000; ++n) {
    unsigned len = 0;
    bool endOfPage = false, morePages = false;
    if (reader.readLine(line.data(), len, endOfPage, morePages) != 0) return;
    if (len > fe::kMaxRasterBytes) std::abort();
    if (endOfPage && !morePages) return;
  }
}
