// Our send engine calls our receive engine through two virtual modems of
// faxmodem-sim; the pages stored must be the pages sent, whatever the classes.
#include <gtest/gtest.h>

#include <memory>
#include <tuple>

#include "apf_reader.h"
#include "apf_writer.h"
#include "comport_link.h"
#include "fax_pages.h"
#include "fe_comport.h"
#include "mh_codec.h"
#include "receive_fax.h"
#include "send_fax.h"
#include "sim_harness.h"

namespace {

using namespace std::chrono_literals;
using qn::sim::ModemKind;
using qn::sim::RasterPage;

fe::TFaxClass ClassOf(ModemKind k) {
  return k == ModemKind::Class1   ? fe::TFaxClass::fcClass1
         : k == ModemKind::Class2 ? fe::TFaxClass::fcClass2
                                  : fe::TFaxClass::fcClass2_0;
}

bool WriteApf(const std::string& file, const std::vector<RasterPage>& pages) {
  fe::TApfWriter w;
  if (w.Create(file) != 0) return false;
  for (const auto& p : pages) {
    if (w.BeginPage(fe::pfLineRecords | (p.fine ? fe::pfHighRes : 0)) != 0) return false;
    for (const auto& row : p.rows)
      if (w.AppendRasterLine(row.data(), 1728) != 0) return false;
    if (w.EndPage() != 0) return false;
  }
  return w.Close() == 0;
}

std::vector<RasterPage> ReadApf(const std::string& file) {
  std::vector<RasterPage> out;
  fe::TApfReader r;
  if (r.Open(file) != 0) return out;
  for (unsigned n = 1; n <= r.PageCount(); ++n) {
    fe::TApfPageInfo info;
    std::vector<std::uint8_t> data;
    if (r.ReadPage(n, &info, &data) != 0) break;
    RasterPage page;
    page.width = 1728;
    page.fine = info.highRes();
    fe::MhDecodePage(data.data(), data.size(), info.lineRecords(), 1728, [&](const std::uint8_t* l, unsigned b) {
      page.rows.emplace_back(l, l + b);
      return true;
    });
    out.push_back(std::move(page));
  }
  return out;
}

struct Side {
  fe::TFeComPort port;
  std::unique_ptr<fe::TComPortLink> link;
  int Open(const std::string& device) {
    port.SetDevicePath(device);
    if (const int rc = port.SetOpen(true); rc < 0) return rc;
    link = std::make_unique<fe::TComPortLink>(port);
    return 0;
  }
};

class SendToReceive : public ::testing::TestWithParam<std::tuple<ModemKind, ModemKind>> {
 protected:
  void TearDown() override {
    tx.Cancel();
    rx.Cancel();
    tx.WaitDone(5000);
    rx.WaitDone(5000);
    tx.SetComPort(nullptr);
    rx.SetComPort(nullptr);
    sim.stop();
  }
  qn::sim::FaxModemSim sim;
  Side caller, answerer;
  fe::TFeSendFax tx;
  fe::TFeReceiveFax rx;
};

TEST_P(SendToReceive, PagesArriveExactly) {
  const auto [sendKind, recvKind] = GetParam();
  auto pages = qn::sim::makeTestPages(2, 90, true, 61);
  pages[1].fine = false;
  const std::string out = sim.workDir() + "/out.apf";
  ASSERT_TRUE(WriteApf(out, pages));
  sim.addModem(recvKind, "100");
  sim.addModem(sendKind, "101");
  ASSERT_TRUE(sim.start()) << sim.error();
  ASSERT_EQ(answerer.Open(sim.device("100")), 0);
  ASSERT_EQ(caller.Open(sim.device("101")), 0);

  rx.SetComPort(answerer.link.get());
  rx.FaxClass = ClassOf(recvKind);
  rx.StationID = "RECEIVER";
  rx.DestinationDir = sim.workDir();
  rx.OneFax = true;
  rx.ExitOnError = true;
  ASSERT_EQ(rx.StartReceive(), 0);

  tx.SetComPort(caller.link.get());
  tx.FaxClass = ClassOf(sendKind);
  tx.StationID = "SENDER";
  tx.PhoneNumber = "100";
  tx.FaxFile = out;
  ASSERT_EQ(tx.StartSend(), 0);

  ASSERT_TRUE(tx.WaitDone(180000)) << "log: " << sim.logFile();
  ASSERT_TRUE(rx.WaitDone(30000)) << "log: " << sim.logFile();
  EXPECT_EQ(tx.FinalCode(), 0) << "log: " << sim.logFile();
  EXPECT_EQ(rx.FinalCode(), 0) << "log: " << sim.logFile();
  EXPECT_EQ(rx.Session().remoteId, "SENDER");
  const auto got = ReadApf(sim.workDir() + "/FAX0001.APF");
  ASSERT_EQ(got.size(), pages.size());
  for (std::size_t i = 0; i < pages.size(); ++i) {
    EXPECT_EQ(got[i].fine, pages[i].fine) << "page " << i + 1;
    std::string why;
    EXPECT_TRUE(qn::sim::samePage(pages[i], got[i], &why)) << "page " << i + 1 << ": " << why;
  }
}

std::string Name(const ::testing::TestParamInfo<std::tuple<ModemKind, ModemKind>>& info) {
  static const char* const names[] = {"Class1", "Class2", "Class2_0"};
  return std::string(names[static_cast<int>(std::get<0>(info.param))]) + "_to_" +
         names[static_cast<int>(std::get<1>(info.param))];
}

// Between two Class 1 modems the call runs through T.38 gateways; the sender's
// one-second pause before page data must not cost the first row there.
using Pair = std::tuple<ModemKind, ModemKind>;
INSTANTIATE_TEST_SUITE_P(
    Sim, SendToReceive,
    ::testing::Values(Pair{ModemKind::Class1, ModemKind::Class1}, Pair{ModemKind::Class1, ModemKind::Class2},
                      Pair{ModemKind::Class1, ModemKind::Class2_0}, Pair{ModemKind::Class2, ModemKind::Class1},
                      Pair{ModemKind::Class2, ModemKind::Class2}, Pair{ModemKind::Class2, ModemKind::Class2_0},
                      Pair{ModemKind::Class2_0, ModemKind::Class1}, Pair{ModemKind::Class2_0, ModemKind::Class2},
                      Pair{ModemKind::Class2_0, ModemKind::Class2_0}),
    Name);

}  // namespace
