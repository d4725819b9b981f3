// The fax engines' view of the serial port; see comport_link.h.
#include "comport_link.h"

#include <algorithm>

#include "fe_errors.h"

namespace fe {

void ConfigureFaxPort(TFeComPort& port) {
  port.SetDataBits(8);
  port.SetStopBits(1);
  port.SetParity(pNone);
  port.SetBaud(19200);
  port.SetInSize(8192);
  port.SetOutSize(8192);
  port.SetHWFlowOptions(hwfUseRTS | hwfRequireCTS);
}

void TComPortLink::AddTriggers() {
  // Triggers live with the open port: add them again after the port reopened.
  if (avail_ > 0 || !port_.Open()) return;
  avail_ = port_.AddAvailTrigger(1);
  timer_ = port_.AddTimerTrigger();
  outFree_ = port_.AddStatusTrigger(stOutBuffFree);
  outUsed_ = port_.AddStatusTrigger(stOutBuffUsed);
  outSent_ = port_.AddStatusTrigger(stOutSent);
}

int TComPortLink::Attach(TFaxLinkHandler* h) {
  if (!port_.Open()) return -ecNotOpen;
  handler_ = h;
  AddTriggers();
  if (handlerId_ == 0) {
    handlerId_ = port_.RegisterTriggerHandler(
        [this](unsigned msg, unsigned wParam, long lParam) { Trigger(msg, wParam, lParam); });
  }
  return handlerId_ > 0 ? 0 : handlerId_;
}

void TComPortLink::Detach() {
  if (handlerId_ > 0) port_.DeregisterTriggerHandler(handlerId_);
  handlerId_ = 0;
  for (int* t : {&avail_, &timer_, &outFree_, &outUsed_, &outSent_}) {
    if (*t > 0 && port_.Open()) port_.RemoveTrigger(*t);
    *t = 0;
  }
  handler_ = nullptr;
}

void TComPortLink::Trigger(unsigned msg, unsigned wParam, long lParam) {
  (void)lParam;
  TFaxLinkHandler* h = handler_;
  if (!h) return;
  const int handle = static_cast<int>(wParam);
  switch (msg) {
    case kTriggerAvail:
      h->LinkEvent(TLinkEvent::Data);
      break;
    case kTriggerData:
      break;
    case kTriggerTimer:
      if (handle == timer_) h->LinkEvent(TLinkEvent::Timer);
      break;
    case kTriggerStatus:
      if (handle == outFree_)
        h->LinkEvent(TLinkEvent::OutFree);
      else if (handle == outUsed_)
        h->LinkEvent(TLinkEvent::OutUsed);
      else if (handle == outSent_)
        h->LinkEvent(TLinkEvent::OutEmpty);
      break;
    case kPortClosing:
      avail_ = timer_ = outFree_ = outUsed_ = outSent_ = 0;
      h->LinkEvent(TLinkEvent::Closing);
      break;
    default:
      break;
  }
}

int TComPortLink::Write(const void* data, size_t n) {
  int rc = port_.PutBlock(data, n);
  return rc < 0 ? rc : 0;
}

size_t TComPortLink::Read(void* buf, size_t max) {
  int ready = port_.CharReady();
  if (ready <= 0) return 0;
  size_t n = std::min(static_cast<size_t>(ready), max);
  return port_.GetBlock(buf, n) < 0 ? 0 : n;
}

size_t TComPortLink::OutFree() {
  int n = port_.OutBuffFree();
  return n < 0 ? 0 : static_cast<size_t>(n);
}

size_t TComPortLink::OutUsed() {
  int n = port_.OutBuffUsed();
  return n < 0 ? 0 : static_cast<size_t>(n);
}

void TComPortLink::SetTimer(long ticks) {
  if (timer_ > 0) port_.SetTimerTrigger(timer_, ticks, ticks > 0);
}

void TComPortLink::SetSoftwareFlow(bool on) {
  port_.SetSWFlowOptions(on ? swfTransmit : swfNone);
}

void TComPortLink::WatchOutFree(size_t bytes) {
  if (outFree_ > 0) port_.SetStatusTrigger(outFree_, static_cast<unsigned>(bytes), bytes > 0);
}

void TComPortLink::WatchOutUsed(size_t level) {
  if (outUsed_ > 0) port_.SetStatusTrigger(outUsed_, static_cast<unsigned>(level), level > 0);
}

void TComPortLink::WatchOutEmpty(bool on) {
  if (outSent_ > 0) port_.SetStatusTrigger(outSent_, 0, on);
}

}  // namespace fe
