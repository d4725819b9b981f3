// Session descriptions for fax calls: our own reader and writer of SDP, kept
// apart from the SIP stack so that it can be fuzzed and so that the odd offers
// real gateways send are read the way we want. A fax call has one audio line
// (G.711 PCMU or PCMA, 20 ms packets) and, for T.38, one image line
// (`udptl t38` with the T38Fax* attributes).
//
// ParseSdp never throws and never reads past the text it is given; what it
// does not understand it skips. Answer() applies the answer rules of a fax
// line to an offer; ReadAnswer() finds what the far end accepted of ours.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fe::sip {

enum class TCodec { Pcmu = 0, Pcma = 8 };
const char* CodecName(TCodec codec);

// T38FaxUdpEC.
enum class TUdpEc { None, Redundancy, Fec };

struct TT38Params {
  int version = 0;
  int maxBitRate = 14400;
  bool transferredTcf = true;  // T38FaxRateManagement: transferredTCF (else localTCF)
  int maxBuffer = 2000;        // T38FaxMaxBuffer
  int maxDatagram = 400;       // T38FaxMaxDatagram
  TUdpEc ec = TUdpEc::Redundancy;
  bool operator==(const TT38Params&) const = default;
};

// One m= line and the attributes below it.
struct TSdpMedia {
  std::string type;   // "audio", "image", ...
  int port = 0;       // 0: refused or disabled
  std::string proto;  // "RTP/AVP", "udptl", "UDPTL", ...
  std::vector<std::string> formats;
  std::string address;  // the line's own c= address, if any
  int ptime = 0;
  std::string direction;             // sendrecv, sendonly, recvonly, inactive (empty: not given)
  std::vector<std::string> rtpmaps;  // "0 PCMU/8000", as given
  bool hasT38Attrs = false;
  TT38Params t38;  // T38Fax* attributes (defaults where missing)

  bool IsAudio() const { return type == "audio"; }
  // An image line carrying T.38, tolerating `RTP/AVP t38` and upper case.
  bool IsT38() const;
  bool HasFormat(std::string_view f) const;
};

struct TSdp {
  std::string originUser = "-";
  uint64_t sessionId = 0;
  uint64_t sessionVersion = 0;
  std::string originAddress;
  std::string address;  // session-level c= address
  std::vector<TSdpMedia> media;

  // The address a media line's packets go to: its own c=, else the session's.
  const std::string& AddressOf(const TSdpMedia& m) const { return m.address.empty() ? address : m.address; }
};

// Reads an SDP body (CRLF or LF line ends). False with the reason in error when
// it is no usable session description (no version line, no connection address
// for a line in use, a bad port). size limits what is read.
bool ParseSdp(std::string_view text, TSdp& out, std::string* error = nullptr);

// Writes an SDP body with CRLF line ends.
std::string WriteSdp(const TSdp& sdp);

// What our side of a call offers and accepts.
struct TLocalMedia {
  std::string address;          // the address the far end sends to (public, if configured)
  int port = 0;                 // our media port (RTP and UDPTL share it)
  TCodec codec = TCodec::Pcmu;  // preferred codec; the other one is offered too
  bool t38 = true;              // T.38 accepted at all
  TT38Params t38Params;         // what we offer (our version, max datagram, EC scheme)
};

// What a call's media is after an offer and its answer.
struct TAgreed {
  enum class TKind { None, Audio, T38 } kind = TKind::None;
  std::string address;          // the far end's media address
  int port = 0;                 // the far end's media port
  TCodec codec = TCodec::Pcmu;  // for Audio
  TT38Params t38;               // for T38: version, our send limit (the far end's max datagram), EC
  bool operator==(const TAgreed&) const = default;
};

// Offers: an audio line (PCMU and PCMA, preferred first, ptime 20), or the
// single image line of a switch to T.38.
TSdp MakeAudioOffer(const TLocalMedia& local, uint64_t sessionId, uint64_t version);
TSdp MakeT38Offer(const TLocalMedia& local, uint64_t sessionId, uint64_t version);

// Answers an offer, line by line, as a fax line does: T.38 (when allowed) wins
// over audio; of the audio lines the first with PCMU or PCMA is taken (our
// preferred codec if offered); every other line is refused with port 0. The
// T.38 answer has the lower version, our maximum datagram, our buffer, and
// redundancy unless the offer asked for none. agreed says what the call uses
// (kind None: nothing acceptable: answer 488).
TSdp Answer(const TSdp& offer, const TLocalMedia& local, uint64_t sessionId, uint64_t version, TAgreed& agreed);

// What the far end accepted in its answer to our offer (kind None: nothing).
// For T.38, maxDatagram is the far end's (what we may send).
TAgreed ReadAnswer(const TSdp& answer, const TLocalMedia& local);

}  // namespace fe::sip
