// bench-viewer: opens a 50-page fine fax in the viewer control (offscreen), steps
// through every page at each zoom level and rotation, and sets the median time of
// a page change (command to finished repaint) against the time our decoder alone
// needs for the same pages in the same run.
//
// "warm": as a user steps, the event loop runs between page changes, so the
// control prepares the next pages while idle. "cold": no idle time at all, every
// page change decodes, scales and turns its page itself.
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "fax_samples.h"
#include "fe_fax_viewer.h"

namespace {
constexpr unsigned kPages = 50;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

double DecodeMs(const std::string& path, unsigned n) {
  QElapsedTimer t;
  t.start();
  const qntest::SamplePage page = qntest::DecodePage(path, n);
  const double ms = double(t.nsecsElapsed()) / 1e6;
  return page.height ? ms : -1;
}

void Idle() {
  for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
}
}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QTemporaryDir dir;
  const std::string path = (dir.path() + QStringLiteral("/fine50.apf")).toStdString();
  std::vector<qntest::SamplePage> pages;
  for (unsigned n = 0; n < kPages; ++n) pages.push_back(qntest::TextLikePage(1728, 2200, n + 1));
  if (qntest::WriteFax(path, pages, fe::pfHighRes) != 0) {
    std::fprintf(stderr, "bench-viewer: cannot write %s\n", path.c_str());
    return 1;
  }
  pages.clear();

  fe::TFeFaxViewer viewer;
  viewer.resize(900, 700);
  viewer.show();
  QElapsedTimer t;
  t.start();
  viewer.SetFileName(path);
  const double openMs = double(t.nsecsElapsed()) / 1e6;

  std::vector<double> decode, warm, cold;
  const unsigned levels[] = {25, 50, 75, 100};
  for (bool idle : {true, false}) {
    for (unsigned level : levels) {
      for (int rotation = 0; rotation < 4; ++rotation) {
        viewer.BeginUpdate();
        viewer.SetScaleFactors(level, 100, level, 100);
        viewer.SetScaling(level != 100);
        viewer.SetRotation(rotation);
        viewer.EndUpdate();
        viewer.FirstPage();
        if (idle) Idle();
        for (unsigned n = 2; n <= kPages; ++n) {
          t.restart();
          viewer.NextPage();
          viewer.viewport()->repaint();
          (idle ? warm : cold).push_back(double(t.nsecsElapsed()) / 1e6);
          if (idle) {
            decode.push_back(DecodeMs(path, n));
            Idle();
          }
        }
      }
    }
  }
  const double d = Median(decode), w = Median(warm), c = Median(cold);
  std::printf("pages %u fine 1728x2200, viewer area 900x700, open %.2f ms (first page only)\n", kPages, openMs);
  std::printf("page changes %zu warm, %zu cold over 4 zoom levels x 4 rotations\n", warm.size(), cold.size());
  std::printf("median decode alone   %.3f ms\n", d);
  std::printf("median page change    %.3f ms (warm)   %.3f ms (cold, no idle time)\n", w, c);
  std::printf("cold ratio pagechange/decode=%.2f\n", c / d);
  std::printf("ratio pagechange/decode=%.2f\n", w / d);
  return 0;
}
