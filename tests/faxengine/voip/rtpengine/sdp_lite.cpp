// Minimal SDP for the rtpengine tests: writing one audio or image stream and
// reading back what rtpengine made of it.
#include "sdp_lite.h"

#include <cstdlib>
#include <sstream>

namespace fe::voip::test {

namespace {

std::string Head(const std::string& address) {
  return "v=0\r\no=- 1 1 IN IP4 " + address + "\r\ns=-\r\nc=IN IP4 " + address + "\r\nt=0 0\r\n";
}

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

bool Port(const std::string& text, int& port) {
  if (text.empty() || text.size() > 5) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  port = std::atoi(text.c_str());
  return port <= 65535;
}

}  // namespace

std::string AudioSdp(const std::string& address, int port, const std::string& codec) {
  const bool pcma = codec == "pcma";
  return Head(address) + "m=audio " + std::to_string(port) + " RTP/AVP " + (pcma ? "8" : "0") + "\r\na=rtpmap:" +
         (pcma ? "8 PCMA" : "0 PCMU") + "/8000\r\na=ptime:20\r\na=sendrecv\r\n";
}

std::string ImageSdp(const std::string& address, int port, int maxDatagram) {
  return Head(address) + "m=image " + std::to_string(port) +
         " udptl t38\r\na=T38FaxVersion:0\r\na=T38MaxBitRate:14400\r\na=T38FaxRateManagement:transferredTCF\r\n"
         "a=T38FaxMaxBuffer:1800\r\na=T38FaxMaxDatagram:" +
         std::to_string(maxDatagram) + "\r\na=T38FaxUdpEC:t38UDPRedundancy\r\na=sendrecv\r\n";
}

std::string TSdpMedia::Attribute(const std::string& name, bool* present) const {
  for (const auto& [key, value] : attributes)
    if (key == name) {
      if (present) *present = true;
      return value;
    }
  if (present) *present = false;
  return {};
}

const TSdpMedia* TSdp::Find(const std::string& kind) const {
  for (const TSdpMedia& m : media)
    if (m.media == kind) return &m;
  return nullptr;
}

bool ParseSdp(const std::string& text, TSdp& out, std::string* error) {
  out = TSdp();
  auto fail = [&](const std::string& why, int line) {
    if (error) *error = why + " (line " + std::to_string(line) + ")";
    return false;
  };
  std::istringstream in(text);
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (line.size() < 2 || line[1] != '=') return fail("not a type=value line", number);
    const char type = line[0];
    const std::string value = line.substr(2);
    if (type == 'c') {
      const auto w = Words(value);
      if (w.size() != 3 || w[0] != "IN" || (w[1] != "IP4" && w[1] != "IP6")) return fail("bad c= line", number);
      (out.media.empty() ? out.address : out.media.back().address) = w[2];
    } else if (type == 'm') {
      const auto w = Words(value);
      TSdpMedia m;
      if (w.size() < 4 || !Port(w[1], m.port)) return fail("bad m= line", number);
      m.media = w[0];
      m.proto = w[2];
      m.formats.assign(w.begin() + 3, w.end());
      out.media.push_back(std::move(m));
    } else if (type == 'a' && !out.media.empty()) {
      const size_t colon = value.find(':');
      out.media.back().attributes.emplace_back(value.substr(0, colon),
                                               colon == std::string::npos ? std::string() : value.substr(colon + 1));
    }
  }
  for (TSdpMedia& m : out.media)
    if (m.address.empty()) m.address = out.address;
  return true;
}

}  // namespace fe::voip::test
