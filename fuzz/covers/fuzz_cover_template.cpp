// Fuzz target: any bytes as a flat cover template. The records read must write
// back to the same bytes they were read from, and drawing them must not crash;
// the same bytes also serve as a description file.
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "covers/cover_render.h"
#include "covers/cover_template.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static int argc = 1;
  static char name[] = "fuzz-cover_template";
  static char* argv[] = {name, nullptr};
  if (!QGuiApplication::instance()) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    new QGuiApplication(argc, argv);
    // Closed before the leak check at exit, with its font caches.
    std::atexit([] { delete QGuiApplication::instance(); });
  }
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto records = covers::ParseTemplate(bytes);
  // Records written by us read back unchanged.
  if (covers::ParseTemplate(covers::SerializeTemplate(records)) != records) std::abort();
  (void)covers::DescriptionLine(bytes);

  covers::CoverData cover;
  for (std::size_t i = 0; i < cover.texts.size(); ++i) cover.texts[i] = std::string(i + 1, 'W');
  cover.flags.fill(true);
  static QImage canvas = covers::BlankCanvas(covers::kPreviewWidth / 2, covers::kPreviewHeight / 2);
  QPainter p(&canvas);
  covers::DrawTemplateRecords(p, records, cover, {QStringLiteral("message & more")}, 2);
  return 0;
}
