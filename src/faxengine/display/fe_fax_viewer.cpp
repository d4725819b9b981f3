#include "fe_fax_viewer.h"

#include <QApplication>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QThread>
#include <QUrl>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <numeric>

#include "fe_errors.h"
#include "fe_exceptions.h"

namespace fe {

namespace {
constexpr int kAutoScrollMs = 50;
constexpr int kFarOutside = 20;      // pixels outside the window that double the auto-scroll
constexpr unsigned kKeepAround = 2;  // pages kept on each side of the current one

struct Fraction {
  std::uint64_t num = 1, den = 1;
  Fraction times(std::uint64_t n, std::uint64_t d) const {
    Fraction f{num * std::max<std::uint64_t>(1, n), den * std::max<std::uint64_t>(1, d)};
    const std::uint64_t g = std::gcd(f.num, f.den);
    return {f.num / g, f.den / g};
  }
};

// The view of a raster as a QImage of the same size (Format_Mono rows).
TRasterView ImageView(QImage& image) {
  return {image.bits(), unsigned(image.width()), unsigned(image.height()), std::size_t(image.bytesPerLine())};
}

std::atomic<bool> g_viewerPause{false};

// Waits the pause with the event loop running (not for painting: see paintEvent).
void PauseWithEvents() {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < kViewerPauseMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(5);
  }
}

QImage NewMonoImage(unsigned w, unsigned h) {
  if (w == 0 || h == 0 || w > 0x7FFFFFF || h > 0x7FFFFFF) return {};
  QImage image(int(w), int(h), QImage::Format_Mono);
  if (image.isNull()) return image;
  image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
  return image;
}
}  // namespace

void SetViewerPause(bool on) { g_viewerPause = on; }
bool ViewerPauseEnabled() { return g_viewerPause; }

void TFeFaxViewer::PausePaint(PaintPause next) {
  pause_ = next;
  QTimer::singleShot(kViewerPauseMs, this, [this] {
    if (pause_ == PaintPause::before) {
      pause_ = PaintPause::ready;
      viewport()->update();
    } else if (pause_ == PaintPause::after) {
      pause_ = PaintPause::idle;
      if (paintAgain_) viewport()->update();
      paintAgain_ = false;
    }
  });
}

TFeFaxViewer::TFeFaxViewer(QWidget* parent) : QAbstractScrollArea(parent) {
  setFocusPolicy(Qt::StrongFocus);  // takes the focus by tab
  setFrameShape(QFrame::Box);       // single border
  setFrameShadow(QFrame::Plain);
  resize(100, 50);
  viewport()->setAutoFillBackground(false);
  viewport()->setMouseTracking(false);
  SetAcceptDragged(true);
  busyCursor_ = QCursor(Qt::WaitCursor);
  autoScroll_.setInterval(kAutoScrollMs);
  connect(&autoScroll_, &QTimer::timeout, this, &TFeFaxViewer::AutoScroll);
  prefetch_.setSingleShot(true);
  prefetch_.setInterval(0);
  connect(&prefetch_, &QTimer::timeout, this, &TFeFaxViewer::Prefetch);
  UpdateScrollBars();
}

TFeFaxViewer::~TFeFaxViewer() = default;

QSize TFeFaxViewer::sizeHint() const {
  return {100, 50};
}

// ---- errors -------------------------------------------------------------------------

void TFeFaxViewer::Fail(int code) const {
  RaiseFeError(-std::abs(code));
}

void TFeFaxViewer::ReportError(int code) {
  // Delivered from the event loop: a handler that shows a message box must not
  // run inside the operation that met the error.
  QMetaObject::invokeMethod(
      this,
      [this, code] {
        if (OnViewerError) OnViewerError(*this, std::abs(code));
      },
      Qt::QueuedConnection);
}

// ---- properties -----------------------------------------------------------------------

void TFeFaxViewer::SetFGColor(const QColor& c) {
  fg_ = c;
  viewport()->update();
}

void TFeFaxViewer::SetBGColor(const QColor& c) {
  bg_ = c;
  viewport()->update();
}

void TFeFaxViewer::SetScaling(bool on) {
  if (scaling_ == on) return;
  scaling_ = on;
  Restyle();
}

void TFeFaxViewer::SetScaleFactors(unsigned hMult, unsigned hDiv, unsigned vMult, unsigned vDiv) {
  hMult_ = std::max(1u, hMult), hDiv_ = std::max(1u, hDiv), vMult_ = std::max(1u, vMult), vDiv_ = std::max(1u, vDiv);
  if (scaling_) Restyle();
}
void TFeFaxViewer::SetHorizMult(unsigned v) {
  SetScaleFactors(v, hDiv_, vMult_, vDiv_);
}
void TFeFaxViewer::SetHorizDiv(unsigned v) {
  SetScaleFactors(hMult_, v, vMult_, vDiv_);
}
void TFeFaxViewer::SetVertMult(unsigned v) {
  SetScaleFactors(hMult_, hDiv_, v, vDiv_);
}
void TFeFaxViewer::SetVertDiv(unsigned v) {
  SetScaleFactors(hMult_, hDiv_, vMult_, v);
}

void TFeFaxViewer::SetAutoScaleMode(TAutoScaleMode mode) {
  if (autoScale_ == mode) return;
  autoScale_ = mode;
  Restyle();
}

void TFeFaxViewer::SetWhitespace(bool on, unsigned from, unsigned to) {
  if (on && (from < to || (from == 0 && to != 0))) Fail(ecBadArgument);
  const TWhitespaceSettings ws{on, from, to};
  if (ws == ws_) return;
  ws_ = ws;
  // Decoded pages depend on it: decode again.
  for (auto& [n, slot] : slots_) slot.page.reset();
  Restyle();
}

void TFeFaxViewer::SetScrollSteps(unsigned horiz, unsigned vert) {
  hStep_ = std::max(1u, horiz);
  vStep_ = std::max(1u, vert);
  UpdateScrollBars();
}

void TFeFaxViewer::SetAcceptDragged(bool on) {
  acceptDragged_ = on;
  setAcceptDrops(on);
  viewport()->setAcceptDrops(on);
}

// ---- files ------------------------------------------------------------------------------

void TFeFaxViewer::SetFileName(const std::string& name) {
  if (name.empty()) {
    Unload();
    return;
  }
  CheckFe(OpenFile(name));
}

void TFeFaxViewer::Unload() {
  prefetch_.stop();
  pages_->Close();
  slots_.clear();
  fileName_.clear();
  current_ = 0;
  rotation_ = 0;
  display_ = QImage();
  shade_ = QImage();
  marked_ = false;
  UpdateScrollBars();
  viewport()->update();
}

int TFeFaxViewer::OpenFile(const std::string& name) {
  auto pages = std::make_unique<TViewerPages>();
  if (int rc = pages->Open(name); rc < 0) return rc;  // the file shown so far stays
  Unload();
  pages_ = std::move(pages);
  viewport()->update();
  fileName_ = name;
  current_ = 1;
  rotation_ = 0;
  {
    const bool busy = loadWhole_ || pages_->Count() > 0;
    if (busy) QApplication::setOverrideCursor(busyCursor_);
    int rc = 0;
    for (unsigned n = 1; n <= (loadWhole_ ? pages_->Count() : 1) && rc == 0; ++n) rc = EnsureDecoded(n);
    if (busy) QApplication::restoreOverrideCursor();
    if (rc < 0) {
      Unload();
      return rc;
    }
  }
  if (pages_->MissingPages()) ReportError(ecReadBeyondEOF);  // page headers past the end of the file
  return ShowPage(true);
}

int TFeFaxViewer::EnsureDecoded(unsigned n) {
  Slot& slot = slots_[n];
  if (slot.page) return 0;
  try {
    auto page = std::make_shared<TDecodedPage>();
    if (int rc = pages_->Decode(n, ws_, page.get()); rc < 0) return rc;
    slot.page = std::move(page);
    slot.display = QImage();
    return 0;
  } catch (const std::bad_alloc&) {
    return -ecOutOfMemory;
  }
}

// ---- pages --------------------------------------------------------------------------------

void TFeFaxViewer::CheckPage(unsigned n) const {
  if (!current_) Fail(ecNoImageLoaded);
  if (n == 0 || n > pages_->Count()) Fail(ecBadArgument);
}

void TFeFaxViewer::FirstPage() {
  if (current_ && current_ != 1) GotoPage(1);
}
void TFeFaxViewer::PrevPage() {
  if (current_ > 1) GotoPage(current_ - 1);
}
void TFeFaxViewer::NextPage() {
  if (current_ && current_ < pages_->Count()) GotoPage(current_ + 1);
}
void TFeFaxViewer::LastPage() {
  if (current_ && current_ != pages_->Count()) GotoPage(pages_->Count());
}

void TFeFaxViewer::GotoPage(unsigned n) {
  CheckPage(n);
  if (showing_) return;
  current_ = n;
  CheckFe(ShowPage(true));
}

TFeFaxViewer::ViewKey TFeFaxViewer::KeyFor(const TDecodedPage& page) const {
  // Factors in the page's own axes: aspect correction first, then the caller's
  // factors, which are given for the axes as shown (swapped by odd rotations).
  Fraction h, v;
  if (!(page.flags & pfHighRes)) {
    if (autoScale_ == asDoubleHeight) v = v.times(2, 1);
    if (autoScale_ == asHalfWidth) h = h.times(1, 2);
  }
  if (scaling_) {
    const bool swap = rotation_ & 1;
    h = swap ? h.times(vMult_, vDiv_) : h.times(hMult_, hDiv_);
    v = swap ? v.times(hMult_, hDiv_) : v.times(vMult_, vDiv_);
  }
  return {rotation_, unsigned(h.num), unsigned(h.den), unsigned(v.num), unsigned(v.den)};
}

QImage TFeFaxViewer::Prepare(const TDecodedPage& page, const ViewKey& key) const {
  try {
    const TConstRasterView src = page.raster.cview();
    const bool scaled = key.hNum != key.hDen || key.vNum != key.vDen;
    const unsigned sw = ScaledSize(src.width, key.hNum, key.hDen);
    const unsigned sh = ScaledSize(src.height, key.vNum, key.vDen);
    unsigned rw = 0, rh = 0;
    RotatedSize(sw, sh, key.rotation, &rw, &rh);
    QImage image = NewMonoImage(rw, rh);
    if (image.isNull()) return image;
    if (!scaled) {
      RotateRaster(src, ImageView(image), key.rotation);
    } else if (key.rotation == 0) {
      ScaleRaster(src, ImageView(image), key.hNum, key.hDen, key.vNum, key.vDen);
    } else {
      TRaster tmp;
      tmp.Reset(sw, sh);
      ScaleRaster(src, tmp.view(), key.hNum, key.hDen, key.vNum, key.vDen);
      RotateRaster(tmp.cview(), ImageView(image), key.rotation);
    }
    return image;
  } catch (const std::bad_alloc&) {
    return {};
  }
}

QImage TFeFaxViewer::Shade(const TDecodedPage& page, const ViewKey& key, QSize size) {
  if (size.isEmpty() || (key.hNum >= key.hDen && key.vNum >= key.vDen)) return {};
  try {
    const TConstRasterView src = page.raster.cview();
    unsigned rw = 0, rh = 0;
    RotatedSize(src.width, src.height, key.rotation, &rw, &rh);
    QImage full = NewMonoImage(rw, rh);
    if (full.isNull()) return {};
    RotateRaster(src, ImageView(full), key.rotation);
    // Smooth scaling averages the area each pixel covers when it reduces.
    const QImage grey = full.convertToFormat(QImage::Format_RGB32)
                            .scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                            .convertToFormat(QImage::Format_Grayscale8);
    if (grey.isNull()) return {};
    QImage shade(grey.size(), QImage::Format_Indexed8);
    if (shade.isNull()) return {};
    for (int y = 0; y < grey.height(); ++y) std::memcpy(shade.scanLine(y), grey.constScanLine(y), std::size_t(grey.width()));
    return shade;
  } catch (const std::bad_alloc&) {
    return {};
  }
}

void TFeFaxViewer::PrepareSlot(Slot& slot, const ViewKey& key) const {
  slot.display = Prepare(*slot.page, key);
  slot.shade = slot.display.isNull() ? QImage() : Shade(*slot.page, key, slot.display.size());
  slot.key = key;
}

int TFeFaxViewer::ShowPage(bool notify) {
  if (showing_ || !current_) return 0;  // re-entry while a page is being prepared is ignored
  showing_ = true;
  if (int rc = EnsureDecoded(current_); rc < 0) {
    showing_ = false;
    Unload();
    return rc;
  }
  Slot& slot = slots_[current_];
  const ViewKey key = KeyFor(*slot.page);
  if (slot.display.isNull() || !(slot.key == key)) PrepareSlot(slot, key);
  if (slot.display.isNull()) {  // no memory for the page as shown
    showing_ = false;
    Unload();
    return -ecOutOfMemory;
  }
  display_ = slot.display;
  shade_ = slot.shade;
  marked_ = false;
  UpdateScrollBars();
  horizontalScrollBar()->setValue(0);
  verticalScrollBar()->setValue(0);
  viewport()->update();
  if (slot.page->error && !slot.errorReported) {
    slot.errorReported = true;
    ReportError(slot.page->error);
  }
  // Pages far from the current one are let go; decoded pages stay with LoadWholeFax.
  for (auto it = slots_.begin(); it != slots_.end();) {
    const unsigned n = it->first;
    const bool near = n + kKeepAround >= current_ && n <= current_ + kKeepAround;
    if (near) {
      ++it;
    } else if (loadWhole_) {
      it->second.display = QImage();
      it->second.shade = QImage();
      ++it;
    } else {
      it = slots_.erase(it);
    }
  }
  SchedulePrefetch();
  showing_ = false;
  if (notify && OnPageChange) OnPageChange(*this);
  return 0;
}

void TFeFaxViewer::Restyle() {
  if (updateDepth_ > 0) {
    pendingRestyle_ = true;
    return;
  }
  if (current_)
    if (int rc = ShowPage(true); rc < 0) ReportError(rc);
}

void TFeFaxViewer::SchedulePrefetch() {
  if (current_ && !prefetch_.isActive()) prefetch_.start();
}

// Decodes and prepares one neighbour of the current page per call (next pages
// first), then asks to be called again while work remains.
void TFeFaxViewer::Prefetch() {
  if (!current_ || showing_) return;
  const unsigned candidates[] = {current_ + 1, current_ - 1, current_ + 2};
  for (unsigned n : candidates) {
    if (n == 0 || n > pages_->Count()) continue;
    Slot* slot = nullptr;
    if (auto it = slots_.find(n); it != slots_.end() && it->second.page) slot = &it->second;
    if (!slot) {
      if (EnsureDecoded(n) < 0) {
        slots_.erase(n);  // reported when the page is shown
        continue;
      }
      prefetch_.start();
      return;
    }
    const ViewKey key = KeyFor(*slot->page);
    if (slot->display.isNull() || !(slot->key == key)) {
      PrepareSlot(*slot, key);
      prefetch_.start();
      return;
    }
  }
}

QSize TFeFaxViewer::PageSize() const {
  auto it = current_ ? slots_.find(current_) : slots_.end();
  if (it == slots_.end() || !it->second.page) return {};
  const TDecodedPage& p = *it->second.page;
  const bool standard = !(p.flags & pfHighRes);
  const unsigned w = standard && autoScale_ == asHalfWidth ? p.raster.width / 2 : p.raster.width;
  const unsigned h = standard && autoScale_ == asDoubleHeight ? p.raster.height * 2 : p.raster.height;
  return (rotation_ & 1) ? QSize(int(h), int(w)) : QSize(int(w), int(h));
}

unsigned TFeFaxViewer::PageWidth() const { return unsigned(PageSize().width()); }
unsigned TFeFaxViewer::PageHeight() const { return unsigned(PageSize().height()); }

std::uint16_t TFeFaxViewer::PageFlags() const {
  return current_ ? pages_->Info(current_).flags() : 0;
}

QImage TFeFaxViewer::PageBitmap(unsigned n) {
  CheckPage(n);
  CheckFe(EnsureDecoded(n));
  const TDecodedPage& page = *slots_[n].page;
  const bool saved = scaling_;
  scaling_ = false;
  const ViewKey key = KeyFor(page);
  scaling_ = saved;
  QImage image = Prepare(page, key);
  if (image.isNull()) Fail(ecOutOfMemory);
  return image;
}

void TFeFaxViewer::SetRotation(int r) {
  r &= 3;
  if (r == rotation_) return;
  rotation_ = r;
  marked_ = false;
  Restyle();
}

// ---- batches ------------------------------------------------------------------------------

void TFeFaxViewer::BeginUpdate() {
  if (updateDepth_++ == 0) viewport()->setUpdatesEnabled(false);
}

void TFeFaxViewer::EndUpdate() {
  if (updateDepth_ == 0) return;
  if (--updateDepth_ > 0) return;
  viewport()->setUpdatesEnabled(true);
  if (pendingRestyle_) {
    pendingRestyle_ = false;
    Restyle();
  }
  viewport()->update();
}

// ---- painting and scrolling -----------------------------------------------------------------

QPoint TFeFaxViewer::ScrollPosition() const {
  return {horizontalScrollBar()->value(), verticalScrollBar()->value()};
}

void TFeFaxViewer::UpdateScrollBars() {
  const QSize area = viewport()->size();
  QScrollBar* h = horizontalScrollBar();
  QScrollBar* v = verticalScrollBar();
  h->setRange(0, std::max(0, display_.width() - area.width()));
  v->setRange(0, std::max(0, display_.height() - area.height()));
  h->setSingleStep(int(hStep_));
  v->setSingleStep(int(vStep_));
  h->setPageStep(int(hStep_) * 10);  // a jump is ten steps
  v->setPageStep(int(vStep_) * 10);
}

void TFeFaxViewer::resizeEvent(QResizeEvent* e) {
  QAbstractScrollArea::resizeEvent(e);
  UpdateScrollBars();
}

void TFeFaxViewer::scrollContentsBy(int, int) {
  viewport()->update();
}

void TFeFaxViewer::ScrollBy(int dx, int dy) {
  horizontalScrollBar()->setValue(horizontalScrollBar()->value() + dx);
  verticalScrollBar()->setValue(verticalScrollBar()->value() + dy);
}

void TFeFaxViewer::paintEvent(QPaintEvent* e) {
  QPainter painter(viewport());
  const QRect dirty = e->rect();
  const QPoint scroll = ScrollPosition();
  const QRect pageOnScreen = display_.isNull() ? QRect() : QRect(-scroll, display_.size());
  // Outside the page: the window's own background.
  QRegion outside(dirty);
  outside -= pageOnScreen;
  for (const QRect& r : outside) painter.fillRect(r, palette().color(QPalette::Dark));
  const QRect visible = dirty & pageOnScreen;
  if (visible.isEmpty()) return;
  // The pause never runs the event loop inside a paint: the paint is put off
  // instead, and the page drawn when the pause is over.
  if (ViewerPauseEnabled()) {
    switch (pause_) {
      case PaintPause::idle: PausePaint(PaintPause::before); return;
      case PaintPause::before: return;
      case PaintPause::after: paintAgain_ = true; return;
      case PaintPause::ready: PausePaint(PaintPause::after); break;
    }
  }
  const QRect src = visible.translated(scroll);
  const QRgb fg = fg_.rgb() | 0xFF000000u, bg = bg_.rgb() | 0xFF000000u;
  if (!shade_.isNull() && shade_.size() == display_.size()) {
    // Grey levels from ink (0) to paper (255) in the window's colours.
    if (shade_.colorCount() != 256 || shade_.color(0) != fg || shade_.color(255) != bg) {
      QList<QRgb> table(256);
      for (int i = 0; i < 256; ++i)
        table[i] = qRgb((qRed(fg) * (255 - i) + qRed(bg) * i) / 255, (qGreen(fg) * (255 - i) + qGreen(bg) * i) / 255,
                        (qBlue(fg) * (255 - i) + qBlue(bg) * i) / 255);
      shade_.setColorTable(table);
    }
    painter.drawImage(visible.topLeft(), shade_, src);
  } else {
    PaintMono(painter, visible, src, fg, bg);
  }
  if (marked_) {
    const QRect mark = MarkRect().translated(-scroll);
    painter.fillRect(mark, QColor(0, 90, 200, 60));
    painter.setPen(QPen(QColor(0, 90, 200), 1, Qt::DashLine));
    painter.drawRect(mark.adjusted(0, 0, -1, -1));
  }
}

// Only the visible part is converted for the screen, eight pixels per table
// lookup; the page itself stays one bit deep.
void TFeFaxViewer::PaintMono(QPainter& painter, const QRect& visible, const QRect& src, QRgb fg, QRgb bg) {
  const int x0 = src.left() & ~7;
  const int pad = src.left() - x0;
  const int bytes = (pad + src.width() + 7) / 8;
  if (paintBuf_.width() < bytes * 8 || paintBuf_.height() < src.height())
    paintBuf_ = QImage(std::max(paintBuf_.width(), bytes * 8), std::max(paintBuf_.height(), src.height()),
                       QImage::Format_RGB32);
  if (paintLut_.empty() || lutFg_ != fg || lutBg_ != bg) {
    paintLut_.resize(256 * 8);
    for (unsigned v = 0; v < 256; ++v)
      for (unsigned b = 0; b < 8; ++b) paintLut_[v * 8 + b] = (v & (0x80u >> b)) ? fg : bg;
    lutFg_ = fg, lutBg_ = bg;
  }
  for (int y = 0; y < src.height(); ++y) {
    const uchar* in = display_.constScanLine(src.top() + y) + x0 / 8;
    auto* out = reinterpret_cast<QRgb*>(paintBuf_.scanLine(y));
    for (int b = 0; b < bytes; ++b) std::memcpy(out + 8 * b, &paintLut_[std::size_t(in[b]) * 8], 8 * sizeof(QRgb));
  }
  painter.drawImage(visible.topLeft(), paintBuf_, QRect(pad, 0, src.width(), src.height()));
}

// ---- keyboard ---------------------------------------------------------------------------------

void TFeFaxViewer::keyPressEvent(QKeyEvent* e) {
  const bool ctrl = e->modifiers() & Qt::ControlModifier;
  QScrollBar* h = horizontalScrollBar();
  QScrollBar* v = verticalScrollBar();
  const int steps = ctrl ? 10 : 1;
  switch (e->key()) {
    case Qt::Key_PageUp:
      if (ctrl)
        v->setValue(0);
      else
        PrevPage();
      break;
    case Qt::Key_PageDown:
      if (ctrl)
        v->setValue(v->maximum());
      else
        NextPage();
      break;
    case Qt::Key_Home:
      if (ctrl)
        FirstPage();
      else
        h->setValue(0);
      break;
    case Qt::Key_End:
      if (ctrl)
        LastPage();
      else
        h->setValue(h->maximum());
      break;
    case Qt::Key_Left:
      ScrollBy(-int(hStep_) * steps, 0);
      break;
    case Qt::Key_Right:
      ScrollBy(int(hStep_) * steps, 0);
      break;
    case Qt::Key_Up:
      ScrollBy(0, -int(vStep_) * steps);
      break;
    case Qt::Key_Down:
      ScrollBy(0, int(vStep_) * steps);
      break;
    default:
      e->ignore();  // the owner's key handling
      return;
  }
  e->accept();
}

// ---- selection ----------------------------------------------------------------------------------

QPoint TFeFaxViewer::ToPage(const QPoint& p) const {
  const QPoint q = p + ScrollPosition();
  return {std::clamp(q.x(), 0, std::max(0, display_.width())), std::clamp(q.y(), 0, std::max(0, display_.height()))};
}

QRect TFeFaxViewer::MarkRect() const {
  if (!marked_) return {};
  return QRect(QPoint(std::min(markStart_.x(), markEnd_.x()), std::min(markStart_.y(), markEnd_.y())),
               QPoint(std::max(markStart_.x(), markEnd_.x()) - 1, std::max(markStart_.y(), markEnd_.y()) - 1));
}

void TFeFaxViewer::SelectAll() {
  if (display_.isNull()) return;
  SelectRect(display_.rect());
}

void TFeFaxViewer::SelectRect(const QRect& r) {
  const QRect n = r.normalized() & display_.rect();
  marked_ = !n.isEmpty();
  markStart_ = n.topLeft();
  markEnd_ = n.bottomRight() + QPoint(1, 1);
  viewport()->update();
}

void TFeFaxViewer::ClearMark() {
  marked_ = false;
  viewport()->update();
}

void TFeFaxViewer::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton || display_.isNull()) return QAbstractScrollArea::mousePressEvent(e);
  setFocus(Qt::MouseFocusReason);
  markStart_ = markEnd_ = ToPage(e->position().toPoint());
  marked_ = false;
  captured_ = true;
  lastMouse_ = e->position().toPoint();
  viewport()->update();
}

void TFeFaxViewer::mouseMoveEvent(QMouseEvent* e) {
  if (!captured_) return QAbstractScrollArea::mouseMoveEvent(e);
  lastMouse_ = e->position().toPoint();
  markEnd_ = ToPage(lastMouse_);
  marked_ = markEnd_ != markStart_ && markEnd_.x() != markStart_.x() && markEnd_.y() != markStart_.y();
  if (viewport()->rect().contains(lastMouse_))
    autoScroll_.stop();
  else if (!autoScroll_.isActive())
    autoScroll_.start();
  viewport()->update();
}

void TFeFaxViewer::mouseReleaseEvent(QMouseEvent* e) {
  if (!captured_ || e->button() != Qt::LeftButton) return QAbstractScrollArea::mouseReleaseEvent(e);
  captured_ = false;
  autoScroll_.stop();
}

// While the button is held outside the window, scrolls toward the pointer: one
// step per tick, two when the pointer is far outside.
void TFeFaxViewer::AutoScroll() {
  if (!captured_) {
    autoScroll_.stop();
    return;
  }
  const QRect area = viewport()->rect();
  auto steps = [](int outside) { return outside <= 0 ? 0 : (outside > kFarOutside ? 2 : 1); };
  const int left = steps(area.left() - lastMouse_.x());
  const int right = steps(lastMouse_.x() - area.right());
  const int up = steps(area.top() - lastMouse_.y());
  const int down = steps(lastMouse_.y() - area.bottom());
  ScrollBy((right - left) * int(hStep_), (down - up) * int(vStep_));
  markEnd_ = ToPage(lastMouse_);
  marked_ = markEnd_.x() != markStart_.x() && markEnd_.y() != markStart_.y();
  viewport()->update();
}

QImage TFeFaxViewer::MarkedImage() {
  if (!current_ || display_.isNull() || !marked_) return {};
  const QRect m = MarkRect();
  if (!scaling_ || (hMult_ == hDiv_ && vMult_ == vDiv_)) {
    QImage part = display_.copy(m);
    return part;
  }
  // Back to page pixels: the page unscaled, the mark divided by the factors.
  const QImage page = PageBitmap(current_);
  const auto back = [](int v, unsigned mult, unsigned div) { return int(std::int64_t(v) * div / mult); };
  const QRect r(QPoint(back(m.left(), hMult_, hDiv_), back(m.top(), vMult_, vDiv_)),
                QPoint(back(m.right() + 1, hMult_, hDiv_) - 1, back(m.bottom() + 1, vMult_, vDiv_) - 1));
  return page.copy(r & page.rect());
}

void TFeFaxViewer::CopyToClipboard() {
  const QImage image = MarkedImage();
  if (image.isNull()) return;
  const bool pause = ViewerPauseEnabled();
  if (pause) PauseWithEvents();
  QApplication::clipboard()->setImage(image);
  if (pause) PauseWithEvents();
}

// ---- dropped files ---------------------------------------------------------------------------

namespace {
QString FirstLocalFile(const QMimeData* data) {
  if (!data || !data->hasUrls()) return {};
  for (const QUrl& url : data->urls())
    if (url.isLocalFile()) return url.toLocalFile();
  return {};
}
}  // namespace

void TFeFaxViewer::dragEnterEvent(QDragEnterEvent* e) {
  if (acceptDragged_ && !FirstLocalFile(e->mimeData()).isEmpty())
    e->acceptProposedAction();
  else
    e->ignore();
}

void TFeFaxViewer::dragMoveEvent(QDragMoveEvent* e) {
  if (acceptDragged_ && !FirstLocalFile(e->mimeData()).isEmpty())
    e->acceptProposedAction();
  else
    e->ignore();
}

void TFeFaxViewer::dropEvent(QDropEvent* e) {
  const QString file = FirstLocalFile(e->mimeData());
  if (!acceptDragged_ || file.isEmpty()) return e->ignore();
  e->acceptProposedAction();
  const std::string name = file.toStdString();
  if (int rc = OpenFile(name); rc < 0) ReportError(rc);
  if (OnDropFile) OnDropFile(*this, name);
}

}  // namespace fe
