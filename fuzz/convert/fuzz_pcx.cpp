// Fuzz target: the PCX reader of the fax converter.
#include "fe_pcx_reader.h"
#include "fuzz_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fe::PcxReader reader({data, size}, 2048, false);
  DrainReader(reader);
  return 0;
}
