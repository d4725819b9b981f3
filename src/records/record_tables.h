// The three record tables of the program folder: QNOUT (outgoing faxes), QNREC
// (received faxes) and QNPB (phone book), their DBF layouts and CDX tags, how they
// are created and opened, the calculated fields shown in the lists, and the
// start-up opening sequence with its layout check.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "xbase/xb_table.h"

namespace records {

// ---- file names, tags, texts (one place each) --------------------------------
inline constexpr const char* kFaxTableName = "QNOUT.DBF";
inline constexpr const char* kRecTableName = "QNREC.DBF";
inline constexpr const char* kPhoneTableName = "QNPB.DBF";
inline constexpr const char* kNotDeleted = ".not. deleted()";
inline constexpr const char* kNotArchived = ".not. archived";  // the list filter at start
inline constexpr const char* kLayoutTag = "DATEND";
inline constexpr const char* kCoverOnly = "(Cover only)";

struct TagSpec {
  const char* name;
  const char* keyExpr;
  bool descending;
};

struct TableSpec {
  const char* fileName;              // "QNOUT.DBF"
  std::vector<xb::FieldDef> fields;  // physical order
  std::vector<TagSpec> openTags;     // created when the CDX is missing
  std::vector<TagSpec> rebuildTags;  // created by the rebuild (adds DATEND)
  const char* packStatus;            // "Removing FAX file records marked for deletion"
  const char* indexStatus;           // "Rebuilding FAX file indexes"
};

const TableSpec& faxSpec();
const TableSpec& recFaxSpec();
const TableSpec& phoneSpec();

// Path of a table in the program folder; an existing file is found in any
// letter case, a new one gets the name as given.
std::string tablePath(const std::string& folder, const char* fileName);
// Path of the table's structural index ("QNOUT.DBF" -> "QNOUT.CDX"), found in any case.
std::string indexPathFor(const std::string& dbfPath);

// ---- creating ------------------------------------------------------------------
// Create the empty DBF with the fields in order; true only when the file then exists.
bool MakeFaxDBF(const std::string& folder);
bool MakeRecFaxDBF(const std::string& folder);
bool MakePhoneDBF(const std::string& folder);

// ---- opening -------------------------------------------------------------------
// Creates a missing DBF (even beside an old CDX), opens the table, creates the
// tags when the CDX is missing (QNOUT five, QNREC three, QNPB one; never
// DATEND), goes to the first record and applies the filter. False on any failure
// (the table is then closed and the reason is in table.lastError()).
bool OpenFaxDBF(xb::Table& table, const std::string& folder, const std::string& listFilter = kNotArchived,
                xb::OpenMode mode = xb::OpenMode::Exclusive);
bool OpenRecFaxDBF(xb::Table& table, const std::string& folder, xb::OpenMode mode = xb::OpenMode::Exclusive);
bool OpenPhoneDBF(xb::Table& table, const std::string& folder, bool exclusive);

// Start-up: engine settings (century on, SET DELETED on, property 1009), QNOUT
// opened, order 1 and first record, QNREC opened, then the list filter on both.
// QNREC is tried whether or not QNOUT opened; the result names what failed.
enum class StartupResult { Ok, FaxFailed, RecFailed, BothFailed };
StartupResult OpenTablesAtStartup(xb::Table& fax, xb::Table& rec, const std::string& folder,
                                  const std::string& listFilter = kNotArchived);

// Layout check: true when QNOUT or QNREC lacks the DATEND tag (rebuild needed).
bool NeedsIndexRebuild(const xb::Table& fax, const xb::Table& rec);

// ---- calculated fields (current record) ---------------------------------------------
// QNOUT calcFaxFile: "(Cover only)" or folder + "Send/" + FAXDOC, lower-cased.
std::string calcFaxFile(const xb::Table& fax, const std::string& folder);
// QNREC calcFaxfile: folder + "Receive/" + FAXFILE, lower-cased.
std::string calcRecFaxFile(const xb::Table& rec, const std::string& folder);
// "Yes" or "No " (three characters).
std::string isDeletedText(const xb::Table& table);
std::string isArchivedText(const xb::Table& table);

}  // namespace records
