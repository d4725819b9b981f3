// Which media path a call uses, chosen by name: "rtp" (G.711 in RTP, PCMU or
// PCMA) or "t38" (spandsp's fax gateway turns the modem's audio into T.38
// packets, which travel in UDPTL). qnfax and the program's settings name the
// path; the session makes one for every call.
#pragma once

#include <string>
#include <utility>

#include "media_session.h"
#include "t38_path.h"

namespace fe::voip {

struct TPathChoice {
  TPathChoice() = default;
  TPathChoice(std::string m, std::string c) : media(std::move(m)), codec(std::move(c)) {}
  std::string media = "rtp";   // "rtp" or "t38"
  std::string codec = "pcmu";  // for rtp: "pcmu" or "pcma"
  // For t38: modems, ECM, transferredTCF, version 0, the far end's datagram
  // size, redundancy 3 for indicators and control, 1 for page data.
  TT38Settings t38;
};

// The factory for the choice; an empty one with the reason in error when the
// choice is unknown or not available in this build.
TPathFactory MakePathFactory(const TPathChoice& choice, std::string* error = nullptr);

}  // namespace fe::voip
