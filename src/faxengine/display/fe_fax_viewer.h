// TFeFaxViewer: a scrolling control that shows one page of an APF fax file at a
// time, with scaling, rotation in quarter turns, page navigation, a rubber-band
// selection that can be copied to the clipboard, and files dropped on it.
//
// Conventions callers rely on:
// - Properties are Get/Set pairs named after the published properties; a setter
//   takes effect at once (the page is shown again) unless a batch of updates is
//   open (BeginUpdate/EndUpdate), which repaints once at its end.
// - Operations that the caller asks for (SetFileName, GotoPage, SetRotation, ...)
//   raise EFeException with the engine error code on failure: 2 missing file,
//   8001 not a fax file or a file without pages, 1002 page number out of range,
//   8050 no page loaded, 8051 nothing marked, 8 out of memory.
// - Damage met while showing a page (data or file ending early: 100; a page taller
//   than the viewer keeps: 8054) does not unload the file: the page shows what
//   could be decoded and OnViewerError reports the code once per page, from the
//   event loop (never from inside the operation that showed the page).
// - Opening decodes the first page only (all pages with LoadWholeFax). After a
//   page is shown, the pages next to it are decoded and prepared for the current
//   zoom and rotation while the event loop is idle, so stepping through a fax
//   costs little more than painting.
// - Page numbers count from 1; "page coordinates" are those of the page as shown
//   (rotated and scaled), 0,0 at its top left.
#pragma once

#include <QAbstractScrollArea>
#include <QColor>
#include <QCursor>
#include <QImage>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QPainter;

#include "fe_fax_unpacker.h"
#include "fe_viewer_pages.h"

namespace fe {

class TFeFaxViewer;

// The process-wide pause flag of the viewers (a setting for display drivers that
// lose data when fed too fast; the application sets it at start-up): with it,
// drawing the page on the screen and copying a selection to the clipboard wait
// two timer ticks before and after, the event loop running meanwhile.
void SetViewerPause(bool on);
bool ViewerPauseEnabled();
inline constexpr int kViewerPauseMs = 110;

using TViewerFileDropEvent = std::function<void(TFeFaxViewer& Sender, const std::string& FileName)>;
using TViewerErrorEvent = std::function<void(TFeFaxViewer& Sender, int ErrorCode)>;
using TViewerNotifyEvent = std::function<void(TFeFaxViewer& Sender)>;

class TFeFaxViewer : public QAbstractScrollArea {
  Q_OBJECT
 public:
  explicit TFeFaxViewer(QWidget* parent = nullptr);
  ~TFeFaxViewer() override;

  // ---- published properties ----
  QColor FGColor() const { return fg_; }
  void SetFGColor(const QColor& c);
  QColor BGColor() const { return bg_; }
  void SetBGColor(const QColor& c);

  bool Scaling() const { return scaling_; }
  void SetScaling(bool on);
  unsigned HorizMult() const { return hMult_; }
  unsigned HorizDiv() const { return hDiv_; }
  unsigned VertMult() const { return vMult_; }
  unsigned VertDiv() const { return vDiv_; }
  void SetHorizMult(unsigned v);
  void SetHorizDiv(unsigned v);
  void SetVertMult(unsigned v);
  void SetVertDiv(unsigned v);
  // All four at once (0 is taken as 1).
  void SetScaleFactors(unsigned hMult, unsigned hDiv, unsigned vMult, unsigned vDiv);

  // Aspect correction of standard-resolution pages, as in the unpacker.
  TAutoScaleMode AutoScaleMode() const { return autoScale_; }
  void SetAutoScaleMode(TAutoScaleMode mode);

  bool WhitespaceCompression() const { return ws_.on; }
  unsigned WhitespaceFrom() const { return ws_.from; }
  unsigned WhitespaceTo() const { return ws_.to; }
  // Raises 1002 for a From below To, or a From of 0 with a To above 0.
  void SetWhitespace(bool on, unsigned from, unsigned to);

  unsigned HorizScroll() const { return hStep_; }
  unsigned VertScroll() const { return vStep_; }
  void SetScrollSteps(unsigned horiz, unsigned vert);

  bool AcceptDragged() const { return acceptDragged_; }
  void SetAcceptDragged(bool on);
  bool LoadWholeFax() const { return loadWhole_; }
  void SetLoadWholeFax(bool on) { loadWhole_ = on; }
  QCursor BusyCursor() const { return busyCursor_; }
  void SetBusyCursor(const QCursor& c) { busyCursor_ = c; }

  // The file shown; an empty name unloads it and leaves a blank window.
  const std::string& FileName() const { return fileName_; }
  void SetFileName(const std::string& name);

  TViewerFileDropEvent OnDropFile;
  TViewerNotifyEvent OnPageChange;
  TViewerErrorEvent OnViewerError;

  // ---- pages ----
  unsigned PageCount() const { return pages_->Count(); }
  unsigned CurrentPage() const { return current_; }
  void FirstPage();
  void PrevPage();
  void NextPage();
  void LastPage();
  void GotoPage(unsigned n);
  // Size of the current page as shown unscaled (aspect correction and rotation
  // applied), and its page flags; 0 without a page.
  unsigned PageWidth() const;
  unsigned PageHeight() const;
  QSize PageSize() const;
  std::uint16_t PageFlags() const;
  // Page n as a bitmap (aspect correction and the current rotation applied,
  // unscaled), owned by the caller.
  QImage PageBitmap(unsigned n);

  // Quarter turns clockwise, 0..3.
  int Rotation() const { return rotation_; }
  void SetRotation(int r);

  // ---- the shown page ----
  int DisplayWidth() const { return display_.width(); }
  int DisplayHeight() const { return display_.height(); }
  // The page as shown (scaled and rotated), white = 0 and black = 1 in its colour table.
  const QImage& DisplayImage() const { return display_; }
  QPoint ScrollPosition() const;

  // ---- selection and clipboard ----
  bool HasMark() const { return marked_; }
  QRect MarkRect() const;  // in page coordinates, normalised
  void SelectAll();
  void SelectRect(const QRect& r);  // an empty rectangle clears the mark
  void ClearMark();
  // The marked part in page pixels (scaled back when the page is scaled).
  QImage MarkedImage();
  // Puts MarkedImage on the clipboard; nothing without a page or a mark.
  void CopyToClipboard();

  // ---- batches of changes ----
  void BeginUpdate();
  void EndUpdate();

 protected:
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dragMoveEvent(QDragMoveEvent* e) override;
  void dropEvent(QDropEvent* e) override;
  void scrollContentsBy(int dx, int dy) override;
  QSize sizeHint() const override;

 private:
  struct ViewKey {
    int rotation = 0;
    unsigned hNum = 1, hDen = 1, vNum = 1, vDen = 1;
    bool operator==(const ViewKey&) const = default;
  };
  struct Slot {
    std::shared_ptr<TDecodedPage> page;
    QImage display;  // prepared for `key`
    QImage shade;    // the same, grey-averaged, when `key` reduces the page
    ViewKey key;
    bool errorReported = false;
  };

  int OpenFile(const std::string& name);
  void Unload();
  // Shows the current page: decodes it when needed, prepares it for the view,
  // resets scrolling and the mark, repaints and notifies.
  int ShowPage(bool notify);  // 0 or a negative code (the file is then unloaded)
  int EnsureDecoded(unsigned n);
  ViewKey KeyFor(const TDecodedPage& page) const;
  QImage Prepare(const TDecodedPage& page, const ViewKey& key) const;
  // A page the view reduces is painted from grey levels (each screen pixel the
  // average of the fax pixels it covers), so text stays legible; the one-bit
  // display stays the page for marks and copies. Null when nothing is reduced.
  static QImage Shade(const TDecodedPage& page, const ViewKey& key, QSize size);
  void PrepareSlot(Slot& slot, const ViewKey& key) const;
  void Restyle();  // view settings changed: prepare the current page again
  void SchedulePrefetch();
  void Prefetch();
  void ReportError(int code);
  void CheckPage(unsigned n) const;
  void UpdateScrollBars();
  void PaintMono(QPainter& painter, const QRect& visible, const QRect& src, QRgb fg, QRgb bg);
  void ScrollBy(int dx, int dy);
  QPoint ToPage(const QPoint& widgetPos) const;
  void AutoScroll();
  void Fail(int code) const;  // raises the exception for a negative or positive code

  std::unique_ptr<TViewerPages> pages_ = std::make_unique<TViewerPages>();
  std::map<unsigned, Slot> slots_;
  std::string fileName_;
  unsigned current_ = 0;
  int rotation_ = 0;
  QImage display_;
  QImage shade_;                // Indexed8 grey levels of display_, or null
  QImage paintBuf_;             // the visible part in screen colours
  // With the pause flag: the page is drawn only in the "ready" state, reached a
  // pause after a paint was asked for; after drawing, paints wait another pause.
  enum class PaintPause { idle, before, ready, after };
  PaintPause pause_ = PaintPause::idle;
  bool paintAgain_ = false;  // a paint asked for during the pause after drawing
  void PausePaint(PaintPause next);
  std::vector<QRgb> paintLut_;  // 8 screen pixels for each byte value
  QRgb lutFg_ = 0, lutBg_ = 0;

  QColor fg_ = Qt::black, bg_ = Qt::white;
  bool scaling_ = false;
  unsigned hMult_ = 1, hDiv_ = 1, vMult_ = 1, vDiv_ = 1;
  TAutoScaleMode autoScale_ = asDoubleHeight;
  TWhitespaceSettings ws_;
  unsigned hStep_ = 8, vStep_ = 8;
  bool acceptDragged_ = true;
  bool loadWhole_ = false;
  QCursor busyCursor_;

  int updateDepth_ = 0;
  bool pendingRestyle_ = false;
  bool showing_ = false;

  bool marked_ = false;
  QPoint markStart_, markEnd_;
  bool captured_ = false;
  QPoint lastMouse_;
  QTimer autoScroll_;
  QTimer prefetch_;
};

}  // namespace fe
