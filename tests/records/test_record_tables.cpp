// The record tables: creation from nothing, the missing-file rules, the rebuild
// pass, the list orders and filters, calculated fields and the clean-up
// utility's conditions.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "records/rebuild.h"
#include "records/record_tables.h"
#include "xbase/xb_env.h"

namespace fs = std::filesystem;

namespace {

class Folder {
 public:
  Folder() {
    char tmpl[] = "/tmp/qn-records-XXXXXX";
    path = ::mkdtemp(tmpl);
    xb::env() = xb::Env{};
  }
  ~Folder() {
    std::error_code ec;
    fs::remove_all(path, ec);
    xb::env() = xb::Env{};
  }
  std::string file(const char* name) const { return path + "/" + name; }
  std::string path;
};

std::vector<uint8_t> bytesOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Field list straight from the DBF header bytes: "NAME C 50 0" per field.
std::vector<std::string> rawFieldList(const std::string& path) {
  auto b = bytesOf(path);
  std::vector<std::string> out;
  for (size_t p = 32; p + 32 <= b.size() && b[p] != 0x0D; p += 32) {
    std::string name(reinterpret_cast<const char*>(&b[p]));
    out.push_back(name + " " + static_cast<char>(b[p + 11]) + " " + std::to_string(b[p + 16]) + " " +
                  std::to_string(b[p + 17]));
  }
  return out;
}

void addFax(xb::Table& t, const std::string& subject, const std::string& date, const std::string& time,
            const std::string& recipient, bool archived = false, const std::string& doc = "F0000001.APF") {
  ASSERT_EQ(t.appendBlank(), 0) << t.lastError();
  t.setString("SUBJECT", subject);
  t.setDate("DATESENT", date);
  t.setString("TIMESENT", time);
  t.setString("RECIPIENT", recipient);
  t.setString("FAXDOC", doc);
  t.setLogical("ARCHIVED", archived);
  ASSERT_EQ(t.post(), 0) << t.lastError();
}

std::vector<std::string> subjects(xb::Table& t) {
  std::vector<std::string> out;
  for (t.goTop(); !t.eof(); t.skip()) out.push_back(t.getTrimString("SUBJECT"));
  return out;
}

std::vector<std::string> tagNames(const xb::Table& t) {
  std::vector<std::string> out;
  for (const auto& tag : t.tags()) out.push_back(tag.name);
  return out;
}

TEST(RecordTables, FirstStartCreatesExactLayoutsAndTheRebuildAddsTheLayoutTag) {
  Folder f;
  xb::Table fax, rec, phone;
  ASSERT_EQ(records::OpenTablesAtStartup(fax, rec, f.path), records::StartupResult::Ok);
  EXPECT_EQ(rawFieldList(f.file("QNOUT.DBF")),
            (std::vector<std::string>{"SUBJECT C 50 0", "DATESENT D 8 0", "TIMESENT C 5 0", "RECIPIENT C 35 0",
                                      "PHONE C 25 0", "LASTRESULT C 100 0", "FAXDOC C 12 0", "FAXCOVER C 12 0",
                                      "NOTES C 50 0", "CODES C 25 0", "ARCHIVED L 1 0"}));
  EXPECT_EQ(rawFieldList(f.file("QNREC.DBF")),
            (std::vector<std::string>{"DATEREC D 8 0", "TIMEREC C 5 0", "FROM C 20 0", "PAGES N 2 0", "FAXFILE C 12 0",
                                      "NOTES C 60 0", "ARCHIVED L 1 0"}));
  EXPECT_EQ(tagNames(fax), (std::vector<std::string>{"DATESENT", "SUBJECT", "RECIPIENT", "CODES", "ARCHIVED"}));
  EXPECT_EQ(tagNames(rec), (std::vector<std::string>{"DATETIME", "FROM", "ARCHIVED"}));
  EXPECT_EQ(fax.order(), 1);
  EXPECT_EQ(fax.filter(), ".not. archived");
  EXPECT_EQ(rec.filter(), ".not. archived");
  for (const auto& tag : fax.tags()) EXPECT_EQ(tag.forExpr, ".not. deleted()");
  EXPECT_TRUE(fax.tags()[0].descending);
  EXPECT_TRUE(records::NeedsIndexRebuild(fax, rec));

  std::vector<std::string> statuses;
  int lastProgress = -1;
  records::RebuildSink sink{[&](const std::string& s) { statuses.push_back(s); }, [&](int p) { lastProgress = p; }};
  ASSERT_EQ(records::RebuildIndexes(fax, rec, phone, f.path, sink), 0);
  EXPECT_EQ(statuses, (std::vector<std::string>{
                          "Removing FAX file records marked for deletion", "Rebuilding FAX file indexes",
                          "Removing RECEIVE file records marked for deletion", "Rebuilding RECEIVE file indexes",
                          "Removing PHONE file records marked for deletion", "Rebuilding PHONE file indexes"}));
  EXPECT_EQ(lastProgress, 100);
  EXPECT_EQ(fax.tagArea("DATEND"), 6);
  EXPECT_EQ(rec.tagArea("DATEND"), 4);
  EXPECT_FALSE(records::NeedsIndexRebuild(fax, rec));
  EXPECT_EQ(fax.order(), 1);  // the order in force before
  EXPECT_FALSE(phone.isOpen());
  ASSERT_TRUE(records::OpenPhoneDBF(phone, f.path, false));
  EXPECT_EQ(rawFieldList(f.file("QNPB.DBF")), (std::vector<std::string>{"NAME C 35 0", "PHONE C 25 0"}));
  EXPECT_EQ(tagNames(phone), (std::vector<std::string>{"NAME"}));
  EXPECT_EQ(phone.order(), 1);
  // A second copy of the program cannot open the fax tables.
  fax.close();
  ASSERT_TRUE(records::OpenFaxDBF(fax, f.path));
  pid_t child = fork();
  if (child == 0) {
    xb::Table other;
    _exit(records::OpenFaxDBF(other, f.path) ? 1 : 0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the second copy opened QNOUT";
}

TEST(RecordTables, MissingIndexIsRebuiltAndMissingTableIsCreatedBesideAnOldIndex) {
  Folder f;
  xb::Table fax, rec;
  ASSERT_EQ(records::OpenTablesAtStartup(fax, rec, f.path), records::StartupResult::Ok);
  addFax(fax, "one", "20240101", "10:00", "A");
  addFax(fax, "two", "", "", "B");
  fax.close();
  auto before = bytesOf(f.file("QNOUT.DBF"));
  fs::remove(f.file("QNOUT.CDX"));
  ASSERT_TRUE(records::OpenFaxDBF(fax, f.path, ""));
  EXPECT_EQ(bytesOf(f.file("QNOUT.DBF")), before);  // records untouched
  EXPECT_EQ(fax.tagCount(), 5);
  ASSERT_EQ(fax.setOrder("SUBJECT"), 0);
  EXPECT_EQ(subjects(fax), (std::vector<std::string>{"one", "two"}));
  fax.close();
  // The table is gone but its index is still there: a new empty table is made
  // and the stale index is noticed and rebuilt from it.
  fs::remove(f.file("QNOUT.DBF"));
  ASSERT_TRUE(records::OpenFaxDBF(fax, f.path, ""));
  EXPECT_EQ(fax.recCount(), 0u);
  ASSERT_EQ(fax.setOrder("SUBJECT"), 0);
  EXPECT_TRUE(fax.visibleRecNos().empty());
  fax.close();
  // A damaged index is dropped and built again; the records stay.
  ASSERT_TRUE(records::OpenFaxDBF(fax, f.path, ""));
  addFax(fax, "kept", "", "", "C");
  fax.close();
  { std::ofstream(f.file("QNOUT.CDX"), std::ios::binary | std::ios::trunc) << std::string(1024, '\xff'); }
  ASSERT_TRUE(records::OpenFaxDBF(fax, f.path, ""));
  ASSERT_EQ(fax.setOrder("SUBJECT"), 0);
  EXPECT_EQ(subjects(fax), (std::vector<std::string>{"kept"}));
}

TEST(RecordTables, ListOrdersFiltersDeletionAndPack) {
  Folder f;
  xb::Table fax, rec, phone;
  ASSERT_EQ(records::OpenTablesAtStartup(fax, rec, f.path), records::StartupResult::Ok);
  addFax(fax, "never sent", "", "", "Zed");
  addFax(fax, "old", "19991231", "23:59", "smith");
  addFax(fax, "newest", "20260101", "08:00", "Osmith");
  addFax(fax, "same day later", "20260101", "09:30", "SMI");
  addFax(fax, "archived", "20250101", "12:00", "Archie", true);
  addFax(fax, "also never", "", "", "Bob");
  ASSERT_EQ(fax.setOrder("DATESENT"), 0);
  // Most recent send first; never-sent faxes after all sent ones.
  EXPECT_EQ(subjects(fax), (std::vector<std::string>{"same day later", "newest", "old", "also never", "never sent"}));
  ASSERT_EQ(fax.setFilter(""), 0);
  EXPECT_EQ(fax.countVisible(), 6u);
  ASSERT_EQ(fax.setFilter(".not. ARCHIVED"), 0);
  EXPECT_EQ(fax.countVisible(), 5u);
  // Calculated fields.
  ASSERT_EQ(fax.goTop(), 0);
  EXPECT_EQ(records::calcFaxFile(fax, "/Prog"), "/prog/send/f0000001.apf");
  fax.setString("FAXDOC", "");
  ASSERT_EQ(fax.post(), 0);
  EXPECT_EQ(records::calcFaxFile(fax, "/Prog"), "(Cover only)");
  EXPECT_EQ(records::isDeletedText(fax), "No ");
  EXPECT_EQ(records::isArchivedText(fax), "No ");
  // Deleted: invisible at once in every order, still in the file until the rebuild.
  ASSERT_EQ(fax.seek("19991231"), 1);
  ASSERT_EQ(fax.deleteRecord(), 0);
  EXPECT_EQ(records::isDeletedText(fax), "Yes");
  EXPECT_EQ(fax.countVisible(), 4u);
  for (int order = 0; order <= fax.tagCount(); ++order) {
    ASSERT_EQ(fax.setOrder(order), 0);
    auto s = subjects(fax);
    EXPECT_EQ(std::count(s.begin(), s.end(), "old"), 0) << "order " << order;
  }
  EXPECT_EQ(fax.recCount(), 6u);
  auto sizeBefore = fs::file_size(f.file("QNOUT.DBF"));
  ASSERT_EQ(fax.setOrder("SUBJECT"), 0);
  ASSERT_EQ(records::RebuildIndexes(fax, rec, phone, f.path), 0);
  EXPECT_EQ(fax.recCount(), 5u);
  EXPECT_LT(fs::file_size(f.file("QNOUT.DBF")), sizeBefore);
  EXPECT_EQ(fax.order(), fax.tagArea("SUBJECT"));
  ASSERT_EQ(fax.setFilter(""), 0);
  EXPECT_EQ(subjects(fax),
            (std::vector<std::string>{"also never", "archived", "never sent", "newest", "same day later"}));
  ASSERT_EQ(fax.setOrder("ARCHIVED"), 0);
  ASSERT_EQ(fax.goBottom(), 0);
  EXPECT_EQ(records::isArchivedText(fax), "Yes");
}

// The clean-up utility's conditions, run the way its delete-where scan runs
// them: natural order, SET DELETED off, marking every match.
int deleteWhere(xb::Table& t, const std::string& condition) {
  xb::setDeleted(false);
  int count = 0;
  t.setOrder(0);
  for (t.goTop(); !t.eof(); t.skip()) {
    bool match = false;
    EXPECT_EQ(t.evalLogical(condition, match), 0) << t.lastError();
    if (match && !t.isDeleted()) {
      t.deleteRecord();
      ++count;
    }
  }
  xb::setDeleted(true);
  return count;
}

TEST(RecordTables, CleanUpConditionsPartialExactAndBeforeDate) {
  Folder f;
  xb::Table fax, rec;
  ASSERT_EQ(records::OpenTablesAtStartup(fax, rec, f.path), records::StartupResult::Ok);
  ASSERT_EQ(fax.setFilter(""), 0);
  addFax(fax, "a", "20240115", "10:00", "Smith");
  addFax(fax, "b", "20240301", "10:00", "Osmith");
  addFax(fax, "c", "", "", "  sMi  ");
  addFax(fax, "d", "19980101", "10:00", "Jones");
  addFax(fax, "e", "", "", "smi");
  // Partial: "SMI" anywhere in the recipient.
  EXPECT_EQ(deleteWhere(fax, "\"SMI\"$ALLTRIM(UPPER(RECIPIENT))"), 4);
  for (int i = 1; i <= 5; ++i) {
    fax.go(static_cast<uint32_t>(i));
    fax.recall();
  }
  // Exact: only a recipient that is smi in any mix of cases.
  EXPECT_EQ(deleteWhere(fax, "ALLTRIM(UPPER(RECIPIENT))==\"SMI\""), 2);
  EXPECT_EQ(deleteWhere(fax, "ALLTRIM(UPPER(RECIPIENT))==\"SMI\""), 0);  // marked ones are not counted again
  // Before a date given as mm/dd/yy: never-sent faxes are never included, and
  // dates after 1999 are found (the two-digit year slides with the current year).
  EXPECT_EQ(deleteWhere(fax, "(DATESENT<CTOD(\"02/01/24\")) .and. (.not. EMPTY(DATESENT))"), 2);
  EXPECT_EQ(fax.countVisible(), 1u);
  EXPECT_EQ(deleteWhere(fax, ".not. EMPTY(DATESENT)"), 1);
  EXPECT_EQ(fax.countVisible(), 0u);
}

}  // namespace
