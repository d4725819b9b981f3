// INI files that are no settings files: a header tens of kilobytes long over
// thousands of lines, and a file of megabytes. Both must load at once in little
// memory, and a file too large to be settings is never written over.
#include "common/ini_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

fs::path Fresh(const std::string& name) {
  const fs::path dir = fs::path(QN_BINARY_DIR) / "test-output" / "ini" / name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir / "QN.INI";
}

// The process's peak resident memory so far, in KB.
long PeakResidentKb() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(IniFile, LongHeaderOverManyLinesLoadsAtOnce) {
  // 85 KB: one 40 KB section name, then 45,000 empty lines and a key at the end.
  const fs::path path = Fresh("bomb");
  const std::string name(40000, 'S');
  std::string text = "[" + name + "]\n" + std::string(45000, '\n') + "Key=value\n[Other]\nA=1\n";
  std::ofstream(path, std::ios::binary) << text;

  const long residentBefore = PeakResidentKb();
  const auto start = std::chrono::steady_clock::now();
  qn::IniFile ini(path.string());
  ASSERT_TRUE(ini.readable());
  EXPECT_EQ(ini.ReadString(name, "key", ""), "value");
  EXPECT_EQ(ini.ReadInteger("other", "A", 0), 1);
  ini.WriteString(name, "Added", "x");
  ini.WriteString("New", "B", "2");
  ASSERT_TRUE(ini.Flush());
  // Copying the header into every line took gigabytes and seconds; now it is
  // the file's size, well inside a second even in a sanitizer build.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_LT(PeakResidentKb() - residentBefore, 256 * 1024);

  // Every line kept, the new key at the end of its own section.
  const std::string back = Slurp(path);
  EXPECT_EQ(back, "[" + name + "]\n" + std::string(45000, '\n') + "Key=value\nAdded=x\n[Other]\nA=1\n\n[New]\nB=2\n");
  qn::IniFile again(path.string());
  EXPECT_EQ(again.ReadString(name, "ADDED", ""), "x");
  EXPECT_EQ(again.ReadString("new", "b", ""), "2");
}

TEST(IniFile, FileTooLargeForSettingsIsNeverWrittenOver) {
  const fs::path path = Fresh("large");
  std::string text = "[Program]\nName=Quillon\n";
  text += std::string(qn::IniFile::kMaxBytes, ';');
  std::ofstream(path, std::ios::binary) << text;

  qn::IniFile ini(path.string());
  EXPECT_FALSE(ini.readable());
  EXPECT_EQ(ini.ReadString("Program", "Name", "none"), "none");
  EXPECT_FALSE(qn::WriteProfileString(path.string(), "Program", "Name", "Other"));
  EXPECT_EQ(fs::file_size(path), text.size());
}

}  // namespace
