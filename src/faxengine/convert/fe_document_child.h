// Documents (PDF, PostScript, and for the program's "Fax a Document" also TIFF,
// PCX, DCX, BMP and text files) are read and rendered in a converter process of
// their own, never in the caller's: a hostile or broken document can then only
// cost that process, which runs with limits the caller chooses.
//
// Conventions callers rely on:
//  - ChildDocumentReader is a RasterReader: open() starts the converter program
//    (quillon-convert, found beside the running program, then at its installed
//    place) with the document on its standard input and the rendered pages
//    coming back through a pipe, one page at a time as they are made, so a page
//    cap stops a document at the page after the cap.
//  - The converter gets only its two pipes and standard error, an environment
//    built here (its temporary folder is a private one, removed when the reader
//    goes), its own process group, and the limits of DocumentLimits: address
//    space, processor time, size of any file it writes, and a wall-clock time
//    the reader enforces itself. The document is handed over as bytes, so no
//    interpreter ever sees its file name.
//  - Failures come back as a negative error code from open()/readLine() with a
//    sentence for the user in errorText(): ecBadGraphicsFormat for a document
//    that cannot be read or has too many pages, ecOutOfMemory (the memory
//    limit), ecConvertAbort (time limit, or the stop flag), ecDiskFull (the file
//    size limit). The reader never throws and never leaves its child running:
//    the destructor kills and reaps it and removes its folder.
//  - Not copyable; one reader runs one conversion at a time. Safe to use from a
//    threaded program: the child only runs async-signal-safe calls until exec.
#pragma once

#include <sys/types.h>

#include <csignal>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fe_raster_reader.h"

namespace fe {

// What the converter process is told to read. PDF and PostScript pages come
// back at their true size on the whole fax line; images and text are placed on
// the fax line in the child as the converter places them (half-inch left
// margin, small images doubled and centred, text in the built-in fax font), so
// every kind comes back as whole fax lines.
enum class DocumentKind { Pdf, PostScript, Tiff, Pcx, Dcx, Bmp, Text };

// The kind a file's first bytes show (PDF, PostScript, TIFF, BMP, DCX; PCX by
// its header); false when they show none of them (text has no mark).
bool SniffDocumentKind(std::span<const std::uint8_t> head, DocumentKind& kind);
// The converter's switch for a kind ("--pdf", "--tiff", ...).
const char* DocumentKindSwitch(DocumentKind kind);

struct DocumentLimits {
  std::uint64_t memoryBytes = std::uint64_t(1) << 30;  // address space of the converter
  std::uint64_t fileBytes = std::uint64_t(512) << 20;  // any one file it writes
  unsigned seconds = 120;                              // wall-clock time for the whole document
  unsigned maxPages = 1000;                            // 0: no cap
};

// The sentence for a memory limit: "1 GB", "300 MB".
std::string DescribeBytes(std::uint64_t bytes);

class ChildDocumentReader : public RasterReader {
 public:
  // input: an open descriptor of the document, read from its start (the reader
  // duplicates it; the caller keeps and closes its own). postScript chooses the
  // interpreter; lineWidth and highRes as for DocumentReader. stop, when given,
  // is polled while the child works: a non-zero value ends the conversion
  // (error 8003), for a SIGTERM handler that can only set a flag.
  ChildDocumentReader(int input, bool postScript, unsigned lineWidth, bool highRes, DocumentLimits limits,
                      const volatile std::sig_atomic_t* stop = nullptr);
  ChildDocumentReader(int input, DocumentKind kind, unsigned lineWidth, bool highRes, DocumentLimits limits,
                      const volatile std::sig_atomic_t* stop = nullptr);
  ~ChildDocumentReader() override;
  ChildDocumentReader(const ChildDocumentReader&) = delete;
  ChildDocumentReader& operator=(const ChildDocumentReader&) = delete;

  int open() override;
  unsigned imageWidth() const override { return width_; }
  int readLine(std::uint8_t* buf, unsigned& len, bool& endOfPage, bool& morePages) override;
  std::uint64_t bytesRead() const override { return pagesDone_; }
  std::uint64_t bytesTotal() const override { return pagesTotal_; }

  const std::string& errorText() const { return error_; }
  // Pages the document has, once the converter has counted them (0 before).
  unsigned pageCount() const { return unsigned(pagesTotal_); }

 private:
  int start();
  void finish();
  int fail(int code, std::string text);
  int readPage();
  int readExact(void* to, std::size_t n);
  int childGone();

  int input_;
  DocumentKind kind_;
  bool postScript_, highRes_;
  unsigned lineWidth_;
  DocumentLimits limits_;
  const volatile std::sig_atomic_t* stop_;
  pid_t pid_ = -1;
  int out_ = -1;  // the child's pages
  std::string folder_;
  double deadline_ = 0;
  std::uint64_t peakVm_ = 0;
  std::string error_;
  int failed_ = 0;
  unsigned width_ = 0, height_ = 0, row_ = 0;
  bool more_ = false;
  std::uint64_t pagesDone_ = 0, pagesTotal_ = 0;
  std::vector<std::uint8_t> bits_;
};

// The converter program: $QUILLON_CONVERTER when it names an executable by an
// absolute path (a print queue whose backend was copied from a build tree gets
// it with SetEnv in cups-files.conf); else quillon-convert beside the running
// program, relative to it as <bindir>/../libexec/quillon, or at the installed
// place; empty when none exists. The converter always runs with the caller's
// own rights (the backend starts it after giving up root).
std::string ConverterProgram();

// Work files of a process that is gone: names "<prefix><pid>-..." whose process
// no longer runs, or that are older than an hour. SweepStaleWorkFiles removes
// such entries (files or whole folders) of folder that belong to the caller's
// user; returns how many went. Used for the converter's "qnps-" folders in the
// temporary folder and the print queue's ".qnprint-" files in SEND.
bool IsStaleWorkName(const std::string& name, const std::string& prefix, std::int64_t ageSeconds);
unsigned SweepStaleWorkFiles(const std::string& folder, const std::string& prefix);

// The temporary folder work files go to: $TMPDIR when it is a writable folder,
// else /tmp.
std::string WorkTempFolder();

}  // namespace fe
