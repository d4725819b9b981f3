#include "sessions/secret_store.h"

#include <fcntl.h>
#include <libsecret/secret.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "common/folders.h"

namespace qn {
namespace {

const SecretSchema* Schema() {
  static const SecretSchema schema = [] {
    SecretSchema s{};
    s.name = "org.quillon.SipAccount";
    s.flags = SECRET_SCHEMA_NONE;
    s.attributes[0].name = "account";
    s.attributes[0].type = SECRET_SCHEMA_ATTRIBUTE_STRING;
    return s;
  }();
  return &schema;
}

// A secret store is used only where a session bus is known: asking for one
// elsewhere would start a bus of its own.
bool UseDesktopStore() {
  const char* choice = std::getenv("QUILLON_SECRET_STORE");
  if (choice && std::strcmp(choice, "file") == 0) return false;
  const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (!bus || !*bus) return false;
  GError* error = nullptr;
  SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &error);
  if (error) g_error_free(error);
  if (!service) return false;
  g_object_unref(service);
  return true;
}

std::string SecretsFile() { return ProgramFolder() + "sip-secrets"; }

bool ValidPassword(const std::string& s) {
  return s.find_first_of(std::string("\0\r\n", 3)) == std::string::npos;
}

// The file's lines: account, a tab, password.
std::vector<std::pair<std::string, std::string>> ReadFile() {
  std::vector<std::pair<std::string, std::string>> entries;
  std::ifstream in(SecretsFile(), std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    const size_t tab = line.find('\t');
    if (tab != std::string::npos) entries.emplace_back(line.substr(0, tab), line.substr(tab + 1));
  }
  return entries;
}

bool WriteFile(const std::vector<std::pair<std::string, std::string>>& entries, std::string* error) {
  const std::string path = SecretsFile();
  const std::string temp = path + ".new";
  ::unlink(temp.c_str());
  // Created 0600 from the start: the password is never readable by others, not
  // even for a moment.
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (error) *error = temp + ": " + std::strerror(errno);
    return false;
  }
  std::string text;
  for (const auto& [account, password] : entries) text += account + '\t' + password + '\n';
  bool ok = ::fchmod(fd, 0600) == 0;
  for (size_t done = 0; ok && done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  ok = ::fsync(fd) == 0 && ok;
  ok = ::close(fd) == 0 && ok;
  if (ok) ok = ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) {
    if (error) *error = path + ": " + std::strerror(errno);
    ::unlink(temp.c_str());
  }
  return ok;
}

}  // namespace

std::string SecretStoreName() {
  return UseDesktopStore() ? std::string("the desktop's secret store") : SecretsFile();
}

std::string LoadSipPassword(const std::string& account) {
  if (UseDesktopStore()) {
    GError* error = nullptr;
    gchar* found = secret_password_lookup_sync(Schema(), nullptr, &error, "account", account.c_str(), nullptr);
    if (error) g_error_free(error);
    std::string password = found ? found : "";
    if (found) secret_password_free(found);
    return password;
  }
  for (const auto& [name, password] : ReadFile())
    if (name == account) return password;
  return {};
}

bool StoreSipPassword(const std::string& account, const std::string& password, std::string* error) {
  if (account.empty() || account.find_first_of("\t\r\n") != std::string::npos || !ValidPassword(password)) {
    if (error) *error = "A password or account name may not hold a line break or a tab.";
    return false;
  }
  if (UseDesktopStore()) {
    GError* failure = nullptr;
    bool ok;
    if (password.empty()) {
      secret_password_clear_sync(Schema(), nullptr, &failure, "account", account.c_str(), nullptr);
      ok = !failure;
    } else {
      const std::string label = "Quillon SIP account " + account;
      ok = secret_password_store_sync(Schema(), SECRET_COLLECTION_DEFAULT, label.c_str(), password.c_str(), nullptr,
                                      &failure, "account", account.c_str(), nullptr);
    }
    if (failure) {
      if (error) *error = failure->message;
      g_error_free(failure);
      ok = false;
    }
    return ok;
  }
  auto entries = ReadFile();
  std::erase_if(entries, [&](const auto& e) { return e.first == account; });
  if (!password.empty()) entries.emplace_back(account, password);
  return WriteFile(entries, error);
}

}  // namespace qn
