// The Class 2 / 2.0 front end: parameters read from real T.30 frames, the
// subparameter syntax, and a whole Class 2.0 send as a DTE sees it.
#include <gtest/gtest.h>
#include <spandsp.h>
#include <tiffio.h>

#include <algorithm>

#include "at_client.h"
#include "class2_commands.h"
#include "fax_pages.h"
#include "sim_harness.h"

namespace faxsim {
namespace {

using namespace std::chrono_literals;

// Frames as spandsp's T.30 engine sent them in a session (address, control, FCF, FIF).
const uint8_t kDis[] = {0xff, 0x13, 0x80, 0x00, 0xee, 0xf8, 0x80, 0x80, 0x91, 0x80, 0x80, 0x80, 0x18};
const uint8_t kDcs[] = {0xff, 0x13, 0x83, 0x00, 0x62, 0x78};
const uint8_t kCsi[] = {0xff, 0x03, 0x40, '0', '0', '2', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                        ' ',  ' ',  ' ',  ' ', ' ', ' ', ' ', ' ', ' '};

TEST(FaxModemSimClass2, FramesBecomeClass2ReportsAndBack) {
  // DIS: V.27 ter, V.29 and V.17; fine; 2-D; A4 width; any length; 0 ms scan time.
  EXPECT_EQ(paramsFromDis(kDis, sizeof kDis).text(), "1,5,0,2,1,0,0,0");
  // DCS: 14400 bps V.17, fine, A4, any length, 1-D.
  EXPECT_EQ(paramsFromDcs(kDcs, sizeof kDcs).text(), "1,5,0,2,0,0,0,0");
  EXPECT_EQ(identFromFrame(kCsi, sizeof kCsi), "200");
  // A frame cut short reads as the lowest capabilities, not past its end.
  EXPECT_EQ(paramsFromDis(kDis, 4).text(), "0,0,0,0,0,0,0,5");

  // The session takes the lower of each capability and the receiver's scan time.
  Class2Params local;
  local.parse("1,5,1,2,0,1,0,0");
  Class2Params remote;  // as read from a DIS: 2-D capable, which a DTE may not ask for
  remote.vr = 0;
  remote.br = 3;
  remote.ln = 1;
  remote.df = 1;
  remote.st = 3;
  EXPECT_EQ(negotiate(local, remote).text(), "0,3,0,1,0,0,0,3");
  const SpandspCaps caps = capsFor(remote);
  EXPECT_EQ(caps.modems, T30_SUPPORT_V27TER | T30_SUPPORT_V29);
  EXPECT_FALSE(caps.resolutions & T30_SUPPORT_FINE_RESOLUTION);
}

TEST(FaxModemSimClass2, SubparametersReplaceOnlyWhatIsGiven) {
  Class2Params p;
  EXPECT_TRUE(p.parse("0,3"));
  EXPECT_EQ(p.text(), "0,3,0,2,0,0,0,0");
  EXPECT_TRUE(p.parse("1,,1"));
  EXPECT_EQ(p.text(), "1,3,1,2,0,0,0,0");
  // Out of range, not a number, too many fields: refused, nothing changes.
  for (const char* bad : {"2", "1,6", "x", "1,5,0,2,0,0,0,0,0", "1,-1", "1,123"}) {
    EXPECT_FALSE(p.parse(bad)) << bad;
    EXPECT_EQ(p.text(), "1,3,1,2,0,0,0,0") << bad;
  }
  EXPECT_EQ(p.bitsPerSecond(), 9600);
  EXPECT_EQ(p.width(), 2048);
}

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
  qn::sim::FaxModemSim sim;
  const std::string received = sim.workDir() + "/received.tif";
  const std::string sent = sim.workDir() + "/sent.tif";
  const auto pages = qn::sim::makeTestPages(1, 120, false, 5);
  ASSERT_TRUE(qn::sim::writeTiff(sent, pages));
  sim.addModem(qn::sim::ModemKind::Class2_0, "100");
  sim.addReceiver("200", received);
  ASSERT_TRUE(sim.start()) << sim.error();
  qn::sim::AtClient dte(sim.device("100"));
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
  auto got = qn::sim::readPages(received);
  ASSERT_EQ(got.size(), 1u);
  std::string why;
  EXPECT_TRUE(qn::sim::samePage(pages[0], got[0], &why)) << why;
}

}  // namespace
}  // namespace faxsim
