// Document-like fax pages drawn the way the converter draws them: text set in
// the built-in fax font, a form of ruled boxes with labels, and a grey picture
// thresholded with the converter's dither matrix. Shared by the coder tests and
// the coder benchmark.
#pragma once

#include <string>

#include "raster_pbm.h"

namespace fe::testing {

// `text` is set line by line from a 64-pixel left margin until the page is full.
TRasterImage TextPage(const std::string& text, unsigned width, unsigned height, bool fine);
TRasterImage FormPage(unsigned width, unsigned height, bool fine);
TRasterImage HalftonePage(unsigned width, unsigned height, bool fine);

// The repository's architecture notes: plenty of real prose for text pages.
std::string SampleText();

}  // namespace fe::testing
