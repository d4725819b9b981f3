// Which fax file a record's fax is, shared by viewing and printing.
//
// Conventions: the record is the current one of the table handle given (outgoing
// table: FAXCOVER and FAXDOC in the send folder; received table: FAXFILE in the
// receive folder). A chosen file that joins cover and body is a temporary file in
// the program folder, removed when the ChosenFaxFile goes out of scope.
#pragma once

#include <QString>
#include <string>

#include "xbase/xb_table.h"

namespace qn {

class ChosenFaxFile {
 public:
  ChosenFaxFile() = default;
  ChosenFaxFile(std::string path, bool temporary) : path_(std::move(path)), temporary_(temporary) {}
  ChosenFaxFile(ChosenFaxFile&& other) noexcept;
  ChosenFaxFile& operator=(ChosenFaxFile&& other) noexcept;
  ChosenFaxFile(const ChosenFaxFile&) = delete;
  ChosenFaxFile& operator=(const ChosenFaxFile&) = delete;
  ~ChosenFaxFile();  // removes a temporary file

  const std::string& path() const { return path_; }
  bool empty() const { return path_.empty(); }
  bool temporary() const { return temporary_; }

 private:
  std::string path_;
  bool temporary_ = false;
};

// The fax file of the current record: a received fax's file; an outgoing fax's
// cover and body joined into a new temporary file when it has both, else the
// one it has. Empty when the record names no existing file. A failed join still
// hands on the temporary name (the viewer then reports that it cannot open it).
ChosenFaxFile ChooseFaxFile(const xb::Table& table, bool outgoing);

// The heading of the current record: "To: " + recipient + 13 blanks + "Sent: " +
// date and time, or "From: " + sender + 13 blanks + "Received: " + date and time.
QString FaxHeadingText(const xb::Table& table, bool outgoing);

}  // namespace qn
