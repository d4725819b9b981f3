// Names for received fax files: the first free "FAX0001.APF" .. "FAX9999.APF" in the
// destination folder (or the month/day scheme "MMDD0001.APF"), "NONAME.APF" when all
// numbers are taken.
#pragma once

#include <ctime>
#include <string>

namespace fe {

enum class TReceiveNaming {
  rnFaxNumber,  // "FAX" + four digits
  rnMonthDay,   // month and day as two digits each + four digits
  rnOther,      // no scheme: "noname.apf"
};

// Joins the folder and a file name, adding the folder separator when the folder
// does not end in one. An empty folder leaves the name as it is.
std::string JoinDir(const std::string& dir, const std::string& name);

// The name of the next received fax in dir. Existing names are compared without
// letter case, so "fax0001.apf" takes number 1 as well. now is used by the
// month/day scheme only.
std::string ReceiveFileName(const std::string& dir, const std::string& ext,
                            TReceiveNaming scheme = TReceiveNaming::rnFaxNumber, std::time_t now = std::time(nullptr));

// Creates the (empty) file `name` exclusively, so that no existing file is
// overwritten. When the name is taken, "NAME2.EXT", "NAME3.EXT" ... up to 9999
// are tried and `name` becomes the one created. 0 or a negative error code.
int ClaimReceiveFileName(std::string& name);

}  // namespace fe
