// Fuzz target: the BMP reader of the fax converter.
#include "fe_bmp_reader.h"
#include "fuzz_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fe::BmpReader reader({data, size});
  DrainReader(reader);
  return 0;
}
