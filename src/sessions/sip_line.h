// The SIP account of the settings as a fax line (no Qt): the account the SIP
// user agent takes, built from the [SIP] fields and the stored password, and
// the registrar's answers in the words the windows show.
//
// Conventions callers rely on:
//  - No Qt, no widgets: any thread. TestSipRegistration blocks (up to about
//    40 s when the server does not answer); run it off the interface thread.
//  - The password goes into the account only; nothing here writes it anywhere.
#pragma once

#include <string>

#include "sip_agent.h"
#include "sip_fax_line.h"

namespace qn {

struct FaxSettings;

// The user agent's account for the [SIP] fields of `s` and `password`.
fe::sip::TAccount SipAccountOf(const FaxSettings& s, const std::string& password);

// The registrar's answer in plain words: "Registered.", "The password is
// wrong.", "The server is not reachable.", "The server refused the
// registration: <reason>".
std::string RegistrationWords(const fe::sip::TRegistration& r);

// Registers with the account (on a SIP port of its own, so that a receiving
// line keeps its port), unregisters again and returns the answer in plain
// words. The tool behind Quick Setup's and the wizard's "Test account".
std::string TestSipRegistration(const FaxSettings& s, const std::string& password);

// Opens `line` on the settings' account (the stored password) and waits for the
// registrar; empty when the line is ready, else what went wrong in plain words.
// Blocks like TestSipRegistration: run it off the interface thread.
std::string OpenSipFaxLine(fe::sip::TSipFaxLine& line, const FaxSettings& s);

}  // namespace qn
