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

// A white terminating code followed by a black one, read with one lookup.
struct Pair {
  std::uint8_t white, black, length, unused;  // length 0: no such pair
};
constexpr unsigned kPairBits = 12;

struct Tables {
  Entry primary[2][1u << kPrimaryBits];
  Entry secondary[2][kMaxSubTables][1u << kSecondaryBits];
  Pair pairs[1u << kPairBits] = {};

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
    // Codes are prefix-free, so every bit pattern starts with at most one pair.
    for (unsigned w = 0; w < 64; ++w) {
      const mh::TCode& cw = mh::kWhiteTerm[w];
      for (unsigned b = 0; b < 64; ++b) {
        const mh::TCode& cb = mh::kBlackTerm[b];
        unsigned length = cw.length + cb.length;
        if (length > kPairBits) continue;
        std::uint32_t v = mh::Reverse(cw.bits, cw.length) | (mh::Reverse(cb.bits, cb.length) << cw.length);
        for (unsigned i = v; i < (1u << kPairBits); i += 1u << length)
          pairs[i] = {static_cast<std::uint8_t>(w), static_cast<std::uint8_t>(b), static_cast<std::uint8_t>(length), 0};
      }
    }
  }
};

const Tables& DecodeTables() {
  static const Tables tables;
  return tables;
}

// Sets pixels [from, to) of a line to black. The line has 8 bytes of slack, so
// runs within one 64-bit word take one load and one store.
inline void FillBlack(std::uint8_t* line, unsigned from, unsigned to) {
  if (to <= from) return;
  std::uint8_t* p = line + (from >> 3);
  unsigned lo = from & 7, hi = lo + (to - from);
  if (hi <= 64) {
    std::uint64_t mask = ~std::uint64_t{0} >> lo;
    if (hi < 64) mask &= ~(~std::uint64_t{0} >> hi);
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    w |= __builtin_bswap64(mask);
    std::memcpy(p, &w, 8);
    return;
  }
  unsigned fb = from >> 3, tb = to >> 3;
  line[fb] |= static_cast<std::uint8_t>(0xFFu >> lo);
  std::memset(line + fb + 1, 0xFF, tb - fb - 1);
  if (to & 7) line[tb] |= static_cast<std::uint8_t>(~(0xFFu >> (to & 7)));
}

}  // namespace

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
  unsigned zeros = 0;
  for (;;) {
    if (r.count == 0) {
      r.Refill();
      if (r.count == 0) return false;
    }
    // Whole zero stretches at once, then the single bit that ends them.
    unsigned z = r.bits ? std::min<unsigned>(std::countr_zero(r.bits), r.count) : r.count;
    zeros += z;
    if (z == r.count) {
      r.bits = 0;
      r.count = 0;
      continue;
    }
    r.Drop(z);
    r.Drop(1);
    if (zeros >= 11) return true;
    zeros = 0;
  }
}

TMhPageDecoder::LineEnd TMhPageDecoder::DecodeLine(std::uint8_t* line) {
  // The bit reader is worked on as a local copy: the line's bytes may alias
  // anything, and members would be reloaded after every store into the line.
  Reader r = in_;
  LineEnd end = DecodeLine(line, r);
  in_ = r;
  return end;
}

namespace {

enum class RunEnd { Run, Eol, End, Bad };

// Reads the codes of one run of colour C (make-up codes, then a terminating code)
// and adds its length to `run`. Anything else ends the run early: an end-of-line
// code (fill zeros included), the end of the data, or an invalid code.
template <int C>
inline RunEnd ReadRun(const Tables& t, TMhPageDecoder::Reader& r, unsigned& run, bool& truncated) {
  for (;;) {
    if (r.count < 16) {
      r.Refill();
      if (r.count == 0) return RunEnd::End;
    }
    Entry e = t.primary[C][r.bits & ((1u << kPrimaryBits) - 1)];
    if (e.kind == kTerm && e.length <= r.count) {
      r.Drop(e.length);
      run += e.value;
      return RunEnd::Run;
    }
    if (e.kind == kSub) e = t.secondary[C][e.value][(r.bits >> kPrimaryBits) & ((1u << kSecondaryBits) - 1)];
    if (e.kind <= kMakeup) {
      if (e.length > r.count) {  // the code runs past the end of the data
        truncated = true;
        r.bits = 0;
        r.count = 0;
        return RunEnd::End;
      }
      r.Drop(e.length);
      run += e.value;
      if (e.kind == kTerm) return RunEnd::Run;
      continue;
    }
    if (e.kind != kZeros) return RunEnd::Bad;
    // Count the zeros (fill bits may stretch over many bytes), then expect a one.
    unsigned zeros = 0;
    for (;;) {
      unsigned z = r.bits ? std::min<unsigned>(std::countr_zero(r.bits), r.count) : r.count;
      zeros += z;
      if (z < r.count) {
        r.Drop(z);
        break;
      }
      r.bits = 0;
      r.count = 0;
      r.Refill();
      if (r.count == 0) return RunEnd::End;  // trailing fill at the end of the data
    }
    if (zeros < 11) return RunEnd::Bad;
    r.Drop(1);
    return RunEnd::Eol;
  }
}

}  // namespace

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
