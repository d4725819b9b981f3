// A virtual Class 1 fax modem: spandsp's T.31 modem in audio mode, in-process,
// behind the fax engines' TFaxLink. What the engine writes goes to the modem's
// AT interpreter, paced by the modem's CTS (its transmit buffer holds 4096
// bytes and drops what does not fit, so nothing is handed over while CTS is
// off); what the modem answers becomes the link's input. Events reach the
// engine on the link's own dispatch thread, as the serial link's do.
//
// The modem's audio and its call events come from the media session's thread
// (Audio, Ring, Connected, ...); the modem's requests to dial, answer and hang
// up go to a TModemCallControl, called while the modem is busy, so it must only
// take note and act on its next tick.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fax_link.h"

struct t31_state_s;

namespace fe::voip {

class TModemCallControl {
 public:
  virtual ~TModemCallControl() = default;
  virtual void ModemDial(const std::string& number) = 0;  // ATD
  virtual void ModemAnswer() = 0;                         // ATA
  virtual void ModemHangUp() = 0;                         // ATH, on-hook or DTR dropped
};

class TVirtualModem final : public TFaxLink {
 public:
  // outSize: the link's output buffer (what the engine may queue ahead of the
  // modem), as a serial port's would be.
  explicit TVirtualModem(TModemCallControl* control = nullptr, size_t outSize = 8192);
  ~TVirtualModem() override;
  TVirtualModem(const TVirtualModem&) = delete;
  TVirtualModem& operator=(const TVirtualModem&) = delete;

  // --- TFaxLink ---
  int Attach(TFaxLinkHandler* h) override;
  void Detach() override;
  int Write(const void* data, size_t n) override;
  size_t Read(void* buf, size_t max) override;
  size_t OutFree() override;
  size_t OutUsed() override;
  void FlushIn() override;
  void FlushOut() override;
  void SetTimer(long ticks) override;
  void WatchOutFree(size_t bytes) override;
  void WatchOutUsed(size_t level) override;
  void WatchOutEmpty(bool on) override;
  // Dropping DTR hangs up a call, as a modem set to AT&D2 does.
  void SetDTR(bool on) override;
  // The modem paces the engine by CTS alone; XON/XOFF would clash with binary frames.
  void SetSoftwareFlow(bool) override {}
  bool IsOpen() override { return open_; }
  int Baud() override { return baud_; }
  void SetBaud(int baud) override { baud_ = baud; }
  void DebugLog(const std::string& text) override;

  // --- the media session's side ---
  // One tick of audio: rx holds count samples for the modem's receiver, the
  // first `real` of them heard, the rest a gap the modem fills in; tx gets the
  // modem's count samples (silence where it has nothing to send).
  void Audio(const int16_t* rx, int real, int16_t* tx, int count);
  // Hands waiting output to the modem as far as CTS allows (every tick, in a
  // call or not).
  void Service();
  // Call events into the modem.
  void Ring(const std::string& callerNumber, const std::string& callerName = {});
  void Connected();  // the call we dialled is through
  void Answered();   // the call we answered is through
  // The call ended from the far side (or a dial failed): the modem goes back to
  // command mode and tells the engine with `result` ("NO CARRIER", "BUSY", ...).
  void CallEnded(const std::string& result = "NO CARRIER");
  // No more events: the engine gets Closing, the link reads as closed.
  void Close();

  // Lines for the call's trace: the engine's notes (DebugLog).
  void SetTrace(std::function<void(const std::string&)> trace);
  // spandsp's own log of the modem (to standard error), for finding faults.
  void SetModemLog(bool on);

  bool Cts() const { return cts_; }
  // Bytes the modem was handed and bytes it sent back, for tests and the trace.
  uint64_t BytesToModem() const { return toModem_; }
  uint64_t BytesFromModem() const { return fromModem_; }

 private:
  static int AtOutput(void* state, void* user, const uint8_t* buf, size_t len);
  static int ModemControl(t31_state_s* state, void* user, int op, const char* num);
  void Pump();  // modemMu_ held
  void AddInput(const uint8_t* data, size_t n);
  void DispatchLoop();
  void Notify();

  TModemCallControl* control_;
  const size_t outSize_;

  // The modem and what waits for it: modemMu_.
  std::mutex modemMu_;
  t31_state_s* t31_ = nullptr;
  std::vector<uint8_t> out_;
  size_t outOff_ = 0;
  std::atomic<size_t> outQueued_{0};
  std::atomic<bool> cts_{true};
  bool offHook_ = false;

  // Input, timer, watches, the handler: ioMu_ (never held while taking modemMu_).
  std::mutex ioMu_;
  std::condition_variable cv_;
  std::vector<uint8_t> in_;
  bool dataArmed_ = false;
  bool timerOn_ = false;
  std::chrono::steady_clock::time_point timerAt_;
  size_t watchFree_ = 0, watchUsed_ = 0;
  bool watchEmpty_ = false;
  bool closingDue_ = false;
  TFaxLinkHandler* handler_ = nullptr;
  bool delivering_ = false;
  bool stop_ = false;
  std::mutex traceMu_;
  std::function<void(const std::string&)> trace_;

  std::atomic<bool> open_{true};
  std::atomic<bool> dtr_{true};
  int baud_ = 19200;
  std::atomic<uint64_t> toModem_{0}, fromModem_{0};
  std::thread dispatch_;
};

}  // namespace fe::voip
