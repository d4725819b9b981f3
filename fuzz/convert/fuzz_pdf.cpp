// Fuzz target: the converter's PDF pages (poppler renders them one bit deep).
#include "fe_document_reader.h"
#include "fuzz_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fe::DocumentReader reader({data, size}, 1728, false);
  DrainReader(reader);
  return 0;
}
