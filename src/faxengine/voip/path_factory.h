// Which media path a call uses, chosen by name: "rtp" (G.711 in RTP, PCMU or
// PCMA) or "t38" (the fax gateway's packets in UDPTL). qnfax and the program's
// settings name the path; the session makes one for every call.
#pragma once

#include <string>

#include "media_session.h"

namespace fe::voip {

struct TPathChoice {
  std::string media = "rtp";   // "rtp" or "t38"
  std::string codec = "pcmu";  // for rtp: "pcmu" or "pcma"
};

// The factory for the choice; an empty one with the reason in error when the
// choice is unknown or not available in this build.
TPathFactory MakePathFactory(const TPathChoice& choice, std::string* error = nullptr);

}  // namespace fe::voip
