// Modified Huffman coding: exact codes, round trips over real-looking pages in both
// page forms, fill bits, doubling, and decoding of damaged data.
#include "mh_codec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>
#include <string>

#include "apf_format.h"
#include "mh_tables.h"
#include "test_pages.h"

namespace fe {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Encodes a page as line records (with length words) or as a raw stream, each
// ending with the return-to-control sequence, as the writer stores them.
Bytes EncodePage(const TRasterImage& img, unsigned width, bool records) {
  Bytes out;
  std::uint8_t coded[kMaxCodedLine];
  auto add = [&](std::size_t n) {
    if (records) {
      out.push_back(static_cast<std::uint8_t>(n));
      out.push_back(static_cast<std::uint8_t>(n >> 8));
    }
    out.insert(out.end(), coded, coded + n);
  };
  for (unsigned y = 0; y < img.height; ++y) add(MhEncodeLine(img.row(y), img.width, width, false, coded));
  add(MhEncodeRtc(coded));
  return out;
}

TRasterImage DecodeAll(const Bytes& data, bool records, unsigned width, TMhDecodeStats* stats = nullptr) {
  TRasterImage img;
  img.width = width;
  TMhDecodeStats st = MhDecodePage(data.data(), data.size(), records, width, [&](const std::uint8_t* line, unsigned n) {
    img.bits.insert(img.bits.end(), line, line + n);
    ++img.height;
    return true;
  });
  if (stats) *stats = st;
  return img;
}

std::string Printed(const mh::TCode& c) {
  std::string s;
  for (int i = c.length - 1; i >= 0; --i) s += ((c.bits >> i) & 1) ? '1' : '0';
  return s;
}

TEST(ApfCodec, CodeTablesArePrefixFreeAndFillTheCodeSpace) {
  for (int colour = 0; colour < 2; ++colour) {
    std::vector<std::string> codes{"000000000001"};  // end of line
    const mh::TCode* term = colour ? mh::kBlackTerm : mh::kWhiteTerm;
    const mh::TCode* makeup = colour ? mh::kBlackMakeup : mh::kWhiteMakeup;
    for (int i = 0; i < 64; ++i) codes.push_back(Printed(term[i]));
    for (int i = 0; i < 27; ++i) codes.push_back(Printed(makeup[i]));
    for (int i = 0; i < 13; ++i) codes.push_back(Printed(mh::kExtMakeup[i]));
    double kraft = 0;
    for (std::size_t i = 0; i < codes.size(); ++i) {
      kraft += std::ldexp(1.0, -static_cast<int>(codes[i].size()));
      for (std::size_t j = 0; j < codes.size(); ++j)
        if (i != j) {
          EXPECT_NE(codes[j].rfind(codes[i], 0), 0u) << colour << ": " << codes[i] << " / " << codes[j];
        }
    }
    // Complete: every bit pattern begins with exactly one code, except patterns
    // of eight or more zeros, of which only the end of line is a code.
    EXPECT_DOUBLE_EQ(kraft, 1.0 - std::ldexp(1.0, -8) + std::ldexp(1.0, -12)) << colour;
  }
}

TEST(ApfCodec, LinesAreCodedExactly) {
  std::uint8_t line[256] = {}, out[kMaxCodedLine];
  auto bytes = [&](std::size_t n) { return Bytes(out, out + n); };
  EXPECT_EQ(bytes(MhEncodeLine(line, 1728, 1728, false, out)), (Bytes{0x00, 0x80, 0xB2, 0x59, 0x01, 0x00}));
  // White 2048 is the extended make-up code 2048 and white 0: 16 + 12 + 8 bits.
  EXPECT_EQ(bytes(MhEncodeLine(line, 2048, 2048, false, out)), (Bytes{0x00, 0x80, 0x80, 0xCC, 0x0A, 0x00}));
  // A black first pixel: white 0, black 1, white 1727.
  line[0] = 0x80;
  EXPECT_EQ(bytes(MhEncodeLine(line, 1728, 1728, false, out)), (Bytes{0x00, 0x80, 0xAC, 0x32, 0x58, 0x00, 0x00}));
  // A raster narrower than the page is padded with white, a wider one cut.
  std::uint8_t narrow[1] = {0x80};
  EXPECT_EQ(bytes(MhEncodeLine(narrow, 1, 1728, false, out)), (Bytes{0x00, 0x80, 0xAC, 0x32, 0x58, 0x00, 0x00}));
  std::uint8_t wide[256] = {0x80};
  wide[230] = 0xFF;
  EXPECT_EQ(bytes(MhEncodeLine(wide, 2048, 1728, false, out)), (Bytes{0x00, 0x80, 0xAC, 0x32, 0x58, 0x00, 0x00}));
  EXPECT_EQ(bytes(MhEncodeRtc(out)), (Bytes{0x00, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00}));
}

TEST(ApfCodec, PagesRoundTripInBothForms) {
  struct Case {
    const char* name;
    TRasterImage img;
  };
  for (unsigned width : {kStandardWidth, kWideWidth}) {
    std::vector<Case> cases = {
        {"blank", testing::BlankPage(width, 40)},          {"photo", testing::DitheredPhoto(width, 120)},
        {"strokes", testing::StrokePage(width, 100)},      {"black start", testing::BlackStartPage(width, 60)},
        {"single pixels", testing::CheckerPage(width, 8)}, {"noise", testing::NoisePage(width, 50, width)}};
    for (const auto& c : cases) {
      for (bool records : {true, false}) {
        Bytes data = EncodePage(c.img, width, records);
        TMhDecodeStats st;
        TRasterImage back = DecodeAll(data, records, width, &st);
        EXPECT_EQ(back.height, c.img.height) << c.name << " " << width << " " << records;
        EXPECT_TRUE(back.bits == c.img.bits) << c.name << " " << width << " " << records;
        EXPECT_TRUE(st.clean() && st.rtc) << c.name;
      }
    }
  }
}

// A raw stream with fill bits (zeros) of random lengths before every end of line.
TEST(ApfCodec, RawStreamsWithFillBitsDecode) {
  TRasterImage img = testing::DitheredPhoto(1728, 40);
  std::mt19937 rng(3);
  std::vector<bool> bits;
  auto putBytes = [&](const std::uint8_t* p, std::size_t n, std::size_t skipBits) {
    for (std::size_t i = skipBits; i < n * 8; ++i) bits.push_back((p[i / 8] >> (i % 8)) & 1);
  };
  std::uint8_t coded[kMaxCodedLine];
  for (unsigned y = 0; y < img.height; ++y) {
    std::size_t n = MhEncodeLine(img.row(y), 1728, 1728, false, coded);
    bits.insert(bits.end(), rng() % 200, false);  // fill, then the 12-bit EOL and the codes
    putBytes(coded, n, 4);
  }
  bits.insert(bits.end(), 7, false);
  for (int i = 0; i < 6; ++i) putBytes(Bytes{0x00, 0x08}.data(), 2, 4);
  Bytes data((bits.size() + 7) / 8, 0);
  for (std::size_t i = 0; i < bits.size(); ++i)
    if (bits[i]) data[i / 8] |= static_cast<std::uint8_t>(1u << (i % 8));
  data.insert(data.end(), {0x12, 0x34, 0x56});  // modem chatter after the end of the page
  TMhDecodeStats st;
  TRasterImage back = DecodeAll(data, false, 1728, &st);
  EXPECT_EQ(back.height, img.height);
  EXPECT_TRUE(back.bits == img.bits);
  EXPECT_TRUE(st.clean() && st.rtc);
}

TEST(ApfCodec, DoublingStretchesRunsToTheOutputWidth) {
  TRasterImage half = testing::StrokePage(864, 30);
  std::uint8_t coded[kMaxCodedLine];
  for (unsigned y = 0; y < half.height; ++y) {
    std::size_t n = MhEncodeLine(half.row(y), 864, 1728, true, coded);
    TRasterImage out = DecodeAll(Bytes(coded, coded + n), false, 1728);
    ASSERT_EQ(out.height, 1u);
    for (unsigned x = 0; x < 1728; ++x) {
      bool src = half.row(y)[x / 16] & (0x80 >> ((x / 2) % 8));
      bool got = out.row(0)[x / 8] & (0x80 >> (x % 8));
      ASSERT_EQ(src, got) << y << "," << x;
    }
  }
  // A short input ending black: the last run is stretched to the full width.
  std::uint8_t line[100] = {};
  line[99] = 0x01;  // pixel 799 black, the last of 800
  std::size_t n = MhEncodeLine(line, 800, 1728, true, coded);
  TMhDecodeStats st;
  TRasterImage out = DecodeAll(Bytes(coded, coded + n), false, 1728, &st);
  EXPECT_TRUE(st.clean());
  EXPECT_EQ(out.row(0)[198], 0x00);
  EXPECT_EQ(out.row(0)[199], 0x03);  // black from pixel 1598 (twice 799) to the end
  EXPECT_EQ(out.row(0)[215], 0xFF);
}

TEST(ApfCodec, DamagedDataIsDecodedAsFarAsPossible) {
  TRasterImage img = testing::StrokePage(1728, 24);
  Bytes raw = EncodePage(img, 1728, false);
  TMhDecodeStats st;
  // Eight zero bits and a one are no code: that line is kept as far as decoded
  // (white 4, black 2 here), the others come back intact.
  std::uint8_t coded[kMaxCodedLine];
  Bytes broken;
  for (unsigned y = 0; y < 3; ++y) {
    std::size_t n = MhEncodeLine(img.row(y), 1728, 1728, false, coded);
    if (y == 1) {
      // EOL, white 4 (1011), black 2 (11), then 00000000 1 and junk.
      broken.insert(broken.end(), {0x00, 0x80, 0x3D, 0x40, 0xFF});
      continue;
    }
    broken.insert(broken.end(), coded, coded + n);
  }
  TRasterImage back = DecodeAll(broken, false, 1728, &st);
  ASSERT_EQ(back.height, 3u);
  EXPECT_EQ(st.badLines, 1u);
  EXPECT_TRUE(std::equal(img.row(0), img.row(0) + 216, back.row(0)));
  EXPECT_TRUE(std::equal(img.row(2), img.row(2) + 216, back.row(2)));
  EXPECT_EQ(back.row(1)[0], 0x0C);

  // A line longer than the width is cut at the width.
  std::uint8_t line[256] = {};
  std::size_t n = MhEncodeLine(line, 2048, 2048, false, coded);
  back = DecodeAll(Bytes(coded, coded + n), false, 1728, &st);
  EXPECT_EQ(back.height, 1u);
  EXPECT_EQ(st.longLines, 1u);

  // A record length running past the page, and data cut inside a code.
  Bytes rec = EncodePage(img, 1728, true);
  rec[0] = 0xFF, rec[1] = 0xFF;
  DecodeAll(rec, true, 1728, &st);
  EXPECT_EQ(st.badRecords, 1u);
  Bytes cut(raw.begin(), raw.begin() + 100);
  back = DecodeAll(cut, false, 1728, &st);
  EXPECT_GE(back.height, 1u);
  EXPECT_FALSE(st.rtc);

  // Anything at all: random damage to every form must end cleanly (the sanitizer
  // build checks that nothing is read or written out of bounds).
  std::mt19937 rng(11);
  Bytes recs = EncodePage(testing::DitheredPhoto(2048, 20), 2048, true);
  for (int round = 0; round < 300; ++round) {
    Bytes d = (round % 2) ? recs : raw;
    for (int k = 0; k < 1 + round % 20; ++k) d[rng() % d.size()] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
    d.resize(d.size() - rng() % 50);
    TRasterImage out = DecodeAll(d, round % 3 == 0, (round % 4) ? 1728 : 2048, &st);
    EXPECT_LE(out.height, d.size() * 8 / 13 + 1);
  }
  Bytes noise(4000);
  for (auto& b : noise) b = static_cast<std::uint8_t>(rng());
  for (bool records : {true, false}) DecodeAll(noise, records, 1728);
  DecodeAll(Bytes{}, true, 1728);
  DecodeAll(Bytes{0x05}, true, 1728, &st);
  EXPECT_TRUE(st.truncated);
}

TEST(ApfCodec, IteratorReportsProgressAndStopsAtReturnToControl) {
  TRasterImage img = testing::StrokePage(1728, 10);
  Bytes raw = EncodePage(img, 1728, false);
  std::size_t pageEnd = raw.size();
  raw.insert(raw.end(), raw.begin(), raw.end());  // a second copy after the end of the page
  TMhPageDecoder dec(raw.data(), raw.size(), false, 1728);
  std::uint8_t line[216];
  unsigned lines = 0;
  std::size_t last = 0;
  while (dec.NextLine(line)) {
    EXPECT_GE(dec.Consumed(), last);
    last = dec.Consumed();
    ++lines;
  }
  EXPECT_EQ(lines, 10u);
  EXPECT_TRUE(dec.Stats().rtc);
  EXPECT_LE(dec.Consumed(), pageEnd);
  EXPECT_FALSE(dec.NextLine(line));
}

}  // namespace
}  // namespace fe
