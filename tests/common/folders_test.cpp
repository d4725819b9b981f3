// The way from a file name held in a record to a path: only a plain name inside
// the folder is taken; anything that could reach outside it names no file.
#include "common/folders.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

struct Folder {
  Folder() {
    path = (fs::temp_directory_path() / ("qn-folders-" + std::to_string(::getpid()))).string();
    fs::remove_all(path);
    fs::create_directories(path + "/SEND");
    std::ofstream(path + "/SEND/FAX00001.APF") << "x";
    std::ofstream(path + "/OUTSIDE.APF") << "x";
  }
  ~Folder() { fs::remove_all(path); }
  std::string path;
};

TEST(FileNames, OnlyPlainNamesArePlain) {
  for (const std::string name :
       {"FAX00001.APF", "fax 1.apf", "...", ".hidden", "a..b", "NAME WITH SPACES", "\xc3\xa9t\xc3\xa9.APF"})
    EXPECT_TRUE(qn::IsPlainFileName(name)) << name;
  const std::string refused[] = {
      "",      ".",         "..",   "a/b",       "../x",   "x/..",       "/etc/passwd", "/",
      "SEND/", "./FAX.APF", "a\nb", "tab\there", "bell\a", "esc\x1b[0m", "del\x7f",     std::string("nul\0x", 5),
      "\r"};
  for (const std::string& name : refused) EXPECT_FALSE(qn::IsPlainFileName(name)) << name;
}

TEST(FileNames, FileInFolderStaysInsideTheFolder) {
  Folder f;
  const std::string send = f.path + "/SEND";
  // Found whatever the letter case, with or without the folder's slash.
  EXPECT_EQ(qn::FileInFolder(send, "FAX00001.APF"), send + "/FAX00001.APF");
  EXPECT_EQ(qn::FileInFolder(send + "/", "fax00001.apf"), send + "/FAX00001.APF");
  // A plain name of a file not there yet still names its place in the folder.
  EXPECT_EQ(qn::FileInFolder(send, "NEW.APF"), send + "/NEW.APF");
  // Nothing that leaves the folder or names the folder itself.
  for (const std::string name :
       {"../OUTSIDE.APF", "..", ".", "", "/etc/passwd", "SEND/../../x", "a/b", "FAX00001.APF\n", "\x01"})
    EXPECT_EQ(qn::FileInFolder(send, name), "") << name;
}

}  // namespace
