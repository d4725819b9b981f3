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
  if (rc == 0) rc = byName ? t.setOrder("NAME") : t.setOrder(order);
  xb::setGaugeHook({});
  return rc;
}

}  // namespace

int RebuildIndexes(xb::Table& fax, xb::Table& rec, xb::Table& phone, const std::string& folder,
                   const RebuildSink& sink) {
  int first = 0;
  auto keep = [&](int rc) {
    if (first == 0) first = rc;
  };
  if (fax.isOpen()) keep(rebuildOne(fax, faxSpec(), false, sink));
  if (rec.isOpen()) keep(rebuildOne(rec, recFaxSpec(), false, sink));
  if (OpenPhoneDBF(phone, folder, true)) {
    keep(rebuildOne(phone, phoneSpec(), true, sink));
    phone.close();
  }
  return first;
}

}  // namespace records
