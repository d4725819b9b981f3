// quillon: the CUPS backend of the "Quillon Fax" print queue. CUPS runs it as
//   quillon job-id user title copies options [file]
// with DEVICE_URI set (the document on standard input when no file is named),
// and without arguments to list the device it serves. Messages go to standard
// error with the CUPS log prefixes; the exit status follows CUPS' backend codes
// (a bad job is cancelled, the queue keeps running).
#include <cups/backend.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "print_job.h"

int main(int argc, char** argv) {
  if (argc == 1) {
    std::printf("direct quillon \"Unknown\" \"Quillon Fax\"\n");
    return CUPS_BACKEND_OK;
  }
  if (argc < 6 || argc > 7) {
    std::fprintf(stderr, "Usage: %s job-id user title copies options [file]\n", argv[0]);
    return CUPS_BACKEND_FAILED;
  }
  printdriver::JobRequest req;
  req.user = argv[2];
  req.title = argv[3];
  if (argc == 7) req.inputPath = argv[6];
  if (const char* homes = std::getenv("QUILLON_BACKEND_HOMES")) req.homesOverride = homes;
  std::fprintf(stderr, "INFO: Making a fax of \"%s\" for %s\n", printdriver::DescriptionFromTitle(req.title).c_str(),
               printdriver::IsPlainUserName(req.user) ? req.user.c_str() : "?");
  const printdriver::JobResult result = printdriver::RunPrintJob(req);
  if (!result.ok) {
    std::fprintf(stderr, "ERROR: Quillon Fax: %s\n", result.message.c_str());
    return CUPS_BACKEND_CANCEL;
  }
  std::fprintf(stderr, "INFO: Quillon Fax: %s\n", result.message.c_str());
  return CUPS_BACKEND_OK;
}
