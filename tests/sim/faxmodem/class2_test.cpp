// The Class 2 / 2.0 AT front end as a DTE sees it: command syntax and refusals,
// a whole Class 2.0 send and a whole Class 2 receive.
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

uint8_t bit_reverse(uint8_t b) {
  uint8_t r = 0;
  for (int i = 0; i < 8; ++i) r = static_cast<uint8_t>(r | (((b >> i) & 1) << (7 - i)));
  return r;
}

bool has(const std::vector<std::string>& lines, const std::string& prefix) {
  return std::any_of(lines.begin(), lines.end(), [&](const auto& l) { return l.rfind(prefix, 0) == 0; });
}

TEST(FaxModemSimClass2, CommandLinesAreParsedAndMisplacedCommandsRefused) {
  FaxModemSim sim;
  sim.addModem(ModemKind::Class2, "100");
  sim.addBusyNumber("555");
  ASSERT_TRUE(sim.start()) << sim.error();
  AtClient dte(sim.device("100"));
  // Echo is on until E0; line noise before "AT" is skipped; several commands on one line.
  auto lines = dte.command("E0");
  EXPECT_EQ(lines.front().rfind("ATE0", 0), 0u) << lines.front();
  dte.send(
      "xx\x7f"
      "AT+FCLASS=2;+FCR=1;+FLID=\"A;B\"\r");
  EXPECT_EQ(dte.waitLine("", 3s), "OK");
  EXPECT_TRUE(has(dte.command("+FLID?"), "\"A;B\""));
  EXPECT_TRUE(has(dte.command("+FCLASS?"), "2"));
  EXPECT_TRUE(has(dte.command("+FCLASS=2.0"), "ERROR"));
  EXPECT_TRUE(has(dte.command("+FMDL?"), "Class 2 virtual fax modem"));
  EXPECT_TRUE(has(dte.command("+FDCC=?"), "(0,1),(0-5),(0-2),(0-2),(0),(0-2),(0),(0-7)"));
  // Page commands outside a call, an unknown command: ERROR.
  EXPECT_TRUE(has(dte.command("+FDT"), "ERROR"));
  EXPECT_TRUE(has(dte.command("+FET=0"), "ERROR"));
  EXPECT_TRUE(has(dte.command("Y7"), "ERROR"));
  // Dialling a busy number; numeric results after V0.
  EXPECT_TRUE(has(dte.command("DT555", 6s), "BUSY"));
  dte.send("ATV0\r");
  EXPECT_EQ(dte.waitLine("", 3s), "0");
  // Without a fax class the fax commands are unknown.
  dte.send("AT+FCLASS=0;+FDIS?\r");
  EXPECT_EQ(dte.waitLine("", 3s), "4");
  EXPECT_TRUE(sim.stop()) << sim.error();
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
  EXPECT_TRUE(sim.stop()) << sim.error();
  auto got = readPages(received);
  ASSERT_EQ(got.size(), 1u);
  std::string why;
  EXPECT_TRUE(samePage(pages[0], got[0], &why)) << why;
}

TEST(FaxModemSimClass2, Class2ReceiveReportsEachStepAndDeliversThePage) {
  FaxModemSim sim;
  const std::string sent = sim.workDir() + "/sent.tif";
  const auto pages = makeTestPages(1, 100, true, 9);
  ASSERT_TRUE(writeTiff(sent, pages));
  sim.addModem(ModemKind::Class2, "100");
  sim.addSender("200", sent, "100", 500);
  ASSERT_TRUE(sim.start()) << sim.error();
  AtClient dte(sim.device("100"));
  EXPECT_TRUE(has(dte.command("E0+FCLASS=2;+FCR=1;+FLID=\"QUILLON\";+FDCC=1,5,0,2,0,0,0,0;+FAA=0"), "OK"));
  EXPECT_EQ(dte.waitLine("RING", 5s), "RING");
  auto lines = dte.command("A", 30s);
  ASSERT_TRUE(has(lines, "OK")) << (lines.empty() ? "no reply" : lines.back());
  EXPECT_TRUE(has(lines, "+FCON"));
  EXPECT_TRUE(has(lines, "+FTSI:\"200\""));
  EXPECT_TRUE(has(lines, "+FDCS:1,"));
  EXPECT_TRUE(has(dte.command("+FDR", 5s), "CONNECT"));
  dte.send("\x12");  // DC2: ready for data
  std::string data = dte.readData(60s);
  ASSERT_GE(data.size(), 2u);
  // Page status with the line count, the post-page message (last page), OK.
  EXPECT_EQ(dte.waitLine("+F", 5s), "+FPTS:1,100,0,0,0");
  EXPECT_EQ(dte.waitLine("+F", 5s), "+FET:2");
  EXPECT_EQ(dte.waitLine("OK", 5s), "OK");
  EXPECT_EQ(dte.waitLine("+FHNG", 20s), "+FHNG:0");
  EXPECT_NE(sim.waitForEvent("result 200 0 pages=1", 10s), "");
  EXPECT_TRUE(sim.stop()) << sim.error();

  // The data: fill bytes, then the page's rows coded 1-D, each byte's bits
  // reversed (Class 2), DLE doubled. Undo that and let libtiff decode it.
  std::string page;
  for (size_t i = 0; i + 2 < data.size(); ++i) {
    if (data[i] == '\x10') ++i;
    page += static_cast<char>(bit_reverse(static_cast<uint8_t>(data[i])));
  }
  const std::string rawTiff = sim.workDir() + "/delivered.tif";
  TIFF* tif = TIFFOpen(rawTiff.c_str(), "w");
  ASSERT_NE(tif, nullptr);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 1728);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 100);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
  TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 100);
  TIFFSetField(tif, TIFFTAG_YRESOLUTION, 196.0f);
  TIFFSetField(tif, TIFFTAG_XRESOLUTION, 204.0f);
  TIFFWriteRawStrip(tif, 0, page.data(), static_cast<tmsize_t>(page.size()));
  TIFFClose(tif);
  auto got = readPages(rawTiff);
  ASSERT_EQ(got.size(), 1u);
  std::string why;
  EXPECT_TRUE(samePage(pages[0], got[0], &why)) << why;
}

}  // namespace
}  // namespace qn::sim
