// Just enough SDP for calls through rtpengine in tests: one audio m-line with
// PCMU or PCMA, or one image m-line for T.38 over UDPTL, and a reader that
// finds the connection address, the media lines, their ports and attributes.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace fe::voip::test {

// An offer or answer with one PCMU (payload 0) or PCMA (8) stream, ptime 20.
std::string AudioSdp(const std::string& address, int port, const std::string& codec = "pcmu");
// An offer or answer with one T.38 stream: version 0, 14400 bit/s,
// transferredTCF, redundancy, the given largest datagram.
std::string ImageSdp(const std::string& address, int port, int maxDatagram = 400);

struct TSdpMedia {
  std::string media;    // "audio", "image"
  int port = 0;
  std::string proto;    // "RTP/AVP", "udptl"
  std::vector<std::string> formats;
  std::string address;  // its own c= line, else the session's
  std::vector<std::pair<std::string, std::string>> attributes;  // a=name:value

  // The value of a=name (empty when absent; present tells whether it is).
  std::string Attribute(const std::string& name, bool* present = nullptr) const;
};

struct TSdp {
  std::string address;  // the session's c= address
  std::vector<TSdpMedia> media;
  const TSdpMedia* Find(const std::string& kind) const;
};

// Reads an SDP body (lines ending in CRLF or LF). False with the reason in
// error when a line is not of the form x=..., or an m- or c-line is malformed.
bool ParseSdp(const std::string& text, TSdp& out, std::string* error = nullptr);

}  // namespace fe::voip::test
