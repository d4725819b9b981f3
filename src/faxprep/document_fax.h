// "Fax a Document": files the user picks, drops on the main window or names on
// the command line become outgoing faxes exactly as printed ones do. Each file
// is rendered by the converter process (send_job.h) on a worker thread while a
// progress window with a working Cancel shows; the faxes made are then placed
// in SEND as FAX#####.APF + ".JFD" pairs for the pick-up (pickup.h), which
// makes their records.
//
// Conventions callers rely on:
//  - Two steps, so that nothing of a batch reaches the pick-up before all of
//    it is converted: ConvertDocuments leaves the faxes in work files,
//    PlaceDocumentFaxes names them; the caller picks them up at once after
//    (no events run in between).
//  - Cancel stops the converter at once and the batch there: the file being
//    converted leaves nothing behind, the files after it are not started.
//  - A file that cannot be faxed is told once, after the batch, with its name
//    and the reason; the other files go on.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

#include "fe_document_child.h"
#include "send_job.h"

class QWidget;

namespace faxprep {

// Which reader a file needs: by its first bytes (PDF, PostScript, TIFF, PCX,
// DCX, BMP), else by a name ending in one of their extensions (so that the
// converter says what is wrong with a damaged one), else text when its first
// bytes are text. False with the reason for the user otherwise.
bool DocumentKindOf(const QString& path, const QByteArray& head, fe::DocumentKind& kind, QString& why);

struct DocumentFax {
  QString file;                  // the document, as given
  std::unique_ptr<SendJob> job;  // converted, not yet placed
  QString faxFile;               // after PlaceDocumentFaxes: FAX#####.APF
};

struct DocumentFaxes {
  std::vector<DocumentFax> made;
  QStringList refused;  // one sentence per file that was not made into a fax
  bool cancelled = false;
};

// Converts each file in turn with the progress window (parented to `parent`),
// then tells the refusals in one message box.
DocumentFaxes ConvertDocuments(QWidget* parent, const QStringList& files);

// Gives every converted fax its FAX##### names in SEND; a fax that cannot be
// placed is told and dropped from `made`.
void PlaceDocumentFaxes(DocumentFaxes& faxes);

// The file chooser's name filter of the kinds ConvertDocuments reads.
QString DocumentFileFilter();

}  // namespace faxprep
