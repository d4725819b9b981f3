#include "send_job.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/fax_names.h"
#include "common/folders.h"
#include "fe_converter_core.h"
#include "fe_errors.h"

namespace faxprep {

namespace {

constexpr char kWorkPrefix[] = ".qnprint-";

// A full disk or quota passes: the caller may try again later.
bool PassingFailure(int err) {
  return err == ENOSPC || err == EDQUOT;
}

// A hidden work file in folder, named after this process so that a sweep can
// tell when it is left over.
bool MakeWorkFile(const std::string& folder, std::string& path) {
  path = folder + kWorkPrefix + std::to_string(::getpid()) + "-XXXXXX";
  const int fd = ::mkostemp(path.data(), O_CLOEXEC);
  if (fd < 0) {
    path.clear();
    return false;
  }
  ::close(fd);
  return true;
}

bool WriteFile(const std::string& path, const std::string& text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::write(fd, text.data(), text.size()) == ssize_t(text.size()) && ::fsync(fd) == 0;
  return ::close(fd) == 0 && ok;
}

// link() never replaces a file another writer made; on a file system without
// hard links a rename that never replaces does the same.
int PlaceFile(const std::string& from, const std::string& to, bool& moved) {
  moved = false;
  if (::link(from.c_str(), to.c_str()) == 0) return 0;
  if (errno == EEXIST) return EEXIST;
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    moved = true;
    return 0;
  }
  return errno;
}

}  // namespace

std::string DialableNumber(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (qn::IsDialCharacter(c) && out.size() < 40) out += c;
  }
  const std::size_t first = out.find_first_not_of(' '), last = out.find_last_not_of(' ');
  return first == std::string::npos ? std::string() : out.substr(first, last - first + 1);
}

std::string OneLine(const std::string& text) {
  std::string s;
  for (const char c : text) s += (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) ? ' ' : c;
  const std::size_t first = s.find_first_not_of(' '), last = s.find_last_not_of(' ');
  s = first == std::string::npos ? std::string() : s.substr(first, last - first + 1);
  if (s.size() > 80) {
    std::size_t cut = 80;
    while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;  // not inside a UTF-8 character
    s.resize(cut);
  }
  return s;
}

SendJob::SendJob(std::string sendFolder) : send_(std::move(sendFolder)) {
  if (!send_.empty() && send_.back() != '/') send_ += '/';
}

SendJob::~SendJob() {
  for (const std::string& work : {apfWork_, jfdWork_})
    if (!work.empty()) ::unlink(work.c_str());
}

bool SendJob::Fail(std::string why, bool retry) {
  message_ = std::move(why);
  retry_ = retry;
  return false;
}

bool SendJob::Convert(const DocumentInput& input, const std::string& phone, const std::string& recipient,
                      const std::string& subject) {
  // Files of earlier jobs that were killed before they could clean up.
  fe::SweepStaleWorkFiles(send_.substr(0, send_.size() - 1), kWorkPrefix);
  if (!MakeWorkFile(send_, apfWork_) || !MakeWorkFile(send_, jfdWork_)) {
    if (PassingFailure(errno)) return Fail("the disk holding " + send_ + " is full", true);
    return Fail("cannot write in " + send_);
  }
  fe::ChildDocumentReader reader(input.fd, input.kind, 1728, true, input.limits, input.stop);
  fe::TFaxConverterCore::Settings settings;
  settings.width = 1728;
  settings.highRes = true;
  settings.leftMargin = 0;
  settings.options = 0;
  fe::TFaxConverterCore core(settings);
  unsigned reported = 0;
  core.SetStatus([&](const fe::TConvertProgress& p) {
    // A page is done when the next one starts, and at the end.
    const unsigned done = p.ending ? p.pagesConverted : (p.pagesConverted > 0 ? p.pagesConverted - 1 : 0);
    if (input.pageDone && done > reported) {
      reported = done;
      input.pageDone(done, std::max(reader.pageCount(), done));
    }
    return input.stop && *input.stop;
  });
  if (int rc = core.Convert(reader, apfWork_)) {
    if (input.stop && *input.stop) {
      cancelled_ = true;
      return Fail("the conversion was cancelled");
    }
    if (!reader.errorText().empty()) return Fail(reader.errorText());
    if (rc == -fe::ecDiskFull) return Fail("the disk holding " + send_ + " is full", true);
    return Fail("the fax could not be made (error " + std::to_string(-rc) + ")");
  }
  pages_ = core.Progress().pagesConverted;
  // Number, recipient and subject, one line each; the program asks for what is
  // missing when it picks the fax up.
  const std::string jfd = DialableNumber(phone) + "\n" + OneLine(recipient) + "\n" + OneLine(subject) + "\n";
  if (!WriteFile(jfdWork_, jfd)) {
    if (PassingFailure(errno)) return Fail("the disk holding " + send_ + " is full", true);
    return Fail("cannot write the job description in " + send_);
  }
  if (input.stop && *input.stop) {
    cancelled_ = true;
    return Fail("the conversion was cancelled");
  }
  return true;
}

bool SendJob::Place() {
  if (apfWork_.empty() || jfdWork_.empty()) return Fail("there is no fax to place");
  for (unsigned n = 0; n <= 99999; ++n) {
    char base[16];
    std::snprintf(base, sizeof base, "FAX%05u", n);
    const std::string apf = send_ + base + ".APF", desc = send_ + base + ".JFD";
    if (qn::FileExists(apf) || qn::FileExists(desc)) continue;
    bool apfMoved = false, jfdMoved = false;
    int err = PlaceFile(apfWork_, apf, apfMoved);
    if (err == 0) {
      err = PlaceFile(jfdWork_, desc, jfdMoved);
      if (err != 0) {  // the fax file goes back where it was
        if (apfMoved)
          ::rename(apf.c_str(), apfWork_.c_str());
        else
          ::unlink(apf.c_str());
      }
    }
    if (err == EEXIST) continue;
    if (err != 0) {
      if (PassingFailure(err)) return Fail("the disk holding " + send_ + " is full", true);
      return Fail("the fax cannot be named in " + send_ + ": " + std::strerror(err));
    }
    // Linked: the work names go; moved: they are gone already.
    if (!apfMoved) ::unlink(apfWork_.c_str());
    if (!jfdMoved) ::unlink(jfdWork_.c_str());
    apfWork_.clear();
    jfdWork_.clear();
    apf_ = apf;
    jfd_ = desc;
    return true;
  }
  return Fail("the SEND folder " + send_ + " has no free fax file name");
}

}  // namespace faxprep
