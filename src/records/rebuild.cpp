// The index rebuild pass: drop the CDX, pack, create every tag again.
#include "rebuild.h"

#include <filesystem>

#include "record_tables.h"

namespace records {

namespace {

int rebuildOne(xb::Table& t, const TableSpec& layout, bool byName, const RebuildSink& sink) {
  auto status = [&](const char* text) {
    if (sink.status) sink.status(text);
  };
  auto progress = [&](int pct) {
    if (sink.progress) sink.progress(pct);
  };
  // Packing needs the table to itself; anything else would leave it without
  // its index once the CDX is gone.
  if (t.mode() != xb::OpenMode::Exclusive) return -xb::xbReadOnly;
  xb::setGaugeHook(progress);
  int order = t.order();
  std::string cdx = t.indexPath();
  int rc = t.closeIndexes();
  std::error_code ec;
  if (rc == 0) std::filesystem::remove(cdx, ec);
  if (rc == 0) {
    status(layout.packStatus);
    progress(0);
    rc = t.pack();
  }
  if (rc == 0) {
    progress(0);
    status(layout.indexStatus);
    for (const auto& tag : layout.rebuildTags) {
      rc = t.createTag(tag.name, tag.keyExpr, kNotDeleted, tag.descending);
      if (rc != 0) break;
    }
  }
  if (rc == 0) {
    rc = byName ? t.setOrder("NAME") : t.setOrder(order);
  } else if (t.isOpen()) {
    // A failed step must not leave the table without its tags: whatever of them
    // is missing is built again from the (possibly unpacked) table.
    for (const auto& tag : layout.rebuildTags)
      if (t.tagArea(tag.name) == 0) t.createTag(tag.name, tag.keyExpr, kNotDeleted, tag.descending);
    byName ? t.setOrder("NAME") : t.setOrder(order);
  }
  xb::setGaugeHook({});
  return rc;
}

}  // namespace

int RebuildIndexes(xb::Table& fax, xb::Table& rec, xb::Table& phone, const std::string& folder, const RebuildSink& sink,
                   std::string* error) {
  int first = 0;
  auto keep = [&](int rc, const xb::Table& t) {
    if (first != 0 || rc == 0) return;
    first = rc;
    if (error) *error = rc == -xb::xbReadOnly ? t.path() + " is not open for this program alone" : t.lastError();
  };
  if (fax.isOpen()) keep(rebuildOne(fax, faxSpec(), false, sink), fax);
  if (rec.isOpen()) keep(rebuildOne(rec, recFaxSpec(), false, sink), rec);
  if (OpenPhoneDBF(phone, folder, true)) {
    keep(rebuildOne(phone, phoneSpec(), true, sink), phone);
    phone.close();
  }
  return first;
}

}  // namespace records
