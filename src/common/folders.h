// Where the program's files live, and the one resolver through which every
// file or folder name the program spells is looked up without regard to case.
#pragma once

#include <cstdint>
#include <string>

namespace qn {

// The program folder with a trailing "/": $QUILLON_HOME when set, else
// $XDG_DATA_HOME/quillon/, else ~/.local/share/quillon/. Created when missing.
std::string ProgramFolder();
// Forgets the cached program folder so the next call reads the environment again
// (tests switch QUILLON_HOME between cases).
void ResetProgramFolder();

std::string SettingsFile();   // program folder + "QN.INI"
// The device key COM<n> of [Ports] in the settings file gives port number
// `number`, read afresh each time (the modem finder's picks count at once); ""
// when the file names none. The session layer hands it to the port layer.
std::string PortDeviceFromSettings(unsigned number);
std::string SendFolder();     // program folder + "SEND/" (an existing Send/, send/ ... is used as it is)
std::string ReceiveFolder();  // program folder + "Receive/"
std::string CoversFolder();   // program folder + "Covers/"
// The folder that holds the printer-driver hand-off file: $XDG_CONFIG_HOME/quillon/
// (default ~/.config/quillon/).
std::string HandOffFolder();

// Finds an existing file or folder whatever the letter case of each component of
// the path: the first entry whose name equals the component without regard to
// case is taken (an exact match is preferred). Components that do not exist are
// kept as spelled, so the result is also the path to create. A trailing "/" is kept.
std::string ResolvePath(const std::string& path);
bool FileExists(const std::string& path);    // through ResolvePath
bool FolderExists(const std::string& path);  // exists and is a folder, through ResolvePath
// Removes a file whatever its letter case; false when nothing was removed.
bool DeleteFileCI(const std::string& path);

// A file that a record names inside one of the program's folders: the folder
// joined with the name, resolved whatever the letter case. Records come from
// files other programs may have written, so only a plain file name is taken
// ("FAX00001.APF"); a name with a "/", ".", ".." or a control character is
// treated as naming no file at all, and the result is then empty.
bool IsPlainFileName(const std::string& name);
std::string FileInFolder(const std::string& folder, const std::string& name);

// The folder of the program's read-only data (the help pages), with a
// trailing "/": $QUILLON_DATA when set; else the data folder at its installed place
// relative to the running program (<bindir>/../share/quillon for the usual layout,
// which the build tree mirrors); else the absolute folder of the installation.
// Never a path into the source or build tree.
std::string DataFolder();

// Creates the send and receive folders when missing; failures are ignored.
void MakeDataFolders();
// Drops one trailing "/", then creates the folder and any missing parents.
bool ForceFolder(const std::string& folder);

// Full path of an unused fax file: folder + prefix + five digits + ".APF", the
// counter running from 00000; 99999 when every name before it is taken.
std::string NewFaxFileName(const std::string& folder, const std::string& prefix);
std::string NewSendFileName(const std::string& prefix);  // in the send folder
std::string NewTempFileName(const std::string& prefix);  // in the program folder

// Copies source to destination in 2048-byte blocks. False when both name the
// same file (in any spelling: letter case, "./", links), when the source cannot
// be opened, the destination cannot be created, or a read or write fails
// part-way (the partial destination is then removed).
bool CopyFaxFile(const std::string& source, const std::string& destination);

// The name part of a path ("SEND/FAX00001.APF" -> "FAX00001.APF").
std::string FileNameOnly(const std::string& path);
// The path with its extension replaced ("X/COV00001.APF", ".fcd" -> "X/COV00001.fcd").
std::string ChangeFileExt(const std::string& path, const std::string& ext);

}  // namespace qn
