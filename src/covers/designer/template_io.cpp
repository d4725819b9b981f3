#include "template_io.h"

#include <QDateTime>
#include <QSet>
#include <algorithm>

#include "common/folders.h"
#include "covers/cover_render.h"
#include "covers/stream/cover_source.h"
#include "object_bridge.h"

namespace covers {

namespace {

using design::TGBasePanel;
using design::TGGraphicControl;

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

// The panel's font as an object without a font of its own shows it.
FontData PanelFontData(const TGBasePanel& panel, int ppi) {
  const QFont f = panel.PanelFont();
  FontData d;
  d.name = StoredText(f.family());
  const int points = f.pointSize() > 0 ? f.pointSize() : f.pixelSize() > 0 ? (f.pixelSize() * 72 + 48) / 96 : 10;
  d.height = FontHeightForSize(points, ppi);
  d.bold = f.bold();
  d.italic = f.italic();
  d.underline = f.underline();
  d.strikeOut = f.strikeOut();
  return d;
}

// Where a template file of the base name is: an existing one in any letter
// case, else the name with the extension as given.
std::string Sibling(const std::string& fcsPath, const char* ext) {
  return qn::ResolvePath(qn::ChangeFileExt(fcsPath, ext));
}

// Restores the panel's zoom when a save or load ends.
class UnitZoom {
 public:
  explicit UnitZoom(TGBasePanel& panel) : panel_(panel), zoom_(panel.Zoom()) { panel_.SetZoom(1.0F); }
  ~UnitZoom() { panel_.SetZoom(zoom_); }
  UnitZoom(const UnitZoom&) = delete;
  UnitZoom& operator=(const UnitZoom&) = delete;

 private:
  TGBasePanel& panel_;
  float zoom_;
};

}  // namespace

std::string StoredText(const QString& text) {
  return text.toStdString();
}
QString ReadStoredText(const std::string& bytes) {
  return DecodeText(bytes);
}

std::string WriteObjects(const QList<TGGraphicControl*>& objects) {
  std::vector<StreamObject> streams;
  for (const TGGraphicControl* o : objects) streams.push_back(ToStream(*o));
  return WriteObjectList(streams);
}

std::string FlattenPanel(const TGBasePanel& panel, int ppi, QString* error) {
  const FontData panelFont = PanelFontData(panel, ppi);
  std::vector<CoverObjectData> objects;
  for (const TGGraphicControl* o : panel.Objects()) {
    CoverObjectData data;
    std::string why;
    if (!FromStreamObject(ToStream(*o), data, why, panelFont)) {
      // Only a class this layer does not know can fail here; it is left out
      // of the flat template and said so.
      if (error) *error = Q(why);
      continue;
    }
    objects.push_back(std::move(data));
  }
  return SerializeTemplate(FlattenObjects(objects, panelFont, ppi));
}

TemplateResult SaveTemplate(TGBasePanel& panel, const std::string& fcsPath, const std::string& description, int ppi) {
  TemplateResult result;
  UnitZoom unit(panel);
  panel.ClearSelection();
  panel.DropObjectsOutside();
  QString flattenError;
  const std::string fct = Sibling(fcsPath, ".FCT");
  const std::string source = WriteObjects(panel.Objects());
  const std::string flat = FlattenPanel(panel, ppi, &flattenError);
  result.objects = static_cast<int>(panel.Objects().size());
  auto fail = [&result](const QString& what) {
    result.ok = false;
    result.error = what;
    return result;
  };
  if (!WriteWholeFile(qn::ResolvePath(fcsPath), source)) return fail("Unable to write " + Q(fcsPath) + ".");
  if (!WriteWholeFile(fct, flat)) return fail("Unable to write " + Q(fct) + ".");
  if (!MakePreview(fct)) return fail("Unable to write the preview picture of " + Q(fct) + ".");
  const std::string des = Sibling(fcsPath, ".DES");
  if (!WriteDescription(des, description)) return fail("Unable to write " + Q(des) + ".");
  if (!flattenError.isEmpty()) return fail(flattenError);
  return result;
}

TemplateResult LoadObjects(TGBasePanel& panel, std::string_view bytes, int dx, int dy,
                           QList<TGGraphicControl*>* added) {
  TemplateResult result;
  // Cover objects hold no children, so any nesting is a fault of the file.
  const StreamReadResult read = ReadObjectList(bytes, 0);
  // Names "Component0" to "Component<kMaxDesignObjects>": the first free one for
  // each object in turn. Only names added here are taken meanwhile, so the
  // search goes on from the last number instead of starting again at 0 (a file
  // of thousands of objects would otherwise take minutes).
  QSet<QString> taken;
  for (const TGGraphicControl* o : panel.Objects()) taken.insert(o->Name().toLower());
  int next = 0;
  auto freeName = [&]() -> QString {
    for (; next <= kMaxDesignObjects; ++next) {
      const QString name = QStringLiteral("Component") + QString::number(next);
      if (!taken.contains(name.toLower())) {
        taken.insert(name.toLower());
        return name;
      }
    }
    return {};
  };
  for (const StreamObject& s : read.objects) {
    if (panel.Objects().size() >= kMaxDesignObjects) {
      result.ok = false;
      result.error =
          "The design holds more than " + QString::number(kMaxDesignObjects) + " objects; the first ones were read.";
      return result;
    }
    CoverObjectData check;
    std::string error;
    std::unique_ptr<TGGraphicControl> object;
    if (FromStreamObject(s, check, error)) object = FromStream(s, error);
    if (!object) {
      result.ok = false;
      result.error = Q(error) + ".";
      return result;
    }
    object->SetName(freeName());
    object->SetLoading(true);
    object->SetBounds(object->Left() + dx, object->Top() + dy, object->Width(), object->Height());
    object->SetLoading(false);
    TGGraphicControl* raw = object.release();
    panel.AdoptObject(raw);
    if (added) added->append(raw);
    ++result.objects;
  }
  if (!read.ok) {
    result.ok = false;
    result.error = "Byte " + QString::number(read.offset) + ": " + Q(read.error) + ".";
  }
  return result;
}

TemplateResult LoadTemplate(TGBasePanel& panel, const std::string& fcsPath) {
  TemplateResult result;
  std::string bytes;
  const std::string path = qn::ResolvePath(fcsPath);
  if (!ReadWholeFile(path, bytes, kMaxDesignSourceBytes + 1)) {
    result.ok = false;
    result.error = "The file cannot be read.";
    return result;
  }
  if (bytes.size() > kMaxDesignSourceBytes) {
    result.ok = false;
    result.error = "The file is larger than any cover template.";
    return result;
  }
  return LoadObjects(panel, bytes, 0, 0);
}

void DeleteTemplateFiles(const std::string& fcsPath) {
  for (const char* ext : {".FCS", ".FCT", ".DES", ".BMP"}) qn::DeleteFileCI(qn::ChangeFileExt(fcsPath, ext));
}

// ---- clipboard ----------------------------------------------------------------------

TCoverClipboard::TCoverClipboard(TGBasePanel* panel) : QObject(panel), panel_(panel) {
  connect(panel, &TGBasePanel::copyRequested, this, [this](const QList<TGGraphicControl*>& objs) { Copy(objs); });
  connect(panel, &TGBasePanel::cutRequested, this, [this](const QList<TGGraphicControl*>& objs) { Cut(objs); });
  connect(panel, &TGBasePanel::pasteRequested, this, [this] { Paste(); });
  connect(panel, &TGBasePanel::cloneRequested, this, [this](TGGraphicControl* obj) { Clone(obj); });
}

bool TCoverClipboard::Copy(const QList<TGGraphicControl*>& objects) {
  if (objects.isEmpty()) return false;
  if (WriteWholeFile(panel_->ClipboardFileName().toStdString(), WriteObjects(objects))) return true;
  error_ = "Unable to write the clipboard file " + panel_->ClipboardFileName() + ".";
  emit failed(error_);
  return false;
}

bool TCoverClipboard::Cut(const QList<TGGraphicControl*>& objects) {
  if (!Copy(objects)) return false;
  panel_->DeleteObjects(objects);
  return true;
}

bool TCoverClipboard::Paste() {
  const qint64 now = QDateTime::currentMSecsSinceEpoch();
  if (panel_->LastPasteTime() != 0 && now - panel_->LastPasteTime() < 1000) return false;
  panel_->SetLastPasteTime(now);
  std::string bytes;
  if (!ReadWholeFile(panel_->ClipboardFileName().toStdString(), bytes, kMaxDesignSourceBytes)) return false;
  QList<TGGraphicControl*> added;
  const TemplateResult r = LoadObjects(*panel_, bytes, 15, 15, &added);
  if (!added.isEmpty()) panel_->NotifyChanged();
  if (!r.ok) {
    error_ = "The clipboard file is damaged; " + QString::number(r.objects) + " object(s) pasted. " + r.error;
    emit failed(error_);
  }
  return !added.isEmpty();
}

TGGraphicControl* TCoverClipboard::Clone(TGGraphicControl* object) {
  if (!object) return nullptr;
  QList<TGGraphicControl*> added;
  const TemplateResult r = LoadObjects(*panel_, WriteObjects({object}), 0, 25, &added);
  if (!r.ok || added.size() != 1) {
    error_ = r.error;
    emit failed(error_);
    return nullptr;
  }
  TGGraphicControl* clone = added.front();
  const bool wasSelected = panel_->Selection().contains(object);
  panel_->BringToFront({clone});
  if (wasSelected) {
    panel_->RemoveFromSelection(object);
    panel_->AddToSelection(clone);
  }
  panel_->NotifyChanged();
  return clone;
}

}  // namespace covers
