// TFeFaxUnpacker: decodes APF fax pages back into raster lines (most significant
// bit leftmost, 1 = black) and delivers them as events, as an in-memory image or
// as PCX, DCX and BMP files. Failures are raised as EFeException for their code;
// the Do* methods return the negative code instead.
#pragma once

#include <QImage>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fe_converter_core.h"
#include "mh_codec.h"

namespace fe {

class TFeFaxUnpacker;
class TApfReader;

enum TUnpackOptions : unsigned { uoYield = 1, uoAbort = 2 };
enum TAutoScaleMode { asNone, asDoubleHeight, asHalfWidth };

using TUnpackOutputLineEvent = std::function<void(TFeFaxUnpacker& Sender, bool Starting, bool Ending,
                                                  const std::uint8_t* Data, unsigned Len, unsigned PageNum)>;
using TUnpackStatusEvent = std::function<void(TFeFaxUnpacker& Sender, const std::string& FName, unsigned PageNum,
                                              std::uint64_t BytesUnpacked, std::uint64_t BytesToUnpack)>;

class TFeFaxUnpacker {
 public:
  unsigned Options = uoYield;
  bool WhitespaceCompression = false;
  unsigned WhitespaceFrom = 0;
  unsigned WhitespaceTo = 0;
  bool Scaling = false;
  unsigned HorizMult = 1, HorizDiv = 1, VertMult = 1, VertDiv = 1;
  TAutoScaleMode AutoScaleMode = asDoubleHeight;
  std::string InFileName;
  std::string OutFileName;
  TUnpackOutputLineEvent OnOutputLine;
  TUnpackStatusEvent OnStatus;

  // Asks a running operation to stop (honoured with uoAbort; fails with 8004).
  void Abort() { abortRequested_ = true; }

  unsigned NumPages();
  TFaxResolution PageResolution();  // of page 1
  TFaxWidth PageWidth();            // of page 1
  void UnpackPage(unsigned page);   // through OnOutputLine
  void UnpackFile();
  // A new image of the page, owned by the caller.
  std::unique_ptr<QImage> UnpackPageToBitmap(unsigned page);
  void UnpackPageToPcx(unsigned page);
  void UnpackPageToBmp(unsigned page);
  void UnpackFileToDcx();
  void UnpackPageToDcx(unsigned page);  // a DCX file holding that one page
  // The whole fax as a PDF (one page per fax page at its true size) or as a
  // multi-page TIFF with Group 4 coding; extensions default to "PDF" and "TIF".
  // Nothing is left at the output name when the export fails.
  void UnpackFileToPdf();
  void UnpackFileToTiff();

  int DoNumPages(unsigned& pages);
  int DoPageFlags(std::uint16_t& flags);
  int DoUnpack(unsigned firstPage, unsigned lastPage);  // 0 = through the last page
  int DoUnpackToBitmap(unsigned page, std::unique_ptr<QImage>& image);
  int DoUnpackToPcx(unsigned page);
  int DoUnpackToBmp(unsigned page);
  int DoUnpackToDcx(unsigned firstPage = 1, unsigned lastPage = 0);  // 0 = through the last page
  int DoUnpackToPdf() { return DoExport(true); }
  int DoUnpackToTiff() { return DoExport(false); }

  // Output file name: OutFileName, or InFileName with `ext`, when it has no extension.
  std::string ExportName(const std::string& ext) const;

  // What the decoder found wrong in the page decoded last (by any of the calls
  // above; during DoUnpack, readable in the page's Ending OnOutputLine event):
  // lines with an invalid code, lines longer than the page width, line records
  // running past the page data, page data that ends inside a code. Damaged
  // pages still unpack as far as they can be read; LastPageDamaged() tells the
  // user's view that what it shows is not all the sender sent. Reset to a
  // clean page when a decoding starts.
  const TMhDecodeStats& LastPageStats() const { return lastStats_; }
  bool LastPageDamaged() const { return !lastStats_.clean(); }

  // Lines of one page after aspect correction, whitespace compression and scaling.
  struct PageImage {
    unsigned widthPixels = 0, height = 0, dpiX = 0, dpiY = 0;
    std::vector<std::uint8_t> rows;  // height rows of (widthPixels + 7) / 8 bytes
    TMhDecodeStats damage;           // the decoder's counts for this page
  };

 private:
  using LineSink = std::function<int(const std::uint8_t* line, unsigned bytes)>;
  int CheckSettings() const;
  // Decodes page n and sends every output line to sink; widthPixels gets the output width.
  int ProcessPage(TApfReader& reader, unsigned n, unsigned& widthPixels, const std::function<int(unsigned)>& begin,
                  const LineSink& sink);
  int CollectPage(TApfReader& reader, unsigned n, PageImage& image, unsigned maxLines);
  int OpenInput(TApfReader& reader);
  int DoExport(bool pdf);

  bool abortRequested_ = false;
  TMhDecodeStats lastStats_;
};

}  // namespace fe
