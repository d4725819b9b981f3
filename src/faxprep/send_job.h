// A document made into an outgoing fax the way the pick-up takes it: a fine fax
// file (APF) and its job description (".JFD": number, recipient, subject) in the
// SEND folder. The print queue's backend and the program's "Fax a Document"
// both make their faxes through here; the pick-up then turns the pair into a
// record.
//
// Conventions callers rely on:
//  - Two steps. Convert() renders the document in the converter process
//    (fe_document_child.h) into hidden work files of SEND
//    (".qnprint-<pid>-XXXXXX", which the pick-up never takes and sweeps when
//    their process is gone); it may run on any thread. Place() links them to
//    the first free FAX#####.APF and .JFD (link never replaces a file; the APF
//    first), so the pick-up never sees one without the other complete.
//  - Nothing half-made is left: work files not placed are removed when the
//    job goes, whatever ended it (a refused document, a cancel, a full disk).
//  - Failures come back as a sentence in message(); retry() tells a passing
//    failure (a full disk or quota); cancelled() a stop through the flag.
//  - No Qt.
#pragma once

#include <csignal>
#include <cstdint>
#include <functional>
#include <string>

#include "fe_document_child.h"

namespace faxprep {

struct DocumentInput {
  int fd = -1;              // an open descriptor of the document, read from its start; the caller closes it
  fe::DocumentKind kind = fe::DocumentKind::Pdf;
  fe::DocumentLimits limits;
  const volatile std::sig_atomic_t* stop = nullptr;  // non-zero: the conversion stops (cancelled())
  // Called on the converting thread after each page with the pages done and
  // the document's page count as far as it is known.
  std::function<void(unsigned done, unsigned total)> pageDone;
};

class SendJob {
 public:
  explicit SendJob(std::string sendFolder);  // with its trailing "/"
  ~SendJob();
  SendJob(const SendJob&) = delete;
  SendJob& operator=(const SendJob&) = delete;

  // Renders the document into the work fax file and writes the description
  // (each text made one line; the number keeps only what a modem dials).
  bool Convert(const DocumentInput& input, const std::string& phone, const std::string& recipient,
               const std::string& subject);
  // Gives the work files their FAX##### names in SEND.
  bool Place();

  const std::string& message() const { return message_; }
  bool retry() const { return retry_; }
  bool cancelled() const { return cancelled_; }
  unsigned pages() const { return pages_; }
  const std::string& apfPath() const { return apf_; }  // after Place()
  const std::string& jfdPath() const { return jfd_; }

 private:
  bool Fail(std::string why, bool retry = false);

  std::string send_, apfWork_, jfdWork_, apf_, jfd_, message_;
  bool retry_ = false, cancelled_ = false;
  unsigned pages_ = 0;
};

// A fax number as a modem dials it: digits, space, + - ( ) . , * # and W P T
// kept, anything else dropped, at most 40 characters.
std::string DialableNumber(const std::string& text);
// Text as one line: control characters become spaces, trimmed, cut to 80
// bytes on a character boundary.
std::string OneLine(const std::string& text);

}  // namespace faxprep
