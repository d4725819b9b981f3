// Fuzz target: any bytes as an INI file. Every lookup must be safe, and after a
// write and a flush the file must read back with the written values while the
// keys of other sections read as before.
#include <cstdlib>
#include <string>

#include "common/ini_file.h"
#include "fuzz_files.h"

namespace {

const char* const kSections[] = {"", "Modem", "User", "Fuzz", "modem"};
const char* const kKeys[] = {"ComPort", "Name", "Value", "", "name"};

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = qnfuzz::WorkDir() + "/FUZZ.INI";
  qnfuzz::WriteFile(path, data, size);

  qn::IniFile ini(path);
  for (const char* section : kSections) {
    ini.HasSection(section);
    for (const char* key : kKeys) {
      ini.HasKey(section, key);
      ini.ReadString(section, key, "-");
      ini.ReadInteger(section, key, -1);
      ini.ReadBool(section, key, true);
    }
  }

  // The value written is the input's last line, so the fuzzer shapes it freely.
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::size_t nl = text.rfind('\n');
  const std::string value = nl == std::string::npos ? text : text.substr(nl + 1);
  std::string expected = value;
  for (char& c : expected)
    if (c == '\r' || c == '\n') c = ' ';
  const int number = size ? static_cast<int>(data[0]) * 1000003 - 7 : 0;
  const std::string name = ini.ReadString("User", "Name", "(none)");

  ini.WriteString("Fuzz", "Value", value);
  ini.WriteInteger("Modem", "ComPort", number);
  Check(ini.ReadString("Fuzz", "Value", "") == expected);
  if (!ini.Flush()) return 0;

  qn::IniFile again(path);
  Check(again.ReadString("Fuzz", "Value", "(none)") == expected);
  Check(again.ReadInteger("Modem", "ComPort", 0) == number);
  Check(again.ReadString("User", "Name", "(none)") == name);

  again.EraseSection("Fuzz");
  if (!again.Flush()) return 0;
  qn::IniFile erased(path);
  Check(!erased.HasKey("Fuzz", "Value"));
  Check(erased.ReadInteger("Modem", "ComPort", 0) == number);
  Check(erased.ReadString("User", "Name", "(none)") == name);
  return 0;
}
