// Modified Huffman page decoder. Codes are looked up in a 512-entry table per
// colour indexed by the next nine stream bits; longer codes continue in 16-entry
// second-level tables. Nine zero bits lead to the end-of-line handling (an
// end-of-line code may be preceded by any number of fill zeros).
#include <algorithm>
#include <bit>
#include <cstring>

#include "apf_format.h"
#include "mh_codec.h"
#include "mh_tables.h"

namespace fe {

namespace {

static_assert(std::endian::native == std::endian::little, "the bit reader loads little-endian words");

enum Kind : std::uint8_t { kTerm, kMakeup, kSub, kZeros, kInvalid };

struct Entry {
  std::uint16_t value;  // run length, or second-level table number for kSub
  std::uint8_t length;  // code length in bits
  std::uint8_t kind;
};

constexpr unsigned kPrimaryBits = 9;
constexpr unsigned kSecondaryBits = 4;  // longest code is 13 bits
constexpr unsigned kMaxSubTables = 32;

struct Tables {
  Entry primary[2][1u << kPrimaryBits];
  Entry secondary[2][kMaxSubTables][1u << kSecondaryBits];

  Tables() {
    for (int colour = 0; colour < 2; ++colour) {
      unsigned subCount = 0;
      for (auto& e : primary[colour]) e = {0, 0, kInvalid};
      primary[colour][0] = {0, kPrimaryBits, kZeros};
      auto add = [&](const mh::TCode& code, unsigned run, Kind kind) {
        std::uint32_t v = mh::Reverse(code.bits, code.length);  // stream order
        if (code.length <= kPrimaryBits) {
          for (unsigned i = v; i < (1u << kPrimaryBits); i += 1u << code.length)
            primary[colour][i] = {static_cast<std::uint16_t>(run), code.length, static_cast<std::uint8_t>(kind)};
          return;
        }
        Entry& head = primary[colour][v & ((1u << kPrimaryBits) - 1)];
        if (head.kind != kSub) {
          head = {static_cast<std::uint16_t>(subCount++), kPrimaryBits, kSub};
          for (auto& e : secondary[colour][head.value]) e = {0, 0, kInvalid};
        }
        unsigned rest = code.length - kPrimaryBits;
        for (unsigned i = v >> kPrimaryBits; i < (1u << kSecondaryBits); i += 1u << rest)
          secondary[colour][head.value][i] = {static_cast<std::uint16_t>(run), code.length,
                                              static_cast<std::uint8_t>(kind)};
      };
      const mh::TCode* term = colour ? mh::kBlackTerm : mh::kWhiteTerm;
      const mh::TCode* makeup = colour ? mh::kBlackMakeup : mh::kWhiteMakeup;
      for (unsigned r = 0; r < 64; ++r) add(term[r], r, kTerm);
      for (unsigned k = 0; k < 27; ++k) add(makeup[k], (k + 1) * 64, kMakeup);
      for (unsigned k = 0; k < 13; ++k) add(mh::kExtMakeup[k], (k + 28) * 64, kMakeup);
    }
  }
};

const Tables& DecodeTables() {
  static const Tables tables;
  return tables;
}

// Sets pixels [from, to) of a line to black.
inline void FillBlack(std::uint8_t* line, unsigned from, unsigned to) {
  if (to <= from) return;
  unsigned fb = from >> 3, tb = to >> 3;
  std::uint8_t head = static_cast<std::uint8_t>(0xFFu >> (from & 7));
  std::uint8_t tail = static_cast<std::uint8_t>(~(0xFFu >> (to & 7)));
  if (fb == tb) {
    line[fb] |= head & tail;
    return;
  }
  line[fb] |= head;
  if (tb > fb + 1) std::memset(line + fb + 1, 0xFF, tb - fb - 1);
  if (to & 7) line[tb] |= tail;
}

}  // namespace

TMhPageDecoder::TMhPageDecoder(const std::uint8_t* data, std::size_t size, bool lineRecords, unsigned widthPixels)
    : data_(data), size_(data ? size : 0), records_(lineRecords) {
  width_ = std::clamp(widthPixels & ~7u, 8u, kMaxLineWidth);
  if (!records_) {
    p_ = data_;
    end_ = data_ + size_;
    next_ = size_;
  }
  DecodeTables();
}

std::size_t TMhPageDecoder::Consumed() const {
  if (!p_) return 0;
  std::size_t at = static_cast<std::size_t>(p_ - data_), unread = count_ / 8;
  return at > unread ? at - unread : 0;
}

void TMhPageDecoder::Refill() {
  if (end_ - p_ >= 8) {
    std::uint64_t w;
    std::memcpy(&w, p_, 8);
    bits_ |= w << count_;
    p_ += (63 - count_) >> 3;
    count_ |= 56;
  } else {
    while (count_ <= 56 && p_ < end_) {
      bits_ |= std::uint64_t{*p_++} << count_;
      count_ += 8;
    }
  }
}

bool TMhPageDecoder::NextSegment() {
  bits_ = 0;
  count_ = 0;
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
  p_ = data_ + start;
  end_ = p_ + n;
  next_ = start + n;
  return true;
}

bool TMhPageDecoder::SkipToEol() {
  unsigned zeros = 0;
  for (;;) {
    if (count_ == 0) {
      Refill();
      if (count_ == 0) return false;
    }
    // Whole zero stretches at once, then the single bit that ends them.
    unsigned z = bits_ ? std::min<unsigned>(std::countr_zero(bits_), count_) : count_;
    zeros += z;
    if (z == count_) {
      bits_ = 0;
      count_ = 0;
      continue;
    }
    bits_ >>= z + 1;
    count_ -= z + 1;
    if (zeros >= 11) return true;
    zeros = 0;
  }
}

TMhPageDecoder::LineEnd TMhPageDecoder::DecodeLine(std::uint8_t* line) {
  const Tables& t = DecodeTables();
  const unsigned width = width_;
  std::memset(line, 0, width / 8);
  unsigned pos = 0;
  int colour = 0;
  bool any = false, longLine = false;
  for (;;) {
    if (count_ < 16) {
      Refill();
      if (count_ == 0) break;  // end of the segment
    }
    Entry e = t.primary[colour][bits_ & ((1u << kPrimaryBits) - 1)];
    if (e.kind == kSub) e = t.secondary[colour][e.value][(bits_ >> kPrimaryBits) & ((1u << kSecondaryBits) - 1)];
    if (e.kind <= kMakeup) {
      if (e.length > count_) {  // the code runs past the end of the data
        stats_.truncated = true;
        bits_ = 0;
        count_ = 0;
        break;
      }
      bits_ >>= e.length;
      count_ -= e.length;
      any = true;
      unsigned to = pos + e.value;
      if (to > width) {
        to = width;
        longLine = true;
      }
      if (colour) FillBlack(line, pos, to);
      pos = to;
      if (e.kind == kTerm) colour ^= 1;
      continue;
    }
    if (e.kind == kZeros) {
      // Count the zeros (fill bits may stretch over many bytes), then expect a one.
      unsigned zeros = 0;
      bool one = false;
      for (;;) {
        unsigned z = bits_ ? std::min<unsigned>(std::countr_zero(bits_), count_) : count_;
        zeros += z;
        if (z < count_) {
          bits_ >>= z;
          count_ -= z;
          one = true;
          break;
        }
        bits_ = 0;
        count_ = 0;
        Refill();
        if (count_ == 0) break;
      }
      if (!one) break;  // trailing fill at the end of the data
      if (zeros >= 11) {
        bits_ >>= 1;
        --count_;
        if (any) {
          eolRun_ = 1;
          if (longLine) ++stats_.longLines;
          return LineEnd::Line;
        }
        if (++eolRun_ >= 6) {  // return to control
          stats_.rtc = true;
          done_ = true;
          return LineEnd::End;
        }
        continue;
      }
    }
    // An invalid code: keep what was decoded, resume after the next end of line.
    ++stats_.badLines;
    if (longLine) ++stats_.longLines;
    eolRun_ = SkipToEol() ? 1 : 0;
    return LineEnd::Line;
  }
  eolRun_ = 0;
  if (longLine) ++stats_.longLines;
  return any ? LineEnd::Line : LineEnd::End;
}

bool TMhPageDecoder::NextLine(std::uint8_t* line) {
  while (!done_) {
    if (count_ == 0 && p_ == end_ && !NextSegment()) {
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
