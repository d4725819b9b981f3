// Design objects to object streams and back, through the objects' published
// properties: the stream layer needs no knowledge of an object's class.
//
// Conventions callers rely on:
//  - ToStream writes every published property whose value differs from the
//    property's suppressed value, in the order the object lists them.
//  - FromStream makes a new object of the stream's class (one of the cover
//    classes), sets its properties while it is marked as loading, and refuses
//    (null, with a message) an unknown class, an unknown property or a value of
//    the wrong kind. The object is not on any panel yet and keeps its stored name.
#pragma once

#include <QString>
#include <memory>
#include <string>

#include "covers/design/design_surface.h"
#include "covers/stream/object_stream.h"

namespace covers {

StreamObject ToStream(const design::TGGraphicControl& object);
std::unique_ptr<design::TGGraphicControl> FromStream(const StreamObject& stream, std::string& error);

// Stored texts: written as UTF-8, read as UTF-8 where valid, else Windows-1252.
std::string StoredText(const QString& text);
QString ReadStoredText(const std::string& bytes);

}  // namespace covers
