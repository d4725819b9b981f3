// Fuzz target: any bytes as a design source file. The generic object streams
// and the cover objects read from them must write back to bytes that read as
// the same objects again; flattening what was read must not crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "covers/stream/cover_source.h"
#include "covers/stream/object_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  const covers::StreamReadResult tree = covers::ReadObjectList(bytes);
  const covers::StreamReadResult again = covers::ReadObjectList(covers::WriteObjectList(tree.objects));
  if (!again.ok || again.objects != tree.objects) std::abort();

  const covers::DesignSourceResult source = covers::ReadDesignSource(bytes);
  if (!source.ok && source.error.empty()) std::abort();
  const std::string written = covers::WriteDesignSource(source.objects);
  const covers::DesignSourceResult reread = covers::ReadDesignSource(written);
  if (!reread.ok || reread.objects != source.objects) std::abort();
  // A second save of what was read back gives the same bytes.
  if (covers::WriteDesignSource(reread.objects) != written) std::abort();
  (void)covers::FlattenObjects(source.objects, covers::FontData{}, 96);
  (void)covers::FlattenObjects(source.objects, covers::FontData{}, 120);
  return 0;
}
