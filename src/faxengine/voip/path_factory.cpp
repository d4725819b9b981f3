// Media paths by name; see path_factory.h.
#include "path_factory.h"

#include "rtp_path.h"

namespace fe::voip {

TPathFactory MakePathFactory(const TPathChoice& choice, std::string* error) {
  if (choice.media == "rtp") {
    TG711Law law;
    if (choice.codec == "pcmu")
      law = TG711Law::Ulaw;
    else if (choice.codec == "pcma")
      law = TG711Law::Alaw;
    else {
      if (error) *error = "unknown codec \"" + choice.codec + "\" (pcmu or pcma)";
      return {};
    }
    return [law](TDatagramSend send) { return std::make_unique<TRtpPath>(law, std::move(send)); };
  }
  if (choice.media == "t38") {
    const TT38Settings& s = choice.t38;
    std::string bad;
    if (!s.v27ter && !s.v29 && !s.v17)
      bad = "no modulation allowed";
    else if (s.version < 0 || s.version > 3)
      bad = "T.38 version " + std::to_string(s.version) + " (0 to 3)";
    else if (s.farMaxDatagram < 32 || s.farMaxDatagram > 65507)
      bad = "far datagram size " + std::to_string(s.farMaxDatagram) + " (32 to 65507)";
    if (!bad.empty()) {
      if (error) *error = "T.38 settings: " + bad;
      return {};
    }
    return [s](TDatagramSend send) { return std::make_unique<TT38Path>(s, std::move(send)); };
  }
  if (error) *error = "unknown media \"" + choice.media + "\" (rtp or t38)";
  return {};
}

}  // namespace fe::voip
