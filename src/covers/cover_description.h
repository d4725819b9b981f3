// Cover templates written as readable text, one object per line, compiled into
// flat template records. The program's own templates are kept this way in
// data/covers and written into the Covers folder on the first start.
//
// Format (design pixels at 96 per inch on the 768 x 960 design page; '#' starts
// a comment; texts in double quotes, \" and \\ inside them):
//   description <text to the end of the line>
//   font "<name>" <points> [bold] [italic] [underline]   default for the lines after it
//   text    X Y W H "<caption>" [font ...]
//   symbol  X Y W H "<character>" [font ...]
//   field   X Y W H <date|time|regarding|recipient|recipientfax|sender|company|senderfax|sendervoice> [font ...]
//   importance X Y W H [font ...]
//   message X Y W H [font ...]
//   rect | square | roundrect | roundsquare | ellipse | circle  X Y W H [pen N] [fill none|white|black] [round P]
//   line    X Y W H [horizontal|vertical|up|down] [pen N]
// Positions and sizes become fax units; font sizes and pen widths are doubled.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cover_template.h"

namespace covers {

struct CoverDescription {
  std::string description;
  std::vector<TemplateRecord> records;
};

// False with a message naming the line on the first error.
bool CompileCoverDescription(std::string_view text, CoverDescription& out, std::string& error);

// The templates Quillon ships: base name and description text.
struct ShippedCover {
  const char* baseName;  // "QN0001"
  std::string_view text;
};
std::vector<ShippedCover> ShippedCovers();

}  // namespace covers
