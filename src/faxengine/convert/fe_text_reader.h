// Text input: lines of a text file laid out on fax pages. Form feeds and the
// lines-per-page limit break pages, tabs expand to tab stops, and each text line
// becomes as many raster lines as its renderer's font is high.
#pragma once

#include <string>
#include <vector>

#include "fe_raster_reader.h"

namespace fe {

// Raster rows handed out per text line are at most this wide (2048 pixels).
inline constexpr unsigned kTextRowBytes = 256;

// Draws one text line (Unicode code points) into `Rows()` raster rows of
// kTextRowBytes each, writing each row's used byte length into lens.
class TextLineRenderer {
 public:
  virtual ~TextLineRenderer() = default;
  virtual unsigned Rows() const = 0;
  // Characters a line is cut to (0 = none: the renderer clips at its own width).
  virtual unsigned MaxChars() const = 0;
  virtual int Render(const std::u32string& text, std::uint8_t* rows, unsigned* lens) = 0;
};

// Decodes text bytes: UTF-8 where the bytes form it, otherwise one character per
// byte (ISO 8859-1, with Windows-1252 in 0x80-0x9F).
std::u32string DecodeTextBytes(const std::uint8_t* p, std::size_t n);
// Code of a character in the built-in font (the inverse mapping), '?' when it has none.
std::uint8_t FontCodeOf(char32_t c);

class TextReader : public RasterReader {
 public:
  TextReader(std::span<const std::uint8_t> text, TextLineRenderer& renderer, unsigned linesPerPage, unsigned tabStop);
  int open() override;
  int readLine(std::uint8_t* buf, unsigned& len, bool& endOfPage, bool& morePages) override;
  std::uint64_t bytesRead() const override { return pos_; }
  std::uint64_t bytesTotal() const override { return text_.size(); }

 private:
  struct Item {
    bool pageBreak = false;
    std::u32string text;
  };
  bool nextItem(Item& item);
  // Next text line with its page: newPage when it starts a new page. false at the end.
  bool nextLine(std::u32string& text, bool& newPage);
  std::u32string expandTabs(const std::u32string& in) const;
  int render(const std::u32string& text);

  ByteView text_;
  TextLineRenderer& renderer_;
  unsigned linesPerPage_, tabStop_;
  std::size_t pos_ = 0;
  std::vector<Item> pending_;  // pieces of the current file line around form feeds
  std::size_t pendingAt_ = 0;
  unsigned linesOnPage_ = 0;
  bool breakPending_ = false;
  bool started_ = false, empty_ = false;
  unsigned row_ = 0;
  std::vector<std::uint8_t> rows_;
  std::vector<unsigned> lens_;
};

}  // namespace fe
