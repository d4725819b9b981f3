#include "fe_triggers.h"

#include <algorithm>
#include <cctype>

#include "fe_errors.h"

namespace fe {

namespace {
std::uint8_t Fold(std::uint8_t c, bool ignoreCase) {
  return ignoreCase ? static_cast<std::uint8_t>(std::toupper(c)) : c;
}
}  // namespace

int TTriggerSet::NewHandle() {
  if (Count() >= kMaxTriggers) return -ecNoMoreTriggers;
  return nextHandle_++;
}

int TTriggerSet::AddData(std::string_view text, bool ignoreCase) {
  if (text.empty()) return -ecBadArgument;
  if (text.size() > kMaxDataLength) return -ecTriggerTooLong;
  const int h = NewHandle();
  if (h < 0) return h;
  Data d{h, std::string(text), ignoreCase, {}, 0};
  if (ignoreCase)
    for (char& c : d.text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  // Border table, so that "the input ends with the text" holds even when a partial
  // match overlaps the real one (text "AAB", input "AAAB").
  d.fail.assign(d.text.size(), 0);
  for (std::size_t i = 1, k = 0; i < d.text.size(); ++i) {
    while (k > 0 && d.text[i] != d.text[k]) k = d.fail[k - 1];
    if (d.text[i] == d.text[k]) ++k;
    d.fail[i] = k;
  }
  data_.push_back(std::move(d));
  return h;
}

int TTriggerSet::AddTimer() {
  const int h = NewHandle();
  if (h > 0) timers_.push_back(Timer{h});
  return h;
}

int TTriggerSet::AddStatus(unsigned kind) {
  if (kind < 1 || kind > 5) return -ecBadArgument;
  const int h = NewHandle();
  if (h > 0) status_.push_back(Status{h, kind});
  return h;
}

int TTriggerSet::AddAvail(unsigned threshold) {
  const int h = NewHandle();
  if (h > 0) avail_.push_back(Avail{h, std::max(1u, threshold)});
  return h;
}

int TTriggerSet::Remove(int handle) {
  auto drop = [handle](auto& list) {
    auto it = std::find_if(list.begin(), list.end(), [handle](const auto& t) { return t.handle == handle; });
    if (it == list.end()) return false;
    list.erase(it);
    return true;
  };
  if (drop(data_) || drop(timers_) || drop(status_) || drop(avail_)) return 0;
  return -ecBadTriggerHandle;
}

int TTriggerSet::SetTimer(int handle, Clock::time_point expiry, bool activate) {
  for (auto& t : timers_) {
    if (t.handle != handle) continue;
    t.expiry = expiry;
    t.active = activate;
    return 0;
  }
  return -ecBadTriggerHandle;
}

int TTriggerSet::SetStatus(int handle, unsigned value, bool activate, unsigned modemStatus) {
  for (auto& s : status_) {
    if (s.handle != handle) continue;
    s.value = value;
    s.active = activate;
    s.baseline = modemStatus;
    return 0;
  }
  return -ecBadTriggerHandle;
}

void TTriggerSet::Feed(std::uint8_t byte, std::vector<int>& matched) {
  const std::size_t before = matched.size();
  for (auto& d : data_) {
    const char c = static_cast<char>(Fold(byte, d.ignoreCase));
    std::size_t k = d.pos;
    while (k > 0 && d.text[k] != c) k = d.fail[k - 1];
    if (d.text[k] == c) ++k;
    if (k == d.text.size()) {
      matched.push_back(d.handle);
      k = d.fail[k - 1];
    }
    d.pos = k;
  }
  std::reverse(matched.begin() + static_cast<std::ptrdiff_t>(before), matched.end());
}

unsigned TTriggerSet::AvailThreshold() const {
  unsigned best = 0;
  for (const auto& a : avail_)
    if (best == 0 || a.threshold < best) best = a.threshold;
  return best;
}

void TTriggerSet::Expired(Clock::time_point now, std::vector<int>& fired) {
  for (auto& t : timers_) {
    if (t.active && now >= t.expiry) {
      t.active = false;
      fired.push_back(t.handle);
    }
  }
}

std::optional<TTriggerSet::Clock::time_point> TTriggerSet::NextExpiry() const {
  std::optional<Clock::time_point> next;
  for (const auto& t : timers_)
    if (t.active && (!next || t.expiry < *next)) next = t.expiry;
  return next;
}

void TTriggerSet::ResetMatches() {
  for (auto& d : data_) d.pos = 0;
}

}  // namespace fe
