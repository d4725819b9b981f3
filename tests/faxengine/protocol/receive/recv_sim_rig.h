// Our receiver on a modem of faxmodem-sim: the simulator, the port, its link and
// the engine, torn down in that order; receiving one fax into a fresh folder and
// comparing its pages with the rasters the caller sent.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "apf_pages.h"
#include "comport_link.h"
#include "fax_pages.h"
#include "fe_comport.h"
#include "receive_fax.h"
#include "sim_harness.h"

namespace recvtest {

class SimReceiver {
 protected:
  ~SimReceiver() {
    rx.Cancel();
    rx.WaitDone(5000);
    rx.SetComPort(nullptr);
    link.reset();
    port.SetOpen(false);
    sim.stop();
  }

  // Receives one fax on the modem registered as `number` (the simulator runs).
  void Receive(qn::sim::ModemKind kind, bool ecm = false, const std::string& number = "100") {
    std::filesystem::create_directories(dir);
    port.SetDevicePath(sim.device(number));
    ASSERT_EQ(port.SetOpen(true), 0);
    link = std::make_unique<fe::TComPortLink>(port);
    rx.SetComPort(link.get());
    rx.FaxClass = kind == qn::sim::ModemKind::Class1   ? fe::TFaxClass::fcClass1
                  : kind == qn::sim::ModemKind::Class2 ? fe::TFaxClass::fcClass2
                                                       : fe::TFaxClass::fcClass2_0;
    rx.DesiredBPS = 14400;
    rx.DesiredECM = ecm;
    rx.StationID = "QUILLON RX";
    rx.DestinationDir = dir;
    rx.OneFax = true;
    ASSERT_EQ(rx.StartReceive(), 0);
    ASSERT_TRUE(rx.WaitDone(180000)) << "log: " << sim.logFile();
    EXPECT_EQ(rx.FinalCode(), 0) << "log: " << sim.logFile();
  }

  // The stored fax holds exactly these pages, resolution included.
  void Compare(const std::vector<qn::sim::RasterPage>& pages) {
    const auto got = qntest::ReadApfPages(dir + "/FAX0001.APF");
    ASSERT_EQ(got.size(), pages.size());
    for (std::size_t i = 0; i < pages.size(); ++i) {
      EXPECT_EQ(got[i].fine, pages[i].fine) << "page " << i + 1;
      std::string why;
      EXPECT_TRUE(qn::sim::samePage(pages[i], got[i], &why)) << "page " << i + 1 << ": " << why;
    }
  }

  qn::sim::FaxModemSim sim;
  std::string dir = sim.workDir() + "/in";
  fe::TFeComPort port;
  std::unique_ptr<fe::TComPortLink> link;
  fe::TFeReceiveFax rx;
};

}  // namespace recvtest
