#include "cover_designer.h"

#include <QAction>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QHBoxLayout>
#include <QHash>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <cmath>

#include "common/dialogs.h"
#include "common/folders.h"
#include "common/help.h"
#include "common/ini_file.h"
#include "covers/objects/cover_objects.h"
#include "designer_dialogs.h"
#include "template_io.h"

namespace covers {

namespace {

constexpr int kDesignerHelpTopic = 2008;
constexpr int kQuickTipsHelpTopic = 2009;
constexpr char kFontSection[] = "CD Default Font";
const QString kTitle = QStringLiteral("Cover Sheet Template Designer");

// Hints are written with "\r" line breaks.
QString Hint(const char* text) {
  return qn::DisplayText(QString::fromUtf8(text));
}

std::string Settings() {
  return qn::SettingsFile();
}

}  // namespace

TCoverDesMainScreen::TCoverDesMainScreen(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("CoverDesMainScreen"));
  setWindowTitle(kTitle);
  setSizeGripEnabled(true);

  // Toolbar: the drawing tools in one radio group, zoom, grid.
  Panel2 = new QWidget(this);
  tools_ = new QButtonGroup(this);
  tools_->setExclusive(true);
  using P = TFaxCoverPanel;
  Pointerbutton =
      ToolButton(QStringLiteral("Select"),
                 Hint("Selection tool -  use this tool to select existing items\ron the cover sheet"), P::psPointing);
  DrawLabelButton =
      ToolButton(QStringLiteral("Text"),
                 Hint("Text tool - use this tool to place static text on the\rcover sheet template"), P::psLabel);
  DrawSymbolButton = ToolButton(
      QStringLiteral("Symbol"),
      Hint("Symbol tool - use this tool to place various symbols\ron the cover sheet  template"), P::psSymbolLabel);
  DrawRectanglebutton =
      ToolButton(QStringLiteral("Rectangle"),
                 Hint("Rectangle tool  - use this tool to place rectangles of \rvarious sizes, either filled or "
                      "transparent, on the cover \rsheet template"),
                 P::psRectangle);
  DrawEllipseButton =
      ToolButton(QStringLiteral("Ellipse"),
                 Hint("Ellipse tool - use this tool to place ellipses or circles \rof  various sizes, either filled "
                      "or transparent, on the cover \rsheet template"),
                 P::psEllipse);
  DrawRoundrectbutton =
      ToolButton(QStringLiteral("Round"),
                 Hint("Round Rectangle tool - use this tool to place rectangles \r(with rounded corners) of  various "
                      "sizes, either filled or \rtransparent, on the cover sheet template"),
                 P::psRoundRectangle);
  DrawLinebutton = ToolButton(QStringLiteral("Line"),
                              Hint("Line Tool  - use this tool to place lines of \rvarious lengths, either vertical, "
                                   "horizontal or \rangled, on the cover sheet template"),
                              P::psLine);
  FieldBoxButton = ToolButton(
      QStringLiteral("Field"),
      Hint("Field Box tool - use this tool to place field text of \rvarious font styles and sizes, on the cover sheet "
           "template\r\rThe field text will be filled with the values you \rtype in when you create a fax cover "
           "from this template.\r"),
      P::psField);
  DrawMessageButton = ToolButton(
      QStringLiteral("Message"),
      Hint("Message Box tool - use this tool to place a rectangular\rmessage area on the cover sheet template.\r\rThe "
           "message area will be filled with your message\rwhen you create a fax cover from this template."),
      P::psMessage);
  DrawImportanceButton = ToolButton(
      QStringLiteral("Importance"),
      Hint("Importance Box Tool - use this tool to create  importance\rcheckboxes on the cover sheet template (i.e. "
           "Urgent, For Review...)\r\rThe importance checkboxes will be filled with your importance \rselections "
           "when you create a fax cover from this template."),
      P::psImportance);
  Pointerbutton->setChecked(true);

  ZoomSpinner = new QWidget(Panel2);
  ZoomSpinner->setToolTip(Hint("Press plus (+) or minus (-) to \rincrease or decrease the zoom percentage"));
  ZoomDownButton = new QToolButton(ZoomSpinner);
  ZoomDownButton->setText(QStringLiteral("-"));
  ZoomDownButton->setToolTip(ZoomSpinner->toolTip());
  ZoomDownButton->setAccessibleName(QStringLiteral("Zoom out"));
  ZoomUpButton = new QToolButton(ZoomSpinner);
  ZoomUpButton->setText(QStringLiteral("+"));
  ZoomUpButton->setToolTip(ZoomSpinner->toolTip());
  ZoomUpButton->setAccessibleName(QStringLiteral("Zoom in"));
  ZoomCaption = new QLabel(QStringLiteral("100%"), ZoomSpinner);
  ZoomCaption->setMinimumWidth(ZoomCaption->fontMetrics().horizontalAdvance(QStringLiteral("160%")) + 6);
  ZoomCaption->setAlignment(Qt::AlignCenter);
  auto* zoomLayout = new QHBoxLayout(ZoomSpinner);
  zoomLayout->setContentsMargins(0, 0, 0, 0);
  zoomLayout->setSpacing(2);
  zoomLayout->addWidget(ZoomDownButton);
  zoomLayout->addWidget(ZoomCaption);
  zoomLayout->addWidget(ZoomUpButton);

  ShowGrid = new QToolButton(Panel2);
  ShowGrid->setText(QStringLiteral("&Grid"));
  ShowGrid->setCheckable(true);
  ShowGrid->setToolTip(QStringLiteral("Show grid toggle"));
  SnapToGrid = new QToolButton(Panel2);
  SnapToGrid->setText(QStringLiteral("S&nap"));
  SnapToGrid->setCheckable(true);
  SnapToGrid->setToolTip(QStringLiteral("Snap to Grid toggle"));

  auto* toolbar = new QHBoxLayout(Panel2);
  toolbar->setContentsMargins(2, 2, 2, 2);
  toolbar->setSpacing(1);
  for (QAbstractButton* b : tools_->buttons()) toolbar->addWidget(b);
  // The gaps stay small, so the whole bar fits an 800-pixel screen.
  toolbar->addSpacing(4);
  toolbar->addWidget(ZoomSpinner);
  toolbar->addSpacing(4);
  toolbar->addWidget(ShowGrid);
  toolbar->addWidget(SnapToGrid);
  toolbar->addStretch(1);

  // The page in a silver scroll box.
  LabelPanel = new TFaxCoverPanel;
  LabelPanel->setObjectName(QStringLiteral("LabelPanel"));
  LabelPanel->setFixedSize(TFaxCoverPanel::kPageWidth, TFaxCoverPanel::kPageHeight);
  LabelPanel->SetShape(design::TGBasePanel::lsRectangle);
  LabelPanel->SetDrawOutline(true);
  LabelPanel->SetGridSize(design::TGBasePanel::gs4x4);
  LabelPanel->SetShowGrid(false);
  LabelPanel->SetSnapToGrid(false);
  LabelPanel->SetPanelState(TFaxCoverPanel::psPointing);
  ScrollBox = new QScrollArea(this);
  ScrollBox->setBackgroundRole(QPalette::Mid);
  QPalette silver = ScrollBox->palette();
  silver.setColor(QPalette::Mid, QColor(0xC0, 0xC0, 0xC0));
  ScrollBox->setPalette(silver);
  ScrollBox->setWidget(LabelPanel);
  ScrollBox->setWidgetResizable(false);
  Clipboard = new TCoverClipboard(LabelPanel);

  // Button bar.
  CancelButton = new QPushButton(QStringLiteral("&Cancel"), this);
  CancelButton->setToolTip(QStringLiteral("Click to cancel changes"));
  SaveButton = new QPushButton(QStringLiteral("&Save"), this);
  SaveButton->setToolTip(QStringLiteral("Click to save changes"));
  HelpButton = new QPushButton(QStringLiteral("&Help"), this);
  CloseButton = new QPushButton(QStringLiteral("E&xit"), this);
  Assistbutton = new QPushButton(QStringLiteral("&Quick tips"), this);
  for (QPushButton* b : {CancelButton, SaveButton, HelpButton, CloseButton, Assistbutton}) b->setAutoDefault(false);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(Assistbutton);
  buttons->addStretch(1);
  buttons->addWidget(CancelButton);
  buttons->addWidget(SaveButton);
  buttons->addWidget(HelpButton);
  buttons->addWidget(CloseButton);

  // File menu.
  MainMenu = new QMenuBar(this);
  FileMenu = MainMenu->addMenu(QStringLiteral("&File"));
  New1 = FileMenu->addAction(QStringLiteral("&New"), this, &TCoverDesMainScreen::NewClick);
  Open1 = FileMenu->addAction(QStringLiteral("&Open"), this, &TCoverDesMainScreen::OpenClick);
  Delete1 = FileMenu->addAction(QStringLiteral("&Delete"), this, &TCoverDesMainScreen::DeleteClick);
  FileMenu->addSeparator();
  Save1 = FileMenu->addAction(QStringLiteral("&Save"), this, &TCoverDesMainScreen::SaveClick);
  Save1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  SaveAs1 = FileMenu->addAction(QStringLiteral("Save &As..."), this, [this] { SaveAsClick(); });
  PreviewTemplates1 =
      FileMenu->addAction(QStringLiteral("&Preview Saved Templates"), this, &TCoverDesMainScreen::PreviewClick);
  FileMenu->addSeparator();
  DefaultFont1 = FileMenu->addAction(QStringLiteral("&Default Font - "), this, &TCoverDesMainScreen::DefaultFontClick);
  FileMenu->addSeparator();
  Exit1 = FileMenu->addAction(QStringLiteral("E&xit"), this, &QWidget::close);
  MRU = new TMRUFileList(5, this);
  MRU->AttachTo(FileMenu);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 6);
  layout->setSpacing(2);
  layout->setMenuBar(MainMenu);
  layout->addWidget(Panel2);
  layout->addWidget(ScrollBox, 1);
  auto* bottom = new QHBoxLayout;
  bottom->setContentsMargins(6, 0, 6, 0);
  bottom->addLayout(buttons);
  layout->addLayout(bottom);
  resize(880, 720);

  connect(tools_, &QButtonGroup::idClicked, this,
          [this](int id) { LabelPanel->SetPanelState(static_cast<TFaxCoverPanel::TLPanelState>(id)); });
  connect(LabelPanel, &design::TGBasePanel::droppedObject, this, [this] {
    Pointerbutton->setChecked(true);
    LabelPanel->SetPanelState(TFaxCoverPanel::psPointing);
  });
  connect(LabelPanel, &design::TGBasePanel::labelChanged, this, [this] {
    if (!loading_) SetChanged(true);
  });
  connect(ShowGrid, &QToolButton::toggled, LabelPanel, &design::TGBasePanel::SetShowGrid);
  connect(SnapToGrid, &QToolButton::toggled, LabelPanel, &design::TGBasePanel::SetSnapToGrid);
  connect(ZoomUpButton, &QToolButton::clicked, this, &TCoverDesMainScreen::ZoomIn);
  connect(ZoomDownButton, &QToolButton::clicked, this, &TCoverDesMainScreen::ZoomOut);
  connect(CancelButton, &QPushButton::clicked, this, &TCoverDesMainScreen::CancelClick);
  connect(SaveButton, &QPushButton::clicked, this, [this] {
    if (currentFile_.isEmpty())
      SaveAsClick();
    else
      SaveClick();
  });
  qn::SetHelpTopic(this, kDesignerHelpTopic);
  connect(HelpButton, &QPushButton::clicked, this, [this] { qn::ShowHelpFor(this); });
  connect(Assistbutton, &QPushButton::clicked, this, [] { qn::ShowHelpTopic(kQuickTipsHelpTopic); });
  connect(CloseButton, &QPushButton::clicked, this, &QWidget::close);
  connect(MRU, &TMRUFileList::clicked, this, &TCoverDesMainScreen::RecentFileClick);
  connect(Clipboard, &TCoverClipboard::failed, this, &TCoverDesMainScreen::ShowError);
  connect(LabelPanel, &design::TGBasePanel::objectDeleting, this,
          [this](design::TGGraphicControl* o) { designBounds_.remove(o); });
  for (QObject* o : {static_cast<QObject*>(LabelPanel), static_cast<QObject*>(LabelPanel->Handle())})
    o->installEventFilter(this);

  ReadDefaultFont();
  MRU->Load(Settings());
  setTabOrder(Pointerbutton, ScrollBox);
  Refresh();
}

TCoverDesMainScreen::~TCoverDesMainScreen() = default;

QToolButton* TCoverDesMainScreen::ToolButton(const QString& text, const QString& hint, int state) {
  auto* b = new QToolButton(Panel2);
  b->setText(text);
  b->setToolTip(hint);
  b->setCheckable(true);
  b->setAutoRaise(false);
  tools_->addButton(b, state);
  return b;
}

// ---- settings ------------------------------------------------------------------------

void TCoverDesMainScreen::ReadDefaultFont() {
  const qn::IniFile ini(Settings());
  QFont f(QString::fromStdString(ini.ReadString(kFontSection, "Name", "Arial")));
  int size = ini.ReadInteger(kFontSection, "Size", 10);
  if (size < 1 || size > 400) size = 10;
  f.setPointSize(size);
  f.setBold(ini.ReadBool(kFontSection, "Bold", false));
  f.setItalic(ini.ReadBool(kFontSection, "Italic", false));
  f.setUnderline(ini.ReadBool(kFontSection, "Underline", false));
  LabelPanel->SetPanelFont(f);
  DefaultFont1->setText(DefaultFontCaption());
}

void TCoverDesMainScreen::SaveDefaultFont() const {
  const QFont f = LabelPanel->PanelFont();
  qn::IniFile ini(Settings());
  ini.WriteString(kFontSection, "Name", f.family().toStdString());
  ini.WriteInteger(kFontSection, "Size", f.pointSize() > 0 ? f.pointSize() : 10);
  ini.WriteBool(kFontSection, "Bold", f.bold());
  ini.WriteBool(kFontSection, "Italic", f.italic());
  ini.WriteBool(kFontSection, "Underline", f.underline());
  ini.Flush();
}

QString TCoverDesMainScreen::DefaultFontCaption() const {
  const QFont f = LabelPanel->PanelFont();
  QString s = QStringLiteral("Default &Font: %1, %2 pt ").arg(QString(f.family()).replace(QLatin1Char('&'), QLatin1String("&&"))).arg(f.pointSize());
  if (f.bold()) s += QStringLiteral(", bold");
  if (f.italic()) s += QStringLiteral(", italic");
  return s;
}

// ---- state ---------------------------------------------------------------------------

void TCoverDesMainScreen::SetChanged(bool on) {
  changesMade_ = on;
  Refresh();
}

void TCoverDesMainScreen::Refresh() {
  setWindowTitle(currentDescription_.isEmpty() ? kTitle : kTitle + QStringLiteral(" - ") + currentDescription_);
  CancelButton->setVisible(changesMade_);
  SaveButton->setVisible(changesMade_);
  SaveButton->setText(currentFile_.isEmpty() ? QStringLiteral("&Save As") : QStringLiteral("&Save"));
  Save1->setEnabled(!currentFile_.isEmpty());
}

void TCoverDesMainScreen::ShowError(const QString& text) const {
  qn::MessageBoxText(text, kTitle, qn::mbOk | qn::mbIconWarning);
}

void TCoverDesMainScreen::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (activated_) return;
  activated_ = true;
  qn::RestorePlacement(this);
  loading_ = true;
  if (!MRU->Files().isEmpty() && QFileInfo::exists(MRU->Files().front())) OpenLabelFile(MRU->Files().front());
  loading_ = false;
  changesMade_ = false;
  Refresh();
  LabelPanel->setFocus();
}

bool TCoverDesMainScreen::AskSaveChanges() {
  if (!changesMade_) return true;
  if (qn::MessageBoxText(QStringLiteral("Save changes?"), QStringLiteral("Save"), qn::mbYesNo | qn::mbIconQuestion) !=
      qn::idYes)
    return true;
  if (currentFile_.isEmpty()) return SaveAsClick();
  SaveClick();
  return !changesMade_;
}

void TCoverDesMainScreen::closeEvent(QCloseEvent* e) {
  if (!AskSaveChanges()) {
    e->ignore();
    return;
  }
  SaveDefaultFont();
  qn::SavePlacement(this);
  e->accept();
  QDialog::reject();  // hides the window and ends exec()
}

void TCoverDesMainScreen::reject() {
  close();
}

bool TCoverDesMainScreen::eventFilter(QObject* watched, QEvent* e) {
  if (e->type() == QEvent::KeyRelease) {
    const auto* k = static_cast<QKeyEvent*>(e);
    if (k->key() == Qt::Key_Plus && !k->isAutoRepeat()) {
      ZoomIn();
      return true;
    }
    if (k->key() == Qt::Key_Minus && !k->isAutoRepeat()) {
      ZoomOut();
      return true;
    }
  } else if (e->type() == QEvent::KeyPress) {
    const auto* k = static_cast<QKeyEvent*>(e);
    QScrollBar* bar = ScrollBox->verticalScrollBar();
    switch (k->key()) {
      case Qt::Key_PageUp:
        bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
        return true;
      case Qt::Key_PageDown:
        bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        return true;
      case Qt::Key_Home:
        bar->setValue(bar->minimum());
        return true;
      case Qt::Key_End:
        bar->setValue(bar->maximum());
        return true;
      case Qt::Key_Plus:
      case Qt::Key_Minus:
        return true;  // zoom happens on release
      default:
        break;
    }
  }
  return QDialog::eventFilter(watched, e);
}

// ---- zoom ----------------------------------------------------------------------------

// The panel scales bounds with truncation, so zooming out and back again would
// move and shrink objects by a pixel each time. The unscaled bounds of every
// object are therefore kept here and each zoom is computed from them; an object
// moved or resized since the last zoom is measured anew.
void TCoverDesMainScreen::SetZoomPercent(int percent) {
  LabelPanel->ClearSelection();
  const bool wasLoading = loading_;
  loading_ = true;
  const double z0 = LabelPanel->Zoom() > 0 ? LabelPanel->Zoom() : 1.0;
  const double z = percent / 100.0;
  QHash<design::TGGraphicControl*, QRect> unscaled;
  for (design::TGGraphicControl* o : LabelPanel->Objects()) {
    const auto known = designBounds_.constFind(o);
    const QRect b = o->BoundsRect();
    if (known != designBounds_.constEnd() && known->first == b)
      unscaled.insert(o, known->second);
    else
      unscaled.insert(o,
                      QRect(qRound(b.x() / z0), qRound(b.y() / z0), qRound(b.width() / z0), qRound(b.height() / z0)));
  }
  zoomPercent_ = percent;
  LabelPanel->SetZoom(static_cast<float>(z));
  designBounds_.clear();
  auto scale = [z](int v) { return static_cast<int>(std::trunc(v * z)); };
  for (design::TGGraphicControl* o : LabelPanel->Objects()) {
    const QRect u = unscaled.value(o, o->BoundsRect());
    const QRect zoomed(scale(u.x()), scale(u.y()), scale(u.width()), scale(u.height()));
    o->SetLoading(true);
    o->SetBounds(zoomed);
    o->SetLoading(false);
    designBounds_.insert(o, {o->BoundsRect(), u});
  }
  LabelPanel->setFixedSize(scale(TFaxCoverPanel::kPageWidth), scale(TFaxCoverPanel::kPageHeight));
  LabelPanel->update();
  loading_ = wasLoading;
  ZoomCaption->setText(QStringLiteral("%1%").arg(percent));
}

// Steps of ten percent, from 40 % up to 160 %.
void TCoverDesMainScreen::ZoomIn() {
  if (zoomPercent_ <= 150) SetZoomPercent(zoomPercent_ + 10);
}

void TCoverDesMainScreen::ZoomOut() {
  if (zoomPercent_ >= 50) SetZoomPercent(zoomPercent_ - 10);
}

// ---- files ---------------------------------------------------------------------------

void TCoverDesMainScreen::OpenLabelFile(const QString& path) {
  const int zoom = zoomPercent_;
  if (zoom != 100) SetZoomPercent(100);
  loading_ = true;
  LabelPanel->ClearPanel();
  const TemplateResult r = LoadTemplate(*LabelPanel, path.toStdString());
  const bool damaged = !r.ok;
  if (!damaged) {
    currentFile_ = path;
    MRU->Add(path);
    if (!MRU->Save(Settings())) {
      LabelPanel->ClearPanel();
      currentFile_.clear();
      currentDescription_.clear();
      ShowError(QStringLiteral("Unable to open ") + path +
                QStringLiteral(". Possibly corrupted, possibly not a cover template file"));
    }
  }
  currentDescription_ = currentFile_.isEmpty() ? QString() : ReadTemplateDescription(path);
  if (damaged) {
    // What was read stays on the page, but the file is not taken as the current
    // one: a plain "Save" would replace it with less than it holds.
    currentFile_.clear();
    ShowError(QStringLiteral("Unable to open %1 completely: %2\r%3 object(s) could be read and are shown. The file "
                             "is left as it is; save the drawing under a new name to keep it.")
                  .arg(path, r.error)
                  .arg(r.objects));
  }
  changesMade_ = damaged && r.objects > 0;
  loading_ = false;
  if (zoom != 100) SetZoomPercent(zoom);
  Refresh();
  LabelPanel->update();
}

bool TCoverDesMainScreen::SaveLabelFile(const QString& path, const QString& description) {
  const int zoom = zoomPercent_;
  if (zoom != 100) SetZoomPercent(100);
  const bool wasLoading = loading_;
  loading_ = true;
  const TemplateResult r = SaveTemplate(*LabelPanel, path.toStdString(), description.toStdString());
  loading_ = wasLoading;
  if (zoom != 100) SetZoomPercent(zoom);
  if (!r.ok) {
    ShowError(QStringLiteral("The template was not saved completely. ") + r.error);
    return false;
  }
  return true;
}

void TCoverDesMainScreen::SaveClick() {
  if (currentFile_.isEmpty()) {
    qn::Beep();
    return;
  }
  QString description = ReadTemplateDescription(currentFile_);
  if (description.isEmpty()) description = QStringLiteral("[description]");
  if (!SaveLabelFile(currentFile_, description)) return;
  currentDescription_ = description;
  MRU->Add(currentFile_);
  MRU->Save(Settings());
  SetChanged(false);
}

bool TCoverDesMainScreen::SaveAsClick() {
  TSaveTemplateAs dialog(this);
  if (currentFile_.isEmpty()) {
    dialog.TemplateName->setText(NextTemplateName(qn::CoversFolder()));
    dialog.TemplateDescription->setText(QStringLiteral("[Description]"));
  } else {
    dialog.TemplateName->setText(QFileInfo(currentFile_).fileName());
    const QString d = ReadTemplateDescription(currentFile_);
    dialog.TemplateDescription->setText(d.isEmpty() ? QStringLiteral("[description]") : d);
  }
  QString path;
  for (;;) {
    if (dialog.exec() != QDialog::Accepted) return false;
    path = QString::fromStdString(qn::CoversFolder()) + dialog.TemplateName->text();
    // Another template of that name (a shipped one every New fax may use) is
    // replaced only when the user says so; saving the open template again is not asked.
    const bool sameAsOpen = !currentFile_.isEmpty() && QFileInfo(currentFile_).completeBaseName().toUpper() ==
                                                           QFileInfo(path).completeBaseName().toUpper();
    if (sameAsOpen || !TemplateExists(path.toStdString()) ||
        qn::AskYesNoDefaultNo(QStringLiteral("The template ") + dialog.TemplateName->text() +
                                  QStringLiteral(" already exists.\r\nDo you want to replace it?"),
                              QStringLiteral("Save fax cover template as")))
      break;
  }
  qn::ForceFolder(qn::CoversFolder());
  const QString description = dialog.TemplateDescription->text();
  if (!SaveLabelFile(path, description)) return false;
  currentFile_ = path;
  currentDescription_ = description;
  MRU->Add(path);
  MRU->Save(Settings());
  SetChanged(false);
  return true;
}

void TCoverDesMainScreen::NewClick() {
  if (!AskSaveChanges()) return;
  currentFile_.clear();
  currentDescription_.clear();
  loading_ = true;
  LabelPanel->ClearPanel();
  loading_ = false;
  SetChanged(false);
}

void TCoverDesMainScreen::OpenClick() {
  if (!AskSaveChanges()) return;
  TPreviewCovers chooser(currentFile_, false, this);
  if (chooser.exec() == QDialog::Accepted && !chooser.Chosen().isEmpty()) OpenLabelFile(chooser.Chosen());
}

void TCoverDesMainScreen::PreviewClick() {
  TPreviewCovers chooser(currentFile_, true, this);
  chooser.exec();
}

void TCoverDesMainScreen::DeleteClick() {
  QFileDialog dialog(this, QStringLiteral("Delete Fax Cover Template File"),
                     QString::fromStdString(qn::ResolvePath(qn::CoversFolder())),
                     QStringLiteral("Fax Cover Template (*.FCS *.fcs)"));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  const QString path = dialog.selectedFiles().front();
  if (QFileInfo(path).suffix().toUpper() != QLatin1String("FCS")) {
    ShowError(QStringLiteral("Must be a FCS (Fax Cover Template) file"));
    return;
  }
  if (qn::AskYesNoDefaultNo(QStringLiteral("Delete ") + path + QStringLiteral("?"), QStringLiteral("CONFIRM")))
    DeleteTemplateFiles(path.toStdString());
}

void TCoverDesMainScreen::DefaultFontClick() {
  bool ok = false;
  const QFont f = QFontDialog::getFont(&ok, LabelPanel->PanelFont(), this, QStringLiteral("Font"),
                                       QFontDialog::DontUseNativeDialog);
  if (!ok) return;
  QFont chosen = f;
  if (chosen.pointSize() <= 0) chosen.setPointSize(10);
  LabelPanel->SetPanelFont(chosen);
  DefaultFont1->setText(DefaultFontCaption());
  SaveDefaultFont();
}

void TCoverDesMainScreen::CancelClick() {
  if (!qn::AskYesNo(QStringLiteral("Cancel all changes?"), QStringLiteral("CANCEL"))) return;
  loading_ = true;
  LabelPanel->ClearPanel();
  loading_ = false;
  if (!currentFile_.isEmpty()) OpenLabelFile(currentFile_);
  SetChanged(false);
}

void TCoverDesMainScreen::RecentFileClick(const QString& path) {
  if (!AskSaveChanges()) {
    MRU->Add(path);  // the entry stays in the list
    return;
  }
  if (QFileInfo::exists(path)) {
    OpenLabelFile(path);
    return;
  }
  MRU->Save(Settings());
  ShowError(path + QStringLiteral(" no longer exists"));
}

void RunCoverDesigner(QWidget* parent) {
  TCoverDesMainScreen designer(parent);
  designer.exec();
}

}  // namespace covers
