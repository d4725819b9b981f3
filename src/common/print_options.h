// The print options kept as a group in section [Printing] of the settings file.
#pragma once

namespace qn {

struct PrintOptions {
  bool MultiPage = false;  // several fax pages per sheet
  bool Header = true;      // header line
  bool Footer = true;      // footer line
  bool Stretch = true;     // stretch the page to the paper
};

// The shared print flags used by viewing and by printing on receipt.
PrintOptions& SharedPrintOptions();
void LoadPrintOptions();
void SavePrintOptions();

}  // namespace qn
