// Fax files made for printing tests, and PDF printouts read back with
// poppler-utils (pdftoppm, pdftotext, pdfinfo).
#pragma once

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "apf_format.h"
#include "apf_writer.h"

namespace qntest {

// Whether pixel x of line y of page `page` is black.
using PagePattern = std::function<bool(unsigned page, unsigned x, unsigned y)>;

// Writes a fax of `pages` pages of `lines` lines each, `width` pixels wide.
inline bool MakeFax(const std::string& path, unsigned pages, unsigned lines, const PagePattern& black, bool fine = true,
                    unsigned width = 1728) {
  fe::TApfWriter w;
  if (w.Create(path) < 0) return false;
  std::vector<std::uint8_t> line(width / 8);
  const std::uint16_t flags =
      std::uint16_t((fine ? fe::pfHighRes : 0) | (width == 2048 ? fe::pfWide : 0) | fe::pfLineRecords);
  for (unsigned p = 1; p <= pages; ++p) {
    if (w.BeginPage(flags) < 0) return false;
    for (unsigned y = 0; y < lines; ++y) {
      std::fill(line.begin(), line.end(), 0);
      for (unsigned x = 0; x < width; ++x)
        if (black(p, x, y)) line[x / 8] |= std::uint8_t(0x80 >> (x % 8));
      if (w.AppendRasterLine(line.data(), width) < 0) return false;
    }
    if (w.EndPage() < 0) return false;
  }
  return w.Close() == 0;
}

// Page k is black over its top k tenths (so the black share names the page).
inline bool TopTenths(unsigned page, unsigned, unsigned y) {
  return y < page * 220;
}
constexpr unsigned kTenthsLines = 2200;

// The sheets of a PDF as grey images at `dpi`.
inline std::vector<QImage> RasterisePdf(const QString& pdf, int dpi = 50) {
  const QString prefix = pdf + QStringLiteral(".r");
  QProcess::execute(QStringLiteral("pdftoppm"),
                    {QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-gray"), pdf, prefix});
  QFileInfo info(pdf);
  QDir dir(info.absolutePath());
  QStringList names = dir.entryList({info.fileName() + QStringLiteral(".r-*.pgm")}, QDir::Files, QDir::Name);
  std::vector<QImage> sheets;
  for (const QString& n : names) {
    sheets.emplace_back(dir.filePath(n));
    dir.remove(n);
  }
  return sheets;
}

inline QString PdfText(const QString& pdf) {
  QProcess p;
  p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
  p.waitForFinished(30000);
  return QString::fromUtf8(p.readAllStandardOutput());
}

// The bounding box of the dark pixels inside `region` (empty when none).
inline QRect BlackBox(const QImage& sheet, QRect region = {}) {
  if (region.isNull()) region = sheet.rect();
  region &= sheet.rect();
  int left = INT32_MAX, top = INT32_MAX, right = -1, bottom = -1;
  for (int y = region.top(); y <= region.bottom(); ++y)
    for (int x = region.left(); x <= region.right(); ++x)
      if (qGray(sheet.pixel(x, y)) < 128) {
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
  if (right < 0) return {};
  return QRect(QPoint(left, top), QPoint(right, bottom));
}

}  // namespace qntest
