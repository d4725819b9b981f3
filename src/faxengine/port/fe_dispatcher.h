// The dispatcher behind an open port: the device descriptor, three threads, the
// input and output rings and the trigger lists.
//
//   event thread     poll() on the device and a wake-up pipe; on input it wakes the
//                    dispatch thread and waits until that has read it (lock-step);
//                    watches modem lines and line errors where the driver has them.
//   dispatch thread  waits for the event thread with a 50 ms time-out; reads input
//                    into the ring, matches data triggers byte by byte, fires
//                    available, data, timer and status triggers by calling the
//                    delivery function. Trigger handlers run here.
//   output thread    writes the output ring to the device as it fills.
//
// A device that fails (unplugged, the far end of a pseudo-terminal closed) ends all
// three threads; the port-closing notice then carries the error.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <vector>

#include "fe_portsettings.h"
#include "fe_ring.h"
#include "fe_triggers.h"

namespace fe {

class TFeTraceLog;

class TFeDispatcher {
 public:
  using DeliverFn = std::function<void(unsigned msg, unsigned wParam, long lParam)>;

  // Takes ownership of the open descriptor `fd`.
  TFeDispatcher(int fd, std::string device, const TPortSettings& settings, TFeTraceLog* traceLog, DeliverFn deliver);
  ~TFeDispatcher();  // stops the threads (without a closing notice) and closes the device
  TFeDispatcher(const TFeDispatcher&) = delete;
  TFeDispatcher& operator=(const TFeDispatcher&) = delete;

  // Starts the event, dispatch and output threads in that order, each signalling
  // readiness within 3000 ms. Returns 0, or -ecAlreadyOpen when already started.
  int Start();
  // Delivers the port-closing notice on the dispatch thread, then stops and joins
  // the threads. Called on the dispatch thread itself it only asks the threads to
  // stop; the destructor joins them.
  // `pump` runs the caller's pending events while it waits for the notice.
  void Stop(const std::function<void()>& pump = {});
  bool Running() const { return running_.load(); }
  bool Lost() const { return lostError_.load() != 0; }
  int LostError() const { return lostError_.load(); }
  bool OnDispatchThread() const { return std::this_thread::get_id() == dispatchId_.load(); }
  const std::string& Device() const { return device_; }
  int Descriptor() const { return fd_; }

  // Line settings applied to the open device at once.
  int Reconfigure(const TPortSettings& settings);
  int SetLines(bool dtr, bool rts);
  int ModemStatus() const;

  // Triggers (see TTriggerSet).
  int AddDataTrigger(std::string_view text, bool ignoreCase);
  int AddTimerTrigger();
  int SetTimerTrigger(int handle, long ticks, bool activate);
  int AddStatusTrigger(unsigned kind);
  int SetStatusTrigger(int handle, unsigned value, bool activate);
  int AddAvailTrigger(unsigned threshold);
  int RemoveTrigger(int handle);
  // Moves the trigger lists out (before a reopen) and in (after it).
  TTriggerSet TakeTriggers();
  void GiveTriggers(TTriggerSet triggers);

  // Input.
  int CharReady();
  int GetChar();
  int PeekChar(std::size_t index);
  int GetBlock(void* data, std::size_t length, bool consume);
  int InBuffFree();
  int FlushIn();
  // Waits until input is available or `until` passes (not on the dispatch thread).
  bool WaitInput(std::chrono::steady_clock::time_point until);

  // Output.
  int PutBlock(const void* data, std::size_t length);
  int OutBuffUsed();
  int OutBuffFree();
  int FlushOut();

 private:
  void EventThread();
  void DispatchThread();
  void OutputThread();
  void ServiceInput();
  void CheckTimers();
  void CheckStatus();
  void SetLost(int error);
  static void Wake(int pipeWriteFd);
  void UpdateThrottle();  // with inMu_ held
  std::size_t FullMark() const;
  void DeliverEvents(std::vector<std::tuple<unsigned, unsigned, long>>& events);

  int fd_;
  std::string device_;
  TFeTraceLog* traceLog_;
  DeliverFn deliver_;

  std::mutex inMu_;  // input ring, trigger lists, settings, signal flags
  std::condition_variable dispatchCv_;
  std::condition_variable eventCv_;
  std::condition_variable inputCv_;
  TByteRing in_;
  TTriggerSet triggers_;
  TPortSettings settings_;
  unsigned availPending_ = 0;  // new bytes not yet reported by an available event
  bool signalled_ = false;     // event thread -> dispatch thread: input or line change
  bool processed_ = true;      // dispatch thread -> event thread: done with the signal
  bool throttled_ = false;     // input ring above BufferFull: device not read
  bool closeRequested_ = false;
  bool rearm_ = false;  // a timer was set: recompute the dispatch wait
  unsigned modemStatus_ = 0;
  unsigned lineErrors_ = 0;  // errors seen since the last status check

  std::mutex outMu_;  // output ring
  std::condition_variable outCv_;
  TByteRing out_;
  bool flushOut_ = false;
  std::uint64_t outGeneration_ = 0;  // bumped by a flush, so a write in flight is not discarded twice

  std::atomic<bool> stop_{false};
  std::atomic<bool> running_{false};
  std::atomic<bool> started_{false};
  std::atomic<bool> dispatchDone_{false};
  std::atomic<int> lostError_{0};
  std::atomic<std::thread::id> dispatchId_{};
  int eventWake_[2] = {-1, -1};   // wakes the event thread's poll
  int outputWake_[2] = {-1, -1};  // wakes the output thread's poll
  std::thread eventThread_, dispatchThread_, outputThread_;
  std::chrono::steady_clock::time_point opened_;
};

}  // namespace fe
