// What the fax engines need from a serial port, as one small interface. The
// port component's adapter (comport_link.cpp) implements it over TFeComPort's
// triggers; events arrive on the port's dispatch thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "fe_ticks.h"

namespace fe {

enum class TLinkEvent {
  Data,      // input bytes are waiting
  Timer,     // the engine's timer expired
  OutFree,   // the output buffer has the free space asked for
  OutUsed,   // the output buffer's use fell to the level asked for
  OutEmpty,  // everything written has been sent
  Closing,   // the port is about to close (or vanished)
};

class TFaxLinkHandler {
 public:
  virtual ~TFaxLinkHandler() = default;
  virtual void LinkEvent(TLinkEvent ev) = 0;
};

class TFaxLink {
 public:
  virtual ~TFaxLink() = default;

  // Starts and stops delivering events to h (one handler at a time).
  virtual int Attach(TFaxLinkHandler* h) = 0;
  virtual void Detach() = 0;

  // Queues bytes for output; 0 or a negative error code (nothing queued when the
  // buffer cannot take them all).
  virtual int Write(const void* data, size_t n) = 0;
  // Moves up to max waiting input bytes into buf; returns the count.
  virtual size_t Read(void* buf, size_t max) = 0;
  virtual size_t OutFree() = 0;
  virtual size_t OutUsed() = 0;
  virtual void FlushIn() = 0;
  virtual void FlushOut() = 0;

  // One timer for the engine, in ticks of 92/1675 s; 0 stops it.
  virtual void SetTimer(long ticks) = 0;
  // Asks for one OutFree event once free space reaches bytes (0 cancels).
  virtual void WatchOutFree(size_t bytes) = 0;
  // Asks for one OutUsed event once the bytes queued fall to level (0 cancels).
  virtual void WatchOutUsed(size_t level) = 0;
  // Asks for one OutEmpty event once all output has gone (false cancels).
  virtual void WatchOutEmpty(bool on) = 0;

  virtual void SetDTR(bool on) = 0;
  // Output paced by the modem's XON/XOFF (on) or by hardware flow only (off).
  virtual void SetSoftwareFlow(bool on) = 0;
  virtual bool IsOpen() = 0;
  virtual int Baud() = 0;
  virtual void SetBaud(int baud) = 0;
  // A line for the port's debug log (state changes and the engines' notes).
  virtual void DebugLog(const std::string& text) = 0;
};

}  // namespace fe
