// PDF pages through poppler's Splash renderer, PostScript through Ghostscript's
// PDF writer. Pages are rendered one bit deep without anti-aliasing.
#include "fe_document_reader.h"

#include <dlfcn.h>
#include <ghostscript/gserrors.h>
#include <ghostscript/iapi.h>
#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-global.h>
#include <poppler/cpp/poppler-image.h>
#include <poppler/cpp/poppler-page-renderer.h>
#include <poppler/cpp/poppler-page.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <type_traits>

#include "fe_errors.h"
#include "fe_lsan_fontconfig.h"

namespace fe {

namespace {
constexpr double kDotsPerInch = 204.0;
constexpr int kBad = -ecBadGraphicsFormat;

// poppler reports damaged files on stderr by default; the caller gets 8002 instead.
void QuietPoppler(const std::string&, void*) {}

struct PopplerSetup {
  PopplerSetup() { poppler::set_debug_error_function(QuietPoppler, nullptr); }
};

bool StartsWith(std::span<const std::uint8_t> bytes, std::size_t at, const char* text) {
  const std::size_t n = std::strlen(text);
  return bytes.size() >= at + n && std::memcmp(bytes.data() + at, text, n) == 0;
}
}  // namespace

bool LooksLikePdf(std::span<const std::uint8_t> bytes) {
  // Readers accept the header anywhere in the first kilobyte.
  const std::size_t limit = std::min<std::size_t>(bytes.size(), 1024);
  for (std::size_t i = 0; i + 5 <= limit; ++i)
    if (StartsWith(bytes, i, "%PDF-")) return true;
  return false;
}

namespace {
constexpr char kUel[] = "\x1b%-12345X";  // printer job language's "universal exit"
constexpr std::size_t kUelLength = sizeof kUel - 1;
// Where a wrapped job's PostScript starts may lie after a long PJL header.
constexpr std::size_t kMaxPjlHeader = 64 * 1024;

bool PlainPostScript(std::span<const std::uint8_t> bytes) {
  static const std::uint8_t kDosEps[] = {0xC5, 0xD0, 0xD3, 0xC6};
  return StartsWith(bytes, 0, "%!") || StartsWith(bytes, 0, "\x04%!") ||
         (bytes.size() >= 4 && std::memcmp(bytes.data(), kDosEps, 4) == 0);
}
}  // namespace

std::span<const std::uint8_t> PostScriptBody(std::span<const std::uint8_t> bytes) {
  if (!StartsWith(bytes, 0, kUel)) return bytes;
  // The program starts at a line beginning "%!" (or right after an exit code).
  const std::size_t limit = std::min(bytes.size(), kMaxPjlHeader);
  std::size_t start = std::string::npos;
  for (std::size_t i = kUelLength; i + 2 <= limit; ++i)
    if (bytes[i] == '%' && bytes[i + 1] == '!' &&
        (bytes[i - 1] == '\n' || bytes[i - 1] == '\r' || bytes[i - 1] == 'X')) {
      start = i;
      break;
    }
  if (start == std::string::npos) return {};
  std::size_t end = bytes.size();
  for (std::size_t i = start; i + kUelLength <= bytes.size(); ++i)
    if (bytes[i] == 0x1b && std::memcmp(bytes.data() + i, kUel, kUelLength) == 0) {
      end = i;
      break;
    }
  return bytes.subspan(start, end - start);
}

bool LooksLikePostScript(std::span<const std::uint8_t> bytes) {
  if (StartsWith(bytes, 0, kUel)) {
    const auto body = PostScriptBody(bytes);
    return !body.empty() && PlainPostScript(body);
  }
  return PlainPostScript(bytes);
}

DocumentReader::DocumentReader(std::span<const std::uint8_t> pdf, unsigned lineWidth, bool highRes)
    : pdf_(pdf), lineWidth_(lineWidth), linesPerInch_(highRes ? 196.0 : 98.0) {}

DocumentReader::~DocumentReader() = default;

int DocumentReader::open() {
  static const PopplerSetup setup;
  if (doc_) {
    page_ = 0;
    return renderPage();
  }
  if (pdf_.empty() || pdf_.size() > std::size_t(INT32_MAX)) return kBad;
  doc_.reset(poppler::document::load_from_raw_data(reinterpret_cast<const char*>(pdf_.data()), int(pdf_.size())));
  if (!doc_ || doc_->is_locked()) return kBad;
  const int pages = doc_->pages();
  if (pages <= 0) return kBad;
  pages_ = unsigned(pages);
  return renderPage();
}

std::uint64_t DocumentReader::bytesRead() const {
  return pages_ ? pdf_.size() * std::uint64_t(page_) / pages_ : 0;
}

int DocumentReader::renderPage() {
  std::unique_ptr<poppler::page> page(doc_->create_page(int(page_)));
  ++page_;
  if (!page) return kBad;
  const poppler::rectf box = page->page_rect(poppler::media_box);
  double wPt = box.width(), hPt = box.height();
  if (!(wPt > 1 && hPt > 1) || wPt > 14400 || hPt > 14400) return kBad;  // 1/72 inch to 200 inches
  // page_rect already accounts for the page's own rotation; a landscape page is
  // turned so that its long side runs down the fax.
  const poppler::rotation_enum turn = wPt > hPt ? poppler::rotate_90 : poppler::rotate_0;
  if (turn == poppler::rotate_90) std::swap(wPt, hPt);
  const double scale = std::min(1.0, lineWidth_ / (wPt / 72.0 * kDotsPerInch));
  // One bit per pixel straight from the renderer: without anti-aliasing text and
  // lines come out as solid shapes, and pictures and tints are screened by it.
  // The slice is rendered a multiple of 32 pixels wide (white beyond the page) so
  // that its rows are whole 32-bit words, the row size the renderer pads to.
  poppler::page_renderer renderer;
  renderer.set_image_format(poppler::image::format_mono);
  renderer.set_render_hints(0);
  renderer.set_paper_color(0xffffffff);
  const double xres = kDotsPerInch * scale, yres = linesPerInch_ * scale;
  const unsigned pageWidth = std::min<unsigned>(unsigned(std::lround(wPt / 72.0 * xres)), lineWidth_);
  const unsigned sliceWidth = std::min((pageWidth + 31) / 32 * 32, lineWidth_ / 32 * 32);
  const int sliceHeight = int(std::lround(hPt / 72.0 * yres));
  if (sliceWidth == 0 || sliceHeight <= 0) return kBad;
  const poppler::image img = renderer.render_page(page.get(), xres, yres, 0, 0, int(sliceWidth), sliceHeight, turn);
  if (!img.is_valid() || unsigned(img.width()) != sliceWidth || img.height() != sliceHeight ||
      img.format() != poppler::image::format_mono || unsigned(img.bytes_per_row()) != sliceWidth / 8)
    return kBad;
  width_ = sliceWidth;
  height_ = unsigned(sliceHeight);
  const std::size_t rowBytes = width_ / 8;
  bits_.resize(rowBytes * height_);
  // The renderer's 1 is white: inverted eight bytes at a time (rows are whole
  // 32-bit words, so only a page of odd size has a tail).
  const auto* data = reinterpret_cast<const std::uint8_t*>(img.const_data());
  std::uint8_t* out = bits_.data();
  const std::size_t n = bits_.size();
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, data + i, 8);
    w = ~w;
    std::memcpy(out + i, &w, 8);
  }
  for (; i < n; ++i) out[i] = std::uint8_t(~data[i]);
  row_ = 0;
  return 0;
}

int DocumentReader::nextPage() {
  return page_ < pages_ ? renderPage() : kBad;
}

int DocumentReader::readLine(std::uint8_t* buf, unsigned& len, bool& endOfPage, bool& morePages) {
  if (row_ >= height_) return kBad;  // read past the last page
  len = width_ / 8;
  std::memcpy(buf, bits_.data() + std::size_t(row_) * len, len);
  ++row_;
  endOfPage = row_ == height_;
  morePages = endOfPage && page_ < pages_;
  if (morePages) return renderPage();
  return 0;
}

namespace {
// The interpreter's messages go nowhere, except its standard output, whose last
// kilobytes are kept: they carry the page count asked for after the job, however
// much the job itself printed before it.
constexpr std::size_t kKeptOutput = 4096;
int GSDLLCALL GsQuiet(void*, const char*, int len) {
  return len;
}
int GSDLLCALL GsOut(void* handle, const char* text, int len) {
  auto* out = static_cast<std::string*>(handle);
  if (len <= 0) return len;
  out->append(text, std::size_t(len));
  if (out->size() > 2 * kKeptOutput) out->erase(0, out->size() - kKeptOutput);
  return len;
}
constexpr char kPageCountTag[] = "QNPAGES=";
int GSDLLCALL GsNoInput(void*, char*, int) {
  return 0;
}

std::mutex g_gsMutex;  // one interpreter instance per process

// The interpreter's library is loaded only for a PostScript job: it and the
// libraries it needs would more than double the start of every PDF job.
struct GsLibrary {
  PFN_gsapi_new_instance newInstance = nullptr;
  PFN_gsapi_set_stdio setStdio = nullptr;
  PFN_gsapi_set_arg_encoding setArgEncoding = nullptr;
  PFN_gsapi_init_with_args initWithArgs = nullptr;
  PFN_gsapi_exit exit = nullptr;
  PFN_gsapi_delete_instance deleteInstance = nullptr;
  bool Load() {
    if (newInstance) return true;
    void* lib = ::dlopen(QN_GS_SONAME, RTLD_NOW | RTLD_LOCAL);
    if (!lib) return false;
    auto get = [lib](auto& fn, const char* name) {
      fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(::dlsym(lib, name));
      return fn != nullptr;
    };
    if (get(setStdio, "gsapi_set_stdio") && get(setArgEncoding, "gsapi_set_arg_encoding") &&
        get(initWithArgs, "gsapi_init_with_args") && get(exit, "gsapi_exit") &&
        get(deleteInstance, "gsapi_delete_instance") && get(newInstance, "gsapi_new_instance"))
      return true;
    newInstance = nullptr;
    return false;
  }
};
GsLibrary g_gs;  // under g_gsMutex

}  // namespace

std::string PostScriptPageFile(const std::string& folder, unsigned page) {
  return folder + "/page-" + std::to_string(page) + ".pdf";
}

int PostScriptToPdfPages(const std::string& psPath, const std::string& folder, unsigned maxPages, unsigned& pages,
                         std::string& why) {
  namespace fs = std::filesystem;
  pages = 0;
  std::error_code ec;
  // An absolute name: the interpreter reads a name starting "%pipe%" (and other
  // "%device%" names) as a command or device, whatever safe mode says.
  const std::string path = fs::absolute(psPath, ec).lexically_normal().string();
  if (ec || path.empty() || path[0] != '/' || !fs::is_regular_file(path, ec)) {
    why = "the PostScript file cannot be found";
    return -ecFileNotFound;
  }
  // The output name is a format: "%d" is the page number, so a '%' of the
  // folder's name (TMPDIR may hold one) is written "%%".
  std::string escaped;
  for (const char c : folder) escaped += c == '%' ? std::string("%%") : std::string(1, c);
  const std::string out = "-sOutputFile=" + escaped + "/page-%d.pdf";
  const char* argv[] = {"gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-dNOINTERPOLATE", "-sDEVICE=pdfwrite",
                        "-dCompatibilityLevel=1.4", out.c_str(), "-f", path.c_str(),
                        // The PDF writer makes a blank page for a job that shows none.
                        "-c", "(QNPAGES=) print currentpagedevice /PageCount get == flush"};
  std::string printed;
  int rc = 0;
  {
    std::lock_guard<std::mutex> lock(g_gsMutex);
    void* gs = nullptr;
    if (!g_gs.Load() || g_gs.newInstance(&gs, &printed) < 0) {
      why = "the PostScript interpreter cannot be started";
      return -ecInternal;
    }
    g_gs.setStdio(gs, GsNoInput, GsOut, GsQuiet);
    g_gs.setArgEncoding(gs, GS_ARG_ENCODING_UTF8);
    rc = g_gs.initWithArgs(gs, int(std::size(argv)), const_cast<char**>(argv));
    const int exitRc = g_gs.exit(gs);
    g_gs.deleteInstance(gs);
    if (rc == gs_error_Quit || rc == gs_error_Info) rc = 0;
    if (rc == 0) rc = exitRc;
  }
  // The reader that started the converter process stops it once the file of
  // the page after the cap appears; pages made before are left to count here.
  while (fs::is_regular_file(PostScriptPageFile(folder, pages + 1), ec)) ++pages;
  if (maxPages && pages > maxPages) {
    why = "the document has more than " + std::to_string(maxPages) + " pages; a fax takes at most " +
          std::to_string(maxPages);
    return kBad;
  }
  if (rc == gs_error_VMerror) {
    why = "the document needs more memory than the converter may use";
    return -ecOutOfMemory;
  }
  why = "the PostScript document cannot be read";
  if (rc < 0) return kBad;
  const std::size_t tag = printed.rfind(kPageCountTag);
  if (tag == std::string::npos || std::atoi(printed.c_str() + tag + std::strlen(kPageCountTag)) <= 0) return kBad;
  if (pages == 0) return kBad;  // a program that drew no page
  why.clear();
  return 0;
}

}  // namespace fe
