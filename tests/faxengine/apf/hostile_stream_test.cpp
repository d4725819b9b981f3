// Hand-built code streams that no honest coder makes: runs that grow without end
// through make-up codes, and 2-D codes that do not move the line forward. Each
// must end as a bad line that the decoders count and step over, never as a
// position past the line or a change list longer than the line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "apf_format.h"
#include "mh_codec.h"
#include "mh_tables.h"
#include "mr_codec.h"

namespace fe {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Codes in stream order, each byte filled from its least significant bit.
class Stream {
 public:
  void Put(std::uint32_t streamBits, unsigned length) {
    for (unsigned i = 0; i < length; ++i) {
      if (count_ % 8 == 0) bytes_.push_back(0);
      if ((streamBits >> i) & 1u) bytes_.back() |= static_cast<std::uint8_t>(1u << (count_ % 8));
      ++count_;
    }
  }
  void Code(mh::TCode c) { Put(mh::Reverse(c.bits, c.length), c.length); }
  void Eol() { Put(mh::kEolBits, mh::kEolLength); }
  void Tag(bool oneD) { Put(oneD ? 1u : 0u, 1); }
  void Run(unsigned colour, unsigned run) {
    for (; run > mh::kMaxRun; run -= mh::kMaxRun) Code(mh::kMakeup2560);
    const mh::TRunCode& rc = mh::RunCodes()[run * 2 + colour];
    Put(rc.bits, rc.length);
  }
  // White make-up codes of 2560 pixels, `times` of them (a run that never ends).
  void EndlessMakeUp(std::size_t times) {
    for (std::size_t i = 0; i < times; ++i) Code(mh::kMakeup2560);
  }
  // A 1-D line of alternating runs starting with white; the rest of the width white.
  void Line1d(std::initializer_list<unsigned> runs, unsigned width = kStandardWidth) {
    unsigned colour = 0, used = 0;
    for (unsigned r : runs) {
      Run(colour, r);
      used += r;
      colour ^= 1;
    }
    if (used < width) {
      if (colour) Run(1, 0);
      Run(0, width - used);
    }
  }
  void Vertical(int d) { Code(mh::kVerticalCodes[d + 3]); }
  void Rtc(bool tags) {
    for (int i = 0; i < 6; ++i) {
      Eol();
      if (tags) Tag(true);
    }
  }
  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
  std::size_t count_ = 0;
};

struct Result {
  std::vector<Bytes> rows;
  std::vector<bool> bad;
  T2dDecodeStats stats;
};

Result Decode2d(const Bytes& s, TFaxCoding coding) {
  Result r;
  T2dPageDecoder dec(s.data(), s.size(), coding, kStandardWidth);
  Bytes line(dec.WidthBytes());
  while (dec.NextLine(line.data())) {
    r.rows.push_back(line);
    r.bad.push_back(dec.LastLineBad());
  }
  r.stats = dec.Stats();
  EXPECT_LE(dec.Consumed(), s.size());
  return r;
}

bool IsWhite(const Bytes& row) {
  return std::all_of(row.begin(), row.end(), [](std::uint8_t b) { return b == 0; });
}

// About 1.3 MB of make-up codes push a run past 2^31 pixels, 2.6 MB past 2^32:
// enough that a sum without a cap wraps into a negative or small position.
constexpr std::size_t kPast2To31 = 900'000;
constexpr std::size_t kPast2To32 = 1'700'000;

TEST(HostileStream, EndlessMakeUpCodesMakeABadLine) {
  // MR: a white 1-D line, then a 2-D line whose horizontal mode opens a white run
  // of billions of pixels, then a good 1-D line and RTC.
  {
    Stream s;
    s.Eol(), s.Tag(true), s.Line1d({});
    s.Eol(), s.Tag(false), s.Code(mh::kHorizontalCode), s.EndlessMakeUp(kPast2To31), s.Run(0, 0), s.Run(1, 5);
    s.Eol(), s.Tag(true), s.Line1d({200, 8});
    s.Rtc(true);
    Result r = Decode2d(s.bytes(), TFaxCoding::MR);
    ASSERT_EQ(r.rows.size(), 3u);
    EXPECT_EQ(r.bad, (std::vector<bool>{false, true, false}));
    EXPECT_EQ(r.stats.badLines, 1u);
    EXPECT_TRUE(IsWhite(r.rows[1]));  // the last good line stands in for it
    EXPECT_EQ(r.rows[2][200 / 8], 0xFF);
    EXPECT_TRUE(r.stats.rtc);
  }
  // MR, 1-D line: a white run that would wrap an unsigned position.
  {
    Stream s;
    s.Eol(), s.Tag(true), s.EndlessMakeUp(kPast2To32), s.Run(0, 0), s.Run(1, 3);
    s.Eol(), s.Tag(true), s.Line1d({16, 8});
    s.Rtc(true);
    Result r = Decode2d(s.bytes(), TFaxCoding::MR);
    ASSERT_EQ(r.rows.size(), 2u);
    EXPECT_EQ(r.bad, (std::vector<bool>{true, false}));
    EXPECT_EQ(r.stats.longLines, 0u);
    EXPECT_EQ(r.rows[1][2], 0xFF);
    EXPECT_TRUE(r.stats.rtc);
  }
  // MMR: the first line's horizontal mode does the same; a bad MMR line ends the page.
  {
    Stream s;
    s.Code(mh::kHorizontalCode), s.EndlessMakeUp(kPast2To31), s.Run(0, 0), s.Run(1, 5);
    s.Eol(), s.Eol();
    Result r = Decode2d(s.bytes(), TFaxCoding::MMR);
    EXPECT_TRUE(r.rows.empty());
    EXPECT_EQ(r.stats.badLines, 1u);
    EXPECT_FALSE(r.stats.eofb);
  }
  // MH shares the cap: the run is a bad line, not a long one, and the next line reads.
  {
    Stream s;
    s.Eol(), s.EndlessMakeUp(kPast2To32), s.Run(0, 0), s.Run(1, 3);
    s.Eol(), s.Line1d({16, 8});
    s.Rtc(false);
    TMhPageDecoder dec(s.bytes().data(), s.bytes().size(), false, kStandardWidth);
    std::uint8_t line[kMaxLineWidth / 8];
    std::vector<Bytes> rows;
    while (dec.NextLine(line)) rows.emplace_back(line, line + kStandardWidth / 8);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(dec.Stats().badLines, 1u);
    EXPECT_EQ(dec.Stats().longLines, 0u);
    EXPECT_EQ(rows[1][2], 0xFF);
    EXPECT_TRUE(dec.Stats().rtc);
  }
}

TEST(HostileStream, RunsJustInsideAndJustPastTheLine) {
  // A horizontal-mode pair that ends exactly at the line's end is good; one pixel
  // more is a bad line, whether the first run or the second overshoots.
  struct Case {
    unsigned white, black;
    bool bad;
  };
  for (Case c :
       {Case{kStandardWidth - 10, 10, false}, Case{kStandardWidth + 1, 0, true}, Case{kStandardWidth - 10, 11, true}}) {
    Stream s;
    s.Eol(), s.Tag(true), s.Line1d({});
    s.Eol(), s.Tag(false), s.Code(mh::kHorizontalCode), s.Run(0, c.white), s.Run(1, c.black);
    s.Rtc(true);
    Result r = Decode2d(s.bytes(), TFaxCoding::MR);
    ASSERT_EQ(r.rows.size(), 2u) << c.white << "+" << c.black;
    EXPECT_EQ(r.bad[1], c.bad) << c.white << "+" << c.black;
    EXPECT_EQ(r.rows[1][kStandardWidth / 8 - 1], c.bad ? 0x00 : 0xFF) << c.white << "+" << c.black;
  }
}

TEST(HostileStream, CodesThatDoNotMoveForwardMakeTheLineBad) {
  // Reference line: black at 100-101 and 105-106. On the next line, V0 puts a0
  // on 100 (now black) and b1 is 102: VL2 lands on a0 itself. Or pass mode moves
  // a0 to b2 = 102 and b1 becomes 105: VL3 lands on a0. Neither moves forward.
  struct Case {
    const char* name;
    void (*codes)(Stream&);
  };
  const Case cases[] = {
      {"vertical onto a0", [](Stream& s) { s.Vertical(0), s.Vertical(-2); }},
      {"pass, then vertical onto a0", [](Stream& s) { s.Code(mh::kPassCode), s.Vertical(-3); }},
  };
  for (const Case& c : cases) {
    // MR: the bad 2-D line is counted and replaced by the line before it; the
    // 1-D line after it decodes as sent.
    Stream s;
    s.Eol(), s.Tag(true), s.Line1d({100, 2, 3, 2});
    s.Eol(), s.Tag(false), c.codes(s), s.Vertical(0), s.Vertical(0), s.Vertical(0);
    s.Eol(), s.Tag(true), s.Line1d({8, 8});
    s.Rtc(true);
    Result r = Decode2d(s.bytes(), TFaxCoding::MR);
    ASSERT_EQ(r.rows.size(), 3u) << c.name;
    EXPECT_EQ(r.bad, (std::vector<bool>{false, true, false})) << c.name;
    EXPECT_EQ(r.stats.badLines, 1u) << c.name;
    EXPECT_EQ(r.rows[1], r.rows[0]) << c.name;
    EXPECT_EQ(r.rows[0][100 / 8], 0x0C) << c.name;  // pixels 100-101
    EXPECT_EQ(r.rows[2][1], 0xFF) << c.name;

    // MMR: the same reference coded in 2-D against white, then the bad line,
    // which ends the page after the good one.
    Stream m;
    m.Code(mh::kHorizontalCode), m.Run(0, 100), m.Run(1, 2);
    m.Code(mh::kHorizontalCode), m.Run(0, 3), m.Run(1, 2);
    m.Vertical(0);
    c.codes(m), m.Vertical(0), m.Vertical(0), m.Vertical(0);
    m.Eol(), m.Eol();
    Result mr = Decode2d(m.bytes(), TFaxCoding::MMR);
    ASSERT_EQ(mr.rows.size(), 1u) << c.name;
    EXPECT_EQ(mr.rows[0], r.rows[0]) << c.name;
    EXPECT_EQ(mr.stats.badLines, 1u) << c.name;
    EXPECT_FALSE(mr.stats.eofb) << c.name;
  }
}

}  // namespace
}  // namespace fe
