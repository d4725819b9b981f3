// One job of the "Quillon Fax" print queue: the document CUPS hands to the
// backend becomes a fine fax (APF) and its job description (".JFD", the job's
// title as the subject) in the printing user's SEND folder.
//
// Conventions callers rely on:
//  - Run as root (as CUPS runs a backend whose file is mode 0700), the job
//    reads its input first, then gives up root for the printing user for good:
//    every file is made by that user, and only inside that user's folder. Jobs
//    for root, system accounts and accounts without a login shell are refused.
//  - The user name must be a plain account name of an existing user; the title
//    only ever becomes text in the ".JFD" (control characters turned to spaces),
//    never part of a path.
//  - Nothing half-made is left: the APF and the ".JFD" are written under hidden
//    temporary names (".qnprint-<pid>-...") and linked into place, the APF
//    first, so the program's pick-up never sees one without the other
//    complete. A job stopped by SIGTERM removes them; those of a backend that
//    was killed are swept by the next job and by the program's pick-up.
//  - The document is rendered in a converter process (fe_document_child.h) run
//    as the printing user, with memory, time and page limits; a document that
//    breaks one of them fails the job with a sentence saying which.
//  - Failures come back as a message for the CUPS job log; no Qt widgets.
#pragma once

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

#include "faxprep/send_job.h"

namespace printdriver {

inline constexpr unsigned kMaxFaxPages = 200;
inline constexpr std::size_t kMaxJobBytes = std::size_t(512) << 20;

struct JobRequest {
  std::string user, title;
  // The job's options as CUPS hands them over ("name=value ...", values quoted
  // or escaped where they hold spaces); phone= and recipient= name the fax's
  // number and recipient (lp -o phone=5551234 -o recipient="Ada Lindqvist").
  std::string options;
  std::string inputPath;  // empty: the document comes on standard input
  // Folder holding the users' homes by name, instead of their account's home
  // directory; set only through the environment of a test run (cupsd hands a
  // backend only the variables its own configuration names).
  std::string homesOverride;
  // The document is converted in a converter process held to these (the page
  // cap is kMaxFaxPages); set from the backend's environment
  // (QUILLON_BACKEND_TIME_LIMIT seconds, QUILLON_BACKEND_MEMORY_LIMIT megabytes).
  unsigned timeLimitSeconds = 120;
  std::uint64_t memoryLimitBytes = std::uint64_t(1) << 30;
  // Set by the backend's SIGTERM handler (CUPS cancels a job so): the job stops,
  // its converter process is killed and its files removed.
  const volatile std::sig_atomic_t* stop = nullptr;
};

struct JobResult {
  bool ok = false;
  bool retry = false;            // a passing failure (a full disk): CUPS should try again later
  std::string message;           // for the job log: what was made, or why not
  std::string apfPath, jfdPath;  // the files made
  unsigned pages = 0;
  bool programTold = false;  // a running Quillon was asked to pick the fax up
};

// Account names: letters, digits, ".", "_", "-", not starting with "-" or ".",
// at most 32 bytes.
bool IsPlainUserName(const std::string& user);
// The value of option `name` in a CUPS options string (empty when absent):
// words separated by spaces, each name=value, a value in single or double
// quotes or with backslash escapes.
std::string JobOption(const std::string& options, const std::string& name);
// A job option's number and recipient become the description's lines as for
// every fax made from a document (faxprep/send_job.h).
using faxprep::DialableNumber;
using faxprep::OneLine;
// The title as one line of text: control characters become spaces, trimmed,
// cut to 80 bytes on a character boundary; "Printed document" when empty.
std::string DescriptionFromTitle(const std::string& title);

// Whether faxes are made for an account: not root, no system account (a uid
// below UID_MIN of /etc/login.defs), and a login shell (listed in /etc/shells,
// not nologin or false); `why` says which rule refused it.
bool MayPrintFaxes(unsigned uid, const std::string& shell, std::string& why);
bool IsLoginShell(const std::string& shell);

JobResult RunPrintJob(const JobRequest& request);

}  // namespace printdriver
