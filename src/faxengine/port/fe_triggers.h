// The trigger lists of a dispatcher: data triggers matched byte by byte, timer
// triggers with expiry times, status triggers with kinds and levels, and the
// "available" thresholds. Not locked: the dispatcher holds its input mutex.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fe {

class TTriggerSet {
 public:
  using Clock = std::chrono::steady_clock;

  struct Data {
    int handle;
    std::string text;
    bool ignoreCase;
    std::vector<std::size_t> fail;  // longest proper border of each prefix
    std::size_t pos = 0;            // bytes of `text` matched so far
  };
  struct Timer {
    int handle;
    bool active = false;
    Clock::time_point expiry{};
  };
  struct Status {
    int handle;
    unsigned kind;
    unsigned value = 0;
    bool active = false;
    unsigned baseline = 0;  // modem status when armed (kind 1)
  };
  struct Avail {
    int handle;
    unsigned threshold;
  };

  static constexpr std::size_t kMaxDataLength = 255;
  static constexpr std::size_t kMaxTriggers = 1000;

  // Each returns a positive handle or a negative error (-ecTriggerTooLong,
  // -ecNoMoreTriggers, -ecBadArgument).
  int AddData(std::string_view text, bool ignoreCase);
  int AddTimer();
  int AddStatus(unsigned kind);
  int AddAvail(unsigned threshold);
  int Remove(int handle);  // 0 or -ecBadTriggerHandle
  int SetTimer(int handle, Clock::time_point expiry, bool activate);
  int SetStatus(int handle, unsigned value, bool activate, unsigned modemStatus);

  // Advances every data trigger by one input byte and appends the handles of the
  // triggers that now match, last added first.
  void Feed(std::uint8_t byte, std::vector<int>& matched);
  // Lowest active "available" threshold, 0 when none.
  unsigned AvailThreshold() const;
  // Appends and disarms the timers that have expired by `now`.
  void Expired(Clock::time_point now, std::vector<int>& fired);
  // Earliest active timer expiry.
  std::optional<Clock::time_point> NextExpiry() const;

  std::vector<Status>& StatusTriggers() { return status_; }
  bool Empty() const { return data_.empty() && timers_.empty() && status_.empty() && avail_.empty(); }
  std::size_t Count() const { return data_.size() + timers_.size() + status_.size() + avail_.size(); }
  // Forgets the match progress of every data trigger (input flushed).
  void ResetMatches();

 private:
  int NewHandle();
  int nextHandle_ = 1;
  std::vector<Data> data_;
  std::vector<Timer> timers_;
  std::vector<Status> status_;
  std::vector<Avail> avail_;
};

}  // namespace fe
