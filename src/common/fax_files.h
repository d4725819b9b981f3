// Checks and joins on whole fax files, shared by the send window, the viewer and
// the printing commands.
//
// Conventions: paths are ready-resolved file paths (see folders.h for the
// case-insensitive resolver); every function answers false for a missing or
// unreadable file or one whose signature is not the fax file signature, and
// never throws.
#pragma once

#include <string>

namespace qn {

// Joins a cover sheet and a body into `output`: the cover copied whole, the body's
// pages after it, the page count the sum of both. False when either input is
// missing or not a fax file, or the output cannot be written; a failed join
// leaves no output file behind.
bool AppendFaxFile(const std::string& output, const std::string& cover, const std::string& body);

// True when the file exists and its first page is marked fine resolution.
bool IsFineFaxFile(const std::string& path);

// True when the first pages of both files carry the same resolution mark.
bool SameFaxResolution(const std::string& a, const std::string& b);

}  // namespace qn
