// Fuzz target: any bytes as a session description from the far end. The first
// byte picks our side (T.38 allowed, codec, version, datagram); the rest is the
// text. A description that reads must be answerable; our answer must read back
// with as many lines as the offer, in the same order; what the answer agrees on
// must match our answer's one line in use; and reading our answer as the far
// end's answer to us must agree on the same kind of media.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "sdp.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t mode = data[0];
  // An exact-size copy, so reading past the text is caught.
  std::vector<char> text(data + 1, data + size);
  fe::sip::TLocalMedia local;
  local.address = (mode & 0x40) ? "2001:db8::1" : "192.0.2.1";
  local.port = 10000 + (mode & 0x0e);
  local.t38 = (mode & 0x01) != 0;
  local.codec = (mode & 0x10) ? fe::sip::TCodec::Pcma : fe::sip::TCodec::Pcmu;
  local.t38Params.version = (mode >> 5) & 0x03;
  local.t38Params.maxDatagram = 100 + (mode & 0x0f) * 50;

  fe::sip::TSdp offer;
  std::string error;
  if (!fe::sip::ParseSdp(std::string_view(text.data(), text.size()), offer, &error)) {
    if (error.empty()) std::abort();
    return 0;
  }
  fe::sip::TAgreed agreed;
  const fe::sip::TSdp answer = fe::sip::Answer(offer, local, 1, 1, agreed);
  const std::string written = fe::sip::WriteSdp(answer);
  fe::sip::TSdp back;
  if (!fe::sip::ParseSdp(written, back, &error)) std::abort();
  if (back.media.size() != offer.media.size()) std::abort();
  int inUse = 0;
  for (std::size_t i = 0; i < back.media.size(); ++i) {
    if (back.media[i].type != offer.media[i].type) std::abort();
    if (back.media[i].port != 0) ++inUse;
  }
  if (inUse != (agreed.kind == fe::sip::TAgreed::TKind::None ? 0 : 1)) std::abort();
  if (agreed.kind == fe::sip::TAgreed::TKind::T38) {
    if (!local.t38 || agreed.t38.version > local.t38Params.version) std::abort();
  }
  // Our answer, read as if it answered an offer of ours, agrees on the same kind.
  if (agreed.kind != fe::sip::TAgreed::TKind::None && fe::sip::ReadAnswer(back, local).kind != agreed.kind)
    std::abort();
  return 0;
}
