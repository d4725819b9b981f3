// Fuzz target: any bytes as QN.INI. The settings loaded from it, saved over it
// and loaded again must be the settings that were loaded, and saving them into a
// fresh file must give the same file as saving them over the fuzzed one.
#include <cstdlib>
#include <string>

#include "fuzz_files.h"
#include "sessions/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string dir = qnfuzz::WorkDir();
  const std::string path = dir + "/QN.INI", fresh = dir + "/FRESH.INI", check = dir + "/CHECK.INI";
  qnfuzz::WriteFile(path, data, size);

  qn::LoadSettings(path);
  std::remove(fresh.c_str());
  if (!qn::SaveSettings(fresh)) return 0;
  if (!qn::SaveSettings(path)) return 0;

  // Loaded back from the fuzzed file, the settings must write the same fresh file.
  qn::LoadSettings(path);
  std::remove(check.c_str());
  if (!qn::SaveSettings(check)) return 0;
  if (qnfuzz::ReadFile(check) != qnfuzz::ReadFile(fresh)) std::abort();
  return 0;
}
