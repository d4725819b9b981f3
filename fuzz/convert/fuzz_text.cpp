// Fuzz target: the text reader of the fax converter. The first byte picks the
// font, resolution, page length and tab stop; the rest is the text file.
#include "fe_font_renderer.h"
#include "fe_text_reader.h"
#include "fuzz_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t mode = data[0];
  fe::FontLineRenderer renderer;
  const fe::TFaxFont font = mode & 1 ? fe::ffSmall : fe::ffStandard;
  if (renderer.Init(font, mode & 2, mode & 4 ? 2048 : 1728, mode & 8 ? 0 : 48) != 0) return 0;
  const unsigned linesPerPage = (mode >> 4) & 3 ? ((mode >> 4) & 3) * 3 : 0;
  const unsigned tabStop = mode >> 6;  // 0 (no tab expansion) to 3
  fe::TextReader reader({data + 1, size - 1}, renderer, linesPerPage, tabStop);
  DrainReader(reader);
  return 0;
}
