// Modified Huffman page decoder (tables in mh_decode_tables.h). Nine zero bits
// lead to the end-of-line handling (an end-of-line code may be preceded by any
// number of fill zeros).
#include <algorithm>
#include <bit>
#include <cstring>

#include "apf_format.h"
#include "mh_codec.h"
#include "mh_decode_tables.h"

namespace fe {

static_assert(std::endian::native == std::endian::little, "the bit reader loads little-endian words");

const mh::Tables& mh::DecodeTables() {
  static const Tables tables;
  return tables;
}

using mh::DecodeTables;
using mh::FillBlack;
using mh::kPairBits;
using mh::Pair;
using mh::ReadRun;
using mh::RunEnd;
using mh::Tables;

TMhPageDecoder::TMhPageDecoder(const std::uint8_t* data, std::size_t size, bool lineRecords, unsigned widthPixels)
    : data_(data), size_(data ? size : 0), records_(lineRecords) {
  width_ = std::clamp(widthPixels & ~7u, 8u, kMaxLineWidth);
  if (!records_) {
    in_.p = data_;
    in_.end = data_ + size_;
    next_ = size_;
  }
  DecodeTables();
}

std::size_t TMhPageDecoder::Consumed() const {
  if (!in_.p) return 0;
  std::size_t at = static_cast<std::size_t>(in_.p - data_), unread = in_.count / 8;
  return at > unread ? at - unread : 0;
}

void TMhPageDecoder::Reader::Refill() {
  if (end - p >= 8) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    bits |= w << count;
    p += (63 - count) >> 3;
    count |= 56;
  } else {
    while (count <= 56 && p < end) {
      bits |= std::uint64_t{*p++} << count;
      count += 8;
    }
  }
}

bool TMhPageDecoder::NextSegment() {
  in_.bits = 0;
  in_.count = 0;
  if (!records_ || next_ >= size_) return false;
  if (size_ - next_ < 2) {  // a lone byte where a length word should be
    stats_.truncated = true;
    next_ = size_;
    return false;
  }
  std::size_t n = data_[next_] | (std::size_t{data_[next_ + 1]} << 8);
  std::size_t start = next_ + 2;
  if (n > size_ - start) {
    n = size_ - start;
    ++stats_.badRecords;
  }
  in_.p = data_ + start;
  in_.end = in_.p + n;
  next_ = start + n;
  return true;
}

bool TMhPageDecoder::SkipToEol(Reader& r) {
  return mh::SkipToEol(r);
}

TMhPageDecoder::LineEnd TMhPageDecoder::DecodeLine(std::uint8_t* line) {
  // The bit reader is worked on as a local copy: the line's bytes may alias
  // anything, and members would be reloaded after every store into the line.
  Reader r = in_;
  LineEnd end = DecodeLine(line, r);
  in_ = r;
  return end;
}

TMhPageDecoder::LineEnd TMhPageDecoder::DecodeLine(std::uint8_t* out, Reader& r) {
  const Tables& t = DecodeTables();
  const unsigned width = width_;
  std::uint8_t* line = line_;  // width / 8 bytes and zero slack for whole-word stores
  std::memset(line, 0, width / 8);
  unsigned pos = 0;
  bool any = false, longLine = false, truncated = false;
  RunEnd end;
  for (;;) {
    // Most often a white and a black terminating code follow each other.
    if (r.count < 16) r.Refill();
    const Pair pair = t.pairs[r.bits & ((1u << kPairBits) - 1)];
    if (pair.length && pair.length <= r.count) {
      r.Drop(pair.length);
      any = true;
      unsigned from = pos + pair.white, to = from + pair.black;
      if (to > width) {
        longLine = true;
        from = std::min(from, width);
        to = width;
      }
      FillBlack(line, from, to);
      pos = to;
      continue;
    }
    unsigned run = 0;
    end = ReadRun<0>(t, r, run, truncated);
    if (end != RunEnd::Run) {
      if (end == RunEnd::Eol && !any && !run) {
        if (++eolRun_ >= 6) {  // return to control
          stats_.rtc = true;
          done_ = true;
          return LineEnd::End;
        }
        continue;
      }
      any |= run != 0;
      pos = std::min(pos + run, width);  // a white run only moves the position
      break;
    }
    any = true;
    if (pos + run > width) longLine = true;
    pos = std::min(pos + run, width);
    run = 0;
    end = ReadRun<1>(t, r, run, truncated);
    if (pos + run > width) longLine = true;
    unsigned to = std::min(pos + run, width);
    FillBlack(line, pos, to);
    pos = to;
    if (end != RunEnd::Run) break;
  }
  if (truncated) stats_.truncated = true;
  if (longLine) ++stats_.longLines;
  std::memcpy(out, line, width / 8);
  switch (end) {
    case RunEnd::Eol:
      eolRun_ = 1;
      return LineEnd::Line;
    case RunEnd::Bad:  // keep what was decoded, resume after the next end of line
      ++stats_.badLines;
      eolRun_ = SkipToEol(r) ? 1 : 0;
      return LineEnd::Line;
    default:
      eolRun_ = 0;
      return any ? LineEnd::Line : LineEnd::End;
  }
}

bool TMhPageDecoder::NextLine(std::uint8_t* line) {
  while (!done_) {
    if (in_.count == 0 && in_.p == in_.end && !NextSegment()) {
      done_ = true;
      break;
    }
    if (DecodeLine(line) == LineEnd::Line) {
      ++stats_.lines;
      return true;
    }
  }
  return false;
}

TMhDecodeStats MhDecodePage(const std::uint8_t* data, std::size_t size, bool lineRecords, unsigned widthPixels,
                            const TMhLineSink& sink) {
  TMhPageDecoder decoder(data, size, lineRecords, widthPixels);
  std::uint8_t line[kMaxLineWidth / 8];
  while (decoder.NextLine(line))
    if (sink && !sink(line, decoder.WidthBytes())) break;
  return decoder.Stats();
}

}  // namespace fe
