// The T.38 media path: the virtual modem's audio meets spandsp's T.38 gateway,
// whose IFP packets travel in UDPTL. Audio from the modem goes into the gateway
// (t38_gateway_rx); the gateway's audio for the modem comes out of Receive
// (t38_gateway_tx). The gateway's IFPs go through a UDPTL session to the send
// function; datagrams given to Deliver come back through the session in order,
// pass a normalising filter and a page play-out cushion, and reach the gateway.
//
// Like every media path it is driven from the media thread only (Transmit and
// Receive once per 20 ms tick, Deliver as datagrams arrive) and owns no socket
// or thread, so the session owner can swap paths between two ticks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "media_path.h"
#include "udptl.h"

struct t38_gateway_state_s;
struct t38_core_state_s;

namespace fe::voip {

struct TT38Settings {
  // Modulations the gateway may use towards the modem and the far end.
  bool v27ter = true;
  bool v29 = true;
  bool v17 = true;
  bool ecm = true;               // error correction mode allowed
  bool transferredTcf = true;    // the training check travels over T.38 (else made locally)
  int version = 0;               // T.38 version agreed in the SDP
  size_t farMaxDatagram = 400;   // the far end's T38FaxMaxDatagram
  // Earlier IFPs sent along with each packet, by kind of packet.
  int redundancyIndicator = 3;
  int redundancyControl = 3;     // V.21 control frames and the ends of carriers
  int redundancyImage = 1;
  // Send FEC instead of redundancy when both are above 0.
  int fecSpan = 0;
  int fecEntries = 0;
  // Page data held back before a page starts towards the modem, so the gateway
  // never runs dry inside its rows (see OnIfp).
  int cushionMs = 200;
  // No-signal indicators sent on the first ticks, so a NAT opens its pinhole.
  int pinholePackets = 3;
  // How long the far end may send nothing before the call counts as ended: a
  // T.38 peer sends nothing while its line is silent, for seconds at a time
  // while the other side trains or thinks (T.30's own timers end a dead session
  // long before this). A repeated no-signal indicator as a keep-alive would
  // do instead, but spandsp 0.0.6's T.38 terminal does not take it well under
  // loss.
  int quietLimitMs = 20000;
  // Repair IFPs whose frame ends carry data (see ifp::Normalise).
  bool normalise = true;
  // How long a gap in the UDPTL stream may hold back later packets.
  int holdMs = 100;
};

struct TT38PathStats {
  udptl::TStats udptl;
  uint64_t ifpSent = 0;
  uint64_t ifpReceived = 0;     // IFPs handed to the gateway (after the session)
  uint64_t ifpMalformed = 0;    // IFPs that did not read cleanly (dropped)
  uint64_t ifpNormalised = 0;
  uint64_t cushions = 0;        // page data starts (pages, training checks) let through the cushion
  uint64_t cngMuted = 0;        // CNG indicators handed to the gateway as no-signal
};

class TT38Path : public TMediaPath {
 public:
  TT38Path(const TT38Settings& settings, TDatagramSend send, TTraceSink trace = {});
  ~TT38Path() override;
  TT38Path(const TT38Path&) = delete;
  TT38Path& operator=(const TT38Path&) = delete;

  void Transmit(const int16_t* samples, int count) override;
  int Receive(int16_t* samples, int count) override;
  void Deliver(const uint8_t* data, size_t size) override;

  // "t38: ifp sent 900, received 850, recovered 12+0, lost 0, ..." for the call's trace.
  std::string Summary() const override;
  // One line per IFP in and out, per recovered or lost IFP, per event.
  void SetTrace(TTraceSink trace) override { trace_ = std::move(trace); }
  int QuietLimitMs() const override { return settings_.quietLimitMs; }

  TT38PathStats Stats() const;
  const TT38Settings& Settings() const { return settings_; }

 private:
  struct THeld {
    uint16_t seq;  // the gateway's number for it
    udptl::TBytes ifp;
  };

  static int OnGatewayPacket(t38_core_state_s* core, void* user, const uint8_t* buf, int len, int count);
  void SendIfp(const uint8_t* data, size_t size, int redundancy);
  void OnIfp(uint16_t seq, const uint8_t* data, size_t size, udptl::TOrigin origin);
  void ToGateway(uint16_t seq, const uint8_t* data, size_t size);
  void ReleaseHeld();
  void Trace(const std::string& line);

  TT38Settings settings_;
  TDatagramSend send_;
  TTraceSink trace_;
  udptl::TSession session_;
  t38_gateway_state_s* gateway_ = nullptr;
  TT38PathStats stats_;
  int pinholeLeft_ = 0;
  // The numbers the gateway's core sees: one per IFP handed on, lost ones
  // skipped, so a far end that numbers afresh (a resync) looks like no jump.
  uint16_t gatewaySeq_ = 0;
  int64_t nowMs_ = 0;
  // Play-out cushion: a page's first IFPs wait here until enough has come.
  bool pagePlaying_ = false;
  bool leadingOnes_ = true;  // nothing but all-ones octets of this page so far
  std::vector<THeld> held_;
  size_t heldBytes_ = 0;
  int64_t heldSinceMs_ = 0;
  int heldRate_ = 0;
};

}  // namespace fe::voip
