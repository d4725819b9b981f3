// One-dimensional Modified Huffman line coding as used in APF pages and on the
// fax line. The coded bit stream fills each byte from its least significant bit;
// codes appear in the order their bits are printed in the coding tables. Raster
// lines have the most significant bit of the first byte as the leftmost pixel and
// 1 for black.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace fe {

constexpr std::size_t kMaxLineWidthBytes = 256;  // 2048 pixels

// Largest coded line (all runs of one pixel on a 2048-pixel line) plus slack.
constexpr std::size_t kMaxCodedLine = 1536;
// The return-to-control record: one 16-bit and six whole 12-bit end-of-line codes,
// then the first (zero) byte of the seventh.
constexpr std::size_t kRtcRecordLength = 12;

// Encodes one raster line of `pixels` pixels into a coded line for an output line
// of `width` pixels: the 16-bit end-of-line code, then the run codes starting with
// white. Without doubling the raster is cut or padded with white to `width`; with
// doubling every run is doubled and the last run made to end exactly at `width`.
// `out` needs kMaxCodedLine bytes. Returns the record length N: the whole bytes
// the codes fill plus 2 (the partial byte and one zero byte).
std::size_t MhEncodeLine(const std::uint8_t* raster, unsigned pixels, unsigned width, bool doubling, std::uint8_t* out);

// Writes the return-to-control record (kRtcRecordLength bytes) into `out`.
std::size_t MhEncodeRtc(std::uint8_t* out);

// What a decoder met on a page.
struct TMhDecodeStats {
  unsigned lines = 0;       // lines emitted
  unsigned badLines = 0;    // lines with an invalid code (emitted as far as decoded)
  unsigned longLines = 0;   // lines whose runs went past the width (cut at the width)
  unsigned badRecords = 0;  // line records whose length ran past the page data
  bool rtc = false;         // the return-to-control sequence ended the page
  bool truncated = false;   // the data ended inside a code or a record
  bool clean() const { return !badLines && !longLines && !badRecords && !truncated; }
};

// Decodes the coded lines of one page into raster lines, one at a time. It reads
// only inside [data, data + size) and writes only the widthPixels/8 bytes of the
// caller's line, whatever the input. End-of-line codes (eleven or more zero bits
// and a one) end lines; empty lines between them are not emitted; six in a row
// (return to control) end the page. A line with an invalid code is emitted as far
// as it was decoded and decoding resumes at the next end-of-line code.
class TMhPageDecoder {
 public:
  // lineRecords: the data is 16-bit-length records (one coded line each), otherwise
  // a raw stream. widthPixels: 1728 or 2048 (any multiple of 8 up to 2048 works).
  TMhPageDecoder(const std::uint8_t* data, std::size_t size, bool lineRecords, unsigned widthPixels);

  // Decodes the next line into `line` (WidthBytes() bytes); false at the page end.
  bool NextLine(std::uint8_t* line);

  unsigned WidthPixels() const { return width_; }
  unsigned WidthBytes() const { return width_ / 8; }
  const TMhDecodeStats& Stats() const { return stats_; }
  // Bytes of the page data consumed so far (for progress reports).
  std::size_t Consumed() const;

  // The bit stream of the current segment (a record, or the whole raw page); used
  // by the decoding helpers.
  struct Reader {
    const std::uint8_t* p = nullptr;    // next byte to load
    const std::uint8_t* end = nullptr;  // end of the segment
    std::uint64_t bits = 0;             // unread bits, first stream bit at bit 0
    unsigned count = 0;                 // number of valid bits in `bits`
    void Refill();
    void Drop(unsigned n) {  // n < 64
      bits >>= n;
      count -= n;
    }
  };

 private:
  enum class LineEnd { Line, End };
  bool NextSegment();
  LineEnd DecodeLine(std::uint8_t* line);
  LineEnd DecodeLine(std::uint8_t* line, Reader& r);
  static bool SkipToEol(Reader& r);

  const std::uint8_t* data_;
  std::size_t size_;
  bool records_;
  unsigned width_;
  std::size_t next_ = 0;  // start of the next record
  Reader in_;
  std::uint8_t line_[kMaxLineWidthBytes + 8] = {};  // the line being decoded, with slack
  unsigned eolRun_ = 0;                             // end-of-line codes in a row without a line
  bool done_ = false;
  TMhDecodeStats stats_;
};

// Decodes a whole page, calling `sink` for every line (bytes = widthPixels/8).
// The sink returns false to stop. Returns the statistics of the page.
using TMhLineSink = std::function<bool(const std::uint8_t* line, unsigned bytes)>;
TMhDecodeStats MhDecodePage(const std::uint8_t* data, std::size_t size, bool lineRecords, unsigned widthPixels,
                            const TMhLineSink& sink);

}  // namespace fe
