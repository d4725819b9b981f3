// The T.38 media path: spandsp's T.38 gateway between the virtual modem's audio
// and a UDPTL session (see t38_path.h).
#include "t38_path.h"

// spandsp's headers trip our warning set; they are not ours to fix.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include <spandsp.h>
#pragma GCC diagnostic pop

#include <algorithm>

#include "ifp.h"

namespace fe::voip {

namespace {

// spandsp's redundancy control value: the low byte is how often a packet is to
// be sent (once: UDPTL's redundancy does the repeating), the second byte the
// redundancy depth our send handler reads back.
int RedundancyControl(int depth) {
  return (std::clamp(depth, 0, 15) << 8) | 1;
}

}  // namespace

TT38Path::TT38Path(const TT38Settings& settings, TDatagramSend send, TTraceSink trace)
    : settings_(settings),
      send_(std::move(send)),
      trace_(std::move(trace)),
      session_(udptl::TSession::TSettings{settings.farMaxDatagram, settings.fecSpan, settings.fecEntries,
                                          settings.holdMs}) {
  pinholeLeft_ = std::max(settings_.pinholePackets, 0);
  session_.SetSend([this](const uint8_t* data, size_t size) {
    if (send_) send_(data, size);
  });
  session_.SetIfpSink([this](uint16_t seq, const uint8_t* data, size_t size, udptl::TOrigin origin) {
    OnIfp(seq, data, size, origin);
  });
  session_.SetLossSink([this](uint16_t seq, int count) {
    // The gateway's core learns of the gap from its own numbering.
    gatewaySeq_ = static_cast<uint16_t>(gatewaySeq_ + count);
    Trace("lost " + std::to_string(seq) + (count > 1 ? ".." + std::to_string(uint16_t(seq + count - 1)) : ""));
  });

  gateway_ = t38_gateway_init(nullptr, &TT38Path::OnGatewayPacket, this);
  t38_gateway_set_transmit_on_idle(gateway_, true);
  int modems = 0;
  if (settings_.v27ter) modems |= T30_SUPPORT_V27TER;
  if (settings_.v29) modems |= T30_SUPPORT_V29;
  if (settings_.v17) modems |= T30_SUPPORT_V17;
  t38_gateway_set_supported_modems(gateway_, modems);
  t38_gateway_set_ecm_capability(gateway_, settings_.ecm);
  t38_core_state_t* core = t38_gateway_get_t38_core_state(gateway_);
  t38_set_t38_version(core, settings_.version);
  t38_set_data_rate_management_method(
      core, settings_.transferredTcf ? T38_DATA_RATE_MANAGEMENT_TRANSFERRED_TCF : T38_DATA_RATE_MANAGEMENT_LOCAL_TCF);
  t38_set_max_datagram_size(core, static_cast<int>(settings_.farMaxDatagram));
  t38_set_redundancy_control(core, T38_PACKET_CATEGORY_INDICATOR, RedundancyControl(settings_.redundancyIndicator));
  t38_set_redundancy_control(core, T38_PACKET_CATEGORY_CONTROL_DATA, RedundancyControl(settings_.redundancyControl));
  t38_set_redundancy_control(core, T38_PACKET_CATEGORY_CONTROL_DATA_END,
                             RedundancyControl(settings_.redundancyControl));
  t38_set_redundancy_control(core, T38_PACKET_CATEGORY_IMAGE_DATA, RedundancyControl(settings_.redundancyImage));
  // The end of a page's data is as precious as a control frame.
  t38_set_redundancy_control(core, T38_PACKET_CATEGORY_IMAGE_DATA_END, RedundancyControl(settings_.redundancyControl));
}

TT38Path::~TT38Path() {
  if (gateway_ != nullptr) t38_gateway_free(gateway_);
}

void TT38Path::Trace(const std::string& line) {
  if (trace_) trace_(line);
}

int TT38Path::OnGatewayPacket(t38_core_state_s*, void* user, const uint8_t* buf, int len, int count) {
  auto* self = static_cast<TT38Path*>(user);
  if (buf == nullptr || len <= 0) return -1;
  self->SendIfp(buf, static_cast<size_t>(len), (count >> 8) & 0xFF);
  return 0;
}

void TT38Path::SendIfp(const uint8_t* data, size_t size, int redundancy) {
  const uint16_t seq = session_.Send(data, size, redundancy);
  ++stats_.ifpSent;
  if (trace_)
    Trace("tx " + std::to_string(seq) + " " + ifp::Describe(data, size, settings_.version) +
          " red=" + std::to_string(redundancy));
}

void TT38Path::Transmit(const int16_t* samples, int count) {
  if (samples == nullptr) count = 0;
  // The first ticks also carry a no-signal indicator each, so that a NAT in
  // front of either side sees our packets and opens its pinhole early.
  if (pinholeLeft_ > 0) {
    --pinholeLeft_;
    const uint8_t noSignal[] = {0x00};
    SendIfp(noSignal, sizeof noSignal, settings_.redundancyIndicator);
  }
  int16_t buffer[kTickSamples];
  for (int done = 0; done < count;) {
    const int n = std::min(count - done, kTickSamples);
    std::copy(samples + done, samples + done + n, buffer);
    t38_gateway_rx(gateway_, buffer, n);
    done += n;
  }
}

int TT38Path::Receive(int16_t* samples, int count) {
  if (samples == nullptr || count <= 0) return 0;
  const int ms = count * 1000 / SAMPLE_RATE;
  nowMs_ += ms;
  session_.Advance(ms);
  // A page whose data comes slower than its line rate starts anyway once it has
  // waited somewhat longer than the cushion.
  if (!held_.empty() && nowMs_ - heldSinceMs_ >= settings_.cushionMs + 100) {
    ReleaseHeld();
    pagePlaying_ = true;
  }
  const int n = std::max(t38_gateway_tx(gateway_, samples, count), 0);
  std::fill(samples + n, samples + count, 0);
  return n;
}

void TT38Path::Deliver(const uint8_t* data, size_t size) {
  if (data == nullptr) size = 0;
  if (session_.Receive(data, size) || !trace_) return;
  udptl::TPacket packet;
  Trace("dropped a malformed datagram (" + std::to_string(size) +
        " bytes): " + udptl::DecodeErrorText(udptl::Decode(data, size, packet)));
}

void TT38Path::OnIfp(uint16_t seq, const uint8_t* data, size_t size, udptl::TOrigin origin) {
  ifp::TIfp packet;
  const size_t used = ifp::Parse(data, size, settings_.version, packet);
  const bool parsed = used != 0;
  // An IFP rebuilt from FEC is as long as the longest it was coded with: the
  // zeros after its own end go.
  if (parsed && origin == udptl::TOrigin::Fec) size = used;
  if (trace_) {
    std::string line = "rx " + std::to_string(seq) + " " +
                       (parsed ? ifp::Describe(packet) : "malformed IFP (" + std::to_string(size) + " bytes) dropped");
    if (origin != udptl::TOrigin::Primary) line += std::string(" [") + udptl::OriginName(origin) + "]";
    Trace(line);
  }
  if (!parsed) {
    // Only packets that read cleanly reach the gateway: its own reader is not
    // ours to trust with bytes from the network. The gap it leaves is a loss.
    ++stats_.ifpMalformed;
    ++gatewaySeq_;
    return;
  }
  udptl::TBytes fixed;
  if (settings_.normalise && ifp::Normalise(packet)) {
    fixed = ifp::Encode(packet, settings_.version);
    if (!fixed.empty()) {
      ++stats_.ifpNormalised;
      Trace("normalised " + std::to_string(seq) + " to " + ifp::Describe(packet));
      data = fixed.data();
      size = fixed.size();
    }
  }
  // spandsp 0.0.6's gateway plays a CNG indicator as the calling tone's cadence,
  // which never ends by itself, and queues every later indicator behind it: the
  // far end's V.21 frames would reach the modem seconds late or not at all. The
  // modem's engine answers on RING and has no use for the tone, so CNG goes to
  // the gateway as no-signal (same numbering, nothing lost for it).
  static const uint8_t kNoSignal[] = {0x00};
  if (packet.indicator && packet.value == ifp::kIndCng) {
    ++stats_.cngMuted;
    Trace("cng " + std::to_string(seq) + " played as no-signal");
    data = kNoSignal;
    size = sizeof kNoSignal;
  }

  bool pageData = false;
  bool pageEnd = false;
  size_t pageBytes = 0;
  if (!packet.indicator && ifp::IsFastData(packet.value)) {
    for (const ifp::TField& field : packet.fields) {
      if (field.type == ifp::kFieldT4NonEcmData || field.type == ifp::kFieldT4NonEcmSigEnd) {
        pageData = true;
        for (const uint8_t octet : field.data) {
          // The all-ones octets a sending modem plays before the page's first
          // line are no page data: the gateway drops them too.
          if (leadingOnes_ && octet == 0xFF) continue;
          leadingOnes_ = false;
          ++pageBytes;
        }
      }
      if (field.type == ifp::kFieldT4NonEcmSigEnd) pageEnd = true;
    }
  }
  if (!pageData) {
    // Anything else ends a page (or never was one): the next page is cushioned again.
    ReleaseHeld();
    pagePlaying_ = false;
    leadingOnes_ = true;
    ToGateway(gatewaySeq_++, data, size);
    return;
  }
  if (pagePlaying_ || (held_.empty() && pageBytes == 0 && !pageEnd)) {
    ToGateway(gatewaySeq_++, data, size);
    return;
  }
  // spandsp 0.0.6's gateway plays non-ECM data to the modem as it comes, and
  // where its buffer runs dry it fills in: with zero octets at an end of line
  // once it knows the page is image data, but for the first page after a CFR it
  // still takes the data for a training check and fills after any zero octet,
  // which may sit inside a row. Data arriving at line rate keeps it on the edge
  // of running dry, so the start of each page (after its leading ones) waits
  // here until cushionMs of it are in; from then on the buffer stays ahead.
  if (held_.empty()) heldSinceMs_ = nowMs_;
  held_.push_back(THeld{gatewaySeq_++, udptl::TBytes(data, data + size)});
  heldBytes_ += pageBytes;
  heldRate_ = ifp::DataRate(packet.value);
  const size_t cushion = size_t(std::max(heldRate_, 2400)) / 8 * size_t(std::max(settings_.cushionMs, 0)) / 1000;
  if (heldBytes_ >= cushion || pageEnd) {
    ReleaseHeld();
    pagePlaying_ = true;
  }
}

void TT38Path::ReleaseHeld() {
  if (held_.empty()) return;
  ++stats_.cushions;
  Trace("page starts after " + std::to_string(heldBytes_) + " bytes held (" + std::to_string(nowMs_ - heldSinceMs_) +
        " ms at " + std::to_string(heldRate_) + " bit/s)");
  std::vector<THeld> held = std::move(held_);
  held_.clear();
  heldBytes_ = 0;
  for (const THeld& item : held) ToGateway(item.seq, item.ifp.data(), item.ifp.size());
}

void TT38Path::ToGateway(uint16_t seq, const uint8_t* data, size_t size) {
  ++stats_.ifpReceived;
  t38_core_rx_ifp_packet(t38_gateway_get_t38_core_state(gateway_), data, static_cast<int>(size), seq);
}

std::string TT38Path::Summary() const {
  const TT38PathStats s = Stats();
  return "t38: ifp sent " + std::to_string(s.ifpSent) + ", received " + std::to_string(s.ifpReceived) +
         ", recovered " + std::to_string(s.udptl.recoveredSecondary) + " from secondaries and " +
         std::to_string(s.udptl.recoveredFec) + " from fec, lost " + std::to_string(s.udptl.lost) + ", malformed " +
         std::to_string(s.udptl.malformed + s.ifpMalformed) + ", duplicates " + std::to_string(s.udptl.duplicates) +
         ", resyncs " + std::to_string(s.udptl.resyncs) + ", normalised " + std::to_string(s.ifpNormalised) +
         ", pages cushioned " + std::to_string(s.cushions) + ", cng played as no-signal " + std::to_string(s.cngMuted);
}

TT38PathStats TT38Path::Stats() const {
  TT38PathStats stats = stats_;
  stats.udptl = session_.Stats();
  return stats;
}

}  // namespace fe::voip
