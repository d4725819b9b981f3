// Whole faxes in real time across rtpengine's T.38 to G.711 gateway, on
// 127.0.0.1: a T.38 side (spandsp's T.38 terminal over our UDPTL, our own
// engine in this process through the virtual modem and our T.38 path, or
// qnfax send/receive --media t38) and spandsp's audio fax terminal on G.711
// RTP, in both directions. Every row that arrives is
// compared with what was sent.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "apf_pages.h"
#include "fax_ends.h"
#include "fax_pages.h"
#include "line_pages.h"
#include "qnfax_calls.h"
#include "rtpengine_rig.h"

namespace fe::voip::test {
namespace {

using namespace std::chrono_literals;
using qn::sim::RasterPage;
namespace fs = std::filesystem;

constexpr int kT30Ok = 0;  // T30_ERR_OK

void ExpectSamePages(const std::vector<RasterPage>& got, const std::vector<RasterPage>& sent) {
  ASSERT_EQ(got.size(), sent.size());
  for (size_t i = 0; i < sent.size(); ++i) {
    std::string why;
    EXPECT_TRUE(qn::sim::samePage(got[i], sent[i], &why)) << "page " << i + 1 << ": " << why;
  }
}

std::string Lines(const std::vector<std::string>& lines, size_t last = 80) {
  std::string text;
  for (size_t i = lines.size() > last ? lines.size() - last : 0; i < lines.size(); ++i) text += lines[i] + "\n";
  return text;
}

class GatewayFax : public ::testing::Test {
 protected:
  void SetUp() override {
    if (RtpEngineBinary().empty()) GTEST_SKIP() << "rtpengine is not installed (Debian package rtpengine-daemon)";
    dir_ = fs::temp_directory_path() /
           ("qn-rtpengine-fax-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "in");
    ASSERT_TRUE(engine_.Start(Path("rtpengine.log"))) << engine_.Error();
  }
  void TearDown() override {
    engine_.Stop();
    if (!HasFailure()) fs::remove_all(dir_);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  // Sets up the call between the two ports; false (test failed) when
  // rtpengine refused it.
  bool Connect(TGatewayCall& call, int t38Port, int audioPort, bool offerFromAudio, const std::string& codec) {
    call.callId = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    call.t38Port = t38Port;
    call.audioPort = audioPort;
    call.offerFromAudio = offerFromAudio;
    call.codec = codec;
    std::string error;
    const bool ok = call.Connect(engine_.Ng(), error);
    EXPECT_TRUE(ok) << error << "\n" << engine_.LogTail();
    return ok;
  }

  fs::path dir_;
  TRtpEngine engine_;
};

// spandsp's T.38 terminal over our UDPTL sends through the gateway to its
// audio terminal; with error correction (MMR), the offer from the audio side.
TEST_F(GatewayFax, SpandspT38TerminalSendsToAudioTerminal) {
  const auto pages = fe::test::FineTextPages(2, 160);
  ASSERT_TRUE(qn::sim::writeTiff(Path("out.tif"), pages));
  TT38Terminal t38({true, true, Path("out.tif"), "T38 TX", true});
  TAudioTerminal audio({false, false, Path("in.tif"), "AUDIO RX", true});
  ASSERT_TRUE(t38.Error().empty() && audio.Error().empty()) << t38.Error() << audio.Error();
  TGatewayCall call;
  ASSERT_TRUE(Connect(call, t38.Port(), audio.Port(), true, "pcmu"));
  audio.Start(call.audioSendsTo);
  t38.Start(call.t38SendsTo);
  const TTerminalResult rx = audio.Wait(50s);
  const TTerminalResult tx = t38.Wait(5s);
  t38.Stop();
  audio.Stop();
  EXPECT_EQ(tx.code, kT30Ok) << tx.text;
  ASSERT_EQ(rx.code, kT30Ok) << rx.text << "\n" << engine_.LogTail();
  EXPECT_EQ(rx.pages, 2);
  EXPECT_EQ(rx.badRows, 0);
  ExpectSamePages(qn::sim::readPages(Path("in.tif")), pages);
  EXPECT_GT(t38.Stats().received, 20u);
  EXPECT_EQ(t38.Stats().malformed, 0u);  // rtpengine's UDPTL reads as ours
}

// The other way, without error correction, over PCMA; the offer from the
// T.38 side, decoded to audio for the terminal.
TEST_F(GatewayFax, AudioTerminalSendsToSpandspT38Terminal) {
  const auto pages = fe::test::FineTextPages(2, 160);
  ASSERT_TRUE(qn::sim::writeTiff(Path("out.tif"), pages));
  TAudioTerminal audio({true, true, Path("out.tif"), "AUDIO TX", false}, "pcma");
  TT38Terminal t38({false, false, Path("in.tif"), "T38 RX", false});
  ASSERT_TRUE(t38.Error().empty() && audio.Error().empty()) << t38.Error() << audio.Error();
  TGatewayCall call;
  ASSERT_TRUE(Connect(call, t38.Port(), audio.Port(), false, "pcma"));
  t38.Start(call.t38SendsTo);
  audio.Start(call.audioSendsTo);
  const TTerminalResult rx = t38.Wait(50s);
  const TTerminalResult tx = audio.Wait(5s);
  t38.Stop();
  audio.Stop();
  EXPECT_EQ(tx.code, kT30Ok) << tx.text;
  ASSERT_EQ(rx.code, kT30Ok) << rx.text << "\n" << engine_.LogTail();
  EXPECT_EQ(rx.pages, 2);
  ExpectSamePages(qn::sim::readPages(Path("in.tif")), pages);
}

// Our send engine on T.38 (the virtual modem and our T.38 path, as qnfax
// send --media t38 runs them) through the gateway to spandsp's audio
// terminal, with error correction.
TEST_F(GatewayFax, OurT38SendsToAudioTerminal) {
  const auto pages = fe::test::FineTextPages(2, 160);
  ASSERT_TRUE(fe::test::WriteApfPages(Path("X.APF"), pages));
  TOurFaxOptions options;
  options.sending = true;
  options.file = Path("X.APF");
  TOurT38Fax ours(options);
  TAudioTerminal audio({false, false, Path("in.tif"), "AUDIO RX", true});
  ASSERT_TRUE(ours.Error().empty() && audio.Error().empty()) << ours.Error() << audio.Error();
  TGatewayCall call;
  ASSERT_TRUE(Connect(call, ours.Port(), audio.Port(), true, "pcmu"));
  audio.Start(call.audioSendsTo);
  ASSERT_TRUE(ours.Start(call.t38SendsTo)) << ours.Error();
  const TTerminalResult rx = audio.Wait(50s);
  const int sent = ours.Wait(10s);
  audio.Stop();
  EXPECT_EQ(sent, 0) << Lines(ours.Trace());
  ASSERT_EQ(rx.code, kT30Ok) << rx.text << "\n" << Lines(ours.Trace()) << engine_.LogTail();
  EXPECT_EQ(rx.pages, 2);
  EXPECT_EQ(rx.badRows, 0);
  ExpectSamePages(qn::sim::readPages(Path("in.tif")), pages);
  const TT38PathStats stats = ours.PathStats();
  EXPECT_GT(stats.ifpReceived, 50u);
  EXPECT_EQ(stats.ifpMalformed, 0u);
  EXPECT_EQ(stats.udptl.malformed, 0u);
}

// spandsp's audio terminal sends through the gateway to our receive engine
// on T.38, without error correction (a cushioned page start matters here).
TEST_F(GatewayFax, AudioTerminalSendsToOurT38) {
  const auto pages = fe::test::FineTextPages(2, 160);
  ASSERT_TRUE(qn::sim::writeTiff(Path("out.tif"), pages));
  TOurFaxOptions options;
  options.sending = false;
  options.dir = Path("in");
  options.ecm = false;
  TOurT38Fax ours(options);
  TAudioTerminal audio({true, true, Path("out.tif"), "AUDIO TX", false});
  ASSERT_TRUE(ours.Error().empty() && audio.Error().empty()) << ours.Error() << audio.Error();
  TGatewayCall call;
  ASSERT_TRUE(Connect(call, ours.Port(), audio.Port(), false, "pcmu"));
  ASSERT_TRUE(ours.Start(call.t38SendsTo)) << ours.Error();
  audio.Start(call.audioSendsTo);
  const TTerminalResult tx = audio.Wait(50s);
  const int received = ours.Wait(15s);
  audio.Stop();
  ASSERT_EQ(tx.code, kT30Ok) << tx.text << "\n" << Lines(ours.Trace()) << engine_.LogTail();
  EXPECT_EQ(received, 0) << Lines(ours.Trace());
  ExpectSamePages(qntest::ReadApfPages(Path("in/FAX0001.APF")), pages);
  EXPECT_GT(ours.PathStats().cushions, 0u);  // page starts went through the play-out cushion
}

// qnfax send --media t38 through the gateway to spandsp's audio terminal,
// MMR with error correction.
TEST_F(GatewayFax, QnfaxSendsOverT38ToAudioTerminal) {
  const auto pages = fe::test::FineTextPages(2, 160);
  ASSERT_TRUE(fe::test::WriteApfPages(Path("X.APF"), pages));
  const int port = FreePort();
  TAudioTerminal audio({false, false, Path("in.tif"), "AUDIO RX", true});
  ASSERT_TRUE(audio.Error().empty()) << audio.Error();
  TGatewayCall call;
  ASSERT_TRUE(Connect(call, port, audio.Port(), true, "pcmu"));
  audio.Start(call.audioSendsTo);
  const auto tx = QnfaxSend(dir_.string(), "t38", port, call.t38SendsTo.Port(), Path("X.APF"),
                            {"--bps", "14400", "--ecm", "--station-id", "QUILLON"}, 60s);
  const TTerminalResult rx = audio.Wait(10s);
  audio.Stop();
  EXPECT_EQ(tx.status, 0) << tx.output;
  EXPECT_NE(tx.output.find("Fax sent"), std::string::npos) << tx.output;
  ASSERT_EQ(rx.code, kT30Ok) << rx.text << "\n" << ReadFile(Path("tx.trace")) << engine_.LogTail();
  EXPECT_EQ(rx.pages, 2);
  ExpectSamePages(qn::sim::readPages(Path("in.tif")), pages);
  const std::string trace = ReadFile(Path("tx.trace"));
  EXPECT_NE(trace.find("engine: session 14400 bps, MMR, error correction"), std::string::npos) << trace;
}

// spandsp's audio terminal sends through the gateway to qnfax receive
// --media t38, without error correction; the offer from the T.38 side.
TEST_F(GatewayFax, QnfaxReceivesOverT38FromAudioTerminal) {
  const auto pages = fe::test::FineTextPages(2, 160);
  ASSERT_TRUE(qn::sim::writeTiff(Path("out.tif"), pages));
  const int port = FreePort();
  TAudioTerminal audio({true, true, Path("out.tif"), "AUDIO TX", false});
  ASSERT_TRUE(audio.Error().empty()) << audio.Error();
  TGatewayCall call;
  ASSERT_TRUE(Connect(call, port, audio.Port(), false, "pcmu"));
  QnfaxReceiver rx(dir_.string(), "t38", port, {"--bps", "14400"}, 60s);
  std::this_thread::sleep_for(300ms);  // the receiver binds its port
  audio.Start(call.audioSendsTo);
  const TTerminalResult tx = audio.Wait(50s);
  rx.Join();
  audio.Stop();
  ASSERT_EQ(tx.code, kT30Ok) << tx.text << "\n" << ReadFile(Path("rx.trace")) << engine_.LogTail();
  EXPECT_EQ(rx.Run().status, 0) << rx.Run().output;
  EXPECT_NE(rx.Run().output.find("FAX0001.APF: 2 pages from AUDIO TX"), std::string::npos) << rx.Run().output;
  ExpectSamePages(qntest::ReadApfPages(Path("in/FAX0001.APF")), pages);
}

}  // namespace
}  // namespace fe::voip::test
