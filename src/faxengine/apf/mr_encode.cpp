// MR and MMR encoder. Each line is turned into the list of its colour changes
// (found 64 pixels at a time with x ^ (x >> 1)); 2-D coding then walks the change
// lists of the line and its reference line, and 1-D coding takes the runs
// between changes. Codes go out through the shared 64-bit bit writer.
#include <algorithm>
#include <bit>
#include <cstring>

#include "mh_tables.h"
#include "mr_codec.h"

namespace fe {

namespace {

constexpr unsigned kSentinels = 3;  // width entries behind the last change

inline std::uint64_t LoadBigEndian64(const std::uint8_t* p) {
  std::uint64_t w;
  std::memcpy(&w, p, 8);
  return __builtin_bswap64(w);
}

// Positions where the colour differs from the pixel to the left (the pixel left
// of the line being white), followed by kSentinels entries of `width`. `buf`
// holds the line and at least 8 zero bytes behind it. Returns the change count.
unsigned FindChanges(const std::uint8_t* buf, unsigned width, std::uint32_t* out) {
  unsigned n = 0;
  std::uint64_t before = 0;  // the pixel left of the current word
  for (unsigned base = 0; base < width; base += 64) {
    std::uint64_t x = LoadBigEndian64(buf + base / 8);
    std::uint64_t changes = x ^ ((x >> 1) | (before << 63));
    before = x & 1;
    while (changes) {
      unsigned lz = static_cast<unsigned>(std::countl_zero(changes));
      if (base + lz >= width) break;
      out[n++] = base + lz;
      changes ^= (std::uint64_t{1} << 63) >> lz;
    }
  }
  for (unsigned i = 0; i < kSentinels; ++i) out[n + i] = width;
  return n;
}

struct StreamCode {
  std::uint32_t bits;
  unsigned length;
};
constexpr StreamCode Stream(mh::TCode c) {
  return {mh::Reverse(c.bits, c.length), c.length};
}
constexpr StreamCode kPass = Stream(mh::kPassCode);
constexpr StreamCode kHorizontal = Stream(mh::kHorizontalCode);
constexpr StreamCode kVertical[7] = {Stream(mh::kVerticalCodes[0]), Stream(mh::kVerticalCodes[1]),
                                     Stream(mh::kVerticalCodes[2]), Stream(mh::kVerticalCodes[3]),
                                     Stream(mh::kVerticalCodes[4]), Stream(mh::kVerticalCodes[5]),
                                     Stream(mh::kVerticalCodes[6])};
constexpr StreamCode kMakeup2560 = Stream(mh::kMakeup2560);

// A run of any length: runs past the longest make-up code are preceded by as
// many 2560 make-up codes as needed.
inline void PutRun(mh::BitWriter& w, const mh::TRunCode* codes, unsigned run, unsigned colour) {
  while (run > mh::kMaxRun) {
    w.Put(kMakeup2560.bits, kMakeup2560.length);
    run -= 2560;
  }
  w.PutRun(codes, run, colour);
}

void Encode1d(const std::uint32_t* cur, unsigned n, unsigned width, mh::BitWriter& w) {
  const mh::TRunCode* codes = mh::RunCodes();
  unsigned last = 0;
  for (unsigned i = 0; i < n; ++i) {
    PutRun(w, codes, cur[i] - last, i & 1);
    last = cur[i];
  }
  PutRun(w, codes, width - last, n & 1);
}

// Codes the line whose changes are `cur` against the reference line `ref` (both
// with sentinels). a0 starts on the imaginary white pixel left of the line (-1);
// the colour of a0 is the parity of the index of the next change on the line.
void Encode2d(const std::uint32_t* ref, const std::uint32_t* cur, unsigned width, mh::BitWriter& w) {
  const mh::TRunCode* codes = mh::RunCodes();
  const int end = static_cast<int>(width);
  int a0 = -1;
  unsigned ia = 0, ib = 0;
  while (a0 < end) {
    unsigned colour = ia & 1;
    // b1: the first change on the reference line right of a0 to the colour
    // opposite a0's, i.e. with the index parity of a0's colour. Changes before
    // the previous b1's predecessor all lie at or left of a0.
    unsigned i = ib + ((ib & 1) != colour);
    while (static_cast<int>(ref[i]) <= a0) i += 2;
    int b1 = static_cast<int>(ref[i]), b2 = static_cast<int>(ref[i + 1]);
    int a1 = static_cast<int>(cur[ia]);
    ib = i ? i - 1 : 0;
    if (b2 < a1) {
      w.Put(kPass.bits, kPass.length);
      a0 = b2;
      continue;
    }
    int d = a1 - b1;
    if (d >= -3 && d <= 3) {
      const StreamCode& v = kVertical[d + 3];
      w.Put(v.bits, v.length);
      a0 = a1;
      ++ia;
      continue;
    }
    int a2 = static_cast<int>(cur[ia + 1]);
    w.Put(kHorizontal.bits, kHorizontal.length);
    PutRun(w, codes, static_cast<unsigned>(a1 - std::max(a0, 0)), colour);
    PutRun(w, codes, static_cast<unsigned>(a2 - a1), colour ^ 1);
    a0 = a2;
    ia += 2;
  }
}

}  // namespace

T2dEncoder::T2dEncoder(TFaxCoding coding, unsigned widthPixels, unsigned k, unsigned minLineBits)
    : coding_(coding == TFaxCoding::MMR ? TFaxCoding::MMR : TFaxCoding::MR),
      width_(std::clamp(widthPixels & ~7u, 8u, kMax2dLineWidth)),
      k_(coding == TFaxCoding::MH ? 1 : std::max(k, 1u)),
      minLineBits_(coding_ == TFaxCoding::MMR ? 0 : minLineBits) {
  refRuns_.assign(width_ + kSentinels + 1, width_);  // an all-white line
  curRuns_.assign(width_ + kSentinels + 1, width_);
  line_.assign(width_ / 8 + 16, 0);
}

std::size_t T2dEncoder::EncodeLine(const std::uint8_t* raster, std::uint8_t* out) {
  std::memcpy(line_.data(), raster, width_ / 8);
  unsigned n = FindChanges(line_.data(), width_, curRuns_.data());
  mh::BitWriter w(out, acc_, count_);
  if (coding_ == TFaxCoding::MMR) {
    Encode2d(refRuns_.data(), curRuns_.data(), width_, w);
  } else {
    bool oneD = lines_ % k_ == 0;
    std::size_t start = w.Bits();
    w.Put(mh::kEolBits | (oneD ? 1u << mh::kEolLength : 0u), mh::kEolLength + 1);
    if (oneD)
      Encode1d(curRuns_.data(), n, width_, w);
    else
      Encode2d(refRuns_.data(), curRuns_.data(), width_, w);
    // Fill goes after the codes, i.e. before the next line's EOL.
    std::size_t used = w.Bits() - start;
    if (used < minLineBits_) w.PutZeros(static_cast<unsigned>(minLineBits_ - used));
  }
  std::swap(refRuns_, curRuns_);
  ++lines_;
  acc_ = w.Pending();
  count_ = w.PendingCount();
  return w.Bytes();
}

std::size_t T2dEncoder::Finish(std::uint8_t* out) {
  std::uint8_t buf[32] = {};
  mh::BitWriter w(buf, acc_, count_);
  if (coding_ == TFaxCoding::MMR) {
    w.Put(mh::kEolBits | (mh::kEolBits << mh::kEolLength), 2 * mh::kEolLength);  // EOFB
  } else {
    for (int i = 0; i < 6; ++i) w.Put(mh::kEolBits | (1u << mh::kEolLength), mh::kEolLength + 1);  // RTC
  }
  std::size_t n = w.Bytes() + (w.PendingCount() ? 1 : 0);
  w.Finish();
  std::memcpy(out, buf, n);
  acc_ = 0;
  count_ = 0;
  lines_ = 0;
  std::fill(refRuns_.begin(), refRuns_.end(), width_);
  return n;
}

std::vector<std::uint8_t> EncodePage2d(TFaxCoding coding, const std::uint8_t* raster, unsigned lines,
                                       unsigned widthPixels, unsigned k, unsigned minLineBits) {
  T2dEncoder enc(coding, widthPixels, k, minLineBits);
  std::vector<std::uint8_t> out;
  std::vector<std::uint8_t> buf(enc.MaxLineBytes());
  const unsigned stride = widthPixels / 8;
  for (unsigned y = 0; y < lines; ++y) {
    std::size_t n = enc.EncodeLine(raster + std::size_t{y} * stride, buf.data());
    out.insert(out.end(), buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(n));
  }
  std::size_t n = enc.Finish(buf.data());
  out.insert(out.end(), buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(n));
  return out;
}

std::vector<std::uint8_t> TranscodeMhPage(const std::uint8_t* data, std::size_t size, bool lineRecords,
                                          unsigned widthPixels, TFaxCoding coding, unsigned k, unsigned minLineBits,
                                          TMhDecodeStats* mhStats) {
  TMhPageDecoder dec(data, size, lineRecords, widthPixels);
  T2dEncoder enc(coding, dec.WidthPixels(), k, minLineBits);
  std::vector<std::uint8_t> out;
  std::vector<std::uint8_t> buf(enc.MaxLineBytes());
  std::uint8_t line[kMaxLineWidthBytes];
  while (dec.NextLine(line)) {
    std::size_t n = enc.EncodeLine(line, buf.data());
    out.insert(out.end(), buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(n));
  }
  std::size_t n = enc.Finish(buf.data());
  out.insert(out.end(), buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(n));
  if (mhStats) *mhStats = dec.Stats();
  return out;
}

}  // namespace fe
