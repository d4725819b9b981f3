// Small shared conversions: fax class names, transfer-rate list positions and
// blank trimming.
#pragma once

#include <string>

namespace qn {

// 0 "AutoDetect", 1 "Class 1", 2 "Class 2", 3 "Class 2.0", anything else "unknown".
std::string FaxClassName(int classIndex);
// List position -> bits per second: 0 2400, 1 4800, 2 7200, 4 12000, 5 14400, else 9600.
int FaxSpeedBps(int speedIndex);
// Bits per second -> list position: the reverse, any unlisted rate -> 3.
int FaxSpeedIndex(int bps);

// Only the space character counts as a blank.
// The characters of a number a modem dials: digits, space, + - ( ) . , * # and
// W (wait for dial tone), P (pulse), T (tone) in either case.
bool IsDialCharacter(char c);

std::string TrimLeftSpaces(const std::string& s);
std::string TrimRightSpaces(const std::string& s);
std::string TrimSpaces(const std::string& s);

}  // namespace qn
