// Class 2/2.0 command tables, modem replies and reports, the class support
// answer, and the splitting of modem input into lines and DLE blocks.
#include "class2.h"

#include <gtest/gtest.h>

#include "modem_reader.h"

namespace fe {
namespace {

TEST(Class2Replies, RecognisedBySubstringWithoutMistakingReports) {
  EXPECT_EQ(ClassifyReply("OK"), TModemReply::Ok);
  EXPECT_EQ(ClassifyReply("CONNECT 14400"), TModemReply::Connect);
  EXPECT_EQ(ClassifyReply("NO CARRIER"), TModemReply::NoCarrier);
  EXPECT_EQ(ClassifyReply("+FCERROR"), TModemReply::Error);
  EXPECT_EQ(ClassifyReply("BUSY"), TModemReply::Busy);
  EXPECT_EQ(ClassifyReply("NO ANSWER"), TModemReply::NoAnswer);
  EXPECT_EQ(ClassifyReply("VOICE"), TModemReply::Voice);
  EXPECT_EQ(ClassifyReply("VCON"), TModemReply::Voice);
  EXPECT_EQ(ClassifyReply("NO DIALTONE"), TModemReply::NoDialTone);
  EXPECT_EQ(ClassifyReply("NO DIAL TONE"), TModemReply::NoDialTone);
  EXPECT_EQ(ClassifyReply("+FCON"), TModemReply::None);
  EXPECT_EQ(ClassifyReply("+FCO"), TModemReply::None);
  EXPECT_EQ(ClassifyReply("\x7f\x03garbage"), TModemReply::None);
}

TEST(Class2Replies, ReportValuesAndFields) {
  EXPECT_EQ(ReportValue("+FPTS:1,2200", "+FPTS"), "1,2200");
  EXPECT_EQ(ReportValue("+FPS: 2", "+FPS"), "2");
  EXPECT_FALSE(ReportValue("+FCSI: \"123\"", "+FCS"));  // +FCS must not take +FCSI
  EXPECT_FALSE(ReportValue("OK", "+FHNG"));
  EXPECT_EQ(ReportFields("1,5,0,2,0,0,0,0"), (std::vector<int>{1, 5, 0, 2, 0, 0, 0, 0}));
  EXPECT_EQ(ReportFields("1,x1z,3"), (std::vector<int>{1, -1, 3}));
  EXPECT_EQ(ReportFields("0A"), (std::vector<int>{10}));  // Class 2.0 hexadecimal
  // Fields too large for a number are no number; the parse never throws.
  EXPECT_EQ(ReportFields("ABCDEF12,99999999,7FFFFFFF"), (std::vector<int>{-1, 99999999, 0x7FFFFFFF}));
  EXPECT_EQ(ReportFields("123456789012,-5"), (std::vector<int>{-1, -1}));
  EXPECT_FALSE(ParseClass2Params("ABCDEF12,5,0"));
  // Report lines are data: a caller id with a result word in it is no result.
  EXPECT_TRUE(IsReportLine("+FTSI:\"TOKYO OFFICE\""));
  EXPECT_TRUE(IsReportLine("  +FHS:50"));
  EXPECT_FALSE(IsReportLine("OK"));
  EXPECT_FALSE(IsReportLine("+"));
  EXPECT_EQ(FirstReportField(" 50 ,1"), "50");
  auto p = ParseClass2Params("1,5,1,2,0,1,0,0");
  ASSERT_TRUE(p);
  EXPECT_TRUE(p->fine && p->wide && p->ecm);
  EXPECT_EQ(p->bps, 14400);
  p = ParseClass2Params("0,3,0,2,0,0,0,0");
  ASSERT_TRUE(p);
  EXPECT_FALSE(p->fine || p->wide || p->ecm);
  EXPECT_EQ(p->bps, 9600);
  EXPECT_FALSE(ParseClass2Params("1,"));
  EXPECT_EQ(ParseClass2Id("\"  REMOTE 1  \""), "REMOTE 1");
  EXPECT_EQ(ParseClass2Id("\"123456789012345678901234\""), "12345678901234567890");
}

TEST(Class2Commands, TablesAndCapabilityCommand) {
  const auto& c2 = Class2Commands(TFaxClass::fcClass2);
  const auto& c20 = Class2Commands(TFaxClass::fcClass2_0);
  EXPECT_STREQ(c2.selectClass, "AT+FCLASS=2");
  EXPECT_STREQ(c20.selectClass, "AT+FCLASS=2.0");
  EXPECT_EQ(c2.RemoteCaps(), "+FDIS");
  EXPECT_EQ(c20.RemoteCaps(), "+FIS");
  EXPECT_STREQ(c20.pageStatus, "+FPS");
  EXPECT_STREQ(c2.hangup, "+FHNG");
  EXPECT_EQ(Class2CapsCommand(c2, true, 14400, false, false), "AT+FDCC=1,5,0,2,0,0,0,0");
  EXPECT_EQ(Class2CapsCommand(c20, false, 7200, true, true), "AT+FCC=0,2,1,2,0,1,0,0");
}

TEST(Class2Support, WholeEntriesInAnyOrder) {
  auto s = ParseClassSupport("0,1,2,2.0");
  EXPECT_TRUE(s.class1 && s.class2 && s.class2_0);
  s = ParseClassSupport("0,1,2.0");
  EXPECT_TRUE(s.class1 && s.class2_0);
  EXPECT_FALSE(s.class2);
  s = ParseClassSupport("0,2.0,2");  // Class 2 listed last still counts
  EXPECT_TRUE(s.class2 && s.class2_0);
  EXPECT_FALSE(s.class1);
  s = ParseClassSupport("(0,1,8)");
  EXPECT_TRUE(s.class1);
  EXPECT_FALSE(s.class2 || s.class2_0);
  EXPECT_FALSE(ParseClassSupport("").Any());
  EXPECT_FALSE(ParseClassSupport("ERROR").Any());
}

TEST(ModemReader, LinesAndBlocksAcrossPieces) {
  TModemReader r;
  std::string line;
  const uint8_t a[] = {'\r', '\n', 'C', 'O', 'N'};
  r.Feed(a, sizeof a);
  EXPECT_FALSE(r.TakeLine(line));
  const uint8_t b[] = {'N', 'E', 'C', 'T', '\r', '\n', 0xFF, 0x10, 0x10};
  r.Feed(b, sizeof b);
  ASSERT_TRUE(r.TakeLine(line));
  EXPECT_EQ(line, "CONNECT");
  std::vector<uint8_t> block;
  EXPECT_FALSE(r.TakeBlock(block));
  const uint8_t c[] = {0x10};
  r.Feed(c, 1);
  EXPECT_FALSE(r.TakeBlock(block));  // DLE could start DLE ETX
  const uint8_t d[] = {0x41, 0x10, 0x03, '\r', '\n', 'O', 'K', '\r', '\n'};
  r.Feed(d, sizeof d);
  ASSERT_TRUE(r.TakeBlock(block));
  EXPECT_EQ(block, (std::vector<uint8_t>{0xFF, 0x10, 0x41}));  // DLE DLE -> DLE, DLE x -> x
  ASSERT_TRUE(r.TakeLine(line));
  EXPECT_EQ(line, "OK");
  // An endless line is cut rather than growing without bound.
  std::vector<uint8_t> junk(2000, 'x');
  r.Feed(junk.data(), junk.size());
  ASSERT_TRUE(r.TakeLine(line));
  EXPECT_EQ(line.size(), 512u);
  // A block beyond its limit is cut but still ends at DLE ETX.
  TModemReader big;
  std::vector<uint8_t> data(100, 0x55);
  data.push_back(0x10);
  data.push_back(0x03);
  big.Feed(data.data(), data.size());
  std::vector<uint8_t> cut;
  ASSERT_TRUE(big.TakeBlock(cut, 10));
  EXPECT_EQ(cut.size(), 10u);
}

}  // namespace
}  // namespace fe
