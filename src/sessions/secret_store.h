// Where the SIP account's password is kept: never in QN.INI, never in a log.
// With a desktop secret store running (the Secret Service on the session bus,
// as GNOME Keyring and KWallet offer it), the password goes there; otherwise
// into "sip-secrets" in the program's folder, a file only its owner may read
// (mode 0600, written whole into a new file and renamed over the old one).
//
// Conventions callers rely on:
//  - No Qt; may block for a moment on the session bus. Any thread.
//  - An account is named "user@domain". Passwords may hold any byte but NUL and
//    line breaks (the file keeps one account per line).
//  - QUILLON_SECRET_STORE=file uses the file even where a secret store runs
//    (tests, and people who prefer it).
#pragma once

#include <string>

namespace qn {

// "the desktop's secret store" or the file's path, for messages.
std::string SecretStoreName();

// The stored password, or empty when none is stored.
std::string LoadSipPassword(const std::string& account);
// Stores (or with an empty password forgets) the account's password; false with
// a reason in *error when it could not be kept.
bool StoreSipPassword(const std::string& account, const std::string& password, std::string* error = nullptr);

}  // namespace qn
