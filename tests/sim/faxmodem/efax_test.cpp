// efax, a fax program written by others, sends and receives real faxes through
// the virtual modems of every class; the pages that arrive must be the pages sent.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "fax_pages.h"
#include "sim_harness.h"

namespace qn::sim {
namespace {

using namespace std::chrono_literals;

const char* efaxClassOption(ModemKind kind) {
  switch (kind) {
    case ModemKind::Class1:
      return "-o1";
    case ModemKind::Class2:
      return "-o2";
    case ModemKind::Class2_0:
      return "-o0";
  }
  return "-o1";
}

class EfaxThroughVirtualModem : public ::testing::TestWithParam<ModemKind> {
 protected:
  void SetUp() override {
    dir_ = sim_.workDir();
    pages_ = makeTestPages(3, 200, true, 11);  // fine: efix takes a PBM image as 204x196 dpi
    sent_ = dir_ + "/sent.tif";
    ASSERT_TRUE(writeTiff(sent_, pages_));
  }
  std::vector<std::string> efaxPageFiles() {
    std::string error;
    auto files = writeEfaxPages(pages_, dir_, &error);
    EXPECT_FALSE(files.empty()) << error;
    return files;
  }
  // Pages written by the receiving side must match the pages sent, one by one.
  void expectSamePages(const std::vector<RasterPage>& received) {
    ASSERT_EQ(received.size(), pages_.size());
    for (size_t i = 0; i < pages_.size(); ++i) {
      std::string why;
      EXPECT_TRUE(samePage(pages_[i], received[i], &why)) << "page " << i + 1 << ": " << why;
    }
  }
  std::vector<RasterPage> pages_;
  FaxModemSim sim_;
  std::string dir_;
  std::string sent_;
};

TEST_P(EfaxThroughVirtualModem, SendsThreePagesToAFaxTerminal) {
  const std::string received = dir_ + "/received.tif";
  sim_.addModem(GetParam(), "100");
  sim_.addReceiver("200", received);
  ASSERT_TRUE(sim_.start()) << sim_.error();
  std::vector<std::string> argv = {
      "efax", "-d", sim_.device("100"), efaxClassOption(GetParam()), "-l", "QUILLON TEST", "-h", "", "-v", "ewinc",
      "-t",   "200"};  // no header line: pages stay as sent
  for (const auto& file : efaxPageFiles()) argv.push_back(file);
  ProgramRun efax = runProgram(argv, dir_ + "/efax.out", 240s);
  EXPECT_EQ(efax.status, 0) << efax.output;
  EXPECT_NE(sim_.waitForEvent("result 200 0 pages=3", 15s), "") << "log: " << sim_.logFile();
  EXPECT_TRUE(sim_.stop()) << sim_.error();
  expectSamePages(readPages(received));
  std::cout << "[ timing   ] efax sent 3 pages in " << efax.seconds << " s\n";
}

TEST_P(EfaxThroughVirtualModem, ReceivesThreePagesFromAFaxTerminal) {
  sim_.addModem(GetParam(), "100");
  sim_.addSender("200", sent_, "100", 1500);
  ASSERT_TRUE(sim_.start()) << sim_.error();
  ProgramRun efax = runProgram({"efax", "-d", sim_.device("100"), efaxClassOption(GetParam()), "-l", "QUILLON TEST",
                                "-v", "ewinc", "-r", dir_ + "/rx"},
                               dir_ + "/efax.out", 240s);
  EXPECT_EQ(efax.status, 0) << efax.output;
  EXPECT_NE(sim_.waitForEvent("result 200 0 pages=3", 15s), "") << "log: " << sim_.logFile();
  EXPECT_TRUE(sim_.stop()) << sim_.error();
  std::vector<RasterPage> received;
  for (int page = 1; page <= 3; ++page) {
    auto pages = readPages(dir_ + "/rx.00" + std::to_string(page));
    ASSERT_EQ(pages.size(), 1u) << "page file " << page;
    received.push_back(pages[0]);
  }
  expectSamePages(received);
  std::cout << "[ timing   ] efax received 3 pages in " << efax.seconds << " s\n";
}

// Two Class 1 modems calling each other, with efax at both ends.
TEST(FaxModemSimBetweenModems, TwoClass1ModemsCarryAFaxBetweenTwoEfaxes) {
  FaxModemSim sim;
  const std::string dir = sim.workDir();
  const auto pages = makeTestPages(2, 150, true, 3);
  std::vector<std::string> argv = {"efax", "-d", "", "-o1", "-h", "", "-v", "ewinc", "-t", "101"};
  std::string error;
  const auto files = writeEfaxPages(pages, dir, &error);
  ASSERT_FALSE(files.empty()) << error;
  argv.insert(argv.end(), files.begin(), files.end());
  sim.addModem(ModemKind::Class1, "100");
  sim.addModem(ModemKind::Class1, "101");
  ASSERT_TRUE(sim.start()) << sim.error();
  argv[2] = sim.device("100");
  ProgramRun receiver;
  std::thread answering([&] {
    receiver =
        runProgram({"efax", "-d", sim.device("101"), "-o1", "-v", "ewinc", "-r", dir + "/rx"}, dir + "/rx.out", 200s);
  });
  std::this_thread::sleep_for(1s);
  ProgramRun sender = runProgram(argv, dir + "/tx.out", 200s);
  answering.join();
  EXPECT_EQ(sender.status, 0) << sender.output;
  EXPECT_EQ(receiver.status, 0) << receiver.output;
  EXPECT_TRUE(sim.stop()) << sim.error();
  for (size_t i = 0; i < pages.size(); ++i) {
    auto got = readPages(dir + "/rx.00" + std::to_string(i + 1));
    ASSERT_EQ(got.size(), 1u);
    std::string why;
    EXPECT_TRUE(samePage(pages[i], got[0], &why)) << "page " << i + 1 << ": " << why;
  }
}

std::string className(const ::testing::TestParamInfo<ModemKind>& info) {
  static const char* const names[] = {"Class1", "Class2", "Class2_0"};
  return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(FaxModemSim, EfaxThroughVirtualModem,
                         ::testing::Values(ModemKind::Class1, ModemKind::Class2, ModemKind::Class2_0), className);

}  // namespace
}  // namespace qn::sim
