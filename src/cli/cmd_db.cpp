// qnfax db: look into and maintain DBF tables with their CDX indexes, and the
// program's three record tables as a whole (init, rebuild).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "command.h"
#include "records/rebuild.h"
#include "records/record_tables.h"
#include "xbase/xb_env.h"
#include "xbase/xb_table.h"

namespace {

const char* kUsage =
    "db struct|tags|dump|count|check FILE.DBF [--order TAG] [--filter EXPR] [--deleted]\n"
    "       qnfax db append FILE.DBF FIELD=VALUE...   qnfax db delete FILE.DBF RECNO   qnfax db pack FILE.DBF\n"
    "       qnfax db init FOLDER   qnfax db rebuild FOLDER";

struct Options {
  std::string order, filter;
  bool deleted = false;
  std::vector<std::string> rest;
};

bool parseOptions(const std::vector<std::string>& args, size_t from, Options& o) {
  for (size_t i = from; i < args.size(); ++i) {
    if (args[i] == "--order" && i + 1 < args.size()) {
      o.order = args[++i];
    } else if (args[i] == "--filter" && i + 1 < args.size()) {
      o.filter = args[++i];
    } else if (args[i] == "--deleted") {
      o.deleted = true;
    } else if (args[i].rfind("--", 0) == 0) {
      return false;
    } else {
      o.rest.push_back(args[i]);
    }
  }
  return true;
}

int tableError(const xb::Table& t, const std::string& what) {
  return qnfax::fail(what + ": " + t.lastError());
}

std::string fieldText(const xb::Table& t, const xb::FieldDef& f) {
  if (f.type == 'D') {
    std::string d = t.getDate(f.name);
    return d == "        " ? "" : d;
  }
  std::string s = t.getString(f.name);
  size_t a = s.find_first_not_of(' ');
  if (a == std::string::npos) return "";
  if (f.type == 'C') return s.substr(0, s.find_last_not_of(' ') + 1);
  return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

int openFor(xb::Table& t, const std::string& path, xb::OpenMode mode, const Options& o) {
  xb::setDeleted(!o.deleted);
  xb::setCentury(true);
  if (t.open(path, mode) != 0) return tableError(t, "cannot open " + path);
  if (!o.order.empty() && (o.order == "0" ? t.setOrder(0) : t.setOrder(o.order)) != 0)
    return tableError(t, "order " + o.order);
  if (!o.filter.empty() && t.setFilter(o.filter) != 0) return tableError(t, "filter");
  return 0;
}

int runStruct(xb::Table& t) {
  std::printf("table\t%s\nrecords\t%u\nrecord length\t%d\nindex\t%s\n", t.path().c_str(), t.recCount(), t.recordSize(),
              t.tagCount() ? t.indexPath().c_str() : "(none)");
  for (int i = 0; i < t.fieldCount(); ++i) {
    const auto& f = t.field(i);
    std::printf("%d\t%s\t%c\t%d\t%d\n", i + 1, f.name.c_str(), f.type, f.width, f.decimals);
  }
  return 0;
}

int runTags(xb::Table& t) {
  int n = 0;
  for (const auto& tag : t.tags())
    std::printf("%d\t%s\t%s\t%s\t%s\n", ++n, tag.name.c_str(), tag.keyExpr.c_str(), tag.forExpr.c_str(),
                tag.descending ? "descending" : "ascending");
  return 0;
}

int runDump(xb::Table& t) {
  for (int rc = t.goTop(); !t.eof(); rc = t.skip()) {
    if (rc != 0) return tableError(t, "reading");
    std::string line = std::to_string(t.recNo()) + (t.isDeleted() ? "*" : "");
    for (const auto& f : t.fields()) {
      line += '\t';
      line += fieldText(t, f);
    }
    std::printf("%s\n", line.c_str());
  }
  return 0;
}

int runAppend(xb::Table& t, const std::vector<std::string>& assignments) {
  for (const auto& a : assignments) {
    size_t eq = a.find('=');
    int field = eq == std::string::npos ? -1 : t.fieldIndex(a.substr(0, eq));
    if (field < 0) return qnfax::fail("not FIELD=VALUE with a field of the table: " + a, 2);
    // Values are checked before the record is added, so a bad one adds nothing.
    std::string v = a.substr(eq + 1);
    bool blank = v.find_first_not_of(' ') == std::string::npos;
    char type = t.field(field).type;
    char* end = nullptr;
    if (!blank && type == 'D' && !xb::julianFromDtos(v) && !xb::ctod(v))
      return qnfax::fail(a + ": not a date (CCYYMMDD or mm/dd/yyyy)");
    if (!blank && type == 'N' && (std::strtod(v.c_str(), &end), *end != '\0')) return qnfax::fail(a + ": not a number");
  }
  if (t.appendBlank() != 0) return tableError(t, "append");
  for (const auto& a : assignments) {
    size_t eq = a.find('=');
    if (t.setString(a.substr(0, eq), a.substr(eq + 1)) != 0) {
      t.cancel();
      return tableError(t, a);
    }
  }
  if (t.post() != 0) return tableError(t, "post");
  std::printf("%u\n", t.recNo());
  return 0;
}

int runFolder(const std::string& what, const std::string& folder) {
  xb::Table fax, rec, phone;
  int rc = 0;
  if (what == "init") {
    auto r = records::OpenTablesAtStartup(fax, rec, folder);
    if (r != records::StartupResult::Ok)
      return qnfax::fail(std::string("cannot open/create the ") +
                         (r == records::StartupResult::FaxFailed ? "FAX" : "FAX RECEIVE") + " datafile in " + folder +
                         ": " + (r == records::StartupResult::FaxFailed ? fax : rec).lastError());
    if (records::NeedsIndexRebuild(fax, rec)) rc = records::RebuildIndexes(fax, rec, phone, folder);
  } else {
    xb::setDeleted(true);
    if (!records::OpenFaxDBF(fax, folder, "") || !records::OpenRecFaxDBF(rec, folder))
      return qnfax::fail("cannot open the fax tables in " + folder + ": " +
                         (fax.isOpen() ? rec.lastError() : fax.lastError()));
    records::RebuildSink sink{[](const std::string& s) { std::printf("%s\n", s.c_str()); }, {}};
    rc = records::RebuildIndexes(fax, rec, phone, folder, sink);
  }
  if (rc != 0) return qnfax::fail(what + " failed: " + std::string(xb::errorText(rc)));
  std::printf("QNOUT %u records, QNREC %u records\n", fax.recCount(), rec.recCount());
  return 0;
}

int runDb(const std::vector<std::string>& args) {
  if (args.size() < 2 || args[0] == "--help") {
    std::printf("usage: qnfax %s\n", kUsage);
    return args.empty() || args[0] != "--help" ? 2 : 0;
  }
  const std::string& what = args[0];
  const std::string& path = args[1];
  if (what == "init" || what == "rebuild") return runFolder(what, path);
  Options o;
  if (!parseOptions(args, 2, o)) return qnfax::fail(std::string("usage: qnfax ") + kUsage, 2);
  xb::Table t;
  bool reading = what == "struct" || what == "tags" || what == "dump" || what == "count" || what == "check";
  if (!reading && what != "append" && what != "delete" && what != "pack")
    return qnfax::fail("unknown db command '" + what + "'\nusage: qnfax " + kUsage, 2);
  int rc = openFor(
      t, path, reading ? xb::OpenMode::ReadOnly : (what == "pack" ? xb::OpenMode::Exclusive : xb::OpenMode::Shared), o);
  if (rc != 0) return rc;
  if (what == "struct") return runStruct(t);
  if (what == "tags") return runTags(t);
  if (what == "dump") return runDump(t);
  if (what == "count") {
    std::printf("visible\t%u\nall\t%u\n", t.countVisible(), t.recCount());
    return 0;
  }
  if (what == "check") {
    if (t.checkIndex() != 0) return qnfax::fail(path + ": " + t.lastError());
    std::printf("ok\t%u records\t%d tags\n", t.recCount(), t.tagCount());
    return 0;
  }
  if (what == "append") return runAppend(t, o.rest);
  if (what == "delete") {
    if (o.rest.size() != 1) return qnfax::fail("usage: qnfax db delete FILE.DBF RECNO", 2);
    char* end = nullptr;
    unsigned long recno = std::strtoul(o.rest[0].c_str(), &end, 10);
    if (*end || t.go(static_cast<uint32_t>(recno)) != 0) return qnfax::fail("no record " + o.rest[0]);
    if (t.deleteRecord() != 0) return tableError(t, "delete");
    return 0;
  }
  if (t.pack() != 0) return tableError(t, "pack");
  std::printf("%u records\n", t.recCount());
  return 0;
}

}  // namespace

QNFAX_COMMAND(db, "db struct|tags|dump|count|check|append|delete|pack FILE.DBF ...; db init|rebuild FOLDER",
              "look into and maintain DBF tables and their CDX indexes", runDb);
