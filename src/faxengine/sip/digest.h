// HTTP digest authentication as SIP uses it (MD5, with or without qop=auth):
// the response value a challenge asks for, to check what goes out; and the
// masking of credentials in trace lines.
#pragma once

#include <string>

namespace fe::sip {

struct TChallenge {
  std::string realm, nonce, opaque, algorithm, qop;
  bool proxy = false;  // 407 Proxy-Authenticate (else 401 WWW-Authenticate)
};

struct TDigestInput {
  std::string user, password;  // the digest user name and its password
  std::string method, uri;     // the request being authorised
  std::string cnonce;          // the client nonce (random, per challenge)
  unsigned nc = 1;             // how often this nonce was used
};

// MD5 of text, as 32 lower-case hex digits.
std::string Md5Hex(const std::string& text);

// The response value: MD5(HA1:nonce:HA2) or, with qop=auth,
// MD5(HA1:nonce:nc:cnonce:auth:HA2); MD5-sess folds the nonces into HA1.
std::string DigestResponse(const TChallenge& c, const TDigestInput& in);

// The line with every digest response value replaced by "***".
std::string MaskSecrets(const std::string& line);

}  // namespace fe::sip
