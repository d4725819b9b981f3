#include "object_bridge.h"

#include <algorithm>
#include <optional>

#include "covers/objects/cover_objects.h"

namespace covers {

namespace {

using design::PublishedProperty;

StreamValue ToValue(const PublishedProperty& p, const QVariant& v) {
  switch (p.kind) {
    case PublishedProperty::Integer:
      return std::int32_t{v.toInt()};
    case PublishedProperty::Text:
      return StoredText(v.toString());
    case PublishedProperty::Flag:
      return v.toBool();
    case PublishedProperty::Ident:
      return StreamIdent{v.toString().toStdString()};
    case PublishedProperty::Color:
      return ColorValue(v.toInt());
    case PublishedProperty::Set: {
      StreamSet set;
      for (const QString& m : v.toStringList()) set.members.push_back(m.toStdString());
      return set;
    }
  }
  return std::int32_t{0};
}

// The value a stored value gives for the property; none when the stored value
// is of another kind.
std::optional<QVariant> FromValue(const PublishedProperty& p, const StreamValue& v) {
  switch (p.kind) {
    case PublishedProperty::Integer:
      if (const auto* i = std::get_if<std::int32_t>(&v)) return *i;
      break;
    case PublishedProperty::Text:
      if (const auto* s = std::get_if<std::string>(&v)) return ReadStoredText(*s);
      break;
    case PublishedProperty::Flag:
      if (const auto* b = std::get_if<bool>(&v)) return *b;
      break;
    case PublishedProperty::Ident:
      if (const auto* id = std::get_if<StreamIdent>(&v)) return QString::fromStdString(id->name);
      break;
    case PublishedProperty::Color:
      if (const auto* i = std::get_if<std::int32_t>(&v)) return *i;
      if (const auto* id = std::get_if<StreamIdent>(&v))
        if (auto c = ColorFromIdent(id->name)) return *c;
      break;
    case PublishedProperty::Set:
      if (const auto* set = std::get_if<StreamSet>(&v)) {
        QStringList members;
        for (const std::string& m : set->members) members << QString::fromStdString(m);
        return members;
      }
      break;
  }
  return std::nullopt;
}

}  // namespace

StreamObject ToStream(const design::TGGraphicControl& object) {
  StreamObject s;
  s.className = object.ClassName().toStdString();
  s.name = object.Name().toStdString();
  for (const PublishedProperty& p : object.PublishedProperties()) {
    const QVariant value = object.GetPublished(p.name);
    if (!p.suppressed.isNull() && value == p.suppressed) continue;
    s.properties.push_back({p.name.toStdString(), ToValue(p, value)});
  }
  return s;
}

std::unique_ptr<design::TGGraphicControl> FromStream(const StreamObject& stream, std::string& error) {
  std::unique_ptr<design::TGGraphicControl> object = CreateCoverObject(QString::fromStdString(stream.className));
  if (!object) {
    error = "Unknown object class " + stream.className;
    return nullptr;
  }
  if (!stream.children.empty()) {
    error = stream.className + " " + stream.name + " holds other objects, which a cover template cannot";
    return nullptr;
  }
  object->SetName(QString::fromStdString(stream.name));
  const QList<PublishedProperty> published = object->PublishedProperties();
  object->SetLoading(true);
  for (const StreamProperty& sp : stream.properties) {
    const QString name = QString::fromStdString(sp.name);
    const auto p = std::find_if(published.begin(), published.end(),
                                [&name](const PublishedProperty& q) { return q.name == name; });
    if (p == published.end()) {
      error = stream.className + " has no property " + sp.name;
      return nullptr;
    }
    const std::optional<QVariant> value = FromValue(*p, sp.value);
    if (!value || !object->SetPublished(name, *value)) {
      error = "Property " + sp.name + " of " + stream.name + " (" + stream.className + ") holds " +
              StreamValueKind(sp.value) + " it cannot take";
      return nullptr;
    }
  }
  object->SetLoading(false);
  return object;
}

}  // namespace covers
