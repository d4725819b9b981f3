// Encodes and decodes the same fine-resolution pages with our Modified Huffman
// coder and with libtiff's CCITT Group 3 one-dimensional coder (in memory), and
// prints both throughputs. Last line: "ratio encode=X decode=Y" (ours / libtiff,
// above 1 = we are faster).
#include <tiffio.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "bench_codec.h"
#include "mh_codec.h"

namespace {

constexpr unsigned kWidth = 1728, kStride = kWidth / 8, kHeight = 2200;  // A4 at fine resolution

struct Page {
  std::string name;
  std::vector<std::uint8_t> bits;  // kHeight rows of kStride bytes
};

void Set(Page& p, unsigned x, unsigned y) {
  p.bits[y * kStride + x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
}

// A business letter: lines of word-like strokes of glyph height, wide margins.
Page Letter() {
  Page p{"letter", std::vector<std::uint8_t>(kStride * kHeight)};
  std::mt19937 rng(1);
  for (unsigned row = 200; row + 40 < kHeight - 200; row += 56) {
    unsigned x = 150, end = kWidth - 150 - rng() % 400;
    while (x < end) {
      unsigned word = 40 + rng() % 160;
      for (unsigned y = row; y < row + 32; ++y)
        for (unsigned gx = x; gx < std::min(x + word, end); gx += 9 + rng() % 5) {
          unsigned w = 2 + rng() % 3;
          if (rng() % 4)
            for (unsigned i = 0; i < w; ++i) Set(p, gx + i, y);
        }
      x += word + 20;
    }
  }
  return p;
}

// A photo, dithered by error diffusion: dense, short runs.
Page Photo() {
  Page p{"photo", std::vector<std::uint8_t>(kStride * kHeight)};
  std::vector<float> cur(kWidth + 2), next(kWidth + 2);
  for (unsigned y = 0; y < kHeight; ++y) {
    std::fill(next.begin(), next.end(), 0.0f);
    for (unsigned x = 0; x < kWidth; ++x) {
      double fx = double(x) / kWidth, fy = double(y) / kHeight;
      float v =
          static_cast<float>(0.5 + 0.4 * std::sin(fx * 11 + std::cos(fy * 9)) * std::cos(fy * 6 - fx * 4)) + cur[x + 1];
      float out = v > 0.5f ? 1.0f : 0.0f;
      if (out < 0.5f) Set(p, x, y);
      float e = v - out;
      cur[x + 2] += e * 7 / 16;
      next[x] += e * 3 / 16;
      next[x + 1] += e * 5 / 16;
      next[x + 2] += e / 16;
    }
    std::swap(cur, next);
  }
  return p;
}

// A form: ruled boxes and a few text lines, mostly white.
Page Form() {
  Page p{"form", std::vector<std::uint8_t>(kStride * kHeight)};
  for (unsigned y = 150; y < kHeight - 150; ++y) {
    bool rule = (y % 180) < 3;
    for (unsigned x = 120; x < kWidth - 120; ++x)
      if (rule || x % 400 < 3 || ((y % 180) > 60 && (y % 180) < 90 && x % 400 > 40 && x % 400 < 300 && x % 7 < 3))
        Set(p, x, y);
  }
  return p;
}

using qn::bench::BestOfAlternating;
using qn::bench::MemFile;
using qn::bench::OpenMem;

void LibtiffEncode(const Page& p, MemFile* f) {
  f->data.clear();
  TIFF* tif = OpenMem(f, "w");
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kWidth);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kHeight);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
  TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, 0);  // one-dimensional
  TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, kHeight);
  TIFFWriteEncodedStrip(tif, 0, const_cast<std::uint8_t*>(p.bits.data()), static_cast<tmsize_t>(p.bits.size()));
  TIFFClose(tif);
}

std::vector<std::uint8_t> RawStrip(MemFile* f) {
  TIFF* tif = OpenMem(f, "r");
  std::vector<std::uint8_t> raw(static_cast<std::size_t>(TIFFRawStripSize(tif, 0)));
  raw.resize(static_cast<std::size_t>(TIFFReadRawStrip(tif, 0, raw.data(), static_cast<tmsize_t>(raw.size()))));
  TIFFClose(tif);
  return raw;
}

// ---- ours ----
std::size_t OursEncode(const Page& p, std::vector<std::uint8_t>* out) {
  out->resize(kHeight * (fe::kMaxCodedLine + 2));
  std::uint8_t* o = out->data();
  for (unsigned y = 0; y < kHeight; ++y) {
    std::size_t n = fe::MhEncodeLine(p.bits.data() + y * kStride, kWidth, kWidth, false, o + 2);
    o[0] = static_cast<std::uint8_t>(n);
    o[1] = static_cast<std::uint8_t>(n >> 8);
    o += n + 2;
  }
  return static_cast<std::size_t>(o - out->data());
}

unsigned OursDecode(const std::vector<std::uint8_t>& stream, std::vector<std::uint8_t>* raster) {
  fe::TMhPageDecoder dec(stream.data(), stream.size(), false, kWidth);
  unsigned y = 0;
  while (y < kHeight && dec.NextLine(raster->data() + y * kStride)) ++y;
  return y;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
  const int reps = 3;  // page set passes per timed round
  TIFFSetWarningHandler(nullptr);
  std::vector<Page> pages = {Letter(), Photo(), Form()};
  std::vector<MemFile> tiffs(pages.size());
  std::vector<std::vector<std::uint8_t>> strips, ours(pages.size());
  double mpix = 0;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    LibtiffEncode(pages[i], &tiffs[i]);
    strips.push_back(RawStrip(&tiffs[i]));
    mpix += double(kWidth) * kHeight / 1e6;
    // Both decoders must agree with the source before anything is timed.
    std::vector<std::uint8_t> raster(kStride * kHeight), lt(kStride * kHeight);
    if (OursDecode(strips[i], &raster) != kHeight || raster != pages[i].bits) {
      std::fprintf(stderr, "our decoder disagrees on %s\n", pages[i].name.c_str());
      return 1;
    }
    TIFF* tif = OpenMem(&tiffs[i], "r");
    TIFFReadEncodedStrip(tif, 0, lt.data(), static_cast<tmsize_t>(lt.size()));
    TIFFClose(tif);
    if (lt != pages[i].bits) {
      std::fprintf(stderr, "libtiff disagrees on %s\n", pages[i].name.c_str());
      return 1;
    }
    std::size_t n = OursEncode(pages[i], &ours[i]);
    std::printf("page %-7s  %ux%u  ours %7zu bytes  libtiff %7zu bytes\n", pages[i].name.c_str(), kWidth, kHeight, n,
                strips[i].size());
  }
  mpix *= reps;

  // Each page measured on its own (alternating ours and libtiff); the totals are
  // the sums of the best times.
  std::vector<std::uint8_t> buf, raster(kStride * kHeight);
  MemFile scratch;
  double oursEnc = 0, tiffEnc = 0, oursDec = 0, tiffDec = 0;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    const Page& p = pages[i];
    auto [oe, te] = BestOfAlternating(
        [&] {
          for (int r = 0; r < reps; ++r) OursEncode(p, &buf);
        },
        [&] {
          for (int r = 0; r < reps; ++r) LibtiffEncode(p, &scratch);
        },
        rounds);
    TIFF* tif = OpenMem(&tiffs[i], "r");
    auto [od, td] = BestOfAlternating(
        [&] {
          for (int r = 0; r < reps; ++r) OursDecode(strips[i], &raster);
        },
        [&] {
          for (int r = 0; r < reps; ++r)
            TIFFReadEncodedStrip(tif, 0, raster.data(), static_cast<tmsize_t>(raster.size()));
        },
        rounds);
    TIFFClose(tif);
    std::printf("page %-7s  encode ours/libtiff %.2f  decode ours/libtiff %.2f\n", p.name.c_str(), te / oe, td / od);
    oursEnc += oe;
    tiffEnc += te;
    oursDec += od;
    tiffDec += td;
  }

  std::printf("encode  ours %8.1f Mpixel/s  libtiff %8.1f Mpixel/s\n", mpix / oursEnc, mpix / tiffEnc);
  std::printf("decode  ours %8.1f Mpixel/s  libtiff %8.1f Mpixel/s\n", mpix / oursDec, mpix / tiffDec);
  std::printf("ratio encode=%.2f decode=%.2f\n", tiffEnc / oursEnc, tiffDec / oursDec);
  return 0;
}
