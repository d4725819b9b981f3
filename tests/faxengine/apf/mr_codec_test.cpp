// MR and MMR coding: round trips on document pages and on the awkward cases
// (lines ending in a colour change, very long runs, wide and blank pages), the
// layout of the MR stream (tags, fill, RTC), where decoding stops, and how
// damaged or cut-off input is reported.
#include "mr_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "apf_format.h"
#include "document_pages.h"
#include "test_pages.h"

namespace fe {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Decoded {
  TRasterImage img;
  std::vector<bool> bad;
  T2dDecodeStats stats;
  std::size_t consumed = 0;
};

Decoded Decode(const Bytes& stream, TFaxCoding coding, unsigned width) {
  Decoded d;
  d.img.resize(width, 0);
  T2dPageDecoder dec(stream.data(), stream.size(), coding, width);
  Bytes line(width / 8);
  while (dec.NextLine(line.data())) {
    d.img.bits.insert(d.img.bits.end(), line.begin(), line.end());
    d.bad.push_back(dec.LastLineBad());
    ++d.img.height;
  }
  d.stats = dec.Stats();
  d.consumed = dec.Consumed();
  return d;
}

Bytes Encode(const TRasterImage& img, TFaxCoding coding, unsigned k = 4, unsigned minLineBits = 0) {
  return EncodePage2d(coding, img.bits.data(), img.height, img.width, k, minLineBits);
}

struct Variant {
  const char* name;
  TFaxCoding coding;
  unsigned k;
};
const Variant kVariants[] = {{"MR K=2", TFaxCoding::MR, 2}, {"MR K=4", TFaxCoding::MR, 4}, {"MMR", TFaxCoding::MMR, 0}};

void ExpectRoundTrip(const TRasterImage& img, const std::string& what) {
  for (const Variant& v : kVariants) {
    Bytes stream = Encode(img, v.coding, v.k);
    Decoded d = Decode(stream, v.coding, img.width);
    EXPECT_TRUE(d.stats.clean()) << what << " " << v.name;
    EXPECT_EQ(v.coding == TFaxCoding::MMR ? d.stats.eofb : d.stats.rtc, true) << what << " " << v.name;
    EXPECT_EQ(d.consumed, stream.size()) << what << " " << v.name;
    ASSERT_EQ(d.img.height, img.height) << what << " " << v.name;
    for (unsigned y = 0; y < img.height; ++y)
      ASSERT_TRUE(std::equal(img.row(y), img.row(y) + img.stride(), d.img.row(y)))
          << what << " " << v.name << " row " << y;
  }
}

void Set(TRasterImage& img, unsigned x, unsigned y) {
  img.row(y)[x / 8] |= static_cast<std::uint8_t>(0x80u >> (x % 8));
}
void Span(TRasterImage& img, unsigned from, unsigned to, unsigned y) {
  for (unsigned x = from; x < to; ++x) Set(img, x, y);
}

TEST(MrCodec, DocumentPagesRoundTripAtBothWidths) {
  const std::string text = testing::SampleText();
  ASSERT_GT(text.size(), 10000u);
  for (unsigned width : {kStandardWidth, kWideWidth}) {
    ExpectRoundTrip(testing::TextPage(text, width, 2200, true), "text");
    ExpectRoundTrip(testing::FormPage(width, 1100, false), "form");
    ExpectRoundTrip(testing::HalftonePage(width, 600, true), "halftone");
    ExpectRoundTrip(testing::DitheredPhoto(width, 300), "photo");
    ExpectRoundTrip(testing::BlackStartPage(width, 80), "black start");
    ExpectRoundTrip(testing::CheckerPage(width, 40), "checker");
    ExpectRoundTrip(testing::NoisePage(width, 60, 3), "noise");
    ExpectRoundTrip(testing::BlankPage(width, 50), "blank");
  }
}

TEST(MrCodec, TwoDimensionalCodingShrinksText) {
  // A coder that fell back to horizontal mode everywhere would still round-trip.
  TRasterImage page = testing::TextPage(testing::SampleText(), kStandardWidth, 2200, true);
  std::size_t mh = Encode(page, TFaxCoding::MR, 1).size();  // every line 1-D
  std::size_t mr = Encode(page, TFaxCoding::MR, 4).size(), mmr = Encode(page, TFaxCoding::MMR).size();
  EXPECT_LT(mr * 13, mh * 10) << mh << " " << mr;
  EXPECT_LT(mmr * 17, mh * 10) << mh << " " << mmr;
}

TEST(MrCodec, LinesEndingInAColourChange) {
  // Every pair of a reference line and a line whose last changes fall on the
  // last few pixels, so that b1/b2 land on the line end.
  for (unsigned width : {kStandardWidth, kWideWidth}) {
    TRasterImage img;
    std::vector<unsigned> ends = {1, 2, 3, 4, 5, 7, 8, 9, 64, 65};
    img.resize(width, static_cast<unsigned>(ends.size() * ends.size() * 2));
    unsigned y = 0;
    for (unsigned a : ends)
      for (unsigned b : ends) {
        Span(img, width - a, width, y);              // black to the end
        Span(img, width - b, width - b / 2, y + 1);  // black, then white to the end
        Set(img, width - 1, y + 1);
        y += 2;
      }
    ExpectRoundTrip(img, "ends");
  }
}

TEST(MrCodec, RunsLongerThanTheLargestMakeUpCode) {
  const unsigned width = kMax2dLineWidth;
  TRasterImage img;
  img.resize(width, 8);
  Span(img, 0, width, 0);     // one black run of 4864
  Span(img, 2600, width, 1);  // white 2600, black 2264
  Span(img, 0, 2561, 2);      // black 2561
  Span(img, 2560, 2561, 3);   // white 2560, one black pixel, white 2303
  Span(img, 5, 5 + 2600, 4);
  Span(img, 0, 1, 6);
  Set(img, width - 1, 6);
  ExpectRoundTrip(img, "long runs");
}

// Bits of a stream, first bit first.
std::vector<int> Bits(const Bytes& s) {
  std::vector<int> bits;
  for (std::uint8_t b : s)
    for (int i = 0; i < 8; ++i) bits.push_back((b >> i) & 1);
  return bits;
}

// Positions just past each EOL (eleven or more zeros and a one).
std::vector<std::size_t> EolEnds(const std::vector<int>& bits) {
  std::vector<std::size_t> ends;
  unsigned zeros = 0;
  for (std::size_t i = 0; i < bits.size(); ++i) {
    if (bits[i]) {
      if (zeros >= 11) ends.push_back(i + 1);
      zeros = 0;
    } else {
      ++zeros;
    }
  }
  return ends;
}

TEST(MrCodec, MrStreamLayoutTagsFillAndRtc) {
  TRasterImage page = testing::FormPage(kStandardWidth, 300, false);
  for (unsigned k : {2u, 4u}) {
    for (unsigned minBits : {0u, 8u * 60}) {
      Bytes stream = Encode(page, TFaxCoding::MR, k, minBits);
      std::vector<int> bits = Bits(stream);
      std::vector<std::size_t> eols = EolEnds(bits);
      ASSERT_EQ(eols.size(), page.height + 6);
      // The first EOL opens the stream: no fill before the page.
      EXPECT_EQ(eols[0], 12u);
      // The bit right after each EOL is its tag: 1 for every k-th line, and RTC
      // is six EOL+1 (no fill between an EOL and its tag).
      for (std::size_t i = 0; i < eols.size(); ++i) {
        int expected = i >= page.height ? 1 : (i % k == 0);
        ASSERT_EQ(bits[eols[i]], expected) << "line " << i << " k " << k << " fill " << minBits;
      }
      for (std::size_t i = page.height; i + 1 < eols.size(); ++i) EXPECT_EQ(eols[i + 1] - eols[i], 13u);
      // Nothing but zero padding after RTC.
      EXPECT_LT(bits.size() - (eols.back() + 1), 8u);
      // With a minimum, every line from its EOL to the next EOL fills it.
      for (std::size_t i = 0; minBits && i < page.height; ++i) EXPECT_GE(eols[i + 1] - eols[i], minBits);
      Decoded d = Decode(stream, TFaxCoding::MR, kStandardWidth);
      EXPECT_TRUE(d.stats.clean());
      EXPECT_EQ(d.img.bits, page.bits);
    }
  }
}

TEST(MrCodec, RtcWithTwoDimensionalTagsStillEndsThePage) {
  // Some coders end MR pages with six EOL+0; the page must end there all the same.
  TRasterImage page = testing::FormPage(kStandardWidth, 300, false);
  Bytes stream = Encode(page, TFaxCoding::MR, 4);
  std::vector<int> bits = Bits(stream);
  std::vector<std::size_t> eols = EolEnds(bits);
  ASSERT_EQ(eols.size(), page.height + 6);
  for (std::size_t i = page.height; i < eols.size(); ++i)
    stream[eols[i] / 8] &= static_cast<std::uint8_t>(~(1u << (eols[i] % 8)));
  stream.insert(stream.end(), 20, 0xAA);
  Decoded d = Decode(stream, TFaxCoding::MR, kStandardWidth);
  EXPECT_TRUE(d.stats.rtc);
  EXPECT_TRUE(d.stats.clean());
  EXPECT_EQ(d.img.bits, page.bits);
}

TEST(MrCodec, DecoderFollowsTagsWhateverK) {
  TRasterImage page = testing::TextPage(testing::SampleText(), kStandardWidth, 400, false);
  for (unsigned k : {1u, 3u, 1000u}) {
    Decoded d = Decode(Encode(page, TFaxCoding::MR, k), TFaxCoding::MR, kStandardWidth);
    EXPECT_TRUE(d.stats.clean()) << k;
    EXPECT_EQ(d.img.bits, page.bits) << k;
  }
}

TEST(MrCodec, DecodingStopsAtRtcAndEofb) {
  TRasterImage page = testing::HalftonePage(kStandardWidth, 120, false);
  for (const Variant& v : kVariants) {
    Bytes stream = Encode(page, v.coding, v.k);
    std::size_t size = stream.size();
    // What follows (ECM frame padding, another page, noise) is not read.
    for (std::uint8_t tail : {std::uint8_t{0x00}, std::uint8_t{0xFF}, std::uint8_t{0x80}}) {
      Bytes padded = stream;
      padded.insert(padded.end(), 300, tail);
      Bytes second = Encode(page, v.coding, v.k);
      padded.insert(padded.end(), second.begin(), second.end());
      Decoded d = Decode(padded, v.coding, kStandardWidth);
      EXPECT_EQ(d.img.height, page.height) << v.name;
      EXPECT_EQ(d.img.bits, page.bits) << v.name;
      EXPECT_TRUE(d.stats.clean()) << v.name;
      EXPECT_EQ(d.consumed, size) << v.name;
    }
    // Without its end the page is complete but reported as cut short.
    Bytes cut(stream.begin(), stream.end() - 4);
    Decoded d = Decode(cut, v.coding, kStandardWidth);
    EXPECT_TRUE(d.stats.truncated) << v.name;
    EXPECT_FALSE(d.stats.rtc || d.stats.eofb) << v.name;
  }
}

TEST(MrCodec, DamagedMrRecoversAtTheNextOneDimensionalLine) {
  TRasterImage page = testing::TextPage(testing::SampleText(), kStandardWidth, 1000, true);
  Bytes stream = Encode(page, TFaxCoding::MR, 4);
  std::mt19937 rng(5);
  unsigned detected = 0;
  for (int trial = 0; trial < 40; ++trial) {
    Bytes bad = stream;
    std::size_t at = stream.size() / 4 + rng() % (stream.size() / 2);
    bad[at] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
    Decoded d = Decode(bad, TFaxCoding::MR, kStandardWidth);
    ASSERT_EQ(d.bad.size(), d.img.height);
    if (d.stats.badLines) ++detected;
    // One flipped bit may split or merge a line at most; the stream resyncs.
    EXPECT_NEAR(static_cast<int>(d.img.height), static_cast<int>(page.height), 2) << trial;
    if (d.img.height != page.height) continue;
    // A bad line spoils the 2-D lines after it: every one of them is reported,
    // and from the next good 1-D line on the page is as sent.
    unsigned lastBad = 0;
    for (unsigned y = 0; y < page.height; ++y)
      if (d.bad[y]) lastBad = y;
    for (unsigned y = lastBad + 1; y < page.height && d.stats.badLines; ++y)
      if (y % 4 == 0) {
        for (unsigned z = y; z < page.height; ++z)
          ASSERT_TRUE(std::equal(page.row(z), page.row(z) + page.stride(), d.img.row(z))) << trial << " row " << z;
        break;
      }
    // A bad line repeats the last good line.
    for (unsigned y = 1; y < page.height; ++y)
      if (d.bad[y] && !d.bad[y - 1]) {
        EXPECT_TRUE(std::equal(d.img.row(y), d.img.row(y) + page.stride(), d.img.row(y - 1)));
      }
  }
  EXPECT_GT(detected, 30u);
}

TEST(MrCodec, DamagedOrCutMmrEndsThePageWithoutReadingOutside) {
  TRasterImage page = testing::FormPage(kStandardWidth, 400, true);
  Bytes stream = Encode(page, TFaxCoding::MMR);
  // Every prefix decodes to a prefix of the page; the decoder reads only inside
  // the buffer (checked by the sanitizer build on an exact-size copy).
  for (std::size_t n = 0; n < stream.size(); n += 1 + n / 16) {
    Bytes cut(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(n));
    Decoded d = Decode(cut, TFaxCoding::MMR, kStandardWidth);
    EXPECT_TRUE(d.stats.truncated || d.stats.badLines) << n;
    EXPECT_FALSE(d.stats.eofb) << n;
    ASSERT_LE(d.img.height, page.height);
    EXPECT_TRUE(std::equal(d.img.bits.begin(), d.img.bits.end(), page.bits.begin())) << n;
  }
  std::mt19937 rng(9);
  for (int trial = 0; trial < 50; ++trial) {
    Bytes bad = stream;
    bad[rng() % bad.size()] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
    Decoded d = Decode(bad, TFaxCoding::MMR, kStandardWidth);
    // A damaged MMR page never ends as if it were whole and emits no bad copies.
    EXPECT_TRUE(d.stats.eofb || d.stats.truncated || d.stats.badLines) << trial;
    EXPECT_EQ(std::count(d.bad.begin(), d.bad.end(), true), 0);
  }
  // Random bytes of every kind and length, both codings.
  for (int trial = 0; trial < 300; ++trial) {
    Bytes junk(rng() % 200);
    for (auto& b : junk) b = static_cast<std::uint8_t>(rng() % 4 ? rng() : 0);
    for (TFaxCoding c : {TFaxCoding::MR, TFaxCoding::MMR}) {
      Decoded d = Decode(junk, c, trial % 2 ? kWideWidth : kStandardWidth);
      EXPECT_LE(d.consumed, junk.size());
    }
  }
}

TEST(MrCodec, MhPagesTranscodeBothWays) {
  // APF line records (as the converter stores pages) to MR and MMR and back to
  // line records, with the text of the page unchanged.
  TRasterImage page = testing::TextPage(testing::SampleText(), kWideWidth, 700, true);
  Bytes records;
  std::uint8_t coded[kMaxCodedLine];
  for (unsigned y = 0; y < page.height; ++y) {
    std::size_t n = MhEncodeLine(page.row(y), kWideWidth, kWideWidth, false, coded);
    records.push_back(static_cast<std::uint8_t>(n));
    records.push_back(static_cast<std::uint8_t>(n >> 8));
    records.insert(records.end(), coded, coded + n);
  }
  std::size_t rtc = MhEncodeRtc(coded);
  records.push_back(static_cast<std::uint8_t>(rtc));
  records.push_back(0);
  records.insert(records.end(), coded, coded + rtc);
  for (const Variant& v : kVariants) {
    TMhDecodeStats mhStats;
    Bytes stream = TranscodeMhPage(records.data(), records.size(), true, kWideWidth, v.coding, v.k, 0, &mhStats);
    EXPECT_TRUE(mhStats.rtc && mhStats.clean());
    Bytes back;
    T2dDecodeStats st = DecodePage2dToMhRecords(stream.data(), stream.size(), v.coding, kWideWidth, back);
    EXPECT_TRUE(st.clean()) << v.name;
    EXPECT_EQ(st.lines, page.height) << v.name;
    EXPECT_EQ(back, records) << v.name;  // the same coder, so the same records
  }
}

}  // namespace
}  // namespace fe
