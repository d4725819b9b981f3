#include "print_submit.h"

#include <cups/cups.h>

#include <QPrintEngine>
#include <QPrinter>
#include <QStringList>

#include "fe_errors.h"

namespace fe {

namespace {
// Qt's CUPS print engine keeps the options of the dialog's printer properties
// page (media source, quality ...) as name/value pairs under this engine key.
constexpr auto kCupsOptionsKey = QPrintEngine::PrintEnginePropertyKey(0xfe00);
}  // namespace

int SubmitToQueue(const QString& queue, const QString& pdfFile, const QString& title, const QPrinter& chosen) {
  cups_option_t* options = nullptr;
  int count = 0;
  if (QPrintEngine* engine = const_cast<QPrinter&>(chosen).printEngine()) {
    const QVariant extra = engine->property(kCupsOptionsKey);
    if (extra.metaType().id() == QMetaType::QStringList) {
      const QStringList pairs = extra.toStringList();
      for (qsizetype i = 0; i + 1 < pairs.size(); i += 2)
        count = cupsAddOption(pairs[i].toUtf8().constData(), pairs[i + 1].toUtf8().constData(), count, &options);
    }
  }
  count = cupsAddOption("copies", QByteArray::number(std::max(1, chosen.copyCount())).constData(), count, &options);
  if (chosen.copyCount() > 1 && chosen.collateCopies()) count = cupsAddOption("collate", "true", count, &options);
  const char* sides = nullptr;
  switch (chosen.duplex()) {
    case QPrinter::DuplexNone:
      sides = "one-sided";
      break;
    case QPrinter::DuplexLongSide:
      sides = "two-sided-long-edge";
      break;
    case QPrinter::DuplexShortSide:
      sides = "two-sided-short-edge";
      break;
    default:
      break;
  }
  if (sides) count = cupsAddOption("sides", sides, count, &options);
  const int job = cupsPrintFile(queue.toLocal8Bit().constData(), pdfFile.toLocal8Bit().constData(),
                                title.toUtf8().constData(), count, options);
  cupsFreeOptions(count, options);
  return job > 0 ? 0 : -ecDeviceWriteError;
}

}  // namespace fe
