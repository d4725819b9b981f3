// A whole Class 2.0 send as a DTE sees it through the virtual modem.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>

#include "at_client.h"
#include "fax_pages.h"
#include "sim_harness.h"

namespace qn::sim {
namespace {

using namespace std::chrono_literals;

// The coded page as a DTE sends it: Modified Huffman rows in line bit order.
std::string codedPage(const std::string& tiffPath) {
  std::string data;
  TIFF* tif = TIFFOpen(tiffPath.c_str(), "r");
  if (tif == nullptr) return data;
  std::vector<uint8_t> strip(static_cast<size_t>(TIFFRawStripSize(tif, 0)));
  const tmsize_t n = TIFFReadRawStrip(tif, 0, strip.data(), static_cast<tmsize_t>(strip.size()));
  TIFFClose(tif);
  for (tmsize_t i = 0; i < n; ++i) {
    if (strip[static_cast<size_t>(i)] == 0x10) data += '\x10';  // DLE is doubled
    data += static_cast<char>(strip[static_cast<size_t>(i)]);
  }
  return data;
}

bool has(const std::vector<std::string>& lines, const std::string& prefix) {
  return std::any_of(lines.begin(), lines.end(), [&](const auto& l) { return l.rfind(prefix, 0) == 0; });
}

TEST(FaxModemSimClass2, Class20SendReportsEachStepAndTheTerminalGetsThePage) {
  FaxModemSim sim;
  const std::string received = sim.workDir() + "/received.tif";
  const std::string sent = sim.workDir() + "/sent.tif";
  const auto pages = makeTestPages(1, 120, false, 5);
  ASSERT_TRUE(writeTiff(sent, pages));
  sim.addModem(ModemKind::Class2_0, "100");
  sim.addReceiver("200", received);
  ASSERT_TRUE(sim.start()) << sim.error();
  AtClient dte(sim.device("100"));
  ASSERT_TRUE(dte.isOpen());

  EXPECT_TRUE(has(dte.command("E0"), "OK"));
  auto lines = dte.command("+FCLASS=?");
  EXPECT_TRUE(has(lines, "0,2.0"));
  EXPECT_TRUE(has(dte.command("+FCLASS=2"), "ERROR"));  // this modem speaks Class 2.0 only
  EXPECT_TRUE(has(dte.command("+FCLASS=2.0"), "OK"));
  EXPECT_TRUE(has(dte.command("+FMI?"), "faxmodem-sim"));
  EXPECT_TRUE(has(dte.command("+FCC=?"), "(0,1),(0-5)"));
  EXPECT_TRUE(has(dte.command("+FLI=\"QUILLON\""), "OK"));
  EXPECT_TRUE(has(dte.command("+FLO=2;+FNR=1,1,1,0"), "OK"));
  EXPECT_TRUE(has(dte.command("+FCC=0,3,0,2,0,0,0,0"), "OK"));
  EXPECT_TRUE(has(dte.command("+FCC?"), "0,3,0,2,0,0,0,0"));
  EXPECT_TRUE(has(dte.command("+FCC=7"), "ERROR"));

  // Dialling: connected, the called station's id and capabilities, then OK.
  lines = dte.command("D200", 30s);
  ASSERT_TRUE(has(lines, "OK")) << (lines.empty() ? "no reply" : lines.back());
  EXPECT_TRUE(has(lines, "+FCO"));
  EXPECT_TRUE(has(lines, "+FCI:\"200\""));
  EXPECT_TRUE(has(lines, "+FIS:"));
  // +FDT: the session parameters (9600 bps at most, as we asked), then CONNECT.
  lines = dte.command("+FDT", 30s);
  ASSERT_TRUE(has(lines, "CONNECT"));
  EXPECT_TRUE(has(lines, "+FCS:0,3,0,2,0,0,0,"));
  // The page, ended by DLE "." (last page): page status, the hang-up report, OK.
  dte.send(codedPage(sent) + "\x10.");
  EXPECT_EQ(dte.waitLine("+F", 60s), "+FPS:1,0,0,0,0");
  EXPECT_EQ(dte.waitLine("+F", 30s), "+FHS:00");
  EXPECT_EQ(dte.waitLine("OK", 5s), "OK");
  EXPECT_NE(sim.waitForEvent("result 200 0 pages=1", 10s), "");
  sim.stop();
  auto got = readPages(received);
  ASSERT_EQ(got.size(), 1u);
  std::string why;
  EXPECT_TRUE(samePage(pages[0], got[0], &why)) << why;
}

}  // namespace
}  // namespace qn::sim
