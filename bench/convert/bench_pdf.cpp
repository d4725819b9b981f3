// Times `qnfax convert` and Ghostscript's own fax device (`gs -sDEVICE=tiffg3
// -r204x196`) turning the same 20-page PDF into fine fax pages, best of several
// runs each. The PDF is made here: every A4 page holds 40 lines of text and one
// photograph-like picture (a colour gradient with texture), so both the text
// path and the picture path of the renderers are measured. The ratio is taken
// from processor time, the steadier figure on a shared machine. Last line:
// ratio pdf=<gs CPU time / qnfax CPU time> ...
#include <QGuiApplication>
#include <QImage>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "bench_time.h"

namespace {

namespace fs = std::filesystem;
constexpr int kPages = 20, kLinesPerPage = 40, kRuns = 3;

QImage Picture(int page) {
  QImage img(600, 400, QImage::Format_RGB32);
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) {
      const double v = 0.5 + 0.5 * std::sin(x * 0.03 + page) * std::cos(y * 0.02);
      img.setPixel(x, y, qRgb(int(255 * v), int(x * 255 / img.width()), int(y * 255 / img.height())));
    }
  return img;
}

void MakePdf(const QString& path) {
  QPdfWriter pdf(path);
  pdf.setPageSize(QPageSize(QPageSize::A4));
  pdf.setResolution(300);
  QPainter p(&pdf);
  QFont font("DejaVu Sans");
  font.setPointSize(10);
  p.setFont(font);
  const char* words[] = {"fax",   "modem",      "page",  "line",  "Huffman", "station", "receive", "transmit", "cover",
                         "sheet", "resolution", "quick", "brown", "fox",     "ECM",     "T.30",    "9600",     "14400"};
  unsigned seed = 12345;
  for (int page = 0; page < kPages; ++page) {
    if (page) pdf.newPage();
    int y = 150;
    for (int l = 0; l < kLinesPerPage; ++l) {
      QString line = QString("%1.%2  ").arg(page + 1).arg(l + 1);
      while (line.size() < 80) {
        seed = seed * 1103515245 + 12345;
        line += QString::fromLatin1(words[(seed >> 16) % (sizeof words / sizeof *words)]) + ' ';
      }
      p.drawText(150, y, line);
      y += 50;
      if (l == 19) {
        p.drawImage(QRect(300, y, 1500, 1000), Picture(page));
        y += 1050;
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);
  const fs::path bin = fs::absolute(argv[0]).parent_path();
  const fs::path dir = fs::temp_directory_path() / ("qn-bench-pdf-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string doc = (dir / "doc.pdf").string();
  MakePdf(QString::fromStdString(doc));
  const bench::Timing ours =
      bench::Best({(bin / "qnfax").string(), "convert", doc, "-o", (dir / "doc.apf").string(), "--fine"}, kRuns);
  const bench::Timing gs = bench::Best({"gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=tiffg3", "-r204x196",
                                        "-sPAPERSIZE=a4", "-sOutputFile=" + (dir / "gs.tif").string(), doc},
                                       kRuns);
  std::error_code ec;
  const auto pdfBytes = fs::file_size(doc, ec);
  if (!std::getenv("QN_BENCH_KEEP")) fs::remove_all(dir, ec);
  if (ours.wall < 0 || gs.wall < 0) {
    std::fprintf(stderr, "bench-pdf: a command failed\n");
    return 1;
  }
  std::printf("document: %d A4 pages, text and one picture each (%llu bytes), fine resolution (best of %d runs)\n",
              kPages, static_cast<unsigned long long>(pdfBytes), kRuns);
  std::printf("qnfax convert:            %.3f s elapsed, %.3f s CPU\n", ours.wall, ours.cpu);
  std::printf("gs -sDEVICE=tiffg3:       %.3f s elapsed, %.3f s CPU\n", gs.wall, gs.cpu);
  std::printf("ratio pdf=%.2f pdf_wall=%.2f\n", gs.cpu / ours.cpu, gs.wall / ours.wall);
  return 0;
}
