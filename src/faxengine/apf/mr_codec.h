// Two-dimensional fax coding: MR (modified READ, EOL-framed with tag bits and
// K-limited runs of 2-D lines) and MMR (2-D only, no EOLs, ends with EOFB), and
// one decoder for both.
//
// Conventions callers rely on:
// - Bit streams fill each byte from its least significant bit (as the MH coder
//   and the fax line do); codes appear in the order their bits are printed.
// - Raster lines: widthPixels/8 bytes, most significant bit of the first byte =
//   leftmost pixel, 1 = black. Widths are multiples of 8 from 8 to
//   kMax2dLineWidth; pages stored in APF files are 1728 or 2048 pixels wide.
// - MR: every line starts with EOL (000000000001) and its tag bit (1 = the line
//   is 1-D, 0 = 2-D against the line before). The first line of a page is 1-D and
//   at most K-1 2-D lines follow one another. Fill zeros, when a minimum line
//   length asks for them, go before the EOL, never between the EOL and its tag
//   bit. The page ends with RTC = six EOL+1.
// - MMR: no EOLs, tag bits or fill; every line is 2-D, the first one against an
//   imaginary white line. The page ends with EOFB (two EOLs) and zero bits up to
//   the next byte boundary.
// - The decoder follows the tag bits (K is never assumed), stops at RTC or EOFB
//   (whatever follows, e.g. ECM frame padding, is left unread), reads only inside
//   [data, data + size) and writes only WidthBytes() bytes of the caller's line.
//   A bad MR line, and every 2-D line after it up to the next 1-D line, is
//   reported as bad and emitted as a copy of the last good line (white if none);
//   decoding resumes at the next EOL. In MMR a bad line is counted but not
//   emitted, and it ends the page: nothing after it can be trusted.
// - Encoders never fail: any raster of the configured width codes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "mh_codec.h"

namespace fe {

// Line coding on the fax line: one-dimensional MH, MR, or MMR.
enum class TFaxCoding : std::uint8_t { MH, MR, MMR };

constexpr unsigned kMax2dLineWidth = 4864;  // the widest T.4 line (A3 at 400 dpi)

// Bytes EncodeLine may write at most for a line of `widthPixels` pixels (fill for
// a minimum line length not counted: add minLineBits / 8 + 1 for that).
constexpr std::size_t Max2dCodedLine(unsigned widthPixels) {
  // Every colour change coded in horizontal mode: 3 + up to 27 bits per run.
  return (std::size_t{widthPixels} + 2) * 30 / 8 + 16;
}

// Codes raster lines of one page as MR or MMR, line by line. Output goes into
// the caller's buffer; only whole bytes are written, the partial last byte stays
// in the encoder until the next line or Finish.
//
//   T2dEncoder enc(TFaxCoding::MMR, 1728);
//   for each line: n = enc.EncodeLine(raster, buf);  // buf has MaxLineBytes()
//   n = enc.Finish(buf);                              // EOFB or RTC
class T2dEncoder {
 public:
  // coding: MR or MMR (MH is taken as MR with k = 1: all lines 1-D, with tags).
  // k: for MR, a 1-D line and at most k-1 2-D lines after it (k >= 1; 2 at
  // standard resolution and 4 at fine are the usual values). minLineBits: for MR
  // without error correction, each line (fill, EOL, tag and codes) fills at least
  // this many bits; 0 for none. Ignored for MMR.
  T2dEncoder(TFaxCoding coding, unsigned widthPixels, unsigned k = 4, unsigned minLineBits = 0);

  // Codes one raster line; writes whole bytes to `out` and returns their count.
  // `out` needs MaxLineBytes().
  std::size_t EncodeLine(const std::uint8_t* raster, std::uint8_t* out);
  // Ends the page (RTC for MR, EOFB for MMR) and writes the rest, whole bytes
  // (the last one zero-padded); `out` needs 16 bytes. The encoder starts a new
  // page afterwards.
  std::size_t Finish(std::uint8_t* out);

  std::size_t MaxLineBytes() const { return Max2dCodedLine(width_) + minLineBits_ / 8 + 2; }
  unsigned WidthPixels() const { return width_; }
  unsigned Lines() const { return lines_; }  // lines coded on this page

 private:
  TFaxCoding coding_;
  unsigned width_;
  unsigned k_;
  unsigned minLineBits_;
  unsigned lines_ = 0;
  std::uint64_t acc_ = 0;               // pending bits, first at bit 0
  unsigned count_ = 0;                  // pending bit count (< 8 between calls)
  std::vector<std::uint32_t> refRuns_;  // colour changes of the reference line
  std::vector<std::uint32_t> curRuns_;
  std::vector<std::uint8_t> line_;  // the current line with slack for word loads
};

// Codes a whole page of raster lines (lines * widthPixels/8 bytes) as MR or MMR.
std::vector<std::uint8_t> EncodePage2d(TFaxCoding coding, const std::uint8_t* raster, unsigned lines,
                                       unsigned widthPixels, unsigned k = 4, unsigned minLineBits = 0);

// Re-codes an MH page (APF line records when `lineRecords`, else a raw MH
// stream) as MR or MMR, ending with RTC or EOFB. Lines the MH decoder could not
// read are coded as it returned them; `mhStats` receives its statistics.
std::vector<std::uint8_t> TranscodeMhPage(const std::uint8_t* data, std::size_t size, bool lineRecords,
                                          unsigned widthPixels, TFaxCoding coding, unsigned k = 4,
                                          unsigned minLineBits = 0, TMhDecodeStats* mhStats = nullptr);

// What the 2-D decoder met on a page.
struct T2dDecodeStats {
  unsigned lines = 0;      // lines emitted (bad ones included)
  unsigned badLines = 0;   // lines emitted as a copy of the last good line
  unsigned longLines = 0;  // lines whose changes went past the width (cut there)
  bool rtc = false;        // MR: six EOL+1 ended the page
  bool eofb = false;       // MMR: EOFB ended the page
  bool truncated = false;  // the data ended before RTC / EOFB
  bool clean() const { return !badLines && !longLines && !truncated; }
};

// Decodes an MR or MMR page into raster lines, one at a time (`coding` MH is
// read as MR: the stream must then carry tag bits).
class T2dPageDecoder {
 public:
  T2dPageDecoder(const std::uint8_t* data, std::size_t size, TFaxCoding coding, unsigned widthPixels);

  // Decodes the next line into `line` (WidthBytes() bytes); false at the page end.
  bool NextLine(std::uint8_t* line);
  // Whether the line NextLine returned last was bad (a copy of the last good one).
  bool LastLineBad() const { return lastBad_; }

  unsigned WidthPixels() const { return width_; }
  unsigned WidthBytes() const { return width_ / 8; }
  const T2dDecodeStats& Stats() const { return stats_; }
  // Bytes of the data consumed so far (after EOFB/RTC: up to the end of it).
  std::size_t Consumed() const;

  using Reader = TMhPageDecoder::Reader;

 private:
  enum class Result;
  Result Decode2d(unsigned& n);  // into cur_, n changes
  Result Decode1d(unsigned& n);
  bool NextMrLine(std::uint8_t* line);
  bool NextMmrLine(std::uint8_t* line);
  bool EmitGood(std::uint8_t* line, unsigned n);
  bool EmitBad(std::uint8_t* line);
  void Render(const std::vector<std::uint32_t>& changes, unsigned n, std::uint8_t* line);

  const std::uint8_t* data_;
  TFaxCoding coding_;
  unsigned width_;
  Reader in_;
  bool started_ = false;
  bool done_ = false;
  bool lastBad_ = false;
  bool refBad_ = false;               // MR: 2-D lines cannot be trusted until the next good 1-D line
  bool eolTaken_ = false;             // the last line's decoding read the EOL after it
  unsigned eolRun_ = 0;               // MR: EOLs in a row without a line between
  unsigned refCount_ = 0;             // changes on the reference line
  std::vector<std::uint32_t> ref_;    // changes of the last good line, then width x3
  std::vector<std::uint32_t> cur_;    // changes of the line being decoded
  std::vector<std::uint8_t> raster_;  // a line with slack for whole-word stores
  std::vector<std::uint64_t> marks_;  // changes marked for drawing a busy line
  T2dDecodeStats stats_;
};

// Decodes a whole page, calling `sink` for every line (bytes = widthPixels/8,
// `bad` for a line that could not be read). The sink returns false to stop.
using T2dLineSink = std::function<bool(const std::uint8_t* line, unsigned bytes, bool bad)>;
T2dDecodeStats DecodePage2d(const std::uint8_t* data, std::size_t size, TFaxCoding coding, unsigned widthPixels,
                            const T2dLineSink& sink);

// Decodes an MR or MMR page to the MH line records an APF page with
// pfLineRecords holds (16-bit length, one coded line each, then the
// return-to-control record), appended to `records`. widthPixels: 1728 or 2048.
T2dDecodeStats DecodePage2dToMhRecords(const std::uint8_t* data, std::size_t size, TFaxCoding coding,
                                       unsigned widthPixels, std::vector<std::uint8_t>& records);

}  // namespace fe
