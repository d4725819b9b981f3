// Whole fax calls over T.38 on the loopback interface, in real time: qnfax
// sending to qnfax receiving (each a virtual modem whose audio goes through
// spandsp's T.38 gateway into our UDPTL), with and without error correction,
// and qnfax against spandsp's own T.38 terminal (its T.30 speaking T.38
// directly, our UDPTL codec framing its packets) both ways; then the same over
// a relay that loses 3 % of the datagrams each way. Received pages are compared
// row by row with the sent ones.
#include <gtest/gtest.h>

// spandsp's headers trip our warning set; they are not ours to fix.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include <spandsp.h>
#pragma GCC diagnostic pop

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "apf_pages.h"
#include "fax_pages.h"
#include "line_pages.h"
#include "loss_relay.h"
#include "media_session.h"
#include "qnfax_calls.h"
#include "udp_socket.h"
#include "udptl.h"

namespace fe::voip {
namespace {

using namespace std::chrono_literals;
using namespace fe::voip::test;
using qn::sim::RasterPage;

// Fine text pages with ink in their first rows, so that damage at the very
// start of a page shows (blank rows at the top are not compared).
std::vector<RasterPage> InkedPages(int count, unsigned rows) {
  auto pages = fe::test::FineTextPages(count, rows);
  for (auto& page : pages)
    for (size_t y = 0; y < 3; ++y)
      for (size_t x = 0; x < page.rows[y].size(); ++x)
        page.rows[y][x] = static_cast<uint8_t>((x + y) % 3 == 0 ? 0xF0 : 0x0C);
  return pages;
}

struct CallResult {
  std::string txOut, rxOut, txTrace, rxTrace;
  int txStatus = -1, rxStatus = -1;
  std::string differences;
};

// qnfax send to qnfax receive over --media t38, through a lossy relay when
// loss is above 0 (the same share each way).
CallResult QnfaxToQnfax(const std::string& name, const std::string& media, const std::vector<std::string>& options,
                        int pageCount, unsigned rows, double loss = 0, uint32_t seed = 1,
                        TLossRelayStats* relayStats = nullptr,
                        std::chrono::seconds receiverLimit = std::chrono::seconds(90)) {
  CallResult r;
  const std::string dir = TempDir(name);
  const auto pages = InkedPages(pageCount, rows);
  if (!fe::test::WriteApfPages(dir + "/X.APF", pages)) {
    ADD_FAILURE() << "cannot write " << dir << "/X.APF";
    return r;
  }
  const int rxPort = FreePort(), txPort = FreePort();
  TLossRelay relay;
  int sendTo = rxPort;
  if (loss > 0) {
    TUdpAddress answering;
    EXPECT_TRUE(ParseUdpAddress("127.0.0.1:" + std::to_string(rxPort), answering));
    if (relay.Start("127.0.0.1", answering, {loss, loss, seed, 0}) != 0) {
      ADD_FAILURE() << relay.Error();
      return r;
    }
    sendTo = relay.FrontPort();
  }
  QnfaxReceiver rx(dir, media, rxPort, options, receiverLimit);
  const auto tx = QnfaxSend(dir, media, txPort, sendTo, dir + "/X.APF", options);
  rx.Join();
  if (relayStats) *relayStats = relay.Stats();
  r.txStatus = tx.status;
  r.txOut = tx.output;
  r.rxStatus = rx.Run().status;
  r.rxOut = rx.Run().output;
  r.txTrace = ReadFile(dir + "/tx.trace");
  r.rxTrace = ReadFile(dir + "/rx.trace");
  r.differences = PageDifferences(qntest::ReadApfPages(dir + "/in/FAX0001.APF"), pages);
  return r;
}

void ExpectDelivered(const CallResult& r, int pages, const std::string& session) {
  EXPECT_EQ(r.txStatus, 0) << r.txOut << r.txTrace.substr(r.txTrace.size() > 4000 ? r.txTrace.size() - 4000 : 0);
  EXPECT_NE(r.txOut.find("Fax sent"), std::string::npos) << r.txOut;
  EXPECT_EQ(r.rxStatus, 0) << r.rxOut;
  EXPECT_NE(r.rxOut.find("FAX0001.APF: " + std::to_string(pages) + " pages"), std::string::npos) << r.rxOut;
  EXPECT_EQ(r.differences, "");
  EXPECT_NE(r.txTrace.find("engine: session " + session + "\n"), std::string::npos) << session;
}

TEST(T38Call, QnfaxSendsToQnfaxOverT38) {
  const CallResult r = QnfaxToQnfax("t38-plain", "t38", {"--bps", "14400"}, 3, 300);
  ExpectDelivered(r, 3, "14400 bps, MR");
  // The call's trace tells the T.38 story: the path, its first packets (the
  // no-signal indicators that open a NAT), each page cushioned on the way in,
  // the counts at the end with nothing lost.
  EXPECT_NE(r.txTrace.find("call: dialled"), std::string::npos);
  EXPECT_NE(r.txTrace.find(", t38\n"), std::string::npos) << r.txTrace.substr(0, 2000);
  EXPECT_NE(r.txTrace.find("path: tx 0 ind no-signal"), std::string::npos) << r.txTrace.substr(0, 2000);
  EXPECT_NE(r.rxTrace.find(" ind no-signal\n"), std::string::npos) << r.rxTrace.substr(0, 2000);
  EXPECT_GE(CountOf(r.rxTrace, "path: page starts after"), 3u) << r.rxTrace.substr(0, 2000);
  for (const std::string* trace : {&r.txTrace, &r.rxTrace}) {
    EXPECT_NE(trace->find("call: ended"), std::string::npos);
    EXPECT_NE(trace->find(", lost 0, malformed 0"), std::string::npos) << trace->substr(trace->rfind("call: "));
    EXPECT_EQ(trace->find("path: lost"), std::string::npos);
  }
}

TEST(T38Call, QnfaxSendsToQnfaxOverT38WithErrorCorrection) {
  const CallResult r = QnfaxToQnfax("t38-ecm", "t38", {"--bps", "14400", "--ecm"}, 3, 300);
  ExpectDelivered(r, 3, "14400 bps, MMR, error correction");
}

// ---------------------------------------------------------------- the peer --

// spandsp's T.38 terminal at the far end of a UDPTL stream: its T.30 speaks
// T.38 directly (no modems, no gateway), our UDPTL session frames its IFPs
// with the same redundancy as our path. The calling side starts at once; the
// answering side takes the call at the first datagram and sends back to where
// it came from. Time passes on a 20 ms clock, as on our side.
class T38TerminalPeer {
 public:
  T38TerminalPeer(bool calling, bool sending, const std::string& file, const std::string& ident, bool ecm)
      : calling_(calling), sending_(sending), ecm_(ecm), file_(file), ident_(ident), session_({400, 0, 0, 100}) {
    if (socket_.Open("127.0.0.1", 0) != 0) error_ = socket_.Error();
    session_.SetSend([this](const uint8_t* data, size_t size) { socket_.Send(data, size); });
    session_.SetIfpSink([this](uint16_t seq, const uint8_t* data, size_t size, udptl::TOrigin) {
      if (terminal_) t38_core_rx_ifp_packet(t38_terminal_get_t38_core_state(terminal_), data, int(size), seq);
    });
  }
  ~T38TerminalPeer() {
    clock_.Stop();
    if (terminal_) {
      t30_terminate(t38_terminal_get_t30_state(terminal_));
      t38_terminal_free(terminal_);
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
  udptl::TStats Stats() const {
    std::lock_guard<std::mutex> lk(mu_);
    return session_.Stats();
  }

 private:
  void Begin() {
    terminal_ = t38_terminal_init(nullptr, calling_, &T38TerminalPeer::OnPacket, this);
    t38_core_state_t* core = t38_terminal_get_t38_core_state(terminal_);
    t38_set_t38_version(core, 0);
    t38_set_data_rate_management_method(core, T38_DATA_RATE_MANAGEMENT_TRANSFERRED_TCF);
    t38_set_max_datagram_size(core, 400);
    const int control = (3 << 8) | 1, image = (1 << 8) | 1;
    t38_set_redundancy_control(core, T38_PACKET_CATEGORY_INDICATOR, control);
    t38_set_redundancy_control(core, T38_PACKET_CATEGORY_CONTROL_DATA, control);
    t38_set_redundancy_control(core, T38_PACKET_CATEGORY_CONTROL_DATA_END, control);
    t38_set_redundancy_control(core, T38_PACKET_CATEGORY_IMAGE_DATA, image);
    t38_set_redundancy_control(core, T38_PACKET_CATEGORY_IMAGE_DATA_END, control);
    t30_state_t* t30 = t38_terminal_get_t30_state(terminal_);
    t30_set_tx_ident(t30, ident_.c_str());
    if (sending_)
      t30_set_tx_file(t30, file_.c_str(), -1, -1);
    else
      t30_set_rx_file(t30, file_.c_str(), -1);
    t30_set_ecm_capability(t30, ecm_);
    t30_set_supported_compressions(t30, T30_SUPPORT_T4_1D_COMPRESSION | T30_SUPPORT_T4_2D_COMPRESSION |
                                            (ecm_ ? T30_SUPPORT_T6_COMPRESSION : 0));
    t30_set_phase_e_handler(t30, &T38TerminalPeer::PhaseE, this);
  }

  static int OnPacket(t38_core_state_t*, void* user, const uint8_t* buf, int len, int count) {
    auto* self = static_cast<T38TerminalPeer*>(user);
    if (buf != nullptr && len > 0) self->session_.Send(buf, size_t(len), (count >> 8) & 0xFF);
    return 0;
  }

  static void PhaseE(t30_state_t* s, void* user, int result) {
    auto* self = static_cast<T38TerminalPeer*>(user);
    t30_stats_t stats;
    t30_get_transfer_statistics(s, &stats);
    self->pages_ = self->sending_ ? stats.pages_tx : stats.pages_rx;
    self->badRows_ = stats.bad_rows;
    self->result_ = result;
  }

  void Tick() {
    std::lock_guard<std::mutex> lk(mu_);
    uint8_t buf[2048];
    for (int n; (n = socket_.Receive(buf, sizeof buf)) > 0;) {
      if (!terminal_) Begin();  // the first packet of a call: answer it
      session_.Receive(buf, size_t(n));
    }
    session_.Advance(20);
    if (terminal_) t38_terminal_send_timeout(terminal_, kTickSamples);
  }

  bool calling_, sending_, ecm_;
  std::string file_, ident_, error_;
  TUdpSocket socket_;
  mutable std::mutex mu_;
  udptl::TSession session_;
  TMediaClock clock_;
  t38_terminal_state_t* terminal_ = nullptr;
  std::atomic<int> result_{-1}, pages_{0}, badRows_{0};
};

void QnfaxSendsToTerminal(bool ecm) {
  const std::string dir = TempDir(ecm ? "t38-to-terminal-ecm" : "t38-to-terminal");
  const auto pages = InkedPages(3, 300);
  ASSERT_TRUE(fe::test::WriteApfPages(dir + "/X.APF", pages));
  T38TerminalPeer peer(false, false, dir + "/in.tif", "SPANDSP RX", ecm);
  ASSERT_TRUE(peer.Error().empty()) << peer.Error();
  peer.Start(nullptr);
  std::vector<std::string> options = {"--bps", "14400", "--station-id", "QUILLON"};
  if (ecm) options.push_back("--ecm");
  const auto tx = QnfaxSend(dir, "t38", FreePort(), peer.Port(), dir + "/X.APF", options);
  EXPECT_EQ(tx.status, 0) << tx.output;
  ASSERT_EQ(peer.WaitResult(10s), T30_ERR_OK) << tx.output;
  EXPECT_EQ(peer.Pages(), 3);
  EXPECT_EQ(peer.BadRows(), 0);
  EXPECT_EQ(PageDifferences(qn::sim::readPages(dir + "/in.tif"), pages), "");
}

void QnfaxReceivesFromTerminal(bool ecm) {
  const std::string dir = TempDir(ecm ? "t38-from-terminal-ecm" : "t38-from-terminal");
  const auto pages = InkedPages(3, 300);
  ASSERT_TRUE(qn::sim::writeTiff(dir + "/out.tif", pages));
  const int rxPort = FreePort();
  std::vector<std::string> options = {"--bps", "14400"};
  if (ecm) options.push_back("--ecm");
  QnfaxReceiver rx(dir, "t38", rxPort, options);
  T38TerminalPeer peer(true, true, dir + "/out.tif", "SPANDSP TX", ecm);
  ASSERT_TRUE(peer.Error().empty()) << peer.Error();
  TUdpAddress ours;
  ASSERT_TRUE(ParseUdpAddress("127.0.0.1:" + std::to_string(rxPort), ours));
  peer.Start(&ours);
  rx.Join();
  EXPECT_EQ(peer.WaitResult(10s), T30_ERR_OK);
  EXPECT_EQ(peer.Pages(), 3);
  EXPECT_EQ(rx.Run().status, 0) << rx.Run().output;
  EXPECT_NE(rx.Run().output.find("FAX0001.APF: 3 pages from SPANDSP TX"), std::string::npos) << rx.Run().output;
  EXPECT_EQ(PageDifferences(qntest::ReadApfPages(dir + "/in/FAX0001.APF"), pages), "");
}

TEST(T38Call, QnfaxSendsToSpandspT38Terminal) {
  QnfaxSendsToTerminal(false);
}

TEST(T38Call, QnfaxSendsToSpandspT38TerminalWithErrorCorrection) {
  QnfaxSendsToTerminal(true);
}

TEST(T38Call, QnfaxReceivesFromSpandspT38Terminal) {
  QnfaxReceivesFromTerminal(false);
}

TEST(T38Call, QnfaxReceivesFromSpandspT38TerminalWithErrorCorrection) {
  QnfaxReceivesFromTerminal(true);
}

// ------------------------------------------------------------------- loss --

// What the receiving engine said about its pages ("page 1: 200 lines, 3 bad, ...").
std::string PageNotes(const std::string& trace) {
  std::string notes;
  for (size_t at = trace.find("engine: page "); at != std::string::npos; at = trace.find("engine: page ", at + 1)) {
    const std::string line = trace.substr(at, trace.find('\n', at) - at);
    if (line.find(" lines, ") != std::string::npos)
      notes += line.substr(8) + "; ";
  }
  return notes;
}

TEST(LossyCall, T38WithRedundancyDeliversIntactPagesAtThreePercentLoss) {
  TLossRelayStats relay;
  const CallResult r = QnfaxToQnfax("t38-loss", "t38", {"--bps", "14400", "--ecm"}, 3, 200, 0.03, 11, &relay);
  EXPECT_EQ(r.txStatus, 0) << r.txOut;
  EXPECT_EQ(r.rxStatus, 0) << r.rxOut;
  EXPECT_NE(r.rxOut.find("FAX0001.APF: 3 pages"), std::string::npos) << r.rxOut;
  EXPECT_EQ(r.differences, "");
  // The relay did lose about 3 % each way, and the paths took lost IFPs from
  // the redundancy of the packets after them.
  EXPECT_NEAR(relay.LossRate(), 0.03, 0.015) << relay.forwardDropped << "+" << relay.backwardDropped;
  EXPECT_GT(CountOf(r.rxTrace + r.txTrace, "[secondary]"), 0u);
  std::printf("t38 at %.2f %% loss (%llu of %llu datagrams): %s\n", 100 * relay.LossRate(),
              static_cast<unsigned long long>(relay.forwardDropped + relay.backwardDropped),
              static_cast<unsigned long long>(relay.forwarded + relay.backwarded + relay.forwardDropped +
                                              relay.backwardDropped),
              PageNotes(r.rxTrace).c_str());
}

// Fax over G.711 has no answer to loss: each lost packet is 20 ms of a modem
// signal gone. What such a call achieves at 3 % is printed for the record; the
// test holds the sender to ending the call on its own with a result (a
// receiver waiting for one good fax goes on waiting after a failed call, and
// is stopped at its time limit).
TEST(LossyCall, G711AtThreePercentLossEndsWithAResult) {
  TLossRelayStats relay;
  const CallResult r =
      QnfaxToQnfax("rtp-loss", "rtp", {"--bps", "14400"}, 2, 200, 0.03, 11, &relay, std::chrono::seconds(45));
  EXPECT_TRUE(r.txStatus == 0 || r.txStatus == 1) << r.txOut;
  EXPECT_NE(r.txTrace.find("call: ended"), std::string::npos);
  EXPECT_NEAR(relay.LossRate(), 0.03, 0.015);
  std::printf("g711 at %.2f %% loss: sender %s; receiver: %s; pages: %s\n", 100 * relay.LossRate(),
              r.txOut.find("Fax sent") != std::string::npos ? "sent" : "failed", PageNotes(r.rxTrace).c_str(),
              r.differences.empty() ? "intact" : r.differences.c_str());
}

}  // namespace
}  // namespace fe::voip
