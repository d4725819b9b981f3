// Saving and loading a design panel as a cover template, and the designer's
// clipboard: copy, cut, paste and clone through object streams.
//
// Conventions callers rely on:
//  - SaveTemplate writes the four files of a template under the base name of
//    the ".FCS" name, in this order: ".FCS" (object streams), ".FCT" (flat
//    records), ".bmp" (preview), ".DES" (description). Each file is written
//    whole through a temporary file, so a failed save never leaves half a file;
//    an existing file of another letter case is replaced, not doubled. The panel
//    is saved at zoom 1 with the selection cleared and objects off the page
//    dropped; its zoom is restored afterwards.
//  - Loading stops at the first fault of the file and keeps the objects read
//    before it; the result says how many were read and what was wrong. Loaded
//    and pasted objects are named "Component" + the first free number from 0;
//    a panel takes at most kMaxDesignObjects objects from a file.
//  - Nothing here shows a window: callers decide what to tell the user.
#pragma once

#include <QObject>
#include <QString>
#include <string>
#include <string_view>

#include "covers/design/design_surface.h"

namespace covers {

// More objects than any cover sheet holds: loading stops there.
inline constexpr int kMaxDesignObjects = 1000;

struct TemplateResult {
  bool ok = true;
  int objects = 0;  // objects written or read
  QString error;    // what went wrong, a sentence for the user
};

// Writes the template; pixelsPerInch is the design screen's density the stored
// positions are converted at (96 for the designer).
TemplateResult SaveTemplate(design::TGBasePanel& panel, const std::string& fcsPath, const std::string& description,
                            int pixelsPerInch = 96);
// Reads the ".FCS" onto the panel, on top of what is there.
TemplateResult LoadTemplate(design::TGBasePanel& panel, const std::string& fcsPath);
// Reads an object list onto the panel, every object moved by (dx, dy); the
// objects added are appended to added when given.
TemplateResult LoadObjects(design::TGBasePanel& panel, std::string_view bytes, int dx, int dy,
                           QList<design::TGGraphicControl*>* added = nullptr);
// The object list of the objects, as a ".FCS" or the clipboard file holds it.
std::string WriteObjects(const QList<design::TGGraphicControl*>& objects);
// The flat-template bytes the panel's objects flatten into.
std::string FlattenPanel(const design::TGBasePanel& panel, int pixelsPerInch, QString* error = nullptr);

// Deletes the ".FCS", ".FCT", ".DES" and ".BMP" of the template's base name,
// whatever their letter case; failures are ignored.
void DeleteTemplateFiles(const std::string& fcsPath);

// The designer's clipboard on a panel: answers the panel's cut, copy, paste and
// clone requests through the panel's clipboard file.
class TCoverClipboard : public QObject {
  Q_OBJECT
 public:
  explicit TCoverClipboard(design::TGBasePanel* panel);

  // Writes the objects, in the order given, to the clipboard file.
  bool Copy(const QList<design::TGGraphicControl*>& objects);
  // Copies, then frees the objects.
  bool Cut(const QList<design::TGGraphicControl*>& objects);
  // Reads the clipboard file onto the panel, 15 pixels right of and below the
  // stored positions. A paste within 1000 ms of the previous one is ignored
  // (false, no error).
  bool Paste();
  // A copy of the object, 25 pixels lower, in front; it takes the source's place
  // in the selection when the source was selected.
  design::TGGraphicControl* Clone(design::TGGraphicControl* object);

  // The last failure (a damaged clipboard file, a write that failed).
  QString LastError() const { return error_; }

 signals:
  void failed(const QString& message);

 private:
  design::TGBasePanel* panel_;
  QString error_;
};

}  // namespace covers
