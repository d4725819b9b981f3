// Decoding tables and helpers shared by the Modified Huffman page decoder and
// the two-dimensional decoder (whose horizontal mode codes runs the same way).
// Codes are looked up in a 512-entry table per colour indexed by the next nine
// stream bits; longer codes continue in 16-entry second-level tables.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "mh_codec.h"
#include "mh_tables.h"

namespace fe::mh {

enum Kind : std::uint8_t { kTerm, kMakeup, kSub, kZeros, kInvalid };

struct Entry {
  std::uint16_t value;  // run length, or second-level table number for kSub
  std::uint8_t length;  // code length in bits
  std::uint8_t kind;
};

constexpr unsigned kPrimaryBits = 9;
constexpr unsigned kSecondaryBits = 4;  // longest code is 13 bits
constexpr unsigned kMaxSubTables = 32;

// Two terminating codes of different colours read with one lookup (white then
// black in `pairs`, black then white in `blackWhite`).
struct Pair {
  std::uint8_t white, black, length, unused;  // length 0: no such pair
};
constexpr unsigned kPairBits = 12;

struct Tables {
  Entry primary[2][1u << kPrimaryBits];
  Entry secondary[2][kMaxSubTables][1u << kSecondaryBits];
  Pair pairs[1u << kPairBits] = {};
  Pair blackWhite[1u << kPairBits] = {};

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
        const Pair pair{static_cast<std::uint8_t>(w), static_cast<std::uint8_t>(b), static_cast<std::uint8_t>(length),
                        0};
        std::uint32_t v = mh::Reverse(cw.bits, cw.length) | (mh::Reverse(cb.bits, cb.length) << cw.length);
        for (unsigned i = v; i < (1u << kPairBits); i += 1u << length) pairs[i] = pair;
        // The 2-D decoder's horizontal mode after a black a0 reads black first.
        v = mh::Reverse(cb.bits, cb.length) | (mh::Reverse(cw.bits, cw.length) << cb.length);
        for (unsigned i = v; i < (1u << kPairBits); i += 1u << length) blackWhite[i] = pair;
      }
    }
  }
};

const Tables& DecodeTables();

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

// Skips to just past the next end-of-line code; false when the data ends first.
inline bool SkipToEol(TMhPageDecoder::Reader& r) {
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

enum class RunEnd { Run, Eol, End, Bad };

// At a stretch of zero bits: counts them (fill may run over many bytes) and
// takes the one that ends them. Eleven or more zeros and a one are an end of line;
// fewer are an invalid code; zeros up to the end of the data are trailing fill.
inline RunEnd ReadEolAfterZeros(TMhPageDecoder::Reader& r) {
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
    if (r.count == 0) return RunEnd::End;
  }
  if (zeros < 11) return RunEnd::Bad;
  r.Drop(1);
  return RunEnd::Eol;
}

// The longest run any caller accepts: far past the widest line, yet so short
// that a position plus a run never overflows. A caller (a hostile one, too) can
// send make-up codes without end; past this the line is bad.
constexpr unsigned kRunCap = 1u << 16;

// Reads the codes of one run of colour C (make-up codes, then a terminating code)
// and adds its length to `run`. Anything else ends the run early: an end-of-line
// code (fill zeros included), the end of the data, or an invalid code. A run that
// would grow past `limit` (at most kRunCap) is an invalid code: the check comes
// before the addition, so `run` never exceeds `limit`.
template <int C>
inline RunEnd ReadRun(const Tables& t, TMhPageDecoder::Reader& r, unsigned& run, bool& truncated,
                      unsigned limit = kRunCap) {
  for (;;) {
    if (r.count < 16) {
      r.Refill();
      if (r.count == 0) return RunEnd::End;
    }
    Entry e = t.primary[C][r.bits & ((1u << kPrimaryBits) - 1)];
    if (e.kind == kTerm && e.length <= r.count) {
      if (e.value > limit - run) return RunEnd::Bad;
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
      if (e.value > limit - run) return RunEnd::Bad;
      r.Drop(e.length);
      run += e.value;
      if (e.kind == kTerm) return RunEnd::Run;
      continue;
    }
    if (e.kind != kZeros) return RunEnd::Bad;
    return ReadEolAfterZeros(r);
  }
}

}  // namespace fe::mh
