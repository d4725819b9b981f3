#include "fe_viewer_pages.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "fe_errors.h"

namespace fe {

int TViewerPages::Open(const std::string& path) {
  Close();
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return -ecFileNotFound;
  // Only plain files: opening a pipe or a device could wait for ever.
  if (!S_ISREG(st.st_mode)) return -ecFaxBadFormat;
  if (int rc = reader_.Open(path); rc < 0) return rc;
  const unsigned declared = reader_.PageCount();
  if (declared == 0) {
    reader_.Close();
    return -ecFaxBadFormat;
  }
  const int rc = reader_.ScanPages(&pages_);
  if (pages_.empty()) {
    reader_.Close();
    return rc < 0 ? rc : -ecFaxBadFormat;
  }
  missing_ = declared - unsigned(pages_.size());
  return 0;
}

void TViewerPages::Close() {
  reader_.Close();
  pages_.clear();
  missing_ = 0;
}

int TViewerPages::Decode(unsigned n, const TWhitespaceSettings& ws, TDecodedPage* out) {
  if (n == 0 || n > pages_.size()) return -ecBadArgument;
  const TApfPageInfo& info = pages_[n - 1];
  std::vector<std::uint8_t> data;
  if (int rc = reader_.ReadPageData(info, &data); rc < 0) return rc;

  out->number = n;
  out->flags = info.flags();
  out->error = 0;
  const unsigned width = info.widthPixels();
  const std::size_t stride = width / 8;  // 216 or 256: whole 64-bit words
  TRaster& r = out->raster;
  r.width = width;
  r.stride = stride;
  r.height = 0;
  r.bits.clear();
  // A coded line takes at least a few bytes: a first guess that avoids most regrowth.
  r.bits.reserve(std::min<std::size_t>(data.size() / 4 + 64, kViewerMaxLines) * stride);

  unsigned blankRun = 0;
  bool full = false;
  auto addLine = [&](const std::uint8_t* line) {
    if (r.height >= kViewerMaxLines) {
      full = true;
      return;
    }
    const std::size_t at = r.bits.size();
    r.bits.resize(at + stride);
    if (line) std::memcpy(r.bits.data() + at, line, stride);
    ++r.height;
  };
  auto flushBlank = [&] {
    const unsigned count = blankRun >= ws.from ? ws.to : blankRun;
    blankRun = 0;
    for (unsigned i = 0; i < count && !full; ++i) addLine(nullptr);
  };

  TMhPageDecoder decoder(data.data(), data.size(), info.lineRecords(), width);
  std::uint8_t line[kMaxLineWidthBytes];
  while (!full && decoder.NextLine(line)) {
    if (ws.on) {
      if (std::all_of(line, line + stride, [](std::uint8_t b) { return b == 0; })) {
        ++blankRun;
        continue;
      }
      flushBlank();
    }
    addLine(line);
  }
  if (ws.on && !full) flushBlank();
  out->stats = decoder.Stats();
  if (r.height == 0) addLine(nullptr);  // a page without lines shows as one blank line
  if (full)
    out->error = ecBadMaxHeight;
  else if (info.truncated || out->stats.truncated)
    out->error = ecReadBeyondEOF;
  return 0;
}

}  // namespace fe
