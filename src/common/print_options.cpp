#include "print_options.h"

#include "common/folders.h"
#include "common/ini_file.h"

namespace qn {
namespace {
constexpr const char* kSection = "Printing";
}

PrintOptions& SharedPrintOptions() {
  static PrintOptions options;
  return options;
}

void LoadPrintOptions() {
  const IniFile ini(SettingsFile());
  const PrintOptions def;
  PrintOptions& p = SharedPrintOptions();
  p.MultiPage = ini.ReadBool(kSection, "MultiPage", def.MultiPage);
  p.Header = ini.ReadBool(kSection, "Header", def.Header);
  p.Footer = ini.ReadBool(kSection, "Footer", def.Footer);
  p.Stretch = ini.ReadBool(kSection, "Stretch", def.Stretch);
}

void SavePrintOptions() {
  IniFile ini(SettingsFile());
  if (!ini.readable()) return;
  const PrintOptions& p = SharedPrintOptions();
  ini.WriteBool(kSection, "MultiPage", p.MultiPage);
  ini.WriteBool(kSection, "Header", p.Header);
  ini.WriteBool(kSection, "Footer", p.Footer);
  ini.WriteBool(kSection, "Stretch", p.Stretch);
  ini.Flush();
}

}  // namespace qn
