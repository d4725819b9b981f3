// Fuzz target: any bytes as a printer driver's job description (".JFD"). An
// accepted description has three single-line texts without control characters.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "faxprep/prep_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  faxprep::JobDescription job;
  std::string why;
  if (faxprep::ParseJobDescription(bytes, job, why)) {
    for (const std::string* s : {&job.phone, &job.recipient, &job.subject})
      for (char c : *s)
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t') std::abort();
  } else if (why.empty()) {
    std::abort();
  }
  return 0;
}
