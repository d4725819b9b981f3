// MR and MMR decoder. The next seven stream bits index a mode table (pass,
// horizontal, the seven vertical modes, the uncompressed-mode extension, or
// zeros that may start an EOL); horizontal mode reads its two runs with the MH
// run tables. A line is decoded into the list of its colour changes, which
// becomes the reference for the next line and is then drawn into the raster.
#include <algorithm>
#include <cstring>

#include "mh_decode_tables.h"
#include "mr_codec.h"

namespace fe {

namespace {

constexpr unsigned kSentinels = 4;  // width entries behind the last change

enum Mode : std::uint8_t { kVL3, kVL2, kVL1, kV0, kVR1, kVR2, kVR3, kPass, kHorizontal, kExtension, kModeZeros };

struct ModeEntry {
  std::uint8_t mode;
  std::uint8_t length;
  std::uint8_t second;  // a vertical mode whose code follows within the index bits, else kNoMode
  std::uint8_t total;   // code length of both
};
constexpr std::uint8_t kNoMode = 0xFF;

constexpr unsigned kModeBits = 7;    // the longest mode code
constexpr unsigned kTableBits = 10;  // room for two short vertical codes

// Indexed by the next kTableBits stream bits: the mode they start with, and a
// second one when the first is vertical and another vertical code follows
// completely inside the index (common in busy pictures), so one lookup decodes both.
struct ModeTable {
  ModeEntry entries[1u << kTableBits] = {};
  ModeTable() {
    ModeEntry single[1u << kModeBits] = {};
    auto add = [&](mh::TCode c, Mode m) {
      std::uint32_t v = mh::Reverse(c.bits, c.length);
      for (unsigned i = v; i < (1u << kModeBits); i += 1u << c.length)
        single[i] = {m, static_cast<std::uint8_t>(c.length), kNoMode, 0};
    };
    for (int d = 0; d < 7; ++d) add(mh::kVerticalCodes[d], static_cast<Mode>(kVL3 + d));
    add(mh::kPassCode, kPass);
    add(mh::kHorizontalCode, kHorizontal);
    add({0b0000001, 7}, kExtension);
    single[0] = {kModeZeros, kModeBits, kNoMode, 0};
    for (unsigned i = 0; i < (1u << kTableBits); ++i) {
      ModeEntry e = single[i & ((1u << kModeBits) - 1)];
      if (e.mode <= kVR3) {
        ModeEntry next = single[(i >> e.length) & ((1u << kModeBits) - 1)];
        if (next.mode <= kVR3 && e.length + next.length <= kTableBits) {
          e.second = next.mode;
          e.total = static_cast<std::uint8_t>(e.length + next.length);
        }
      }
      entries[i] = e;
    }
  }
};

const ModeTable& Modes() {
  static const ModeTable table;
  return table;
}

template <int C>
inline mh::RunEnd ReadRunOf(const mh::Tables& t, T2dPageDecoder::Reader& r, unsigned& run, bool& truncated,
                            unsigned limit) {
  return mh::ReadRun<C>(t, r, run, truncated, limit);
}

// Appends a change at `p` (< width); a change at the same place as the last one
// cancels it (a run of length 0 inside a line).
inline void PushChange(std::uint32_t* cur, unsigned& n, unsigned p) {
  if (n && cur[n - 1] == p)
    --n;
  else
    cur[n++] = p;
}

}  // namespace

// How a line ended.
enum class T2dPageDecoder::Result {
  Line,      // complete; the stream is just past its last code
  Bad,       // invalid; eolTaken_ tells whether the EOL after it was read
  EmptyEol,  // an EOL came before any code: no line (part of RTC or EOFB)
  End,       // the data ended
};

T2dPageDecoder::T2dPageDecoder(const std::uint8_t* data, std::size_t size, TFaxCoding coding, unsigned widthPixels)
    : data_(data),
      coding_(coding == TFaxCoding::MMR ? TFaxCoding::MMR : TFaxCoding::MR),
      width_(std::clamp(widthPixels & ~7u, 8u, kMax2dLineWidth)) {
  in_.p = data;
  in_.end = data ? data + size : data;
  ref_.assign(width_ + kSentinels + 1, width_);  // an all-white line
  cur_.assign(width_ + kSentinels + 1, width_);
  raster_.assign((width_ + 63) / 64 * 8 + 8, 0);
  mh::DecodeTables();
  Modes();
}

std::size_t T2dPageDecoder::Consumed() const {
  if (!in_.p) return 0;
  std::size_t at = static_cast<std::size_t>(in_.p - data_), unread = in_.count / 8;
  return at > unread ? at - unread : 0;
}

T2dPageDecoder::Result T2dPageDecoder::Decode2d(unsigned& n) {
  const mh::Tables& t = mh::DecodeTables();
  const ModeTable& modes = Modes();
  const std::uint32_t* ref = ref_.data();
  std::uint32_t* cur = cur_.data();
  const int end = static_cast<int>(width_);
  Reader r = in_;
  Result result = Result::Line;
  bool truncated = false;
  int a0 = -1;
  unsigned colour = 0, ib = 0;
  n = 0;
  while (a0 < end) {
    if (r.count < 32) {
      if (r.end - r.p >= 8) {  // the common case of Refill, inline
        std::uint64_t w;
        std::memcpy(&w, r.p, 8);
        r.bits |= w << r.count;
        r.p += (63 - r.count) >> 3;
        r.count |= 56;
      } else {
        r.Refill();
        if (r.count == 0) {
          result = Result::End;
          break;
        }
      }
    }
    const ModeEntry m = modes.entries[r.bits & ((1u << kTableBits) - 1)];
    if (m.mode == kModeZeros) {
      mh::RunEnd e = mh::ReadEolAfterZeros(r);
      if (e == mh::RunEnd::Eol) {
        eolTaken_ = true;
        result = a0 < 0 && n == 0 ? Result::EmptyEol : Result::Bad;
      } else {
        result = e == mh::RunEnd::End ? Result::End : Result::Bad;
      }
      break;
    }
    if (m.length > r.count) {  // a code cut off by the end of the data
      r.bits = 0;
      r.count = 0;
      result = Result::End;
      break;
    }
    r.Drop(m.length);
    // b1, b2 as the encoder finds them (see mr_encode.cpp). Every step leaves ib
    // on the first candidate of the right parity (a0's colour) that may lie right
    // of the new a0, so the search mostly ends at once.
    unsigned i = ib;
    while (static_cast<int>(ref[i]) <= a0) i += 2;
    int b1 = static_cast<int>(ref[i]), b2 = static_cast<int>(ref[i + 1]);
    if (m.mode <= kVR3) {
      // a1 at or right of b1: the next candidate follows b1; left of it, the
      // change before b1 may still lie right of a1.
      ib = m.mode >= kV0 || i == 0 ? i + 1 : i - 1;
      int a1 = b1 + static_cast<int>(m.mode) - 3;
      if (a1 <= a0 || a1 > end) {
        result = Result::Bad;
        break;
      }
      if (a1 < end) cur[n++] = static_cast<unsigned>(a1);  // right of every change so far
      a0 = a1;
      colour ^= 1;
      // A second vertical code inside the same lookup, decoded the same way.
      if (m.second != kNoMode && m.total <= r.count && a0 < end) {
        r.Drop(m.total - m.length);
        i = ib;
        while (static_cast<int>(ref[i]) <= a0) i += 2;
        ib = m.second >= kV0 || i == 0 ? i + 1 : i - 1;
        a1 = static_cast<int>(ref[i]) + static_cast<int>(m.second) - 3;
        if (a1 <= a0 || a1 > end) {
          result = Result::Bad;
          break;
        }
        if (a1 < end) cur[n++] = static_cast<unsigned>(a1);
        a0 = a1;
        colour ^= 1;
      }
    } else if (m.mode == kPass) {
      a0 = b2;
      ib = i + 2;
    } else if (m.mode == kHorizontal) {
      unsigned run1 = 0, run2 = 0;
      mh::RunEnd e1 = mh::RunEnd::Bad, e2 = mh::RunEnd::Bad;
      {  // often two terminating codes, read at once
        if (r.count < 16) r.Refill();
        const unsigned index = r.bits & ((1u << mh::kPairBits) - 1);
        const mh::Pair pair = colour ? t.blackWhite[index] : t.pairs[index];
        if (pair.length && pair.length <= r.count) {
          r.Drop(pair.length);
          run1 = colour ? pair.black : pair.white;
          run2 = colour ? pair.white : pair.black;
          e1 = e2 = mh::RunEnd::Run;
        }
      }
      // Neither run may pass the line's end: a longer one is a bad line, found
      // before the position is formed (make-up codes alone can add up past any
      // integer).
      const unsigned start = static_cast<unsigned>(std::max(a0, 0));
      if (e1 != mh::RunEnd::Run)
        e1 = colour ? ReadRunOf<1>(t, r, run1, truncated, width_ - start)
                    : ReadRunOf<0>(t, r, run1, truncated, width_ - start);
      if (e1 == mh::RunEnd::Run && e2 != mh::RunEnd::Run)
        e2 = colour ? ReadRunOf<0>(t, r, run2, truncated, width_ - start - run1)
                    : ReadRunOf<1>(t, r, run2, truncated, width_ - start - run1);
      if (e1 != mh::RunEnd::Run || e2 != mh::RunEnd::Run) {
        mh::RunEnd e = e1 != mh::RunEnd::Run ? e1 : e2;
        eolTaken_ = e == mh::RunEnd::Eol;
        result = e == mh::RunEnd::End ? Result::End : Result::Bad;
        break;
      }
      const unsigned a1u = start + run1, a2u = a1u + run2;
      if (a2u > width_) {  // the pair read at once may still overshoot
        result = Result::Bad;
        break;
      }
      const int a1 = static_cast<int>(a1u), a2 = static_cast<int>(a2u);
      if (a1 < end) PushChange(cur, n, static_cast<unsigned>(a1));
      if (a2 < end) PushChange(cur, n, static_cast<unsigned>(a2));
      a0 = a2;
      ib = i;
    } else {  // uncompressed mode is never offered
      result = Result::Bad;
      break;
    }
  }
  if (truncated) result = Result::End;
  in_ = r;
  for (unsigned k = 0; k < kSentinels; ++k) cur[n + k] = width_;
  return result;
}

T2dPageDecoder::Result T2dPageDecoder::Decode1d(unsigned& n) {
  const mh::Tables& t = mh::DecodeTables();
  std::uint32_t* cur = cur_.data();
  Reader r = in_;
  Result result = Result::Line;
  bool truncated = false;
  unsigned pos = 0, colour = 0;
  n = 0;
  for (;;) {
    if (colour == 0) {
      // Most often a white and a black terminating code follow each other.
      if (r.count < 16) r.Refill();
      const mh::Pair pair = t.pairs[r.bits & ((1u << mh::kPairBits) - 1)];
      if (pair.length && pair.length <= r.count && pos + pair.white + pair.black < width_) {
        r.Drop(pair.length);
        PushChange(cur, n, pos + pair.white);
        pos += pair.white + pair.black;
        PushChange(cur, n, pos);
        continue;
      }
    }
    // pos < width_ here, and a run stops at kRunCap, so pos + run cannot wrap;
    // a run that ends past the width cuts the line there (a long line).
    unsigned run = 0;
    mh::RunEnd e =
        colour ? ReadRunOf<1>(t, r, run, truncated, mh::kRunCap) : ReadRunOf<0>(t, r, run, truncated, mh::kRunCap);
    if (e == mh::RunEnd::Run) {
      pos += run;
      if (pos >= width_) {
        if (pos > width_) ++stats_.longLines;
        break;
      }
      PushChange(cur, n, pos);
      colour ^= 1;
      continue;
    }
    if (e == mh::RunEnd::Eol) {
      eolTaken_ = true;
      result = pos == 0 && colour == 0 && run == 0 ? Result::EmptyEol : Result::Bad;
    } else {
      result = e == mh::RunEnd::End ? Result::End : Result::Bad;
    }
    break;
  }
  if (truncated) result = Result::End;
  in_ = r;
  for (unsigned k = 0; k < kSentinels; ++k) cur[n + k] = width_;
  return result;
}

void T2dPageDecoder::Render(const std::vector<std::uint32_t>& changes, unsigned n, std::uint8_t* line) {
  const unsigned bytes = width_ / 8;
  if (n < 24) {
    // Few runs: fill them one by one, straight into the caller's line. A run
    // whose 8-byte store would pass the line's end goes byte by byte.
    std::memset(line, 0, bytes);
    for (unsigned i = 0; i < n; i += 2) {
      const unsigned from = changes[i], to = i + 1 < n ? changes[i + 1] : width_;
      if ((from >> 3) + 8 <= bytes) {
        mh::FillBlack(line, from, to);
      } else {
        for (unsigned x = from; x < to; ++x) line[x >> 3] |= static_cast<std::uint8_t>(0x80u >> (x & 7));
      }
    }
    return;
  }
  // Many runs: the changes in each 64-pixel word are gathered as bits (pixel 0
  // in the most significant bit, changes come in order), a prefix XOR turns them
  // into the pixels, and the last pixel of a word carries its colour into the
  // next. Lines of whole words (1728 and 2048 pixels) are written in place.
  std::uint8_t* buf = width_ % 64 == 0 ? line : raster_.data();
  const unsigned words = (width_ + 63) / 64;
  std::uint64_t carry = 0;
  unsigned i = 0;
  for (unsigned k = 0; k < words; ++k) {
    std::uint64_t x = 0;
    for (; i < n && (changes[i] >> 6) == k; ++i) x ^= (std::uint64_t{1} << 63) >> (changes[i] & 63);
    x ^= x >> 1;
    x ^= x >> 2;
    x ^= x >> 4;
    x ^= x >> 8;
    x ^= x >> 16;
    x ^= x >> 32;
    x ^= carry;
    carry = 0 - (x & 1);
    x = __builtin_bswap64(x);
    std::memcpy(buf + k * 8, &x, 8);
  }
  if (buf != line) std::memcpy(line, buf, bytes);
}

bool T2dPageDecoder::EmitGood(std::uint8_t* line, unsigned n) {
  Render(cur_, n, line);
  std::swap(ref_, cur_);
  refCount_ = n;
  ++stats_.lines;
  return true;
}

bool T2dPageDecoder::EmitBad(std::uint8_t* line) {
  Render(ref_, refCount_, line);  // the reference is the last good line
  lastBad_ = true;
  ++stats_.lines;
  ++stats_.badLines;
  return true;
}

bool T2dPageDecoder::NextMmrLine(std::uint8_t* line) {
  unsigned n = 0;
  switch (Decode2d(n)) {
    case Result::Line:
      return EmitGood(line, n);
    case Result::EmptyEol: {
      // EOFB is two EOLs; a lone EOL has no place in the stream.
      eolTaken_ = false;
      if (in_.count < mh::kEolLength) in_.Refill();
      mh::RunEnd e = mh::ReadEolAfterZeros(in_);
      if (e == mh::RunEnd::Eol)
        stats_.eofb = true;
      else if (e == mh::RunEnd::End)
        stats_.truncated = true;
      else
        ++stats_.badLines;
      break;
    }
    case Result::End:
      stats_.truncated = true;
      break;
    case Result::Bad:
      ++stats_.badLines;
      break;
  }
  done_ = true;
  return false;
}

bool T2dPageDecoder::NextMrLine(std::uint8_t* line) {
  if (!started_) {  // fill before the first EOL is skipped
    started_ = true;
    if (!mh::SkipToEol(in_)) {
      stats_.truncated = true;
      done_ = true;
      return false;
    }
    eolRun_ = 1;
  }
  for (;;) {
    // Just past an EOL: the tag bit tells how the line is coded.
    if (in_.count == 0) in_.Refill();
    if (in_.count == 0) {
      stats_.truncated = true;
      done_ = true;
      return false;
    }
    bool oneD = in_.bits & 1;
    in_.Drop(1);
    unsigned n = 0;
    eolTaken_ = false;
    // A 2-D line after a bad line is still decoded (against the last good line)
    // to find RTC, but cannot be right.
    Result res = oneD ? Decode1d(n) : Decode2d(n);
    if (res == Result::EmptyEol) {
      if (++eolRun_ >= 6) {
        stats_.rtc = true;
        if (in_.count == 0) in_.Refill();
        if (in_.count) in_.Drop(1);  // the last tag bit of RTC
        done_ = true;
        return false;
      }
      continue;
    }
    eolRun_ = 0;
    if (res == Result::End) {
      stats_.truncated = true;
      done_ = true;
      return false;
    }
    if (res == Result::Line) {
      // Only fill may stand between the line and the next EOL.
      if (in_.count < 16) in_.Refill();
      mh::RunEnd e = mh::ReadEolAfterZeros(in_);
      if (e == mh::RunEnd::Eol) {
        eolTaken_ = true;
      } else if (e == mh::RunEnd::Bad) {
        res = Result::Bad;
      }
    }
    if (eolTaken_) eolRun_ = 1;
    if (res == Result::Bad || (!oneD && refBad_)) {
      refBad_ = true;
      if (!eolTaken_) eolRun_ = mh::SkipToEol(in_) ? 1 : 0;
      return EmitBad(line);
    }
    if (oneD) refBad_ = false;
    return EmitGood(line, n);
  }
}

bool T2dPageDecoder::NextLine(std::uint8_t* line) {
  lastBad_ = false;
  if (done_) return false;
  return coding_ == TFaxCoding::MMR ? NextMmrLine(line) : NextMrLine(line);
}

T2dDecodeStats DecodePage2d(const std::uint8_t* data, std::size_t size, TFaxCoding coding, unsigned widthPixels,
                            const T2dLineSink& sink) {
  T2dPageDecoder dec(data, size, coding, widthPixels);
  std::vector<std::uint8_t> line(dec.WidthBytes());
  while (dec.NextLine(line.data()))
    if (sink && !sink(line.data(), dec.WidthBytes(), dec.LastLineBad())) break;
  return dec.Stats();
}

T2dDecodeStats DecodePage2dToMhRecords(const std::uint8_t* data, std::size_t size, TFaxCoding coding,
                                       unsigned widthPixels, std::vector<std::uint8_t>& records) {
  std::uint8_t coded[kMaxCodedLine];
  auto append = [&](std::size_t n) {
    records.push_back(static_cast<std::uint8_t>(n));
    records.push_back(static_cast<std::uint8_t>(n >> 8));
    records.insert(records.end(), coded, coded + n);
  };
  const unsigned width = std::min<unsigned>(widthPixels, kMaxLineWidthBytes * 8);
  T2dDecodeStats stats = DecodePage2d(data, size, coding, width, [&](const std::uint8_t* line, unsigned bytes, bool) {
    append(MhEncodeLine(line, bytes * 8, bytes * 8, false, coded));
    return true;
  });
  append(MhEncodeRtc(coded));
  return stats;
}

}  // namespace fe
