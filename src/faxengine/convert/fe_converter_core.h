// The low-level converter: one conversion of one input into fax pages. It asks a
// RasterReader for raster lines, places each line on the fax line (left margin,
// centring, width doubling, height halving) and writes it as a coded line to an
// APF file, or hands the coded lines to a callback instead.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "fe_raster_reader.h"

namespace fe {

// idPdf and idPostScript are documents: each page is rendered at the fax resolution
// on the whole fax line (no left margin, no width doubling or height halving).
enum TFaxInputDocumentType {
  idNone,
  idText,
  idTextEx,
  idTiff,
  idPcx,
  idDcx,
  idBmp,
  idBitmap,
  idUser,
  idPdf,
  idPostScript
};
// Option bits (a set of TFaxCvtOptions).
enum TFaxCvtOptions : unsigned {
  coDoubleWidth = 1,
  coHalfHeight = 2,
  coCenterImage = 4,
  coYield = 8,
  coYieldOften = 16,
};
inline constexpr unsigned kDefaultCvtOptions = coDoubleWidth | coCenterImage | coYield;
enum TFaxResolution { frNormal, frHigh };
enum TFaxWidth { fwNormal, fwWide };

struct TConvertProgress {
  bool starting = false, ending = false;
  unsigned pagesConverted = 0, linesConverted = 0;
  std::uint64_t bytesConverted = 0, bytesToConvert = 0;
};

// How one image is put on the fax line, decided once per image.
struct TImagePlacement {
  bool doubling = false, halving = false;
  unsigned offsetBytes = 0;  // centring, in bytes of the (undoubled) image row
};
TImagePlacement PlaceImage(unsigned imageWidth, unsigned lineWidth, unsigned leftMargin, unsigned options,
                           bool highRes);

// Builds the fax line (lineWidth/8 bytes in `out`): leftMargin white pixels, then
// offsetBytes white bytes and the raster (each pixel doubled when doubling), cut
// at the right edge.
void ComposeFaxLine(const std::uint8_t* raster, unsigned len, const TImagePlacement& placement, unsigned leftMargin,
                    unsigned lineWidth, std::uint8_t* out);

class TFaxConverterCore {
 public:
  struct Settings {
    unsigned width = 1728;
    bool highRes = false;
    unsigned leftMargin = 50, topMargin = 0;
    unsigned options = kDefaultCvtOptions;
    std::string stationId;
  };
  // Returns true to abort (error 8003).
  using StatusFn = std::function<bool(const TConvertProgress&)>;
  // Lets pending events run; returns true when the application is quitting (error 1003).
  using YieldFn = std::function<bool()>;
  // Receives every coded line, and the return-to-control record at the end of each
  // page (endOfPage set), instead of the file writer.
  using OutputFn = std::function<void(const std::uint8_t* data, unsigned len, bool endOfPage, bool morePages)>;

  explicit TFaxConverterCore(Settings settings) : s_(std::move(settings)) {}
  void SetStatus(StatusFn fn) { status_ = std::move(fn); }
  void SetYield(YieldFn fn) { yield_ = std::move(fn); }
  void SetOutput(OutputFn fn) { output_ = std::move(fn); }

  // Converts every page of the reader into outFile (or the output callback).
  // Returns 0 or a negative error code; a file written so far is closed and kept.
  int Convert(RasterReader& reader, const std::string& outFile);

  const TConvertProgress& Progress() const { return progress_; }

 private:
  Settings s_;
  StatusFn status_;
  YieldFn yield_;
  OutputFn output_;
  TConvertProgress progress_;
};

}  // namespace fe
