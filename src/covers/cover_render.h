// Drawing flat cover templates: onto any canvas (DrawTemplate), into a one-page
// fine fax file (RenderCover) and into the choosers' preview picture (MakePreview).
//
// Conventions callers rely on:
//  - Drawing never fails and never throws: a missing template draws nothing, a
//    damaged one draws the records before the damage, absurd values are clamped
//    to what a page can show.
//  - Every object is moved half an inch (98 fax units) right and down. Fonts are
//    the names the templates store, resolved through fontconfig to installed
//    (metric-compatible) families, sized at 96 logical pixels per inch, and drawn
//    without anti-aliasing so a one-bit page stays crisp.
//  - RenderCover raises the converter's EFeException when the fax file cannot be
//    written; an existing target is replaced only once the new page is complete.
#pragma once

#include <QFont>
#include <QImage>
#include <QStringList>
#include <string>
#include <vector>

#include "cover_template.h"

class QPainter;

namespace covers {

// A cover page: 8.5 by 11 inches at 204 x 196 dots per inch.
inline constexpr int kCoverPageWidth = 1728;
inline constexpr int kCoverPageHeight = 2156;
// The preview picture: 8.5 by 11 inches at 96 pixels per inch.
inline constexpr int kPreviewWidth = 816;
inline constexpr int kPreviewHeight = 1056;

// The installed font family fontconfig picks for a template's font name
// ("Arial" -> "Liberation Sans"); the name itself when fontconfig finds nothing.
QString ResolveFontFamily(const QString& name);
// The font of a text-like record: name (cut to 255 characters), style, and size
// (points x 2 as stored, divided by divisor) in pixels at 96 per inch.
QFont TemplateFont(const TemplateRecord& r, int divisor);

// Decodes stored text: UTF-8 where valid, else Windows-1252.
QString DecodeText(const std::string& bytes);

// Draws the records onto the canvas in order; divisor divides every coordinate,
// size, font size and pen width (integer division; values below 1 count as 1).
void DrawTemplateRecords(QPainter& canvas, const std::vector<TemplateRecord>& records, const CoverData& data,
                         const QStringList& message, int divisor);
void DrawTemplate(QPainter& canvas, const std::string& fctPath, const CoverData& data, const QStringList& message,
                  int divisor);

// A white canvas image of the given size for DrawTemplate (8 bits grey, so the
// painter can draw on it) and its one-bit form (colour 0 white, 1 black).
QImage BlankCanvas(int width, int height);
QImage ToOneBit(const QImage& canvas);

// The cover page as a one-bit image: the template drawn with the data, and the
// bottom-right pixel black so the converted page keeps its full height.
QImage RenderCoverPage(const std::string& fctPath, const CoverData& data, const QStringList& message);
// Renders the cover into targetApf (a new SEND/COV#####.APF when empty) and
// returns the name of the file written.
std::string RenderCover(const std::string& targetApf, const std::string& fctPath, const CoverData& data,
                        const QStringList& message);

// The data a preview shows: today's date and time and the sample texts, Urgent set.
CoverData SampleCoverData();
// Long date and long time formats of the user's locale.
std::string LongDateText();
std::string LongTimeText();
// Writes the template's preview bitmap (same base name, ".bmp"); false on failure.
bool MakePreview(const std::string& fctPath);

}  // namespace covers
