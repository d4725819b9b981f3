// The cover data file, the job description and the hand-off file.
#include "faxprep/prep_files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "common/folders.h"
#include "common/ini_file.h"
#include "covers/cover_template.h"

using namespace faxprep;

TEST(CoverDataFile, LinesFlagsAndTemplateNameRoundTrip) {
  CoverInputs in;
  in.templateName = "QN0003.FCT";
  in.flags = FlagsText({true, false, true, false, true});
  in.message = {"Dear Jane,", "", "the plans & the papers.", "  indented"};
  EXPECT_EQ(in.flags, "X X X");
  const std::string bytes = SerializeCoverData(in);
  EXPECT_EQ(bytes, "QN0003.FCT\r\nX X X\r\nDear Jane,\r\n\r\nthe plans & the papers.\r\n  indented\r\n");
  const CoverInputs back = ParseCoverData(bytes);
  EXPECT_EQ(back.templateName, in.templateName);
  EXPECT_EQ(back.flags, in.flags);
  EXPECT_EQ(back.message, in.message);
  EXPECT_EQ(ParseFlags(back.flags), (std::array<bool, 5>{true, false, true, false, true}));

  // Only the file name part of line 1 counts, whatever folder it names.
  EXPECT_EQ(ParseCoverData("C:\\QN\\Covers\\qn0002.fct\r\n").templateName, "qn0002.fct");
  EXPECT_EQ(ParseCoverData("../../etc/passwd\n").templateName, "passwd");
  EXPECT_EQ(ParseCoverData("covers/..\n").templateName, kDefaultTemplate);
  EXPECT_EQ(ParseCoverData("").templateName, kDefaultTemplate);
  EXPECT_TRUE(ParseCoverData("a.fct\nXXXXX").message.empty());

  // A flags line of any other length leaves every flag clear.
  for (const char* flags : {"", "XXXX", "XXXXXX", "x x x"})
    EXPECT_EQ(ParseFlags(flags), (std::array<bool, 5>{})) << flags;
  EXPECT_EQ(ParseFlags("    X"), (std::array<bool, 5>{false, false, false, false, true}));
}

TEST(JobDescription, ThreeTextLinesOrARefusal) {
  JobDescription job;
  std::string why;
  ASSERT_TRUE(ParseJobDescription("555-0100\r\nJane Doe\r\nQuarterly report\r\nextra\r\n", job, why));
  EXPECT_EQ(job.phone, "555-0100");
  EXPECT_EQ(job.recipient, "Jane Doe");
  EXPECT_EQ(job.subject, "Quarterly report");
  ASSERT_TRUE(ParseJobDescription("555\rJane\rOld Mac lines", job, why));  // lone CRs end lines too
  EXPECT_EQ(job.recipient, "Jane");
  ASSERT_TRUE(ParseJobDescription("\n\nSubject only", job, why));
  EXPECT_EQ(job.phone, "");
  EXPECT_EQ(job.subject, "Subject only");

  for (const std::string& bad : {std::string(""), std::string("555\nJane\n"), std::string("555\0x\nA\nB\n", 11),
                                 std::string("555\x1b[2J\nA\nB\n"), std::string(5000, 'a') + "\n\n\n"}) {
    why.clear();
    EXPECT_FALSE(ParseJobDescription(bad, job, why)) << bad.size();
    EXPECT_FALSE(why.empty());
  }
}

TEST(HandOff, QnpdIniNamesTheSendFolderAndTheProgram) {
  const auto home = std::filesystem::temp_directory_path() / ("qn-handoff-" + std::to_string(::getpid()));
  std::filesystem::remove_all(home);
  setenv("QUILLON_HOME", (home / "data").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
  qn::ResetProgramFolder();
  ASSERT_TRUE(WriteHandOffFile("/usr/bin/quillon"));
  const std::string ini = (home / "config" / "quillon" / "QNPD.INI").string();
  ASSERT_TRUE(std::filesystem::exists(ini));
  EXPECT_EQ(qn::ReadProfileString(ini, "Location", "QNOutPath", ""), qn::SendFolder());
  EXPECT_EQ(qn::SendFolder().back(), '/');
  EXPECT_EQ(qn::ReadProfileString(ini, "Location", "QNExecutable", ""), "/usr/bin/quillon");
  // Rewritten at every start: a moved program folder is followed, other keys stay.
  qn::WriteProfileString(ini, "Driver", "Kept", "1");
  setenv("QUILLON_HOME", (home / "moved").c_str(), 1);
  qn::ResetProgramFolder();
  ASSERT_TRUE(WriteHandOffFile("/opt/quillon/bin/quillon"));
  EXPECT_EQ(qn::ReadProfileString(ini, "Location", "QNOutPath", ""), (home / "moved" / "SEND").string() + "/");
  EXPECT_EQ(qn::ReadProfileString(ini, "Driver", "Kept", ""), "1");
  std::filesystem::remove_all(home);
}
