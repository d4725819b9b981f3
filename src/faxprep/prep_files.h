// The small files of fax preparation: the cover data file (".FCD", the cover
// sheet editor's inputs kept beside each cover), the printer driver's job
// description (".JFD", three lines beside a printed APF) and the hand-off file
// QNPD.INI that tells the printer driver where the SEND folder is.
//
// Conventions callers rely on:
//  - No Qt. Texts are bytes as stored (UTF-8 as written by us; the user
//    interface decodes other bytes as Windows-1252).
//  - Parsers take bytes and never trust them: a refusal comes with a reason in
//    words for the user, and nothing is read beyond the limits below.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace faxprep {

// ---- cover data file (".FCD") ---------------------------------------------------
inline constexpr const char* kDefaultTemplate = "qn0001.fct";

struct CoverInputs {
  std::string templateName = kDefaultTemplate;  // a file name in the Covers folder, no folder part
  std::string flags;                            // "X" or blank for each of the five flags
  std::vector<std::string> message;             // the message lines as typed
};

// Line 1 the template's file name (only its name part is kept; a name that is
// empty, "." or ".." leaves the default), line 2 the flags text, then the message.
CoverInputs ParseCoverData(std::string_view bytes);
std::string SerializeCoverData(const CoverInputs& in);
// False when the file does not exist or cannot be read; `in` is then untouched.
bool ReadCoverDataFile(const std::string& path, CoverInputs& in);
bool WriteCoverDataFile(const std::string& path, const CoverInputs& in);

// Five characters, "X" for set and a blank for clear; ParseFlags accepts only
// exactly five characters (anything else leaves every flag clear).
std::string FlagsText(const std::array<bool, 5>& flags);
std::array<bool, 5> ParseFlags(const std::string& text);

// ---- job description (".JFD") ----------------------------------------------------
inline constexpr std::size_t kMaxJobDescriptionBytes = 4096;

struct JobDescription {
  std::string phone, recipient, subject;
};
// Three lines: fax number, recipient, subject (more lines are ignored). Refused
// with a reason: larger than kMaxJobDescriptionBytes, control characters other
// than tab and line ends, fewer than three lines.
bool ParseJobDescription(std::string_view bytes, JobDescription& out, std::string& why);

// ---- QNPD.INI --------------------------------------------------------------------
inline constexpr const char* kHandOffFileName = "QNPD.INI";
// Writes section Location of HandOffFolder() + "QNPD.INI": QNOutPath = the SEND
// folder with a trailing "/", QNExecutable = the program file. False on failure.
bool WriteHandOffFile(const std::string& executable);

}  // namespace faxprep
