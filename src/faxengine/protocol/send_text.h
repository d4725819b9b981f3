// Text on sent pages: the header line with its tokens, and the raster lines the
// send engine encodes for the header line and for text cover pages.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "fe_font_renderer.h"
#include "fe_text_reader.h"

namespace fe {

// Values the header line tokens stand for.
struct THeaderValues {
  std::string stationId;  // $I
  std::string sender;     // $F
  std::string recipient;  // $R
  std::string title;      // $S
  int page = 1;           // $P
  int pages = 1;          // $N
  std::time_t when = 0;   // $D, $T (0 = now)
};

// Replaces every token: "$" and the characters up to the next space. Its first
// letter, in either case, picks the value; a token with any other letter (or
// none) disappears, together with the rest of its word.
std::string ExpandHeaderLine(const std::string& text, const THeaderValues& v);

// Appends coded lines (no length words) for raster rows of the given renderer
// drawing text, each padded with zero bytes to minLine bytes. Returns 0 or a
// negative error code.
int AppendTextLines(std::vector<uint8_t>& out, TextLineRenderer& r, const std::u32string& text, unsigned widthPixels,
                    int minLine);

// The header block sent before every page's data: eight blank lines (each
// followed, when minLine is 7 or more, by minLine - 5 zero bytes) and the header
// text's rows, all coded at the page width. enhanced may be null (built-in font).
int BuildHeaderBlock(std::vector<uint8_t>& out, const std::string& text, bool fine, bool wide, int minLine,
                     TextLineRenderer* enhanced);

// Appends one coded line for a raster row and pads it to minLine bytes.
void AppendCodedLine(std::vector<uint8_t>& out, const uint8_t* raster, unsigned widthPixels, int minLine);

}  // namespace fe
