// The T.38 media path in whole fax sessions, without network or clock: spandsp's
// audio fax terminal (a fax machine on the modem side) talks through our path,
// whose datagrams cross an in-memory wire (which may lose them) to a second
// UDPTL session and spandsp's T.38 terminal. Time passes only as sample counts,
// 160 per tick, so a session of a minute runs in a fraction of a second. Pages
// go both ways, with and without ECM, and every row that arrives is compared
// with what was sent.
#include "t38_path.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <deque>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "fax_pages.h"
#include "ifp.h"
#include "udptl.h"

// spandsp's headers trip our warning set; they are not ours to fix.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include <spandsp.h>
#pragma GCC diagnostic pop

namespace fe::voip {
namespace {

namespace fs = std::filesystem;
using udptl::TBytes;

struct Options {
  bool audioSends = true;  // the audio fax terminal sends (else the far end does)
  // The far end is spandsp's T.38 gateway with an audio fax terminal behind it
  // (an ATA or a carrier's gateway), else spandsp's T.38 terminal.
  bool farGateway = false;
  bool ecm = false;
  double lossRate = 0.0;   // share of datagrams lost, each way
  unsigned lossSeed = 1;
  TT38Settings path;
  // Rewrites the far end's IFPs before they are sent (a quirky far end).
  std::function<std::vector<TBytes>(const TBytes&)> farQuirk;
  int rowsPerPage = 1100;
  // Datagrams towards the path arrive in bursts every this many ticks (jitter).
  int burstTicks = 1;
  // From this datagram on, the far end's numbering jumps ahead (as after a
  // renegotiation that restarts its UDPTL); 0: never.
  int farRenumberAt = 0;
  // A damaged datagram reaches the path every this many ticks; 0: never.
  int junkEveryTicks = 0;
  // The far end sends FEC instead of redundancy when both are above 0.
  int farFecSpan = 0;
  int farFecEntries = 0;
};

struct Result {
  int audioResult = -1;
  int t38Result = -1;
  int pagesReceived = 0;
  std::vector<qn::sim::RasterPage> sent;
  std::vector<qn::sim::RasterPage> received;
  TT38PathStats pathStats;
  udptl::TStats farStats;
  std::vector<std::string> trace;
  int seconds = 0;
};

struct Ends {
  int audioResult = -1;
  int t38Result = -1;
};

void OnAudioDone(t30_state_t*, void* user, int result) {
  static_cast<Ends*>(user)->audioResult = result;
}
void OnT38Done(t30_state_t*, void* user, int result) {
  static_cast<Ends*>(user)->t38Result = result;
}

// The far end of the IP call: a UDPTL session and spandsp's T.38 terminal, or
// its T.38 gateway with an audio fax terminal behind it.
struct FarEnd {
  udptl::TSession session;
  t38_terminal_state_t* terminal = nullptr;
  t38_gateway_state_t* gateway = nullptr;
  fax_state_t* fax = nullptr;
  std::function<std::vector<TBytes>(const TBytes&)> quirk;

  explicit FarEnd(udptl::TSession::TSettings settings) : session(settings) {}
  ~FarEnd() {
    if (terminal != nullptr) t38_terminal_free(terminal);
    if (gateway != nullptr) t38_gateway_free(gateway);
    if (fax != nullptr) fax_free(fax);
  }
  t38_core_state_t* Core() {
    return terminal != nullptr ? t38_terminal_get_t38_core_state(terminal) : t38_gateway_get_t38_core_state(gateway);
  }
  t30_state_t* T30() { return terminal != nullptr ? t38_terminal_get_t30_state(terminal) : fax_get_t30_state(fax); }
  static int OnPacket(t38_core_state_t*, void* user, const uint8_t* buf, int len, int count) {
    auto* self = static_cast<FarEnd*>(user);
    const TBytes ifp(buf, buf + len);
    for (const TBytes& out : self->quirk ? self->quirk(ifp) : std::vector<TBytes>{ifp})
      self->session.Send(out.data(), out.size(), (count >> 8) & 0xFF);
    return 0;
  }
};

Result RunSession(const Options& options) {
  Result result;
  const fs::path dir = fs::path(QN_BINARY_DIR) / "Testing" /
                       ("t38-path-" + std::to_string(getpid()) + "-" +
                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
  fs::create_directories(dir);
  const std::string txFile = (dir / "sent.tif").string();
  const std::string rxFile = (dir / "received.tif").string();
  result.sent = qn::sim::makeTestPages(3, options.rowsPerPage, true, 77);
  // Ink in the first rows: damage at the start of a page must show (blank rows
  // at the top are not compared).
  for (auto& page : result.sent)
    for (size_t y = 0; y < 4; ++y)
      for (size_t x = 0; x < page.rows[y].size(); ++x) page.rows[y][x] = static_cast<uint8_t>((x + y) % 3 == 0 ? 0xF0 : 0);
  if (!qn::sim::writeTiff(txFile, result.sent)) {
    ADD_FAILURE() << "cannot write " << txFile;
    return result;
  }

  Ends ends;
  std::deque<TBytes> toFar, toPath;
  std::mt19937 random(options.lossSeed);
  std::uniform_real_distribution<double> chance(0.0, 1.0);

  TT38Path path(
      options.path, [&](const uint8_t* d, size_t n) { toFar.emplace_back(d, d + n); },
      [&](const std::string& line) { result.trace.push_back(line); });

  udptl::TSession::TSettings farSettings;
  farSettings.farMaxDatagram = options.path.farMaxDatagram;
  farSettings.fecSpan = options.farFecSpan;
  farSettings.fecEntries = options.farFecEntries;
  FarEnd far(farSettings);
  far.quirk = options.farQuirk;
  size_t farDatagrams = 0;
  far.session.SetSend([&](const uint8_t* d, size_t n) {
    toPath.emplace_back(d, d + n);
    if (options.farRenumberAt > 0 && ++farDatagrams >= size_t(options.farRenumberAt) && n >= 2) {
      const auto seq = static_cast<uint16_t>(((d[0] << 8) | d[1]) + 40000);
      toPath.back()[0] = static_cast<uint8_t>(seq >> 8);
      toPath.back()[1] = static_cast<uint8_t>(seq & 0xFF);
    }
  });
  if (options.farGateway) {
    far.gateway = t38_gateway_init(nullptr, &FarEnd::OnPacket, &far);
    t38_gateway_set_transmit_on_idle(far.gateway, true);
    t38_gateway_set_supported_modems(far.gateway, T30_SUPPORT_V27TER | T30_SUPPORT_V29 | T30_SUPPORT_V17);
    t38_gateway_set_ecm_capability(far.gateway, true);
    far.fax = fax_init(nullptr, !options.audioSends);
    fax_set_transmit_on_idle(far.fax, true);
  } else {
    far.terminal = t38_terminal_init(nullptr, !options.audioSends, &FarEnd::OnPacket, &far);
  }
  t38_core_state_t* farCore = far.Core();
  t38_set_t38_version(farCore, options.path.version);
  t38_set_data_rate_management_method(farCore, options.path.transferredTcf ? T38_DATA_RATE_MANAGEMENT_TRANSFERRED_TCF
                                                                           : T38_DATA_RATE_MANAGEMENT_LOCAL_TCF);
  t38_set_max_datagram_size(farCore, static_cast<int>(options.path.farMaxDatagram));
  far.session.SetIfpSink([&](uint16_t seq, const uint8_t* d, size_t n, udptl::TOrigin origin) {
    ifp::TIfp parsed;
    const size_t used = ifp::Parse(d, n, options.path.version, parsed);
    if (used != 0 && origin == udptl::TOrigin::Fec) n = used;
    t38_core_rx_ifp_packet(farCore, d, static_cast<int>(n), seq);
  });
  const int control = (3 << 8) | 1, image = (1 << 8) | 1;
  t38_set_redundancy_control(farCore, T38_PACKET_CATEGORY_INDICATOR, control);
  t38_set_redundancy_control(farCore, T38_PACKET_CATEGORY_CONTROL_DATA, control);
  t38_set_redundancy_control(farCore, T38_PACKET_CATEGORY_CONTROL_DATA_END, control);
  t38_set_redundancy_control(farCore, T38_PACKET_CATEGORY_IMAGE_DATA, options.lossRate > 0 ? control : image);
  t38_set_redundancy_control(farCore, T38_PACKET_CATEGORY_IMAGE_DATA_END, control);

  fax_state_t* fax = fax_init(nullptr, options.audioSends);
  fax_set_transmit_on_idle(fax, true);

  t30_state_t* audioT30 = fax_get_t30_state(fax);
  t30_state_t* t38T30 = far.T30();
  t30_state_t* sender = options.audioSends ? audioT30 : t38T30;
  t30_state_t* receiver = options.audioSends ? t38T30 : audioT30;
  t30_set_tx_ident(audioT30, "audio");
  t30_set_tx_ident(t38T30, "t38");
  t30_set_tx_file(sender, txFile.c_str(), -1, -1);
  t30_set_rx_file(receiver, rxFile.c_str(), -1);
  for (t30_state_t* t30 : {audioT30, t38T30}) {
    t30_set_ecm_capability(t30, options.ecm);
    t30_set_supported_compressions(t30, T30_SUPPORT_T4_1D_COMPRESSION | T30_SUPPORT_T4_2D_COMPRESSION |
                                            (options.ecm ? T30_SUPPORT_T6_COMPRESSION : 0));
  }
  t30_set_phase_e_handler(audioT30, &OnAudioDone, &ends);
  t30_set_phase_e_handler(t38T30, &OnT38Done, &ends);

  auto lost = [&]() { return options.lossRate > 0 && chance(random) < options.lossRate; };
  int16_t fromFax[kTickSamples];
  int16_t toFax[kTickSamples];
  const int maxTicks = 50 * 60 * 5;  // five minutes of call
  int tick = 0;
  int afterEnd = 0;
  for (; tick < maxTicks && afterEnd < 50; ++tick) {
    const int n = fax_tx(fax, fromFax, kTickSamples);
    std::fill(fromFax + std::max(n, 0), fromFax + kTickSamples, 0);
    path.Transmit(fromFax, kTickSamples);
    path.Receive(toFax, kTickSamples);
    fax_rx(fax, toFax, kTickSamples);
    if (far.terminal != nullptr) {
      t38_terminal_send_timeout(far.terminal, kTickSamples);
    } else {
      int16_t farOut[kTickSamples], farIn[kTickSamples];
      const int m = fax_tx(far.fax, farOut, kTickSamples);
      std::fill(farOut + std::max(m, 0), farOut + kTickSamples, 0);
      t38_gateway_rx(far.gateway, farOut, kTickSamples);
      const int k = t38_gateway_tx(far.gateway, farIn, kTickSamples);
      std::fill(farIn + std::max(k, 0), farIn + kTickSamples, 0);
      fax_rx(far.fax, farIn, kTickSamples);
    }
    far.session.Advance(20);
    // What was sent in this tick arrives in the next: one tick of latency.
    std::deque<TBytes> a = std::move(toFar), b;
    toFar.clear();
    if (tick % options.burstTicks == 0) {
      b = std::move(toPath);
      toPath.clear();
    }
    for (const TBytes& d : a)
      if (!lost()) far.session.Receive(d.data(), d.size());
    for (const TBytes& d : b)
      if (!lost()) path.Deliver(d.data(), d.size());
    if (options.junkEveryTicks > 0 && tick % options.junkEveryTicks == 0) {
      // Cut short, a fragment length, an unknown recovery choice, noise.
      static const TBytes junk[] = {{0x00}, {0x00, 0x07, 0xC2, 0x00}, {0x00, 0x07, 0x01, 0x00, 0x40}, {0xDE, 0xAD}};
      const TBytes& j = junk[size_t(tick / options.junkEveryTicks) % std::size(junk)];
      path.Deliver(j.data(), j.size());
    }
    if (ends.audioResult >= 0 && ends.t38Result >= 0) ++afterEnd;
  }
  result.seconds = tick / 50;
  result.audioResult = ends.audioResult;
  result.t38Result = ends.t38Result;
  t30_stats_t stats;
  t30_get_transfer_statistics(receiver, &stats);
  result.pagesReceived = stats.pages_rx;
  result.pathStats = path.Stats();
  result.farStats = far.session.Stats();
  t30_terminate(audioT30);
  t30_terminate(t38T30);
  fax_free(fax);
  result.received = qn::sim::readPages(rxFile);
  fs::remove_all(dir);
  return result;
}

void ExpectPagesIntact(const Result& r) {
  EXPECT_EQ(r.audioResult, T30_ERR_OK) << t30_completion_code_to_str(r.audioResult);
  EXPECT_EQ(r.t38Result, T30_ERR_OK) << t30_completion_code_to_str(r.t38Result);
  EXPECT_EQ(r.pagesReceived, 3);
  ASSERT_EQ(r.received.size(), r.sent.size());
  for (size_t i = 0; i < r.sent.size(); ++i) {
    std::string why;
    EXPECT_TRUE(qn::sim::samePage(r.sent[i], r.received[i], &why)) << "page " << i + 1 << ": " << why;
  }
}

std::string Tail(const std::vector<std::string>& trace, size_t n = 40) {
  std::string text;
  for (size_t i = trace.size() > n ? trace.size() - n : 0; i < trace.size(); ++i) text += trace[i] + "\n";
  return text;
}

// A far end that puts the last byte of each HDLC frame into the field that ends
// the frame, where T.38 allows no data.
std::function<std::vector<TBytes>(const TBytes&)> DataInFrameEnds() {
  auto held = std::make_shared<TBytes>();
  return [held](const TBytes& in) {
    ifp::TIfp p;
    std::vector<TBytes> out;
    if (ifp::Parse(in.data(), in.size(), 0, p) == 0) return std::vector<TBytes>{in};
    const bool dataOnly = !p.indicator && p.fields.size() == 1 && p.fields[0].type == ifp::kFieldHdlcData;
    const bool endOnly = !p.indicator && p.fields.size() == 1 && p.fields[0].data.empty() &&
                         (p.fields[0].type == ifp::kFieldHdlcFcsOk || p.fields[0].type == ifp::kFieldHdlcFcsOkSigEnd);
    if (endOnly && !held->empty()) {
      ifp::TIfp last;
      ifp::Parse(held->data(), held->size(), 0, last);
      p.fields[0].data = last.fields[0].data;
      held->clear();
      return std::vector<TBytes>{ifp::Encode(p, 0)};
    }
    if (!held->empty()) out.push_back(*held);
    held->clear();
    if (dataOnly)
      *held = in;
    else
      out.push_back(in);
    return out;
  };
}
TEST(T38Path, AudioFaxSendsToT38TerminalWithoutEcm) {
  Options o;
  const Result r = RunSession(o);
  ExpectPagesIntact(r);
  EXPECT_EQ(r.farStats.lost, 0u);
  EXPECT_EQ(r.farStats.malformed, 0u);
  // Redundancy by kind of packet: indicators, control frames and the ends of
  // carriers 3, page data 1.
  size_t page = 0, other = 0;
  for (const std::string& line : r.trace) {
    if (line.rfind("tx ", 0) != 0) continue;
    const bool pageData = line.find("t4-non-ecm-data") != std::string::npos;
    EXPECT_NE(line.find(pageData ? " red=1" : " red=3"), std::string::npos) << line;
    ++(pageData ? page : other);
  }
  EXPECT_GT(page, 1000u);
  EXPECT_GT(other, 50u);
}

TEST(T38Path, AudioFaxSendsToT38TerminalWithEcm) {
  Options o;
  o.ecm = true;
  const Result r = RunSession(o);
  ExpectPagesIntact(r);
}

TEST(T38Path, T38TerminalSendsToAudioFaxWithoutEcm) {
  // Page data travels from T.38 into the gateway here: the play-out cushion's
  // side. The calling terminal's CNG goes to the gateway as no-signal.
  Options o;
  o.audioSends = false;
  const Result r = RunSession(o);
  ExpectPagesIntact(r);
  EXPECT_GE(r.pathStats.cushions, 3u) << Tail(r.trace);
  EXPECT_GE(r.pathStats.cngMuted, 1u);
}

// A far end whose pages (and training checks) start with a run of all-ones
// octets, as a gateway's do when the sending modem plays ones while its
// engine is slow to begin: 700 ms of them arrive at once, then the real data
// at line rate. A cushion filled with the ones would let the page start with
// nothing real in hand, and the gateway would fill in inside the rows.
std::function<std::vector<TBytes>(const TBytes&)> PagesLeadByOnes() {
  auto inPage = std::make_shared<bool>(false);
  return [inPage](const TBytes& in) {
    ifp::TIfp p;
    if (ifp::Parse(in.data(), in.size(), 0, p) == 0) return std::vector<TBytes>{in};
    const bool data = !p.indicator && ifp::IsFastData(p.value) && !p.fields.empty() &&
                      p.fields[0].type == ifp::kFieldT4NonEcmData;
    std::vector<TBytes> out;
    if (data && !*inPage) {
      ifp::TIfp ones = p;
      ones.fields.assign(1, ifp::TField{ifp::kFieldT4NonEcmData, std::vector<uint8_t>(54, 0xFF)});
      const int count = ifp::DataRate(p.value) * 7 / 10 / 8 / 54;
      for (int i = 0; i < count; ++i) out.push_back(ifp::Encode(ones, 0));
    }
    if (p.indicator) *inPage = false;
    if (data) *inPage = true;
    out.push_back(in);
    return out;
  };
}

TEST(T38Path, PagesLedByARunOfOnesStartIntact) {
  Options o;
  o.audioSends = false;
  o.farQuirk = PagesLeadByOnes();
  const Result r = RunSession(o);
  ExpectPagesIntact(r);
  // Each page (and training check) waited for real data, arriving at line
  // rate after the ones: about the cushion's 200 ms, not the moment the ones
  // had filled it.
  size_t starts = 0;
  for (const std::string& line : r.trace)
    if (line.rfind("page starts after ", 0) == 0) {
      ++starts;
      EXPECT_GE(std::stoul(line.substr(line.find('(') + 1)), 160u) << line;
    }
  EXPECT_GE(starts, 4u) << Tail(r.trace);
}

TEST(T38Path, T38TerminalSendsToAudioFaxWithEcm) {
  Options o;
  o.audioSends = false;
  o.ecm = true;
  const Result r = RunSession(o);
  ExpectPagesIntact(r);
}

TEST(T38Path, ThreePercentLossEachWayIsCoveredByRedundancy) {
  for (bool audioSends : {true, false}) {
    SCOPED_TRACE(audioSends ? "audio sends" : "T.38 terminal sends");
    Options o;
    o.audioSends = audioSends;
    o.lossRate = 0.03;
    o.lossSeed = 20261208;
    o.path.redundancyImage = 3;
    const Result r = RunSession(o);
    ExpectPagesIntact(r);
    // Loss really happened and was made good.
    const udptl::TStats& near = r.pathStats.udptl;
    EXPECT_GT(near.recoveredSecondary + r.farStats.recoveredSecondary, 10u);
    EXPECT_EQ(near.lost + r.farStats.lost, 0u) << Tail(r.trace);
  }
}

TEST(T38Path, ThreePercentLossWithFecBothWaysUnderEcm) {
  // FEC cannot rebuild two losses one entry covers; ECM resends what is left.
  for (bool audioSends : {true, false}) {
    SCOPED_TRACE(audioSends ? "audio sends" : "T.38 terminal sends");
    Options o;
    o.audioSends = audioSends;
    o.ecm = true;
    o.lossRate = 0.03;
    o.lossSeed = 99;
    o.path.fecSpan = 3;
    o.path.fecEntries = 3;
    o.farFecSpan = 3;
    o.farFecEntries = 3;
    const Result r = RunSession(o);
    ExpectPagesIntact(r);
    EXPECT_GT(r.pathStats.udptl.recoveredFec + r.farStats.recoveredFec, 10u);
  }
}

TEST(T38Path, PagesFromAFarGatewayArrivingInBurstsStartIntact) {
  // An audio fax behind spandsp's gateway at the far end, its datagrams held up
  // and delivered three ticks at a time; the first rows of each page carry ink.
  Options o;
  o.audioSends = false;
  o.farGateway = true;
  o.burstTicks = 3;
  const Result r = RunSession(o);
  ExpectPagesIntact(r);
  EXPECT_GE(r.pathStats.cushions, 3u);
}

TEST(T38Path, FrameEndsCarryingDataAreNormalisedOnTheWayIn) {
  Options o;
  o.farQuirk = DataInFrameEnds();
  const Result r = RunSession(o);
  ExpectPagesIntact(r);
  EXPECT_GE(r.pathStats.ifpNormalised, 4u);
  bool traced = false;
  for (const std::string& line : r.trace) traced = traced || line.rfind("normalised", 0) == 0;
  EXPECT_TRUE(traced);
}

TEST(T38Path, TraceHasALinePerIfpAndThePinholeOpensFirst) {
  Options o;
  o.lossRate = 0.05;
  o.lossSeed = 5;
  o.ecm = true;
  const Result r = RunSession(o);
  ExpectPagesIntact(r);
  size_t tx = 0, rx = 0, recovered = 0;
  for (const std::string& line : r.trace) {
    // The first packets out are no-signal indicators, on the first ticks.
    if (line.rfind("tx ", 0) == 0) {
      EXPECT_TRUE(tx >= 3 || line.rfind("tx " + std::to_string(tx) + " ind no-signal", 0) == 0) << line;
      ++tx;
    }
    if (line.rfind("rx ", 0) == 0) ++rx;
    if (line.find("[secondary]") != std::string::npos) ++recovered;
  }
  const udptl::TStats& u = r.pathStats.udptl;
  EXPECT_EQ(tx, r.pathStats.ifpSent);
  EXPECT_EQ(rx, r.pathStats.ifpReceived);
  EXPECT_EQ(recovered, u.recoveredSecondary);
  EXPECT_GT(recovered, 0u);
}

TEST(T38Path, SurvivesDamagedDatagramsAndAFarEndThatNumbersAfresh) {
  Options o;
  o.audioSends = false;
  o.farRenumberAt = 400;  // inside the first page
  o.junkEveryTicks = 25;
  // Now and then a well-formed datagram carries an IFP that is not one (a data
  // type beyond the enumeration): dropped before the gateway, like a loss.
  auto count = std::make_shared<int>(0);
  o.farQuirk = [count](const TBytes& in) {
    std::vector<TBytes> out{in};
    if (++*count % 200 == 0) out.push_back(TBytes{0x40 | (9 << 1)});
    return out;
  };
  const Result r = RunSession(o);
  ExpectPagesIntact(r);
  EXPECT_EQ(r.pathStats.udptl.resyncs, 1u);
  EXPECT_GT(r.pathStats.udptl.malformed, 100u);
  EXPECT_EQ(r.pathStats.udptl.lost, 0u);
  size_t traced = 0;
  for (const std::string& line : r.trace) traced += line.rfind("dropped a malformed datagram", 0) == 0 ? 1 : 0;
  EXPECT_EQ(traced, r.pathStats.udptl.malformed);
  EXPECT_GE(r.pathStats.ifpMalformed, 5u);
}

TEST(T38Path, VersionThreeAndSmallDatagrams) {
  // Field types carry an extension bit from version 1 on: read with the wrong
  // layout, page data would not be recognised and no page would be cushioned.
  // 72 bytes is the smallest datagram gateways ask for; nothing may exceed it.
  for (bool ecm : {false, true}) {
    SCOPED_TRACE(ecm ? "ECM, 1% loss" : "no ECM");
    Options o;
    o.audioSends = false;
    o.ecm = ecm;
    o.path.version = 3;
    o.path.farMaxDatagram = 72;
    o.lossRate = ecm ? 0.01 : 0.0;
    const Result r = RunSession(o);
    ExpectPagesIntact(r);
    EXPECT_GE(r.pathStats.cushions, ecm ? 1u : 3u);  // with ECM only the training check is cushioned
    EXPECT_EQ(r.pathStats.udptl.oversize + r.farStats.oversize, 0u);
  }
}

TEST(T38Path, LocalTrainingCheckBothWays) {
  // With local TCF the gateways make and judge the training check themselves
  // (spandsp 0.0.6's T.38 terminal still sends one, which does no harm).
  for (bool audioSends : {true, false}) {
    SCOPED_TRACE(audioSends ? "audio sends" : "T.38 terminal sends");
    Options o;
    o.audioSends = audioSends;
    o.path.transferredTcf = false;
    const Result r = RunSession(o);
    ExpectPagesIntact(r);
    EXPECT_GE(r.pathStats.cushions, audioSends ? 0u : 3u);
  }
}

}  // namespace
}  // namespace fe::voip
