// Fuzz target: the TIFF reader of the fax converter.
#include "fe_tiff_reader.h"
#include "fuzz_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fe::TiffReader reader({data, size});
  DrainReader(reader);
  return 0;
}
