// Digest responses against RFC 2617's own example, and the masking of trace lines.
#include "digest.h"

#include <gtest/gtest.h>

namespace {

TEST(Digest, Rfc2617ExampleWithQopAuth) {
  fe::sip::TChallenge c;
  c.realm = "testrealm@host.com";
  c.nonce = "dcd98b7102dd2f0e8b11d0f600bfb0c093";
  c.qop = "auth,auth-int";
  fe::sip::TDigestInput in{"Mufasa", "Circle Of Life", "GET", "/dir/index.html", "0a4f113b", 1};
  EXPECT_EQ(fe::sip::DigestResponse(c, in), "6629fae49393a05397450978507c4ef1");
  // Without qop the older form (RFC 2069) applies.
  c.qop.clear();
  EXPECT_EQ(fe::sip::DigestResponse(c, in),
            fe::sip::Md5Hex(fe::sip::Md5Hex("Mufasa:testrealm@host.com:Circle Of Life") +
                            ":dcd98b7102dd2f0e8b11d0f600bfb0c093:" + fe::sip::Md5Hex("GET:/dir/index.html")));
}

TEST(Digest, TraceLinesLoseTheirResponses) {
  EXPECT_EQ(fe::sip::MaskSecrets("Authorization: Digest username=\"a\", response=\"0123abcd\", nc=1"),
            "Authorization: Digest username=\"a\", response=\"***\", nc=1");
  EXPECT_EQ(fe::sip::MaskSecrets("Proxy-Authorization: Digest Response=ff00, x=1"),
            "Proxy-Authorization: Digest Response=\"***\", x=1");
  EXPECT_EQ(fe::sip::MaskSecrets("response=\"unterminated"), "response=\"***\"");
  EXPECT_EQ(fe::sip::MaskSecrets("Via: SIP/2.0/UDP 10.0.0.1"), "Via: SIP/2.0/UDP 10.0.0.1");
}

}  // namespace
