// Pick-up of printed faxes: pairs become records exactly once; doubtful files
// are refused with a reason and never deleted or turned into records.
#include "faxprep/pickup.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "apf_writer.h"
#include "common/folders.h"
#include "records/record_tables.h"

namespace fs = std::filesystem;

namespace {

void WriteText(const fs::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary) << text;
}

void WriteFax(const fs::path& p) {
  fe::TApfWriter w;
  ASSERT_EQ(w.Create(p.string()), 0);
  ASSERT_EQ(w.BeginPage(fe::pfHighRes | fe::pfLineRecords), 0);
  std::uint8_t line[216] = {};
  for (int y = 0; y < 20; ++y) {
    line[y % 216] = 0xFF;
    ASSERT_EQ(w.AppendRasterLine(line, 1728), 0);
  }
  ASSERT_EQ(w.EndPage(), 0);
  ASSERT_EQ(w.Close(), 0);
}

class PickUp : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = fs::temp_directory_path() / ("qn-pickup-" + std::to_string(::getpid()));
    fs::remove_all(home_);
    fs::create_directories(home_ / "SEND");
    setenv("QUILLON_HOME", home_.c_str(), 1);
    qn::ResetProgramFolder();
    ASSERT_TRUE(records::OpenFaxDBF(fax_, qn::ProgramFolder(), ""));
  }
  void TearDown() override {
    fax_.close();
    fs::remove_all(home_);
  }
  fs::path Send(const std::string& name) const { return home_ / "SEND" / name; }
  int Records() {
    int n = 0;
    for (fax_.goTop(); !fax_.eof(); fax_.skip(1)) ++n;
    return n;
  }

  fs::path home_;
  xb::Table fax_;
};

}  // namespace

TEST_F(PickUp, ThreePairsBecomeThreeRecordsOnce) {
  for (int i = 1; i <= 3; ++i) {
    WriteFax(Send("JOB" + std::to_string(i) + ".APF"));
    WriteText(Send("JOB" + std::to_string(i) + ".JFD"), "555-010" + std::to_string(i) + "\r\nRecipient " +
                                                            std::to_string(i) + "\r\nSubject \xc3\xa9 " +
                                                            std::to_string(i) + "\r\n");
  }
  WriteFax(Send("FAX00000.APF"));  // a fax file of an existing record: not a printed job
  const auto report = faxprep::PickUpPrintedFaxes(fax_);
  EXPECT_EQ(report.found, 3);
  EXPECT_EQ(report.added, 3);
  EXPECT_TRUE(report.problems.isEmpty()) << report.problems.join('\n').toStdString();
  ASSERT_EQ(Records(), 3);
  fax_.goTop();
  EXPECT_EQ(fax_.getTrimString("FAXDOC"), "JOB1.APF");
  EXPECT_EQ(fax_.getTrimString("PHONE"), "555-0101");
  EXPECT_EQ(fax_.getTrimString("RECIPIENT"), "Recipient 1");
  EXPECT_EQ(fax_.getTrimString("FAXCOVER"), "");
  for (int i = 1; i <= 3; ++i) {
    EXPECT_TRUE(fs::exists(Send("JOB" + std::to_string(i) + ".APF")));
    EXPECT_FALSE(fs::exists(Send("JOB" + std::to_string(i) + ".JFD")));
  }
  const auto again = faxprep::PickUpPrintedFaxes(fax_);
  EXPECT_EQ(again.found, 0);
  EXPECT_EQ(Records(), 3);
}

TEST_F(PickUp, DoubtfulFilesAreRefusedAndKept) {
  const fs::path outside = home_ / "outside";
  fs::create_directories(outside);
  // A description without its fax; a fax without its description.
  WriteText(Send("NOFAX.JFD"), "1\n2\n3\n");
  WriteFax(Send("NODESC.APF"));
  // A malformed description.
  WriteFax(Send("SHORT.APF"));
  WriteText(Send("SHORT.JFD"), "555-0100\nJane\n");
  // A "fax" that is no fax file.
  WriteText(Send("TEXT.APF"), "not a fax at all");
  WriteText(Send("TEXT.JFD"), "1\n2\n3\n");
  // A description and a fax that are links to files outside the SEND folder.
  WriteFax(outside / "SECRET.APF");
  WriteText(outside / "SECRET.JFD", "1\n2\n3\n");
  fs::create_symlink(outside / "SECRET.APF", Send("LINKED.APF"));
  WriteText(Send("LINKED.JFD"), "1\n2\n3\n");
  WriteFax(Send("LINKJFD.APF"));
  fs::create_symlink(outside / "SECRET.JFD", Send("LINKJFD.JFD"));

  const auto report = faxprep::PickUpPrintedFaxes(fax_);
  EXPECT_EQ(report.added, 0);
  EXPECT_EQ(report.found, 5);
  ASSERT_EQ(report.problems.size(), 5) << report.problems.join('\n').toStdString();
  const QString all = report.problems.join('\n');
  for (const char* name : {"NOFAX.JFD", "SHORT.JFD", "TEXT.JFD", "LINKED.JFD", "LINKJFD.JFD"})
    EXPECT_TRUE(all.contains(QLatin1String(name))) << name;
  EXPECT_TRUE(all.contains(QLatin1String("fewer than three lines")));
  EXPECT_EQ(Records(), 0);
  for (const char* name : {"NOFAX.JFD", "NODESC.APF", "SHORT.APF", "SHORT.JFD", "TEXT.APF", "TEXT.JFD", "LINKED.APF",
                           "LINKED.JFD", "LINKJFD.APF", "LINKJFD.JFD"})
    EXPECT_TRUE(fs::exists(fs::symlink_status(Send(name)))) << name;
  EXPECT_TRUE(fs::exists(outside / "SECRET.APF"));
  EXPECT_TRUE(fs::exists(outside / "SECRET.JFD"));

  // Once the fax arrives beside its description, the pair is taken.
  WriteFax(Send("NOFAX.APF"));
  const auto later = faxprep::PickUpPrintedFaxes(fax_);
  EXPECT_EQ(later.added, 1);
  EXPECT_EQ(Records(), 1);
}

TEST_F(PickUp, LongNamesAreRenamedToFitTheRecordAndCaseIsIgnored) {
  WriteFax(Send("print-job-1234.apf"));
  WriteText(Send("print-job-1234.jfd"), "555\nJane\nLong name\n");
  const auto report = faxprep::PickUpPrintedFaxes(fax_);
  ASSERT_EQ(report.added, 1) << report.problems.join('\n').toStdString();
  fax_.goTop();
  EXPECT_EQ(fax_.getTrimString("FAXDOC"), "FAX00000.APF");
  EXPECT_TRUE(fs::exists(Send("FAX00000.APF")));
  EXPECT_FALSE(fs::exists(Send("print-job-1234.apf")));
  EXPECT_FALSE(fs::exists(Send("print-job-1234.jfd")));
}

TEST_F(PickUp, ADescriptionThatCannotBeRemovedMakesNoRecord) {
  if (::geteuid() == 0) GTEST_SKIP() << "root removes files from read-only folders";
  WriteFax(Send("KEEP.APF"));
  WriteText(Send("KEEP.JFD"), "1\n2\n3\n");
  fs::permissions(home_ / "SEND", fs::perms::owner_read | fs::perms::owner_exec);
  const auto report = faxprep::PickUpPrintedFaxes(fax_);
  fs::permissions(home_ / "SEND", fs::perms::owner_all);
  EXPECT_EQ(report.added, 0);
  EXPECT_EQ(report.problems.size(), 1);
  EXPECT_EQ(Records(), 0);
  EXPECT_TRUE(fs::exists(Send("KEEP.JFD")));
}
