// Digest authentication answers and trace masking; see digest.h.
#include "digest.h"

#include <sofia-sip/su_md5.h>

#include <cctype>
#include <cstdio>

namespace fe::sip {

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// qop may offer several values ("auth,auth-int"); we use auth when offered.
bool OffersAuth(const std::string& qop) {
  const std::string q = Lower(qop);
  size_t pos = 0;
  while (pos <= q.size()) {
    size_t end = q.find(',', pos);
    if (end == std::string::npos) end = q.size();
    std::string item = q.substr(pos, end - pos);
    while (!item.empty() && item.front() == ' ') item.erase(0, 1);
    while (!item.empty() && item.back() == ' ') item.pop_back();
    if (item == "auth") return true;
    pos = end + 1;
  }
  return false;
}

}  // namespace

std::string Md5Hex(const std::string& text) {
  su_md5_t ctx;
  su_md5_init(&ctx);
  su_md5_update(&ctx, text.data(), text.size());
  char hex[33];
  su_md5_hexdigest(&ctx, hex);
  return std::string(hex, 32);
}

std::string DigestResponse(const TChallenge& c, const TDigestInput& in) {
  const std::string algorithm = Lower(c.algorithm);
  std::string ha1 = Md5Hex(in.user + ":" + c.realm + ":" + in.password);
  if (algorithm == "md5-sess") ha1 = Md5Hex(ha1 + ":" + c.nonce + ":" + in.cnonce);
  const std::string ha2 = Md5Hex(in.method + ":" + in.uri);
  if (OffersAuth(c.qop)) {
    char nc[16];
    std::snprintf(nc, sizeof nc, "%08x", in.nc);
    return Md5Hex(ha1 + ":" + c.nonce + ":" + nc + ":" + in.cnonce + ":auth:" + ha2);
  }
  return Md5Hex(ha1 + ":" + c.nonce + ":" + ha2);
}

std::string MaskSecrets(const std::string& line) {
  std::string out = line;
  size_t pos = 0;
  while ((pos = Lower(out).find("response=", pos)) != std::string::npos) {
    size_t start = pos + 9;
    size_t end = start;
    if (start < out.size() && out[start] == '"') {
      end = out.find('"', start + 1);
      end = end == std::string::npos ? out.size() : end + 1;
    } else {
      while (end < out.size() && out[end] != ',' && out[end] != ' ' && out[end] != ';') ++end;
    }
    out.replace(start, end - start, "\"***\"");
    pos = start + 5;
  }
  return out;
}

}  // namespace fe::sip
