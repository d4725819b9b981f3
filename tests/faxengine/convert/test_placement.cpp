// Where an image lands on the fax line: doubling, halving, centring, margins.
#include <gtest/gtest.h>

#include <QImage>

#include "fe_exceptions.h"
#include "fe_fax_converter.h"
#include "test_util.h"

using namespace fe;

namespace {

// A one-bit image (colour table white, black) with the given black pixels.
QImage MonoImage(int w, int h, const std::vector<std::pair<int, int>>& black) {
  QImage img(w, h, QImage::Format_Mono);
  img.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
  img.fill(0);
  for (auto [x, y] : black) img.setPixel(x, y, 1);
  return img;
}

fe_test::Page Convert(const std::string& name, const QImage& img, unsigned options, unsigned leftMargin,
                      TFaxResolution res = frNormal) {
  const auto dir = fe_test::TempDir("place-" + name);
  TFeFaxConverter c;
  c.Options = options;
  c.LeftMargin = leftMargin;
  c.Resolution = res;
  c.OutFileName = dir / "out.apf";
  c.ConvertBitmapToFile(img);
  EXPECT_EQ(c.InputDocumentType, idNone);  // restored after the bitmap
  auto pages = fe_test::DecodeApf(c.OutputFileName());
  EXPECT_EQ(pages.size(), 1u);
  return pages.at(0);
}

std::vector<unsigned> BlackColumns(const fe_test::Page& p, unsigned y) {
  std::vector<unsigned> xs;
  for (unsigned x = 0; x < p.width; ++x)
    if (p.black(x, y)) xs.push_back(x);
  return xs;
}

}  // namespace

TEST(ImagePlacement, Rules) {
  // Doubling needs standard resolution and room for twice the width after the margin.
  EXPECT_TRUE(PlaceImage(839, 1728, 50, coDoubleWidth, false).doubling);
  EXPECT_FALSE(PlaceImage(840, 1728, 50, coDoubleWidth, false).doubling);
  EXPECT_FALSE(PlaceImage(800, 1728, 0, coDoubleWidth, true).doubling);
  // Halving only at standard resolution and without doubling.
  EXPECT_TRUE(PlaceImage(1000, 1728, 0, coDoubleWidth | coHalfHeight, false).halving);
  EXPECT_FALSE(PlaceImage(800, 1728, 0, coDoubleWidth | coHalfHeight, false).halving);
  EXPECT_FALSE(PlaceImage(1000, 1728, 0, coHalfHeight, true).halving);
  // Centring: a difference of 15 pixels is not centred, 16 is.
  EXPECT_EQ(PlaceImage(1713, 1728, 0, coCenterImage, false).offsetBytes, 0u);
  EXPECT_EQ(PlaceImage(1712, 1728, 0, coCenterImage, false).offsetBytes, 1u);
  EXPECT_EQ(PlaceImage(1728, 1728, 0, coCenterImage, false).offsetBytes, 0u);
  EXPECT_EQ(PlaceImage(3000, 1728, 0, coCenterImage, false).offsetBytes, 0u);
  EXPECT_EQ(PlaceImage(800, 1728, 0, coCenterImage | coDoubleWidth, false).offsetBytes, (1728u - 1600) / 32);
}

TEST(ImagePlacement, DoubledCentredAndHalvedPixels) {
  // 800 pixels doubled to 1600, centred by (1728-1600)/32 = 4 bytes of the image.
  auto p = Convert("double", MonoImage(800, 3, {{10, 0}, {799, 2}}), coDoubleWidth | coCenterImage, 0);
  ASSERT_EQ(p.rows.size(), 3u);
  EXPECT_EQ(BlackColumns(p, 0), (std::vector<unsigned>{2 * (32 + 10), 2 * (32 + 10) + 1}));
  EXPECT_TRUE(p.blankRow(1));
  EXPECT_EQ(BlackColumns(p, 2), (std::vector<unsigned>{2 * (32 + 799), 2 * (32 + 799) + 1}));
  // The same at high resolution: no doubling, centred by (1728-800)/16 = 58 bytes.
  p = Convert("nodouble", MonoImage(800, 1, {{10, 0}}), coDoubleWidth | coCenterImage, 0, frHigh);
  EXPECT_EQ(BlackColumns(p, 0), (std::vector<unsigned>{58 * 8 + 10}));
  // Halving keeps the odd lines (1st, 3rd, ...) of a 1000-pixel image.
  std::vector<std::pair<int, int>> marks;
  for (int y = 0; y < 10; ++y) marks.push_back({y, y});
  p = Convert("halve", MonoImage(1000, 10, marks), coHalfHeight, 0);
  ASSERT_EQ(p.rows.size(), 5u);
  for (unsigned y = 0; y < 5; ++y) EXPECT_EQ(BlackColumns(p, y), (std::vector<unsigned>{2 * y})) << y;
}

TEST(ImagePlacement, MarginShiftsAndTheRightEdgeCuts) {
  // A full-width image is not centred; the margin pushes it right and the last
  // 50 pixels fall off the line.
  auto p = Convert("margin", MonoImage(1728, 1, {{0, 0}, {1677, 0}, {1678, 0}, {1727, 0}}),
                   coDoubleWidth | coCenterImage, 50);
  EXPECT_EQ(BlackColumns(p, 0), (std::vector<unsigned>{50, 1727}));
  // The default options on a small image: doubled and centred, then the margin added.
  p = Convert("defaults", MonoImage(100, 1, {{0, 0}}), kDefaultCvtOptions, 50);
  const unsigned offset = (1728 - 200) / 32;
  EXPECT_EQ(BlackColumns(p, 0), (std::vector<unsigned>{50 + 2 * 8 * offset, 50 + 2 * 8 * offset + 1}));
}

TEST(ImagePlacement, BitmapColoursAndMissingBitmap) {
  // A monochrome bitmap without a colour table counts 1 as white, as a device bitmap does.
  QImage mono(16, 1, QImage::Format_Mono);
  mono.fill(1);
  mono.setPixel(3, 0, 0);
  mono.setColorTable({});
  auto p = Convert("devmono", mono, 0, 0, frHigh);
  EXPECT_EQ(BlackColumns(p, 0), (std::vector<unsigned>{3}));
  // A colour image is thresholded: black is black (except where the matrix is 0), white stays white.
  QImage rgb(64, 64, QImage::Format_RGB32);
  rgb.fill(Qt::white);
  for (int y = 0; y < 64; ++y) rgb.setPixel(5, y, qRgb(0, 0, 0));
  p = Convert("rgb", rgb, 0, 0, frHigh);
  unsigned black = 0;
  for (unsigned y = 0; y < 64; ++y) {
    const auto cols = BlackColumns(p, y);
    for (unsigned x : cols) EXPECT_EQ(x, 5u);
    black += unsigned(cols.size());
    EXPECT_EQ(cols.size(), DitherThreshold(5, y) > 0 ? 1u : 0u) << y;
  }
  EXPECT_GT(black, 48u);
  // No bitmap: 1002.
  TFeFaxConverter c;
  c.OutFileName = fe_test::TempDir("nobitmap") / "out.apf";
  try {
    c.ConvertBitmapToFile(QImage());
    FAIL();
  } catch (const EFeException& e) {
    EXPECT_EQ(e.ErrorCode(), -1002);
  }
}
