// Fuzz target for the table engine's readers of outside data. The first byte
// picks the reader: 0 an expression (compiled and evaluated), 1 a DBF file
// (opened, walked and evaluated), 2 a CDX file beside a fixed table (every tag
// walked both ways, sought and checked), 3 one raw index page.
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_files.h"
#include "xbase/xb_cdx.h"
#include "xbase/xb_env.h"
#include "xbase/xb_expr.h"
#include "xbase/xb_internal.h"
#include "xbase/xb_table.h"

namespace {

using qnfuzz::WorkDir;
using qnfuzz::WriteFile;

std::vector<xb::FieldDef> fixedFields() {
  return {{"NAME", 'C', 12, 0, 1}, {"BORN", 'D', 8, 0, 13}, {"OK", 'L', 1, 0, 21}, {"N", 'N', 6, 2, 22}};
}

void walk(xb::Table& t) {
  int steps = 0;
  for (t.goTop(); !t.eof() && steps < 2000; t.skip(), ++steps) {
    for (const auto& f : t.fields()) t.getString(f.name);
    bool b;
    t.evalLogical(".not. deleted()", b);
  }
  steps = 0;
  for (t.goBottom(); !t.eof() && !t.bof() && steps < 2000; t.skip(-1), ++steps) {
  }
  t.countVisible();
}

void fuzzExpression(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  xb::Expr e;
  std::string err;
  if (xb::Expr::compile(text, fixedFields(), e, err) != 0) return;
  const char* rec = " Smith       19991231T 12.50";
  e.eval(reinterpret_cast<const uint8_t*>(rec));
  e.keyWidth();
}

void fuzzDbf(const uint8_t* data, size_t size) {
  std::string path = WorkDir() + "/F.DBF";
  WriteFile(path, data, size);
  ::unlink((WorkDir() + "/F.CDX").c_str());
  xb::Table t;
  if (t.open(path, xb::OpenMode::ReadOnly) != 0) return;
  walk(t);
}

void fuzzCdx(const uint8_t* data, size_t size) {
  static const std::string dbf = [] {
    std::string path = WorkDir() + "/C.DBF";
    // The outgoing-fax layout, so that the program's own index files are valid inputs.
    std::vector<xb::FieldDef> fields = {
        {"SUBJECT", 'C', 50, 0, 0},   {"DATESENT", 'D', 8, 0, 0},  {"TIMESENT", 'C', 5, 0, 0},
        {"RECIPIENT", 'C', 35, 0, 0}, {"PHONE", 'C', 25, 0, 0},    {"LASTRESULT", 'C', 100, 0, 0},
        {"FAXDOC", 'C', 12, 0, 0},    {"FAXCOVER", 'C', 12, 0, 0}, {"NOTES", 'C', 50, 0, 0},
        {"CODES", 'C', 25, 0, 0},     {"ARCHIVED", 'L', 1, 0, 0}};
    xb::Table::create(path, fields);
    xb::Table t;
    t.open(path, xb::OpenMode::Exclusive);
    for (int i = 0; i < 40; ++i) {
      t.appendBlank();
      t.setString("SUBJECT", "subject " + std::to_string(i % 7));
      t.setDate("DATESENT", i % 3 ? "20240101" : "");
      t.setLogical("ARCHIVED", i % 2);
      t.setString("RECIPIENT", "r" + std::to_string(i % 5));
      t.post();
    }
    t.closeIndexes();
    return path;
  }();
  std::vector<uint8_t> bytes(data, data + size);
  // Without our stamp the index is taken as written by another tool and used.
  if (bytes.size() >= 20) bytes[16] = bytes[17] = bytes[18] = bytes[19] = 0;
  WriteFile(WorkDir() + "/C.CDX", bytes.data(), bytes.size());
  xb::Table t;
  if (t.open(dbf, xb::OpenMode::ReadOnly) != 0) return;
  for (int order = 1; order <= t.tagCount() && order <= 8; ++order) {
    if (t.setOrder(order) != 0) continue;
    walk(t);
    t.seek("subject 3");
    t.seek("T");
    t.visibleRecNos();
    t.checkIndex();
  }
}

void fuzzPage(const uint8_t* data, size_t size) {
  if (size < 1) return;
  int keyLen = 1 + data[0] % xb::kCdxMaxKey;
  uint8_t page[xb::kCdxPage] = {};
  for (size_t i = 1; i < size && i - 1 < sizeof page; ++i) page[i - 1] = data[i];
  try {
    xb::CdxNode node;
    xb::CdxFile::decodePage(page, keyLen, ' ', node);
    if (node.leaf && xb::CdxFile::leafBytes(node) <= xb::kCdxPage) {
      uint8_t again[xb::kCdxPage];
      xb::CdxFile::encodePage(node, again);
    }
  } catch (const xb::Failure&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  switch (data[0] % 4) {
    case 0:
      fuzzExpression(data + 1, size - 1);
      break;
    case 1:
      fuzzDbf(data + 1, size - 1);
      break;
    case 2:
      fuzzCdx(data + 1, size - 1);
      break;
    default:
      fuzzPage(data + 1, size - 1);
      break;
  }
  return 0;
}
