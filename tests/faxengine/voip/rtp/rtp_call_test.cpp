// Whole fax calls over G.711 RTP on the loopback interface, in real time:
// qnfax sending to qnfax receiving, and qnfax against spandsp's own fax
// terminal (its T.30 and modems, its G.711 coding, RTP framing written here)
// at the far end of the stream, both ways. Received pages are compared row by
// row with the sent ones.
#include <gtest/gtest.h>
#include <spandsp.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "apf_pages.h"
#include "fax_pages.h"
#include "line_pages.h"
#include "media_session.h"
#include "qnfax_calls.h"
#include "sim_harness.h"
#include "udp_socket.h"

namespace fe::voip {
namespace {

using namespace std::chrono_literals;
using namespace fe::voip::test;

// expectSession: what the sender's trace says about the session it negotiated.
void QnfaxToQnfax(const std::string& name, const std::vector<std::string>& options, const std::string& expectSession) {
  const std::string dir = TempDir(name);
  const auto pages = fe::test::FineTextPages(2, 160);
  ASSERT_TRUE(fe::test::WriteApfPages(dir + "/X.APF", pages));
  const int rxPort = FreePort(), txPort = FreePort();
  ASSERT_GT(rxPort, 0);
  QnfaxReceiver rx(dir, "rtp", rxPort, options);
  std::this_thread::sleep_for(300ms);  // not needed for the call: the receiver rings at the first packet
  const auto tx = QnfaxSend(dir, "rtp", txPort, rxPort, dir + "/X.APF", options);
  rx.Join();
  EXPECT_EQ(tx.status, 0) << tx.output;
  EXPECT_NE(tx.output.find("Fax sent"), std::string::npos) << tx.output;
  EXPECT_EQ(rx.Run().status, 0) << rx.Run().output;
  EXPECT_NE(rx.Run().output.find("FAX0001.APF: 2 pages"), std::string::npos) << rx.Run().output;
  EXPECT_EQ(PageDifferences(qntest::ReadApfPages(dir + "/in/FAX0001.APF"), pages), "");
  // The traces tell the call's story: who called whom, and nothing was lost.
  const std::string rxTrace = ReadFile(dir + "/rx.trace"), txTrace = ReadFile(dir + "/tx.trace");
  EXPECT_NE(rxTrace.find("call: incoming from 127.0.0.1:" + std::to_string(txPort)), std::string::npos) << rxTrace;
  EXPECT_NE(rxTrace.find("call: answered"), std::string::npos) << rxTrace;
  EXPECT_NE(txTrace.find("call: dialled 127.0.0.1:" + std::to_string(rxPort)), std::string::npos) << txTrace;
  EXPECT_NE(txTrace.find("engine: session " + expectSession + "\n"), std::string::npos) << txTrace;
  for (const std::string* trace : {&rxTrace, &txTrace}) {
    EXPECT_NE(trace->find("late 0, malformed 0"), std::string::npos) << *trace;
    EXPECT_NE(trace->find("call: ended"), std::string::npos) << *trace;
  }
}

TEST(RtpCall, QnfaxSendsToQnfaxOverRtp) {
  QnfaxToQnfax("plain", {"--bps", "14400"}, "14400 bps, MR");
}

TEST(RtpCall, QnfaxSendsToQnfaxWithErrorCorrectionOverPcma) {
  QnfaxToQnfax("ecm", {"--bps", "9600", "--ecm", "--codec", "pcma"}, "9600 bps, MMR, error correction");
}

// ---------------------------------------------------------------- the peer --

// spandsp's fax terminal at the far end of an RTP stream of 20 ms PCMU
// packets. The stream starts on the calling side at once; the answering side
// takes the call at the first packet and sends back to where it came from.
// Packets that arrive are played in arrival order (loopback keeps it); a tick
// without one is filled in by the terminal's receiver.
class FaxTerminalPeer {
 public:
  FaxTerminalPeer(bool calling, bool sending, const std::string& file, const std::string& ident)
      : calling_(calling), sending_(sending), file_(file), ident_(ident) {
    if (socket_.Open("127.0.0.1", 0) != 0) error_ = socket_.Error();
  }
  ~FaxTerminalPeer() {
    clock_.Stop();
    if (fax_) {
      t30_terminate(fax_get_t30_state(fax_));
      fax_free(fax_);
    }
  }
  int Port() const { return socket_.Local().Port(); }
  const std::string& Error() const { return error_; }

  void Start(const TUdpAddress* remote) {
    if (remote) socket_.SetRemote(*remote);
    if (calling_) Begin();
    clock_.Start([this](uint64_t) { Tick(); });
  }
  // Waits for the terminal's result (phase E); -1 when it did not come.
  int WaitResult(std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (result_ < 0 && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(50ms);
    return result_;
  }
  int Pages() const { return pages_; }
  int BadRows() const { return badRows_; }

 private:
  void Begin() {
    fax_ = fax_init(nullptr, calling_);
    fax_set_transmit_on_idle(fax_, true);
    t30_state_t* t30 = fax_get_t30_state(fax_);
    t30_set_tx_ident(t30, ident_.c_str());
    if (sending_)
      t30_set_tx_file(t30, file_.c_str(), -1, -1);
    else
      t30_set_rx_file(t30, file_.c_str(), -1);
    t30_set_ecm_capability(t30, true);
    t30_set_supported_compressions(
        t30, T30_SUPPORT_T4_1D_COMPRESSION | T30_SUPPORT_T4_2D_COMPRESSION | T30_SUPPORT_T6_COMPRESSION);
    t30_set_phase_e_handler(t30, &FaxTerminalPeer::PhaseE, this);
  }

  static void PhaseE(t30_state_t* s, void* user, int result) {
    auto* self = static_cast<FaxTerminalPeer*>(user);
    t30_stats_t stats;
    t30_get_transfer_statistics(s, &stats);
    self->pages_ = self->sending_ ? stats.pages_tx : stats.pages_rx;
    self->badRows_ = stats.bad_rows;
    self->result_ = result;
  }

  void Tick() {
    uint8_t buf[2048];
    for (int n; (n = socket_.Receive(buf, sizeof buf)) > 0;) {
      // Version 2, no CSRCs, no extension, PCMU: what the far end sends.
      if (n < 12 || (buf[0] & 0xFF) != 0x80 || (buf[1] & 0x7F) != 0) continue;
      if (!fax_) Begin();  // the first packet of a call: answer it
      packets_.emplace_back(buf + 12, buf + n);
    }
    if (!fax_) return;
    if (!packets_.empty()) {
      const auto& p = packets_.front();
      int16_t rx[1024];
      const int count = static_cast<int>(std::min<size_t>(p.size(), 1024));
      for (int i = 0; i < count; ++i) rx[i] = ulaw_to_linear(p[i]);
      fax_rx(fax_, rx, count);
      packets_.pop_front();
    } else {
      fax_rx_fillin(fax_, kTickSamples);
    }
    int16_t tx[kTickSamples];
    const int made = std::max(fax_tx(fax_, tx, kTickSamples), 0);
    for (int i = made; i < kTickSamples; ++i) tx[i] = 0;
    uint8_t packet[12 + kTickSamples];
    packet[0] = 0x80;
    packet[1] = static_cast<uint8_t>(seq_ == 0 ? 0x80 : 0);
    packet[2] = static_cast<uint8_t>(seq_ >> 8);
    packet[3] = static_cast<uint8_t>(seq_);
    for (int i = 0; i < 4; ++i) packet[4 + i] = static_cast<uint8_t>(ts_ >> (24 - 8 * i));
    for (int i = 0; i < 4; ++i) packet[8 + i] = static_cast<uint8_t>(0x5EED0000u >> (24 - 8 * i));
    for (int i = 0; i < kTickSamples; ++i) packet[12 + i] = linear_to_ulaw(tx[i]);
    socket_.Send(packet, sizeof packet);
    ++seq_;
    ts_ += kTickSamples;
  }

  bool calling_, sending_;
  std::string file_, ident_, error_;
  TUdpSocket socket_;
  TMediaClock clock_;
  fax_state_t* fax_ = nullptr;
  std::deque<std::vector<uint8_t>> packets_;
  uint16_t seq_ = 0;
  uint32_t ts_ = 0;
  std::atomic<int> result_{-1}, pages_{0}, badRows_{0};
};

TEST(RtpCall, QnfaxSendsToSpandspFaxTerminal) {
  const std::string dir = TempDir("to-terminal");
  const auto pages = fe::test::FineTextPages(2, 160);
  ASSERT_TRUE(fe::test::WriteApfPages(dir + "/X.APF", pages));
  FaxTerminalPeer peer(false, false, dir + "/in.tif", "SPANDSP RX");
  ASSERT_TRUE(peer.Error().empty()) << peer.Error();
  peer.Start(nullptr);
  const auto tx =
      QnfaxSend(dir, "rtp", FreePort(), peer.Port(), dir + "/X.APF", {"--bps", "14400", "--station-id", "QUILLON"});
  EXPECT_EQ(tx.status, 0) << tx.output;
  ASSERT_EQ(peer.WaitResult(10s), T30_ERR_OK) << tx.output;
  EXPECT_EQ(peer.Pages(), 2);
  EXPECT_EQ(peer.BadRows(), 0);
  EXPECT_EQ(PageDifferences(qn::sim::readPages(dir + "/in.tif"), pages), "");
}

TEST(RtpCall, QnfaxReceivesFromSpandspFaxTerminal) {
  const std::string dir = TempDir("from-terminal");
  const auto pages = fe::test::FineTextPages(2, 160);
  ASSERT_TRUE(qn::sim::writeTiff(dir + "/out.tif", pages));
  const int rxPort = FreePort();
  QnfaxReceiver rx(dir, "rtp", rxPort, {"--bps", "14400"});
  FaxTerminalPeer peer(true, true, dir + "/out.tif", "SPANDSP TX");
  ASSERT_TRUE(peer.Error().empty()) << peer.Error();
  TUdpAddress ours;
  ASSERT_TRUE(ParseUdpAddress("127.0.0.1:" + std::to_string(rxPort), ours));
  peer.Start(&ours);
  rx.Join();
  EXPECT_EQ(peer.WaitResult(10s), T30_ERR_OK);
  EXPECT_EQ(peer.Pages(), 2);
  EXPECT_EQ(rx.Run().status, 0) << rx.Run().output;
  EXPECT_NE(rx.Run().output.find("FAX0001.APF: 2 pages from SPANDSP TX"), std::string::npos) << rx.Run().output;
  EXPECT_EQ(PageDifferences(qntest::ReadApfPages(dir + "/in/FAX0001.APF"), pages), "");
}

}  // namespace
}  // namespace fe::voip
