// The fax viewer control: what it paints against our decoder's raster, rotation
// and scaling against Qt's own image transforms, navigation and keys, selection,
// dropped files and damaged files.
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QMimeData>
#include <QScrollBar>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <cstdio>
#include <fstream>
#include <random>

#include "apf_format.h"
#include "fax_samples.h"
#include "fe_exceptions.h"
#include "fe_fax_viewer.h"
#include "fe_raster_ops.h"

using fe::TFeFaxViewer;

namespace {

QImage ToImage(const qntest::SamplePage& p, bool doubleLines = false) {
  const int h = int(doubleLines ? p.height * 2 : p.height);
  QImage image(int(p.width), h, QImage::Format_Mono);
  image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
  for (int y = 0; y < h; ++y)
    std::memcpy(image.scanLine(y), p.rows.data() + std::size_t(doubleLines ? y / 2 : y) * (p.width / 8), p.width / 8);
  return image;
}

// Pixel comparison that ignores the colour table and padding.
bool SamePixels(const QImage& a, const QImage& b) {
  if (a.size() != b.size()) return false;
  const QImage x = a.convertToFormat(QImage::Format_RGB32), y = b.convertToFormat(QImage::Format_RGB32);
  for (int r = 0; r < x.height(); ++r)
    if (std::memcmp(x.constScanLine(r), y.constScanLine(r), std::size_t(x.width()) * 4) != 0) return false;
  return true;
}

int ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const fe::EFeException& e) {
    return std::abs(e.ErrorCode());
  } catch (const std::bad_alloc&) {
    return 8;
  }
  return 0;
}

std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}
void WriteAll(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

}  // namespace

class ViewerControlTest : public QObject {
  Q_OBJECT
  QTemporaryDir dir_;
  std::string File(const char* name) const {
    return (dir_.path() + QLatin1Char('/') + QLatin1String(name)).toStdString();
  }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    QCOMPARE(qntest::WriteFax(File("fine5.apf"),
                              {qntest::TextLikePage(1728, 2200, 1), qntest::TextLikePage(1728, 2100, 2),
                               qntest::TextLikePage(1728, 1500, 3), qntest::TextLikePage(1728, 2300, 4),
                               qntest::TextLikePage(1728, 900, 5)},
                              fe::pfHighRes),
             0);
    QCOMPARE(qntest::WriteFax(File("std1.apf"), {qntest::TextLikePage(1728, 1100, 7)}, 0), 0);
    QCOMPARE(qntest::WriteFax(File("wide1.apf"), {qntest::TextLikePage(2048, 1300, 8)}, fe::pfHighRes), 0);
  }

  // Raster operations against a per-pixel definition (scaling) and Qt (rotation),
  // on odd sizes that leave partial bytes at the row ends.
  void rasterOpsAgainstReferences() {
    std::mt19937 rng(5);
    for (auto [w, h] : {std::pair{37u, 23u}, std::pair{64u, 9u}, std::pair{203u, 77u}, std::pair{8u, 1u}}) {
      fe::TRaster src;
      src.Reset(w, h);
      for (unsigned y = 0; y < h; ++y)
        for (unsigned x = 0; x < w; ++x)
          if (rng() % 5 == 0) src.bits[y * src.stride + x / 8] |= std::uint8_t(0x80 >> (x % 8));
      QImage ref(int(w), int(h), QImage::Format_Mono);
      ref.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
      for (unsigned y = 0; y < h; ++y) std::memcpy(ref.scanLine(int(y)), src.bits.data() + y * src.stride, (w + 7) / 8);
      for (int r = 0; r < 4; ++r) {
        unsigned rw, rh;
        fe::RotatedSize(w, h, r, &rw, &rh);
        fe::TRaster dst;
        dst.Reset(rw, rh);
        fe::RotateRaster(src.cview(), dst.view(), r);
        QImage got(int(rw), int(rh), QImage::Format_Mono);
        got.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
        for (unsigned y = 0; y < rh; ++y)
          std::memcpy(got.scanLine(int(y)), dst.bits.data() + y * dst.stride, (rw + 7) / 8);
        QVERIFY2(SamePixels(got, ref.transformed(QTransform().rotate(90 * r))),
                 qPrintable(QString("%1x%2 r%3").arg(w).arg(h).arg(r)));
        // Padding bits stay white, so a further turn cannot pick up stray ink.
        if (rw % 8) QCOMPARE(dst.bits[(rw - 1) / 8] & (0xFF >> (rw % 8)), 0);
      }
      for (auto [n, d] :
           {std::pair{1u, 2u}, std::pair{3u, 4u}, std::pair{1u, 4u}, std::pair{2u, 3u}, std::pair{5u, 2u}}) {
        const unsigned sw = fe::ScaledSize(w, n, d), sh = fe::ScaledSize(h, d, n);
        fe::TRaster dst;
        dst.Reset(sw, sh);
        fe::ScaleRaster(src.cview(), dst.view(), n, d, d, n);
        for (unsigned y = 0; y < sh; ++y)
          for (unsigned x = 0; x < sw; ++x) {
            const unsigned x0 = x * d / n, x1 = std::min(w, std::max(x0 + 1, (x + 1) * d / n));
            const unsigned y0 = std::min(h - 1, y * n / d), y1 = std::min(h, std::max(y0 + 1, (y + 1) * n / d));
            bool black = false;
            for (unsigned yy = y0; yy < y1; ++yy)
              for (unsigned xx = x0; xx < x1; ++xx) black |= (src.bits[yy * src.stride + xx / 8] >> (7 - xx % 8)) & 1;
            const bool got = (dst.bits[y * dst.stride + x / 8] >> (7 - x % 8)) & 1;
            QVERIFY2(got == black,
                     qPrintable(QString("%1x%2 by %3/%4 at %5,%6").arg(w).arg(h).arg(n).arg(d).arg(x).arg(y)));
          }
      }
    }
  }

  // Unscaled, the control paints exactly the decoder's raster (standard pages with
  // every line twice), wherever it is scrolled to.
  void paintsTheDecodersRaster() {
    for (const char* name : {"fine5.apf", "std1.apf", "wide1.apf"}) {
      TFeFaxViewer v;
      v.resize(700, 500);
      v.show();
      v.SetFileName(File(name));
      const qntest::SamplePage ref = qntest::DecodePage(File(name), 1);
      const QImage expected = ToImage(ref, std::string(name) == "std1.apf");
      QVERIFY(SamePixels(v.DisplayImage(), expected));
      for (QPoint scroll : {QPoint(0, 0), QPoint(333, 1017), QPoint(100000, 100000)}) {
        v.horizontalScrollBar()->setValue(scroll.x());
        v.verticalScrollBar()->setValue(scroll.y());
        const QImage painted = v.viewport()->grab().toImage();
        const QPoint at = v.ScrollPosition();
        QVERIFY(at.x() > 0 || scroll.x() == 0);
        QVERIFY2(SamePixels(painted, expected.copy(QRect(at, painted.size()))), name);
      }
    }
  }

  // Rotation: each quarter turn is Qt's rotation of the page as shown, also when
  // scaled; turning 3 then 1 turns twice; four single turns give the page back.
  void rotationAndScaling() {
    TFeFaxViewer v;
    v.resize(600, 400);
    v.SetFileName(File("fine5.apf"));
    const QImage upright = v.DisplayImage().copy();
    for (int r : {1, 2, 3, 0}) {
      v.SetRotation(r);
      QVERIFY(SamePixels(v.DisplayImage(), upright.transformed(QTransform().rotate(90 * r))));
      QCOMPARE(int(v.PageWidth()), v.DisplayWidth());
    }
    v.SetRotation(3);
    v.SetRotation(1);
    QVERIFY(SamePixels(v.DisplayImage(), upright.transformed(QTransform().rotate(90))));
    v.SetRotation(0);

    v.BeginUpdate();
    v.SetScaleFactors(75, 100, 50, 100);
    v.SetScaling(true);
    v.EndUpdate();
    QCOMPARE(v.DisplayWidth(), 1296);
    QCOMPARE(v.DisplayHeight(), 1100);
    const QImage scaled = v.DisplayImage().copy();
    v.SetRotation(1);  // the factors apply to the axes as shown
    QCOMPARE(v.DisplayWidth(), 1650);
    QCOMPARE(v.DisplayHeight(), 864);
    v.SetRotation(0);
    QVERIFY(SamePixels(v.DisplayImage(), scaled));
    // A one-pixel frame survives a reduction to a quarter.
    v.SetScaleFactors(25, 100, 25, 100);
    const QImage quarter = v.DisplayImage();
    QCOMPARE(quarter.pixelIndex(0, 100), 1);
    QCOMPARE(quarter.pixelIndex(200, quarter.height() - 1), 1);

    // A standard page is shown with every line twice; unscaled at the page's size.
    v.SetScaling(false);
    v.SetFileName(File("std1.apf"));
    QCOMPARE(v.DisplayHeight(), 2200);
    QCOMPARE(v.Rotation(), 0);
    v.SetAutoScaleMode(fe::asHalfWidth);
    QCOMPARE(v.DisplayWidth(), 864);
    QCOMPARE(v.DisplayHeight(), 1100);
  }

  // Pages and keys: Page Down on the last page stays, Ctrl+End / Ctrl+Home go to
  // the ends, page numbers out of range are refused, every change is notified.
  void navigationAndKeys() {
    TFeFaxViewer v;
    v.resize(500, 400);
    v.show();
    int changes = 0;
    v.OnPageChange = [&](TFeFaxViewer&) { ++changes; };
    v.SetFileName(File("fine5.apf"));
    QCOMPARE(v.PageCount(), 5u);
    QCOMPARE(v.CurrentPage(), 1u);
    QCOMPARE(changes, 1);
    QTest::keyClick(&v, Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(v.CurrentPage(), 5u);
    QTest::keyClick(&v, Qt::Key_PageDown);
    QCOMPARE(v.CurrentPage(), 5u);
    QCOMPARE(changes, 2);
    QTest::keyClick(&v, Qt::Key_PageUp);
    QCOMPARE(v.CurrentPage(), 4u);
    QCOMPARE(v.DisplayHeight(), 2300);
    QTest::keyClick(&v, Qt::Key_Home, Qt::ControlModifier);
    QCOMPARE(v.CurrentPage(), 1u);
    QCOMPARE(ErrorOf([&] { v.GotoPage(0); }), 1002);
    QCOMPARE(ErrorOf([&] { v.GotoPage(6); }), 1002);
    QCOMPARE(v.CurrentPage(), 1u);

    v.SetScrollSteps(8, 8);
    QTest::keyClick(&v, Qt::Key_Down);
    QCOMPARE(v.ScrollPosition().y(), 8);
    QTest::keyClick(&v, Qt::Key_Down, Qt::ControlModifier);
    QCOMPARE(v.ScrollPosition().y(), 88);
    QTest::keyClick(&v, Qt::Key_PageDown, Qt::ControlModifier);
    QCOMPARE(v.ScrollPosition().y(), v.verticalScrollBar()->maximum());
    QTest::keyClick(&v, Qt::Key_End);
    QCOMPARE(v.ScrollPosition().x(), v.horizontalScrollBar()->maximum());
    QTest::keyClick(&v, Qt::Key_Home);
    QCOMPARE(v.ScrollPosition().x(), 0);

    // A page change shows the new page from its top left.
    v.NextPage();
    QCOMPARE(v.ScrollPosition(), QPoint(0, 0));
    QVERIFY(SamePixels(v.DisplayImage(), ToImage(qntest::DecodePage(File("fine5.apf"), 2))));
    // Neighbours are decoded while idle; stepping on shows the right page.
    QTest::qWait(50);
    v.NextPage();
    QVERIFY(SamePixels(v.DisplayImage(), ToImage(qntest::DecodePage(File("fine5.apf"), 3))));

    v.SetFileName("");
    QCOMPARE(v.PageCount(), 0u);
    QCOMPARE(v.CurrentPage(), 0u);
    QVERIFY(v.DisplayImage().isNull());
    v.NextPage();  // nothing to do, no failure
  }

  // Selection: the marked part comes back in page pixels when scaled; dragging
  // 30 pixels above the window scrolls up two steps per tick.
  void selectionAndClipboard() {
    TFeFaxViewer v;
    v.resize(400, 300);
    v.show();
    QVERIFY(QTest::qWaitForWindowExposed(&v));
    v.SetFileName(File("fine5.apf"));
    const QImage page = v.DisplayImage().copy();
    v.SelectRect(QRect(10, 20, 100, 50));
    QVERIFY(SamePixels(v.MarkedImage(), page.copy(QRect(10, 20, 100, 50))));
    v.CopyToClipboard();
    QVERIFY(SamePixels(QApplication::clipboard()->image(), page.copy(QRect(10, 20, 100, 50))));

    v.SetScaleFactors(1, 2, 1, 2);
    v.SetScaling(true);
    QVERIFY(!v.HasMark());
    v.SelectRect(QRect(5, 10, 50, 25));
    QCOMPARE(v.MarkedImage().size(), QSize(100, 50));
    QVERIFY(SamePixels(v.MarkedImage(), page.copy(QRect(10, 20, 100, 50))));

    v.SetScaling(false);
    v.verticalScrollBar()->setValue(400);
    QWidget* vp = v.viewport();
    QTest::mousePress(vp, Qt::LeftButton, {}, QPoint(50, 50));
    QMouseEvent move(QEvent::MouseMove, QPointF(60, -30), vp->mapToGlobal(QPointF(60, -30)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(vp, &move);
    const int before = v.ScrollPosition().y();
    QTest::qWait(130);  // two ticks of 50 ms at least
    const int after = v.ScrollPosition().y();
    QVERIFY2(before - after >= 32 && (before - after) % 16 == 0,
             qPrintable(QString("%1 -> %2").arg(before).arg(after)));
    QTest::mouseRelease(vp, Qt::LeftButton, {}, QPoint(60, 10));
    QVERIFY(v.HasMark());
    const int stopped = v.ScrollPosition().y();
    QTest::qWait(120);
    QCOMPARE(v.ScrollPosition().y(), stopped);

    v.SetFileName("");
    v.CopyToClipboard();  // nothing loaded: nothing happens
  }

  // With the pause flag the page reaches the screen only a pause after it was
  // asked for (the event loop runs meanwhile), and copying waits a pause before
  // and after; without it both happen at once.
  void pauseFlagDelaysDrawingAndCopying() {
    // Black pixels of the page inside the viewport, as the screen shows them.
    auto inkOnScreen = [](TFeFaxViewer& v) {
      const QImage shot = v.screen()->grabWindow(v.winId()).toImage().convertToFormat(QImage::Format_RGB32).copy(
          QRect(v.viewport()->mapTo(&v, QPoint(0, 0)), v.viewport()->size()));
      int ink = 0;
      for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) ink += qGray(shot.pixel(x, y)) == 0;
      return ink;
    };
    for (const bool pause : {false, true}) {
      fe::SetViewerPause(pause);
      TFeFaxViewer v;
      v.resize(400, 300);
      v.show();
      QVERIFY(QTest::qWaitForWindowExposed(&v));
      v.SetFileName(File("fine5.apf"));
      QTest::qWait(30);
      const int early = inkOnScreen(v);
      QTest::qWait(3 * fe::kViewerPauseMs);
      const int later = inkOnScreen(v);
      QVERIFY2(later > 1000, qPrintable(QString::number(later)));
      QCOMPARE(early == later, !pause);
      if (pause) QCOMPARE(early, 0);
      v.SelectRect(QRect(10, 20, 100, 50));
      QElapsedTimer clock;
      clock.start();
      v.CopyToClipboard();
      QCOMPARE(clock.elapsed() >= 2 * fe::kViewerPauseMs, pause);
    }
    fe::SetViewerPause(false);
  }

  // A file dropped from the file manager opens; a dropped file that is not a fax
  // is reported and the fax shown stays.
  void droppedFiles() {
    TFeFaxViewer v;
    v.resize(300, 200);
    v.show();
    std::vector<std::string> dropped;
    std::vector<int> errors;
    v.OnDropFile = [&](TFeFaxViewer&, const std::string& f) { dropped.push_back(f); };
    v.OnViewerError = [&](TFeFaxViewer&, int code) { errors.push_back(code); };
    auto drop = [&](const std::string& file) {
      QMimeData data;
      data.setUrls({QUrl::fromLocalFile(QString::fromStdString(file))});
      QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(v.viewport(), &enter);
      QVERIFY(enter.isAccepted());
      QDropEvent dropEvent(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(v.viewport(), &dropEvent);
    };
    drop(File("fine5.apf"));
    QCOMPARE(v.FileName(), File("fine5.apf"));
    QCOMPARE(v.PageCount(), 5u);
    WriteAll(File("notafax.apf"), {'h', 'e', 'l', 'l', 'o', '\n'});
    drop(File("notafax.apf"));
    QTest::qWait(10);
    QCOMPARE(errors, std::vector<int>{8001});
    QCOMPARE(v.FileName(), File("fine5.apf"));
    QCOMPARE(dropped.size(), 2u);
    v.SetAcceptDragged(false);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(File("std1.apf")))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(v.viewport(), &enter);
    QVERIFY(!enter.isAccepted());
  }

  // Damaged files: what can be decoded is shown, the damage reported once per
  // page, never a hang or a crash.
  void damagedFiles() {
    const std::vector<std::uint8_t> good = ReadAll(File("fine5.apf"));
    TFeFaxViewer v;
    v.resize(300, 200);
    std::vector<int> errors;
    v.OnViewerError = [&](TFeFaxViewer&, int code) { errors.push_back(code); };

    QCOMPARE(ErrorOf([&] { v.SetFileName(File("missing.apf")); }), 2);
    WriteAll(File("zero.apf"), std::vector<std::uint8_t>(good.begin(), good.begin() + 64));
    {
      auto bytes = ReadAll(File("zero.apf"));
      bytes[32] = bytes[33] = 0;
      WriteAll(File("zero.apf"), bytes);
    }
    QCOMPARE(ErrorOf([&] { v.SetFileName(File("zero.apf")); }), 8001);
    QCOMPARE(ErrorOf([&] { v.SetFileName(dir_.path().toStdString()); }), 8001);  // a folder

    // Cut in the middle of page 2: page 1 whole, page 2 up to the cut, error 100 once.
    fe::TApfReader reader;
    QCOMPARE(reader.Open(File("fine5.apf")), 0);
    fe::TApfPageInfo p2;
    QCOMPARE(reader.LocatePage(2, &p2), 0);
    WriteAll(File("cut.apf"),
             std::vector<std::uint8_t>(good.begin(), good.begin() + long(p2.dataOffset + p2.header.imageLength / 2)));
    v.SetFileName(File("cut.apf"));
    QCOMPARE(v.PageCount(), 2u);  // the header's other three pages are not in the file
    QTest::qWait(10);
    QCOMPARE(errors, std::vector<int>{100});
    v.NextPage();
    QTest::qWait(10);
    QCOMPARE(errors, (std::vector<int>{100, 100}));
    QVERIFY(v.DisplayHeight() > 500 && v.DisplayHeight() < 2100);
    const QImage top = v.DisplayImage().copy(0, 0, 1728, 400);
    QVERIFY(SamePixels(top, ToImage(qntest::DecodePage(File("fine5.apf"), 2)).copy(0, 0, 1728, 400)));
    v.PrevPage();
    v.NextPage();
    QTest::qWait(10);
    QCOMPARE(errors.size(), 2u);  // reported once per page

    // A page header pointing past the end of the file.
    {
      auto bytes = good;
      bytes[long(p2.offset)] = 0xFF, bytes[long(p2.offset) + 1] = 0xFF, bytes[long(p2.offset) + 2] = 0xFF;
      bytes[long(p2.offset) + 3] = 0x7F;
      WriteAll(File("pastend.apf"), bytes);
    }
    errors.clear();
    v.SetFileName(File("pastend.apf"));
    QCOMPARE(v.PageCount(), 2u);
    v.LastPage();
    QTest::qWait(10);
    QVERIFY(!errors.empty() && errors.back() == 100);

    // Garbage after a valid header and page header decodes to something, quietly.
    {
      std::vector<std::uint8_t> bytes(good.begin(), good.begin() + 64);
      bytes[32] = 1, bytes[33] = 0;
      const std::uint8_t page[16] = {0x00, 0x40, 0, 0, fe::pfHighRes, 0};
      bytes.insert(bytes.end(), page, page + 16);
      std::mt19937 rng(3);
      for (int i = 0; i < 0x4000; ++i) bytes.push_back(std::uint8_t(rng()));
      WriteAll(File("garbage.apf"), bytes);
    }
    v.SetFileName(File("garbage.apf"));
    QCOMPARE(v.PageCount(), 1u);
    QVERIFY(!v.DisplayImage().isNull());

    // A 60,000-line page opens, turns and scrolls.
    QCOMPARE(qntest::WriteFax(File("long.apf"), {qntest::TextLikePage(1728, 60000, 9)}, fe::pfHighRes), 0);
    v.SetFileName(File("long.apf"));
    QCOMPARE(v.DisplayHeight(), 60000);
    v.SetRotation(1);
    QCOMPARE(v.DisplayWidth(), 60000);
    QTest::keyClick(&v, Qt::Key_End);
    QCOMPARE(v.ScrollPosition().x(), v.horizontalScrollBar()->maximum());
    v.SetRotation(0);
  }
};

QTEST_MAIN(ViewerControlTest)
#include "viewer_control_test.moc"
