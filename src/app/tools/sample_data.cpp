// quillon-sample FOLDER: creates the record tables in FOLDER as a first start
// does (tables, tags, index rebuild) and fills both fax lists and the phone book
// with a few sample faxes, for screenshots and demonstrations.
#include <cstdio>
#include <string>

#include "records/rebuild.h"
#include "records/record_tables.h"
#include "xbase/xb_env.h"

namespace {

struct OutFax {
  const char *subject, *recipient, *phone, *date, *time, *result, *doc, *cover, *notes, *codes;
  bool archived;
};
struct RecFax {
  const char *date, *time, *from;
  int pages;
  const char *file, *notes;
};

const OutFax kOut[] = {
    {"Quarterly figures", "Harbour Supplies Ltd", "+44 20 7946 0321", "20261203", "09:41", "OK", "FAX00000.APF",
     "COV00000.APF", "Sent with cover", "ACC-7", false},
    {"Order 5521 confirmation", "Marlow & Sons", "555-0142", "20261204", "14:05", "OK", "FAX00001.APF", "", "",
     "ORD", false},
    {"Meeting moved to Friday", "Dr. Ana Ruiz", "555-0199", "", "", "Busy", "", "COV00001.APF",
     "Try again after lunch", "", false},
    {"Old price list", "Kestrel Print", "555-0110", "20261112", "11:20", "OK", "FAX00002.APF", "", "", "", true},
};
const RecFax kRec[] = {
    {"20261205", "08:12", "+1 212 555 0187", 3, "REC00000.APF", "Signed contract"},
    {"20261206", "16:47", "555 0142", 1, "REC00001.APF", ""},
    {"20261202", "10:03", "FE RcvFax", 2, "REC00002.APF", "Invoice 88"},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: quillon-sample FOLDER\n");
    return 2;
  }
  std::string folder = argv[1];
  if (folder.back() != '/') folder += '/';
  xb::Table fax, rec, phone;
  if (records::OpenTablesAtStartup(fax, rec, folder, "") != records::StartupResult::Ok) {
    std::fprintf(stderr, "quillon-sample: cannot create the tables in %s: %s\n", folder.c_str(),
                 fax.lastError().c_str());
    return 1;
  }
  for (const OutFax& f : kOut) {
    fax.appendBlank();
    fax.setString("SUBJECT", f.subject);
    fax.setString("RECIPIENT", f.recipient);
    fax.setString("PHONE", f.phone);
    fax.setDate("DATESENT", f.date);
    fax.setString("TIMESENT", f.time);
    fax.setString("LASTRESULT", f.result);
    fax.setString("FAXDOC", f.doc);
    fax.setString("FAXCOVER", f.cover);
    fax.setString("NOTES", f.notes);
    fax.setString("CODES", f.codes);
    fax.setLogical("ARCHIVED", f.archived);
    if (fax.post() != 0) return 1;
  }
  for (const RecFax& r : kRec) {
    rec.appendBlank();
    rec.setDate("DATEREC", r.date);
    rec.setString("TIMEREC", r.time);
    rec.setString("FROM", r.from);
    rec.setNumber("PAGES", r.pages);
    rec.setString("FAXFILE", r.file);
    rec.setString("NOTES", r.notes);
    if (rec.post() != 0) return 1;
  }
  if (records::OpenPhoneDBF(phone, folder, true)) {
    for (const auto& [name, number] : {std::pair{"Harbour Supplies Ltd", "+44 20 7946 0321"},
                                       std::pair{"Marlow & Sons", "555-0142"}}) {
      phone.appendBlank();
      phone.setString("NAME", name);
      phone.setString("PHONE", number);
      phone.post();
    }
    phone.close();
  }
  return records::RebuildIndexes(fax, rec, phone, folder) == 0 ? 0 : 1;
}
