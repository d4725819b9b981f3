// quillon-convert: the converter process ChildDocumentReader starts. It reads the
// document from standard input, renders its pages one bit deep and writes them
// to standard output as they are made (fe_document_protocol.h). It sets its own
// limits before it reads a byte; its temporary folder ($TMPDIR) is private.
//   quillon-convert --pdf|--ps|--tiff|--pcx|--dcx|--bmp|--text --width PIXELS
//                   --fine|--normal --max-pages N --memory BYTES --cpu SECONDS
//                   --file-size BYTES --parent PID
// Images and text are placed on the fax line here, as the converter places
// them, so that every page goes back as whole fax lines.
#include "fe_document_worker.h"

#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "fe_bmp_reader.h"
#include "fe_converter_core.h"
#include "fe_document_child.h"
#include "fe_document_protocol.h"
#include "fe_document_reader.h"
#include "fe_errors.h"
#include "fe_font_renderer.h"
#include "fe_mapped_file.h"
#include "fe_pcx_reader.h"
#include "fe_text_reader.h"
#include "fe_tiff_reader.h"

#if defined(__SANITIZE_ADDRESS__)
#define QN_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QN_ADDRESS_SANITIZER 1
#endif
#endif

namespace fe {

namespace {

constexpr int kBad = -ecBadGraphicsFormat;
std::uint64_t g_memoryLimit = 0;

void WriteAll(const void* data, std::size_t n) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (n > 0) {
    const ssize_t w = ::write(1, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) ::_exit(1);  // the reader is gone
    p += w;
    n -= std::size_t(w);
  }
}

void SendFailure(int code, const std::string& text) {
  const std::uint32_t tag = protocol::kTagFail;
  const std::int32_t head[2] = {code, std::int32_t(std::min<std::size_t>(text.size(), protocol::kMaxText))};
  WriteAll(&tag, sizeof tag);
  WriteAll(head, sizeof head);
  WriteAll(text.data(), std::size_t(head[1]));
}

std::string MemoryText() {
  return "the document needs more than " + DescribeBytes(g_memoryLimit) + " of memory";
}

// An allocation the address space limit refused: told, not crashed. The text is
// made before the limit is set, so that telling it allocates nothing.
std::string g_memoryText;
void OutOfMemory() {
  const std::uint32_t tag = protocol::kTagFail;
  const std::int32_t head[2] = {kBad, std::int32_t(g_memoryText.size())};
  [[maybe_unused]] ssize_t w = ::write(1, &tag, sizeof tag);
  w = ::write(1, head, sizeof head);
  w = ::write(1, g_memoryText.data(), g_memoryText.size());
  ::_exit(3);
}

// True when the process came close to its address space limit: the
// interpreter reports a refused allocation only as a failed job.
bool NearMemoryLimit() {
  if (!g_memoryLimit) return false;
  FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return false;
  char line[256];
  unsigned long long peakKb = 0;
  while (std::fgets(line, sizeof line, f))
    if (std::sscanf(line, "VmPeak: %llu kB", &peakKb) == 1) break;
  std::fclose(f);
  return peakKb * 1024 + (std::uint64_t(64) << 20) >= g_memoryLimit;
}

struct Options {
  DocumentKind kind = DocumentKind::Pdf;
  bool postScript = false, fine = false;
  unsigned width = 1728, maxPages = 0, cpu = 120;
  std::uint64_t memory = 0, fileSize = 0;
  long parent = 0;
};

bool Parse(int argc, char** argv, Options& o) {
  bool kind = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto number = [&](auto& out) {
      if (i + 1 >= argc) return false;
      char* end = nullptr;
      const unsigned long long v = std::strtoull(argv[++i], &end, 10);
      if (!*argv[i] || *end) return false;
      out = static_cast<std::remove_reference_t<decltype(out)>>(v);
      return true;
    };
    bool ok = true;
    bool isKind = false;
    for (DocumentKind k : {DocumentKind::Pdf, DocumentKind::PostScript, DocumentKind::Tiff, DocumentKind::Pcx,
                           DocumentKind::Dcx, DocumentKind::Bmp, DocumentKind::Text})
      if (a == DocumentKindSwitch(k)) {
        o.kind = k;
        o.postScript = k == DocumentKind::PostScript;
        isKind = kind = true;
      }
    if (isKind)
      continue;
    if (a == "--fine" || a == "--normal")
      o.fine = a == "--fine";
    else if (a == "--width")
      ok = number(o.width);
    else if (a == "--max-pages")
      ok = number(o.maxPages);
    else if (a == "--memory")
      ok = number(o.memory);
    else if (a == "--cpu")
      ok = number(o.cpu);
    else if (a == "--file-size")
      ok = number(o.fileSize);
    else if (a == "--parent")
      ok = number(o.parent);
    else
      ok = false;
    if (!ok) return false;
  }
  return kind && (o.width == 1728 || o.width == 2048);
}

void SetLimit(int resource, rlim_t soft, rlim_t hard) {
  const rlimit r{soft, hard};
  ::setrlimit(resource, &r);
}

// Standard input as bytes: mapped when it is a file (the caller hands over a
// file or a memory file), read otherwise.
class Input {
 public:
  bool Load() {
    struct stat st {};
    if (::fstat(0, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
      void* m = ::mmap(nullptr, std::size_t(st.st_size), PROT_READ, MAP_PRIVATE, 0, 0);
      if (m != MAP_FAILED) {
        map_ = m;
        size_ = std::size_t(st.st_size);
        return true;
      }
    }
    std::uint8_t buf[65536];
    for (;;) {
      const ssize_t n = ::read(0, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return false;
      if (n == 0) return true;
      copy_.insert(copy_.end(), buf, buf + n);
    }
  }
  std::span<const std::uint8_t> Bytes() const {
    return map_ ? std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(map_), size_) : copy_;
  }

 private:
  void* map_ = nullptr;
  std::size_t size_ = 0;
  std::vector<std::uint8_t> copy_;
};

// Renders every page of one PDF and sends it. `more` tells whether pages of
// another file follow the last one; `total` is the document's page count.
int SendPages(std::span<const std::uint8_t> pdf, const Options& o, bool more, unsigned total, std::string& why) {
  DocumentReader reader(pdf, o.width, o.fine);
  if (int rc = reader.open()) {
    why = "the document is damaged or not a readable PDF";
    return rc;
  }
  if (total == 0) total = reader.pageCount();
  if (o.maxPages && reader.pageCount() > o.maxPages) {
    why = "the document has " + std::to_string(reader.pageCount()) + " pages; a fax takes at most " +
          std::to_string(o.maxPages);
    return kBad;
  }
  // Each page goes out straight from the reader's buffer.
  for (;;) {
    const unsigned width = reader.imageWidth();
    const std::span<const std::uint8_t> bits = reader.pageBits();
    const bool morePages = reader.hasNextPage();
    const protocol::PageHeader h{width, std::uint32_t(bits.size() / (width / 8)), std::uint32_t(morePages || more),
                                 total};
    const std::uint32_t tag = protocol::kTagPage;
    WriteAll(&tag, sizeof tag);
    WriteAll(&h, sizeof h);
    WriteAll(bits.data(), bits.size());
    if (!morePages) return 0;
    if (int rc = reader.nextPage()) {
      why = "a page of the document cannot be drawn";
      return rc;
    }
  }
}

// Reads an image or text file with the converter's own readers and sends its
// pages as fax lines, placed as the converter places them: a half-inch left
// margin, small images doubled and centred, text in the built-in fax font.
int SendPlacedPages(std::span<const std::uint8_t> bytes, const Options& o, std::string& why) {
  constexpr unsigned kLeftMargin = 50, kLinesPerPage = 60, kTabStop = 4;
  FontLineRenderer font;
  std::unique_ptr<RasterReader> reader;
  const char* what = "image";
  switch (o.kind) {
    case DocumentKind::Tiff:
      reader = std::make_unique<TiffReader>(bytes, o.fine, o.width);
      what = "TIFF image";
      break;
    case DocumentKind::Pcx:
    case DocumentKind::Dcx:
      reader = std::make_unique<PcxReader>(bytes, o.width, o.kind == DocumentKind::Dcx);
      what = o.kind == DocumentKind::Dcx ? "DCX image" : "PCX image";
      break;
    case DocumentKind::Bmp:
      reader = std::make_unique<BmpReader>(bytes);
      what = "BMP image";
      break;
    default:
      if (int rc = font.Init(ffStandard, o.fine, o.width, kLeftMargin)) {
        why = "the fax font cannot be loaded";
        return rc;
      }
      reader = std::make_unique<TextReader>(bytes, font, kLinesPerPage, kTabStop);
      what = "text file";
      break;
  }
  if (int rc = reader->open()) {
    why = std::string("the file is damaged or not a readable ") + what;
    return rc;
  }
  const unsigned lineBytes = o.width / 8;
  std::vector<std::uint8_t> raster(kMaxRasterBytes), page;
  unsigned pages = 0;
  for (bool more = true; more;) {
    if (o.maxPages && pages >= o.maxPages) {
      why = "the document has more than " + std::to_string(o.maxPages) + " pages; a fax takes at most " +
            std::to_string(o.maxPages);
      return kBad;
    }
    const TImagePlacement place = PlaceImage(reader->imageWidth(), o.width, kLeftMargin, kDefaultCvtOptions, o.fine);
    page.clear();
    unsigned lines = 0;
    for (bool endOfPage = false; !endOfPage;) {
      unsigned len = 0;
      more = false;
      if (int rc = reader->readLine(raster.data(), len, endOfPage, more)) {
        why = std::string("the ") + what + " is damaged";
        return rc;
      }
      if (place.halving && lines++ % 2 == 1) continue;
      if (page.size() / lineBytes >= protocol::kMaxPageRows) {
        why = "a page of the document is longer than 200 inches";
        return kBad;
      }
      page.resize(page.size() + lineBytes);
      ComposeFaxLine(raster.data(), std::min(len, kMaxRasterBytes), place, kLeftMargin, o.width,
                     page.data() + page.size() - lineBytes);
    }
    if (page.empty()) page.resize(lineBytes);  // a page without lines is one white line
    ++pages;
    const protocol::PageHeader h{o.width, std::uint32_t(page.size() / lineBytes), std::uint32_t(more), pages + more};
    const std::uint32_t tag = protocol::kTagPage;
    WriteAll(&tag, sizeof tag);
    WriteAll(&h, sizeof h);
    WriteAll(page.data(), page.size());
  }
  return 0;
}

int Run(const Options& o, std::string& why) {
  Input input;
  if (!input.Load()) {
    why = "the document cannot be read";
    return kBad;
  }
  if (o.kind != DocumentKind::Pdf && o.kind != DocumentKind::PostScript) {
    if (input.Bytes().empty()) {
      why = "the file is empty";
      return kBad;
    }
    return SendPlacedPages(input.Bytes(), o, why);
  }
  if (!o.postScript) return SendPages(input.Bytes(), o, false, 0, why);

  const char* tmp = std::getenv("TMPDIR");
  const std::string folder = tmp && *tmp == '/' ? tmp : "/tmp";
  const std::span<const std::uint8_t> body = PostScriptBody(input.Bytes());
  const std::string psPath = folder + "/job.ps";
  {
    FILE* f = std::fopen(psPath.c_str(), "wb");
    const bool ok = f && std::fwrite(body.data(), 1, body.size(), f) == body.size();
    if (!f || (std::fclose(f) != 0 || !ok)) {
      why = "the document cannot be written to the converter's temporary folder";
      return kBad;
    }
  }
  unsigned pages = 0;
  if (int rc = PostScriptToPdfPages(psPath, folder, o.maxPages, pages, why)) {
    if (rc == -ecOutOfMemory || NearMemoryLimit()) {
      why = MemoryText();
      return kBad;
    }
    return rc;
  }
  ::unlink(psPath.c_str());
  for (unsigned p = 1; p <= pages; ++p) {
    const std::string file = PostScriptPageFile(folder, p);
    MappedFile page;
    if (page.Open(file) != 0) {
      why = "a page of the document cannot be read";
      return kBad;
    }
    ::unlink(file.c_str());
    if (int rc = SendPages(page.Bytes(), o, p < pages, pages, why)) return rc;
  }
  return 0;
}

}  // namespace

int RunDocumentWorker(int argc, char** argv) {
  Options o;
  if (!Parse(argc, argv, o)) {
    SendFailure(kBad, "the document converter was started with wrong arguments");
    return 2;
  }
  // Dies with its parent, and never outlives one that is already gone.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (o.parent && ::getppid() != pid_t(o.parent)) return 1;
  g_memoryLimit = o.memory;
  g_memoryText = MemoryText();
#ifndef QN_ADDRESS_SANITIZER
  // The address sanitizer reserves far more address space than any limit; its
  // builds are held to the memory limit by the parent, which watches the
  // resident size instead.
  if (o.memory) SetLimit(RLIMIT_AS, o.memory, o.memory);
#endif
  if (o.cpu) SetLimit(RLIMIT_CPU, o.cpu, o.cpu + 5);
  if (o.fileSize) SetLimit(RLIMIT_FSIZE, o.fileSize, o.fileSize);
  SetLimit(RLIMIT_CORE, 0, 0);
  std::set_new_handler(OutOfMemory);

  std::string why;
  int rc = 0;
  try {
    rc = Run(o, why);
  } catch (const std::bad_alloc&) {
    rc = kBad;
    why = g_memoryText;
  }
  if (rc != 0) {
    SendFailure(rc, why.empty() ? "the document cannot be converted" : why);
    return 1;
  }
  const std::uint32_t done[2] = {protocol::kTagDone, 0};
  WriteAll(done, sizeof done);
  return 0;
}

}  // namespace fe
