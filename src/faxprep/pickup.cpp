#include "pickup.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "apf_reader.h"
#include "common/folders.h"
#include "covers/cover_render.h"
#include "covers/cover_template.h"
#include "fe_document_child.h"
#include "prep_files.h"
#include "records/ui/record_grid.h"

namespace faxprep {

namespace {

constexpr std::size_t kFaxDocWidth = 12;

bool EndsWithNoCase(const std::string& s, const std::string& suffix) {
  if (s.size() < suffix.size()) return false;
  return std::equal(suffix.begin(), suffix.end(), s.end() - static_cast<std::ptrdiff_t>(suffix.size()),
                    [](char lower, char c) { return std::tolower(static_cast<unsigned char>(c)) == lower; });
}

std::string RealFolder(const std::string& folder) {
  char buf[PATH_MAX];
  if (!::realpath(folder.c_str(), buf)) return {};
  return buf;
}

// A regular file (not a link) whose real folder is the SEND folder.
bool InsideSend(const std::string& path, const std::string& realSend) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  char buf[PATH_MAX];
  if (!::realpath(path.c_str(), buf)) return false;
  const std::string real = buf;
  return real.size() > realSend.size() && real.compare(0, realSend.size(), realSend) == 0 &&
         real[realSend.size()] == '/' && real.find('/', realSend.size() + 1) == std::string::npos;
}

bool IsFaxFile(const std::string& path) {
  fe::TApfReader reader;
  return reader.Open(path) == 0 && reader.PageCount() > 0;
}

QString Problem(const std::string& jfdName, const QString& why) {
  return QStringLiteral("The printed fax \"%1\" was not picked up: %2.").arg(QString::fromStdString(jfdName), why);
}

QString FieldText(const std::string& bytes) {
  return covers::DecodeText(bytes);
}

}  // namespace

PickUpReport PickUpPrintedFaxes(xb::Table& fax) {
  static bool running = false;
  PickUpReport report;
  if (running) return report;
  running = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{running};

  const std::string send = qn::ResolvePath(qn::SendFolder());
  const std::string realSend = RealFolder(send);
  // Work files of print jobs and conversions that were killed before they could
  // clean up: a hidden ".qnprint-" copy in SEND may be as large as the job.
  if (!realSend.empty()) report.swept = fe::SweepStaleWorkFiles(realSend, ".qnprint-");
  report.swept += fe::SweepStaleWorkFiles(fe::WorkTempFolder(), "qnps-");
  DIR* dir = realSend.empty() ? nullptr : ::opendir(send.c_str());
  if (!dir) return report;
  std::vector<std::string> names;
  while (dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (EndsWithNoCase(name, ".jfd")) names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());

  for (const std::string& jfdName : names) {
    ++report.found;
    const std::string jfd = send + jfdName;
    const std::string apfName = jfdName.substr(0, jfdName.size() - 4) + ".APF";
    const std::string apf = qn::ResolvePath(send + apfName);
    if (!InsideSend(jfd, realSend)) {
      report.problems << Problem(jfdName, QStringLiteral("it is not a plain file in the SEND folder"));
      continue;
    }
    if (!qn::FileExists(apf)) {
      report.problems << Problem(jfdName,
                                 QStringLiteral("its fax file %1 is missing").arg(QString::fromStdString(apfName)));
      continue;
    }
    if (!InsideSend(apf, realSend)) {
      report.problems << Problem(jfdName, QStringLiteral("its fax file is not a plain file in the SEND folder"));
      continue;
    }
    std::string bytes;
    JobDescription job;
    std::string why;
    if (!covers::ReadWholeFile(jfd, bytes, kMaxJobDescriptionBytes + 1)) {
      report.problems << Problem(jfdName, QStringLiteral("its description file cannot be read"));
      continue;
    }
    if (!ParseJobDescription(bytes, job, why)) {
      report.problems << Problem(jfdName, QString::fromStdString(why));
      continue;
    }
    if (!IsFaxFile(apf)) {
      report.problems << Problem(jfdName, QStringLiteral("%1 is not a fax file").arg(QString::fromStdString(apfName)));
      continue;
    }
    // The record names the document by its file name, which must fit the field.
    std::string doc = apf;
    if (qn::FileNameOnly(doc).size() > kFaxDocWidth) {
      const std::string renamed = qn::NewSendFileName("FAX");
      if (qn::FileExists(renamed) || std::rename(apf.c_str(), renamed.c_str()) != 0) {
        report.problems << Problem(jfdName, QStringLiteral("its fax file cannot be renamed"));
        continue;
      }
      doc = renamed;
    }
    auto undoRename = [&] {
      if (doc != apf) std::rename(doc.c_str(), apf.c_str());
    };
    if (fax.appendBlank() != 0) {
      undoRename();
      report.problems << Problem(jfdName, QStringLiteral("the record cannot be added"));
      continue;
    }
    fax.setString("FAXDOC", qn::FileNameOnly(doc));
    fax.setString("RECIPIENT", qn::ToField(FieldText(job.recipient)));
    fax.setString("SUBJECT", qn::ToField(FieldText(job.subject)));
    fax.setString("PHONE", qn::ToField(FieldText(job.phone)));
    if (fax.post() != 0) {
      fax.deleteRecord();
      undoRename();
      report.problems << Problem(jfdName, QStringLiteral("the record cannot be stored"));
      continue;
    }
    if (::unlink(jfd.c_str()) != 0) {
      // Kept, the description would make the same record again next time.
      fax.deleteRecord();
      undoRename();
      report.problems << Problem(jfdName, QStringLiteral("its description file cannot be removed"));
      continue;
    }
    ++report.added;
    report.made.append({QString::fromStdString(qn::FileNameOnly(doc)), fax.recNo()});
    if (job.phone.find_first_not_of(" \t") == std::string::npos) report.withoutNumber << fax.recNo();
  }
  return report;
}

}  // namespace faxprep
