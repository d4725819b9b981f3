// The three record tables: layouts, creation, opening and calculated fields.
#include "record_tables.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace records {

namespace fs = std::filesystem;

namespace {

xb::FieldDef C(const char* name, int width) {
  return {name, 'C', width, 0, 0};
}
xb::FieldDef D(const char* name) {
  return {name, 'D', 8, 0, 0};
}
xb::FieldDef L(const char* name) {
  return {name, 'L', 1, 0, 0};
}
xb::FieldDef N(const char* name, int width) {
  return {name, 'N', width, 0, 0};
}

bool sameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool makeTable(const std::string& folder, const TableSpec& layout) {
  try {
    std::string path = tablePath(folder, layout.fileName);
    if (xb::Table::create(path, layout.fields) != 0) return false;
    return fs::exists(path);
  } catch (...) {
    return false;
  }
}

// The common opening steps of the three Open* routines.
bool openTable(xb::Table& t, const std::string& folder, const TableSpec& layout, xb::OpenMode mode,
               const std::string& filter) {
  try {
    t.close();
    std::string path = tablePath(folder, layout.fileName);
    if (!fs::exists(path) && !makeTable(folder, layout)) return false;
    int rc = t.open(path, mode);
    if (rc == -xb::xbBadIndex) {
      // A damaged index holds nothing that the table does not: drop it and
      // build the tags again below.
      std::error_code ec;
      fs::remove(indexPathFor(path), ec);
      rc = t.open(path, mode);
    }
    if (rc != 0) return false;
    if (!fs::exists(t.indexPath()) || t.tagCount() == 0) {
      for (const auto& tag : layout.openTags) {
        if (t.tagArea(tag.name) != 0) continue;
        if (t.createTag(tag.name, tag.keyExpr, kNotDeleted, tag.descending) != 0) {
          t.close();
          return false;
        }
      }
    }
    t.goTop();
    if (t.setFilter(filter) != 0) {
      t.close();
      return false;
    }
    return true;
  } catch (...) {
    t.close();
    return false;
  }
}

}  // namespace

const TableSpec& faxSpec() {
  static const TableSpec layout{
      kFaxTableName,
      {C("SUBJECT", 50), D("DATESENT"), C("TIMESENT", 5), C("RECIPIENT", 35), C("PHONE", 25), C("LASTRESULT", 100),
       C("FAXDOC", 12), C("FAXCOVER", 12), C("NOTES", 50), C("CODES", 25), L("ARCHIVED")},
      {{"DATESENT", "DTOS(DATESENT)+TIMESENT", true},
       {"SUBJECT", "UPPER(SUBJECT)", false},
       {"RECIPIENT", "UPPER(RECIPIENT)", false},
       {"CODES", "UPPER(CODES)", false},
       {"ARCHIVED", "ARCHIVED", false}},
      {{"DATESENT", "DTOS(DATESENT)+TIMESENT", true},
       {"SUBJECT", "UPPER(SUBJECT)", false},
       {"RECIPIENT", "UPPER(RECIPIENT)", false},
       {"CODES", "UPPER(CODES)", false},
       {"ARCHIVED", "ARCHIVED", false},
       {"DATEND", "DTOS(DATESENT)+TIMESENT", false}},
      "Removing FAX file records marked for deletion",
      "Rebuilding FAX file indexes"};
  return layout;
}

const TableSpec& recFaxSpec() {
  static const TableSpec layout{
      kRecTableName,
      {D("DATEREC"), C("TIMEREC", 5), C("FROM", 20), N("PAGES", 2), C("FAXFILE", 12), C("NOTES", 60), L("ARCHIVED")},
      {{"DATETIME", "DTOS(DATEREC)+TIMEREC", true}, {"FROM", "UPPER(FROM)", true}, {"ARCHIVED", "ARCHIVED", false}},
      {{"DATETIME", "DTOS(DATEREC)+TIMEREC", true},
       {"FROM", "UPPER(FROM)", true},
       {"ARCHIVED", "ARCHIVED", false},
       {"DATEND", "DTOS(DATEREC)+TIMEREC", false}},
      "Removing RECEIVE file records marked for deletion",
      "Rebuilding RECEIVE file indexes"};
  return layout;
}

const TableSpec& phoneSpec() {
  static const TableSpec layout{kPhoneTableName,
                              {C("NAME", 35), C("PHONE", 25)},
                              {{"NAME", "NAME", false}},
                              {{"NAME", "NAME", false}},
                              "Removing PHONE file records marked for deletion",
                              "Rebuilding PHONE file indexes"};
  return layout;
}

std::string tablePath(const std::string& folder, const char* fileName) {
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder.empty() ? "." : folder, ec))
    if (sameName(e.path().filename().string(), fileName)) return e.path().string();
  return join(folder, fileName);
}

std::string indexPathFor(const std::string& dbfPath) {
  fs::path p(dbfPath);
  std::string name = p.filename().string();
  std::string cdx = name.size() >= 3 ? name.substr(0, name.size() - 3) + "CDX" : name + ".CDX";
  return tablePath(p.has_parent_path() ? p.parent_path().string() : std::string(), cdx.c_str());
}

bool MakeFaxDBF(const std::string& folder) {
  return makeTable(folder, faxSpec());
}
bool MakeRecFaxDBF(const std::string& folder) {
  return makeTable(folder, recFaxSpec());
}
bool MakePhoneDBF(const std::string& folder) {
  return makeTable(folder, phoneSpec());
}

bool OpenFaxDBF(xb::Table& table, const std::string& folder, const std::string& listFilter, xb::OpenMode mode) {
  return openTable(table, folder, faxSpec(), mode, listFilter);
}

bool OpenRecFaxDBF(xb::Table& table, const std::string& folder, xb::OpenMode mode) {
  return openTable(table, folder, recFaxSpec(), mode, kNotDeleted);
}

bool OpenPhoneDBF(xb::Table& table, const std::string& folder, bool exclusive) {
  if (!openTable(table, folder, phoneSpec(), exclusive ? xb::OpenMode::Exclusive : xb::OpenMode::Shared, kNotDeleted))
    return false;
  if (table.setOrder("NAME") != 0) {
    table.close();
    return false;
  }
  table.goTop();
  return true;
}

StartupResult OpenTablesAtStartup(xb::Table& fax, xb::Table& rec, const std::string& folder,
                                  const std::string& listFilter) {
  xb::setCentury(true);
  xb::setDeleted(true);
  xb::sysProp(1009, 0);
  StartupResult result = StartupResult::Ok;
  if (OpenFaxDBF(fax, folder, listFilter)) {
    fax.setOrder(1);
    fax.goTop();
  } else {
    result = StartupResult::FaxFailed;
  }
  if (!OpenRecFaxDBF(rec, folder))
    return result == StartupResult::FaxFailed ? StartupResult::BothFailed : StartupResult::RecFailed;
  if (fax.isOpen()) fax.setFilter(listFilter);
  rec.setFilter(listFilter);
  return result;
}

bool NeedsIndexRebuild(const xb::Table& fax, const xb::Table& rec) {
  return fax.tagArea(kLayoutTag) == 0 || rec.tagArea(kLayoutTag) == 0;
}

std::string calcFaxFile(const xb::Table& fax, const std::string& folder) {
  std::string doc = fax.getTrimString("FAXDOC");
  if (doc.find_first_not_of(' ') == std::string::npos) return kCoverOnly;
  return lower(join(join(folder, "Send"), doc));
}

std::string calcRecFaxFile(const xb::Table& rec, const std::string& folder) {
  return lower(join(join(folder, "Receive"), rec.getTrimString("FAXFILE")));
}

std::string isDeletedText(const xb::Table& table) {
  return table.isDeleted() ? "Yes" : "No ";
}
std::string isArchivedText(const xb::Table& table) {
  return table.getLogical("ARCHIVED") ? "Yes" : "No ";
}

}  // namespace records
