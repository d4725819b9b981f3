// qnfax db against real files: init, append, dump in an order, and a check
// that fails when a table was changed behind its index.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include "qnfax_run.h"
#include "xbase/xb_env.h"
#include "xbase/xb_table.h"

namespace {

using qntest::Result;
const auto qnfax = qntest::Qnfax;

TEST(QnfaxDb, InitAppendDumpAndCheckCatchesATableChangedBehindItsIndex) {
  char tmpl[] = "/tmp/qn-qnfaxdb-XXXXXX";
  std::string dir = ::mkdtemp(tmpl);
  std::string out = dir + "/QNOUT.DBF";
  ASSERT_EQ(qnfax("db init " + dir).status, 0);
  EXPECT_EQ(qnfax("db tags " + out).out.substr(0, 53), "1\tDATESENT\tDTOS(DATESENT)+TIMESENT\t.not. deleted()\tde");
  ASSERT_EQ(qnfax("db append " + out + " SUBJECT=beta DATESENT=20240105 TIMESENT=10:00").status, 0);
  ASSERT_EQ(qnfax("db append " + out + " SUBJECT=alpha").status, 0);
  ASSERT_EQ(qnfax("db append " + out + " SUBJECT=gamma DATESENT=20250105").status, 0);
  EXPECT_EQ(qnfax("db append " + out + " NOFIELD=1").status, 2);
  EXPECT_EQ(qnfax("db append " + out + " DATESENT=notadate").status, 1);
  auto dump = qnfax("db dump " + out + " --order SUBJECT");
  EXPECT_EQ(dump.out.substr(0, 8), "2\talpha\t");
  EXPECT_NE(dump.out.find("\n1\tbeta\t20240105\t10:00\t"), std::string::npos) << dump.out;
  EXPECT_EQ(qnfax("db count " + out + " --filter \"EMPTY(DATESENT)\"").out, "visible\t1\nall\t3\n");
  EXPECT_EQ(qnfax("db check " + out).status, 0);
  // Another program rewrites a subject in place without touching the index.
  {
    std::fstream f(out, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(32 + 11 * 32 + 1 + 1);  // record 1, SUBJECT
    f.write("zeta", 4);
  }
  auto check = qnfax("db check " + out);
  EXPECT_NE(check.status, 0);
  EXPECT_NE(check.out.find("SUBJECT"), std::string::npos) << check.out;
  ASSERT_EQ(qnfax("db rebuild " + dir).status, 0);
  EXPECT_EQ(qnfax("db check " + out).status, 0);
  ASSERT_EQ(qnfax("db delete " + out + " 2").status, 0);
  EXPECT_EQ(qnfax("db count " + out).out, "visible\t2\nall\t3\n");
  EXPECT_EQ(qnfax("db pack " + out).out, "2 records\n");
  EXPECT_EQ(qnfax("db dump " + out + " --filter \"name = 1\"").status, 1);
  std::filesystem::remove_all(dir);
}

// Faxes added and deleted over and over: the index reuses the pages that
// deletions emptied, and qnfax db check still finds every tag right.
TEST(QnfaxDb, CheckPassesAfterTheIndexReusedEmptiedPages) {
  char tmpl[] = "/tmp/qn-qnfaxdb-XXXXXX";
  std::string dir = ::mkdtemp(tmpl);
  std::string out = dir + "/QNOUT.DBF";
  ASSERT_EQ(qnfax("db init " + dir).status, 0);
  uintmax_t grown = 0;
  {
    xb::Table t;
    ASSERT_EQ(t.open(out, xb::OpenMode::Exclusive), 0) << t.lastError();
    for (int round = 0; round < 8; ++round) {
      const uint32_t first = t.recCount() + 1;
      for (int i = 0; i < 400; ++i) {
        ASSERT_EQ(t.appendBlank(), 0);
        t.setString("SUBJECT", "Łódź " + std::to_string((i * 7919 + round) % 1000));
        t.setString("RECIPIENT", "Müller " + std::to_string(i % 37));
        t.setDate("DATESENT", "2026" + std::string(i % 2 ? "01" : "11") + "15");
        ASSERT_EQ(t.post(), 0) << t.lastError();
      }
      for (uint32_t r = first; r <= t.recCount(); ++r) {
        ASSERT_EQ(t.go(r), 0);
        ASSERT_EQ(t.deleteRecord(), 0);
      }
      ASSERT_EQ(t.commit(), 0);
      if (round == 1) grown = std::filesystem::file_size(dir + "/QNOUT.CDX");
    }
  }
  EXPECT_LE(std::filesystem::file_size(dir + "/QNOUT.CDX"), grown + 4096);
  auto check = qnfax("db check " + out);
  EXPECT_EQ(check.status, 0) << check.out;
  EXPECT_EQ(qnfax("db count " + out).out, "visible\t0\nall\t3200\n");
  std::filesystem::remove_all(dir);
}

}  // namespace
