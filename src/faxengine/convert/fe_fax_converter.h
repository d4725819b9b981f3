// TFeFaxConverter: the converter component. Its published properties choose the
// input and the page layout; ConvertToFile turns DocumentFile into an APF fax
// file, ConvertBitmapToFile does the same for one in-memory image. Failures are
// raised as the EFeException for their error code.
#pragma once

#include <QFont>
#include <QImage>
#include <cstdint>
#include <functional>
#include <string>

#include "fe_converter_core.h"
#include "fe_document_child.h"
#include "fe_faxfont.h"

namespace fe {

class TFeFaxConverter;

using TFaxStatusEvent =
    std::function<void(TFeFaxConverter& F, bool Starting, bool Ending, unsigned PagesConverted, unsigned LinesConverted,
                       std::uint64_t BytesConverted, std::uint64_t BytesToConvert, bool& Abort)>;
using TFaxOutputLineEvent =
    std::function<void(TFeFaxConverter& F, const std::uint8_t* Data, unsigned Len, bool EndOfPage, bool MorePages)>;
using TFaxOpenFileEvent = std::function<void(TFeFaxConverter& F, const std::string& FName)>;
using TFaxCloseFileEvent = std::function<void(TFeFaxConverter& F)>;
using TFaxReadLineEvent =
    std::function<void(TFeFaxConverter& F, std::uint8_t* Data, unsigned& Len, bool& EndOfPage, bool& MorePages)>;

class TFeFaxConverter {
 public:
  TFaxInputDocumentType InputDocumentType = idNone;
  unsigned Options = kDefaultCvtOptions;  // TFaxCvtOptions bits
  TFaxResolution Resolution = frNormal;
  TFaxWidth Width = fwNormal;
  unsigned TopMargin = 0;
  unsigned LeftMargin = 50;
  unsigned LinesPerPage = 60;
  unsigned TabStop = 4;
  QFont EnhFont;
  std::string FontFile = "FAXFONT.FNT";  // kept for callers; the built-in font is always used
  TFaxFont FontType = ffStandard;
  std::string DocumentFile;
  std::string OutFileName;
  std::string DefUserExtension;
  std::string StationID;
  // PDF and PostScript are rendered in a converter process held to these limits.
  DocumentLimits DocLimits;
  // The sentence for the user about the last failure, where the converter has
  // one (a document refused by the converter process); else empty.
  std::string ErrorText;

  TFaxStatusEvent OnStatus;
  TFaxOutputLineEvent OnOutputLine;
  TFaxOpenFileEvent OnOpenUserFile;
  TFaxCloseFileEvent OnCloseUserFile;
  TFaxReadLineEvent OnReadUserLine;

  // Converts DocumentFile by InputDocumentType into OutputFileName(). A failure
  // with an ErrorText raises EFeException with that text.
  void ConvertToFile();
  // Converts one image as one page (idBitmap for the duration).
  void ConvertBitmapToFile(const QImage& bitmap);

  // OutFileName with the extension "APF" (kept when it already reads apf in any
  // letter case); the input name with "APF" when OutFileName is empty.
  std::string OutputFileName() const;

  // The same as ConvertToFile, returning 0 or a negative error code.
  int Convert(const QImage* bitmap = nullptr);

 private:
  TFaxConverterCore::Settings Settings() const;
};

// A file name with its extension replaced (or added): "a/b.txt" -> "a/b.APF".
std::string ForceExtension(const std::string& name, const std::string& ext);

}  // namespace fe
