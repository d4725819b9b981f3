// Fuzz target: any bytes as a cover data file (".FCD"). The template name never
// keeps a folder part, and what is read writes back to the same inputs.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "faxprep/prep_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const faxprep::CoverInputs in = faxprep::ParseCoverData(bytes);
  if (in.templateName.find_first_of("/\\") != std::string::npos || in.templateName == "..") std::abort();
  const faxprep::CoverInputs back = faxprep::ParseCoverData(faxprep::SerializeCoverData(in));
  if (back.templateName != in.templateName || back.flags != in.flags || back.message != in.message) std::abort();
  (void)faxprep::ParseFlags(in.flags);
  return 0;
}
