// The pages of one open fax file as the viewer needs them: located once when the
// file opens (page headers only, no image data), decoded one page at a time.
//
// Conventions: operations return 0 or a negative error code (fe_errors.h).
// Damage never stops a page from being shown: a decoded page carries what could
// be decoded plus the code for what went wrong (100 when its data or the file
// ends early, 8054 when the page is taller than the viewer keeps).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "apf_reader.h"
#include "fe_raster_ops.h"
#include "mh_codec.h"

namespace fe {

// Most lines a page may have in the viewer (a fine page of 8 metres); the rest of
// a longer page is dropped and reported.
constexpr unsigned kViewerMaxLines = 65535;

struct TWhitespaceSettings {
  bool on = false;
  unsigned from = 0, to = 0;
  bool operator==(const TWhitespaceSettings&) const = default;
};

struct TDecodedPage {
  unsigned number = 0;
  std::uint16_t flags = 0;
  TRaster raster;  // as coded: 1728 or 2048 pixels wide, no aspect correction
  int error = 0;   // 0 or the (positive) code of the damage found
  TMhDecodeStats stats;
};

class TViewerPages {
 public:
  // Opens the file: 2 when it does not exist, 8001 for a wrong signature, 8001
  // for a file without pages, 100 when not even the first page header is in the
  // file. Pages whose headers lie beyond the end are left out; MissingPages()
  // tells how many.
  int Open(const std::string& path);
  void Close();
  bool IsOpen() const { return !pages_.empty(); }

  unsigned Count() const { return unsigned(pages_.size()); }
  unsigned MissingPages() const { return missing_; }
  const TApfPageInfo& Info(unsigned n) const { return pages_[n - 1]; }  // 1..Count()

  // Decodes page n (1..Count()) with the whitespace compression given.
  int Decode(unsigned n, const TWhitespaceSettings& ws, TDecodedPage* out);

 private:
  TApfReader reader_;
  std::vector<TApfPageInfo> pages_;
  unsigned missing_ = 0;
};

}  // namespace fe
