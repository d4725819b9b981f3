#include "fax_choice.h"

#include "common/fax_files.h"
#include "common/folders.h"
#include "records/ui/fax_actions.h"
#include "records/ui/record_grid.h"

namespace qn {

ChosenFaxFile::ChosenFaxFile(ChosenFaxFile&& other) noexcept
    : path_(std::move(other.path_)), temporary_(other.temporary_) {
  other.path_.clear();
  other.temporary_ = false;
}

ChosenFaxFile& ChosenFaxFile::operator=(ChosenFaxFile&& other) noexcept {
  if (this != &other) {
    if (temporary_ && !path_.empty()) DeleteFileCI(path_);
    path_ = std::move(other.path_);
    temporary_ = other.temporary_;
    other.path_.clear();
    other.temporary_ = false;
  }
  return *this;
}

ChosenFaxFile::~ChosenFaxFile() {
  if (temporary_ && !path_.empty()) DeleteFileCI(path_);
}

namespace {
bool HasRecord(const xb::Table& table) {
  return table.isOpen() && table.recNo() != table.recCount() + 1;
}

// The file a field names inside its folder, when it is a plain file name and the
// file exists.
std::string ExistingFile(const std::string& folder, const std::string& name) {
  const std::string path = FileInFolder(folder, name);
  return !path.empty() && FileExists(path) ? path : std::string();
}
}  // namespace

ChosenFaxFile ChooseFaxFile(const xb::Table& table, bool outgoing) {
  if (!HasRecord(table)) return {};
  if (!outgoing) return {ExistingFile(ReceiveFolder(), table.getTrimString("FAXFILE")), false};
  const std::string cover = ExistingFile(SendFolder(), table.getTrimString("FAXCOVER"));
  const std::string body = ExistingFile(SendFolder(), table.getTrimString("FAXDOC"));
  if (!cover.empty() && !body.empty()) {
    std::string joined = NewTempFileName("Temp");
    AppendFaxFile(joined, cover, body);  // a failure shows when the file is opened
    return {joined, true};
  }
  return {body.empty() ? cover : body, false};
}

QString FaxHeadingText(const xb::Table& table, bool outgoing) {
  const QString when = GetDatetimeAsString(table, outgoing);
  const QString gap(13, QLatin1Char(' '));
  if (outgoing)
    return QStringLiteral("To: ") + FromField(table.getTrimString("RECIPIENT")) + gap + QStringLiteral("Sent: ") + when;
  return QStringLiteral("From: ") + FromField(table.getTrimString("FROM")).trimmed() + gap +
         QStringLiteral("Received: ") + when;
}

}  // namespace qn
