// Reading, writing and answering session descriptions; see sdp.h.
#include "sdp.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace fe::sip {

namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && Lower(a) == Lower(b);
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

std::vector<std::string_view> Words(std::string_view s) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    const size_t start = i;
    while (i < s.size() && s[i] != ' ' && s[i] != '\t') ++i;
    if (i > start) out.push_back(s.substr(start, i - start));
  }
  return out;
}

// A decimal number that fits; false for anything else.
template <typename T>
bool Number(std::string_view s, T& out) {
  if (s.empty()) return false;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), out);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

// The address of a c= line ("IN IP4 192.0.2.1", also "IN IP4 192.0.2.1/127").
bool Connection(std::string_view value, std::string& address) {
  const auto w = Words(value);
  if (w.size() < 3 || !EqualNoCase(w[0], "IN")) return false;
  std::string_view a = w[2];
  if (const size_t slash = a.find('/'); slash != std::string_view::npos) a = a.substr(0, slash);
  if (a.empty()) return false;
  address = std::string(a);
  return true;
}

void T38Attribute(std::string_view name, std::string_view value, TT38Params& t) {
  const std::string n = Lower(name);
  const std::string v = Lower(Trim(value));
  int num = 0;
  if (n == "t38faxversion") {
    if (Number(v, num) && num >= 0 && num <= 3) t.version = num;
  } else if (n == "t38maxbitrate") {
    if (Number(v, num) && num > 0) t.maxBitRate = num;
  } else if (n == "t38faxratemanagement") {
    t.transferredTcf = v != "localtcf";
  } else if (n == "t38faxmaxbuffer") {
    if (Number(v, num) && num > 0) t.maxBuffer = num;
  } else if (n == "t38faxmaxdatagram" || n == "t38maxdatagram") {
    // Some gateways write the shorter name.
    if (Number(v, num) && num > 0) t.maxDatagram = num;
  } else if (n == "t38faxudpec") {
    if (v == "t38udpredundancy")
      t.ec = TUdpEc::Redundancy;
    else if (v == "t38udpfec")
      t.ec = TUdpEc::Fec;
    else if (v == "t38udpnoec")
      t.ec = TUdpEc::None;
  }
}

const char* EcName(TUdpEc ec) {
  switch (ec) {
    case TUdpEc::Redundancy:
      return "t38UDPRedundancy";
    case TUdpEc::Fec:
      return "t38UDPFEC";
    case TUdpEc::None:
      break;
  }
  return "t38UDPNoEC";
}

}  // namespace

const char* CodecName(TCodec codec) {
  return codec == TCodec::Pcma ? "PCMA" : "PCMU";
}

bool TSdpMedia::IsT38() const {
  return EqualNoCase(type, "image") && HasFormat("t38");
}

bool TSdpMedia::HasFormat(std::string_view f) const {
  for (const auto& x : formats)
    if (EqualNoCase(x, f)) return true;
  return false;
}

bool ParseSdp(std::string_view text, TSdp& out, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  out = TSdp{};
  bool sawVersion = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.size() < 2 || line[1] != '=') continue;  // blank or no "x=": skipped
    const char key = line[0];
    const std::string_view value = line.substr(2);
    switch (key) {
      case 'v':
        if (Trim(value) != "0") return fail("unknown SDP version");
        sawVersion = true;
        break;
      case 'o': {
        const auto w = Words(value);
        if (w.size() >= 6) {
          out.originUser = std::string(w[0]);
          (void)Number(w[1], out.sessionId);
          (void)Number(w[2], out.sessionVersion);
          out.originAddress = std::string(w[5]);
        }
        break;
      }
      case 'c': {
        std::string address;
        if (!Connection(value, address)) return fail("bad connection line");
        if (out.media.empty())
          out.address = address;
        else
          out.media.back().address = address;
        break;
      }
      case 'm': {
        const auto w = Words(value);
        if (w.size() < 3) return fail("short media line");
        TSdpMedia m;
        m.type = Lower(w[0]);
        std::string_view port = w[1];
        // "PORT/COUNT": only the first port is used.
        if (const size_t slash = port.find('/'); slash != std::string_view::npos) port = port.substr(0, slash);
        if (!Number(port, m.port) || m.port < 0 || m.port > 65535) return fail("bad media port");
        m.proto = std::string(w[2]);
        for (size_t i = 3; i < w.size(); ++i) m.formats.emplace_back(w[i]);
        if (out.media.size() >= 16) return fail("too many media lines");
        out.media.push_back(std::move(m));
        break;
      }
      case 'a': {
        if (out.media.empty()) break;  // session attributes are of no use to a fax line
        TSdpMedia& m = out.media.back();
        const size_t colon = value.find(':');
        const std::string_view name = Trim(value.substr(0, colon));
        const std::string_view arg =
            colon == std::string_view::npos ? std::string_view() : Trim(value.substr(colon + 1));
        const std::string n = Lower(name);
        if (n == "ptime") {
          int p = 0;
          if (Number(arg, p) && p > 0 && p <= 1000) m.ptime = p;
        } else if (n == "rtpmap") {
          if (m.rtpmaps.size() < 32) m.rtpmaps.emplace_back(arg);
        } else if (n == "sendrecv" || n == "sendonly" || n == "recvonly" || n == "inactive") {
          m.direction = n;
        } else if (n.rfind("t38", 0) == 0) {
          m.hasT38Attrs = true;
          T38Attribute(name, arg, m.t38);
        }
        break;
      }
      default:
        break;
    }
  }
  if (!sawVersion) return fail("no SDP version line");
  for (const auto& m : out.media)
    if (m.port != 0 && out.AddressOf(m).empty()) return fail("no connection address for the " + m.type + " line");
  return true;
}

std::string WriteSdp(const TSdp& sdp) {
  std::string s;
  auto ip = [](const std::string& a) { return a.find(':') != std::string::npos ? "IP6 " : "IP4 "; };
  s += "v=0\r\n";
  s += "o=" + sdp.originUser + " " + std::to_string(sdp.sessionId) + " " + std::to_string(sdp.sessionVersion) + " IN " +
       ip(sdp.originAddress) + sdp.originAddress + "\r\n";
  s += "s=-\r\n";
  if (!sdp.address.empty()) s += "c=IN " + std::string(ip(sdp.address)) + sdp.address + "\r\n";
  s += "t=0 0\r\n";
  for (const auto& m : sdp.media) {
    s += "m=" + m.type + " " + std::to_string(m.port) + " " + m.proto;
    for (const auto& f : m.formats) s += " " + f;
    s += "\r\n";
    if (!m.address.empty()) s += "c=IN " + std::string(ip(m.address)) + m.address + "\r\n";
    if (m.port == 0) continue;
    for (const auto& r : m.rtpmaps) s += "a=rtpmap:" + r + "\r\n";
    if (m.ptime > 0) s += "a=ptime:" + std::to_string(m.ptime) + "\r\n";
    if (m.hasT38Attrs) {
      const TT38Params& t = m.t38;
      s += "a=T38FaxVersion:" + std::to_string(t.version) + "\r\n";
      s += "a=T38MaxBitRate:" + std::to_string(t.maxBitRate) + "\r\n";
      s += std::string("a=T38FaxRateManagement:") + (t.transferredTcf ? "transferredTCF" : "localTCF") + "\r\n";
      s += "a=T38FaxMaxBuffer:" + std::to_string(t.maxBuffer) + "\r\n";
      s += "a=T38FaxMaxDatagram:" + std::to_string(t.maxDatagram) + "\r\n";
      s += std::string("a=T38FaxUdpEC:") + EcName(t.ec) + "\r\n";
    }
    if (!m.direction.empty()) s += "a=" + m.direction + "\r\n";
  }
  return s;
}

namespace {

TSdp Skeleton(const TLocalMedia& local, uint64_t sessionId, uint64_t version) {
  TSdp sdp;
  sdp.originUser = "-";
  sdp.sessionId = sessionId;
  sdp.sessionVersion = version;
  sdp.originAddress = local.address;
  sdp.address = local.address;
  return sdp;
}

TSdpMedia AudioLine(const TLocalMedia& local, TCodec first, bool both) {
  TSdpMedia m;
  m.type = "audio";
  m.port = local.port;
  m.proto = "RTP/AVP";
  const TCodec second = first == TCodec::Pcmu ? TCodec::Pcma : TCodec::Pcmu;
  for (TCodec c : {first, second}) {
    m.formats.push_back(std::to_string(static_cast<int>(c)));
    m.rtpmaps.push_back(std::to_string(static_cast<int>(c)) + " " + CodecName(c) + "/8000");
    if (!both) break;
  }
  m.ptime = 20;
  m.direction = "sendrecv";
  return m;
}

TSdpMedia ImageLine(const TLocalMedia& local, const TT38Params& params) {
  TSdpMedia m;
  m.type = "image";
  m.port = local.port;
  m.proto = "udptl";
  m.formats = {"t38"};
  m.hasT38Attrs = true;
  m.t38 = params;
  return m;
}

// The payload type of PCMU or PCMA in an audio line: static numbers, or an
// rtpmap naming the codec.
bool OffersCodec(const TSdpMedia& m, TCodec c) {
  if (m.HasFormat(std::to_string(static_cast<int>(c)))) return true;
  for (const auto& r : m.rtpmaps) {
    const auto w = Words(r);
    if (w.size() >= 2 && Lower(w[1]).rfind(Lower(CodecName(c)), 0) == 0 && m.HasFormat(w[0])) return true;
  }
  return false;
}

TSdpMedia Refused(const TSdpMedia& offered) {
  TSdpMedia m;
  m.type = offered.type;
  m.port = 0;
  m.proto = offered.proto;
  m.formats = offered.formats;
  if (m.formats.empty()) m.formats = {"0"};
  return m;
}

}  // namespace

TSdp MakeAudioOffer(const TLocalMedia& local, uint64_t sessionId, uint64_t version) {
  TSdp sdp = Skeleton(local, sessionId, version);
  sdp.media.push_back(AudioLine(local, local.codec, true));
  return sdp;
}

TSdp MakeT38Offer(const TLocalMedia& local, uint64_t sessionId, uint64_t version) {
  TSdp sdp = Skeleton(local, sessionId, version);
  sdp.media.push_back(ImageLine(local, local.t38Params));
  return sdp;
}

TSdp Answer(const TSdp& offer, const TLocalMedia& local, uint64_t sessionId, uint64_t version, TAgreed& agreed) {
  agreed = TAgreed{};
  // Which line to take: a T.38 line in use wins when T.38 is allowed.
  int take = -1;
  if (local.t38)
    for (size_t i = 0; i < offer.media.size(); ++i)
      if (offer.media[i].port != 0 && offer.media[i].IsT38()) {
        take = static_cast<int>(i);
        break;
      }
  if (take < 0)
    for (size_t i = 0; i < offer.media.size(); ++i) {
      const TSdpMedia& m = offer.media[i];
      if (m.port != 0 && m.IsAudio() && (OffersCodec(m, TCodec::Pcmu) || OffersCodec(m, TCodec::Pcma))) {
        take = static_cast<int>(i);
        break;
      }
    }

  TSdp sdp = Skeleton(local, sessionId, version);
  for (size_t i = 0; i < offer.media.size(); ++i) {
    const TSdpMedia& m = offer.media[i];
    if (static_cast<int>(i) != take) {
      sdp.media.push_back(Refused(m));
      continue;
    }
    agreed.address = offer.AddressOf(m);
    agreed.port = m.port;
    if (m.IsT38()) {
      TT38Params t;
      t.version = std::min(m.t38.version, local.t38Params.version);
      t.maxBitRate = std::min(m.t38.maxBitRate, local.t38Params.maxBitRate);
      t.transferredTcf = m.t38.transferredTcf;
      t.maxBuffer = local.t38Params.maxBuffer;
      t.maxDatagram = local.t38Params.maxDatagram;
      // We send redundancy (and read redundancy and FEC whatever is agreed);
      // an offer of no error correction is answered in kind.
      t.ec = (m.t38.ec == TUdpEc::None || local.t38Params.ec == TUdpEc::None) ? TUdpEc::None : TUdpEc::Redundancy;
      TSdpMedia line = ImageLine(local, t);
      line.proto = m.proto;  // answer `RTP/AVP t38` in kind
      line.formats = m.formats;
      sdp.media.push_back(line);
      agreed.kind = TAgreed::TKind::T38;
      agreed.t38 = t;
      agreed.t38.maxDatagram = m.t38.maxDatagram;
    } else {
      const bool wantPreferred = OffersCodec(m, local.codec);
      const TCodec other = local.codec == TCodec::Pcmu ? TCodec::Pcma : TCodec::Pcmu;
      agreed.codec = wantPreferred ? local.codec : other;
      sdp.media.push_back(AudioLine(local, agreed.codec, false));
      sdp.media.back().proto = m.proto;
      agreed.kind = TAgreed::TKind::Audio;
    }
  }
  return sdp;
}

TAgreed ReadAnswer(const TSdp& answer, const TLocalMedia& local) {
  TAgreed agreed;
  for (const auto& m : answer.media) {
    if (m.port == 0) continue;
    if (m.IsT38() && local.t38) {
      agreed.kind = TAgreed::TKind::T38;
      agreed.address = answer.AddressOf(m);
      agreed.port = m.port;
      agreed.t38 = m.t38;
      agreed.t38.version = std::min(m.t38.version, local.t38Params.version);
      return agreed;
    }
    if (m.IsAudio()) {
      // The answer's first G.711 format is the one the far end sends.
      for (const auto& f : m.formats) {
        TSdpMedia one = m;
        one.formats = {f};
        for (TCodec c : {TCodec::Pcmu, TCodec::Pcma}) {
          if (!OffersCodec(one, c)) continue;
          agreed.kind = TAgreed::TKind::Audio;
          agreed.address = answer.AddressOf(m);
          agreed.port = m.port;
          agreed.codec = c;
          return agreed;
        }
      }
    }
  }
  return agreed;
}

}  // namespace fe::sip
