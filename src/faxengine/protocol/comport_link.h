// TFaxLink over the serial port component: an available trigger for input, one
// timer trigger, three status triggers (output free, output used, all sent) and
// the port-closing notice, all delivered on the port's dispatch thread.
#pragma once

#include "fax_link.h"
#include "fe_comport.h"

namespace fe {

// What a fax component sets on its port when it is created: 8 data bits, 1 stop
// bit, no parity, 19200 baud, 8192-byte buffers, RTS/CTS flow control.
void ConfigureFaxPort(TFeComPort& port);

class TComPortLink final : public TFaxLink {
 public:
  explicit TComPortLink(TFeComPort& port) : port_(port) {}
  ~TComPortLink() override { Detach(); }

  int Attach(TFaxLinkHandler* h) override;
  void Detach() override;
  int Write(const void* data, size_t n) override;
  size_t Read(void* buf, size_t max) override;
  size_t OutFree() override;
  size_t OutUsed() override;
  void FlushIn() override { port_.FlushInBuffer(); }
  void FlushOut() override { port_.FlushOutBuffer(); }
  void SetTimer(long ticks) override;
  void WatchOutFree(size_t bytes) override;
  void WatchOutUsed(size_t level) override;
  void WatchOutEmpty(bool on) override;
  void SetSoftwareFlow(bool on) override;
  void SetDTR(bool on) override { port_.SetDTR(on); }
  bool IsOpen() override { return port_.Open(); }
  int Baud() override { return static_cast<int>(port_.Baud()); }
  void SetBaud(int baud) override { port_.SetBaud(baud); }
  void DebugLog(const std::string& text) override { port_.AddLogEntry("Fax", text, 0, 0); }

  TFeComPort& Port() { return port_; }

 private:
  void AddTriggers();
  void Trigger(unsigned msg, unsigned wParam, long lParam);

  TFeComPort& port_;
  TFaxLinkHandler* handler_ = nullptr;
  int handlerId_ = 0;
  int avail_ = 0, timer_ = 0, outFree_ = 0, outUsed_ = 0, outSent_ = 0;
};

}  // namespace fe
