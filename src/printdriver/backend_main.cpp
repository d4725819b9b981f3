// quillon: the CUPS backend of the "Quillon Fax" print queue. CUPS runs it as
//   quillon job-id user title copies options [file]
// with DEVICE_URI set (the document on standard input when no file is named),
// and without arguments to list the device it serves. Messages go to standard
// error with the CUPS log prefixes; the exit status follows CUPS' backend codes
// (a bad job is cancelled, a full disk asks CUPS to retry later, the queue keeps
// running). CUPS cancels a job with SIGTERM: the job then stops, kills its
// converter process and removes its files.
#include <cups/backend.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "print_job.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnTerminate(int) {
  g_stop = 1;
}

// A limit from the backend's environment (cupsd passes the variables its
// cups-files.conf names with SetEnv); the default when unset or unusable.
unsigned long EnvNumber(const char* name, unsigned long fallback) {
  const char* v = std::getenv(name);
  if (!v || !*v) return fallback;
  char* end = nullptr;
  const unsigned long n = std::strtoul(v, &end, 10);
  return *end || n == 0 ? fallback : n;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 1) {
    std::printf("direct quillon \"Unknown\" \"Quillon Fax\"\n");
    return CUPS_BACKEND_OK;
  }
  if (argc < 6 || argc > 7) {
    std::fprintf(stderr, "Usage: %s job-id user title copies options [file]\n", argv[0]);
    return CUPS_BACKEND_FAILED;
  }
  // No SA_RESTART: a read waiting for the document returns and sees the flag.
  struct sigaction term {};
  term.sa_handler = OnTerminate;
  sigemptyset(&term.sa_mask);
  sigaction(SIGTERM, &term, nullptr);

  printdriver::JobRequest req;
  req.stop = &g_stop;
  req.timeLimitSeconds = unsigned(EnvNumber("QUILLON_BACKEND_TIME_LIMIT", req.timeLimitSeconds));
  req.memoryLimitBytes = std::uint64_t(EnvNumber("QUILLON_BACKEND_MEMORY_LIMIT", req.memoryLimitBytes >> 20)) << 20;
  req.user = argv[2];
  req.title = argv[3];
  req.options = argv[5];
  if (argc == 7) req.inputPath = argv[6];
  if (const char* homes = std::getenv("QUILLON_BACKEND_HOMES")) req.homesOverride = homes;
  std::fprintf(stderr, "INFO: Making a fax of \"%s\" for %s\n", printdriver::DescriptionFromTitle(req.title).c_str(),
               printdriver::IsPlainUserName(req.user) ? req.user.c_str() : "?");
  const printdriver::JobResult result = printdriver::RunPrintJob(req);
  if (!result.ok) {
    std::fprintf(stderr, "ERROR: Quillon Fax: %s\n", result.message.c_str());
    return result.retry ? CUPS_BACKEND_RETRY : CUPS_BACKEND_CANCEL;
  }
  std::fprintf(stderr, "INFO: Quillon Fax: %s\n", result.message.c_str());
  return CUPS_BACKEND_OK;
}
