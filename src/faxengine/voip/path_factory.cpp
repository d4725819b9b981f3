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
    if (error) *error = "T.38 media is not available yet in this build";
    return {};
  }
  if (error) *error = "unknown media \"" + choice.media + "\" (rtp or t38)";
  return {};
}

}  // namespace fe::voip
