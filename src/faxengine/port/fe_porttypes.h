// Types shared by the serial port component, its dispatcher and the engines that
// register trigger handlers on it.
#pragma once

#include <cstdint>
#include <functional>

namespace fe {

enum TDeviceLayer { dlWin16, dlFossil, dlWin32, dlWinsock };
enum TParity { pNone, pOdd, pEven, pMark, pSpace };
enum TSWFlowOptions { swfNone, swfReceive, swfTransmit, swfBoth };
enum TTraceLogState { tlOff, tlOn, tlDump, tlAppend, tlClear, tlPause };
enum TTapiMode { tmNone, tmAuto, tmOn, tmOff };

// HWFlowOptions is a set of these bits.
enum THWFlowOption : unsigned {
  hwfUseDTR = 1u << 0,
  hwfUseRTS = 1u << 1,
  hwfRequireDSR = 1u << 2,
  hwfRequireCTS = 1u << 3,
};
using THWFlowOptions = unsigned;

// Trigger messages delivered to handlers and to the component's events.
enum TTriggerMessage : unsigned {
  kTriggerAvail = 32257,   // wParam: bytes newly available
  kTriggerData = 32258,    // wParam: handle of the data trigger that matched
  kTriggerTimer = 32259,   // wParam: handle of the expired timer trigger
  kTriggerStatus = 32260,  // wParam: handle of the status trigger; lParam: the condition's value
  kPortClosing = 32266,    // lParam: 0 when closed on request, else the negative error that ended the port
};

// Kinds of status trigger.
enum TStatusTriggerKind : unsigned {
  stModem = 1,        // a modem line in the trigger's mask changed (lParam: modem status bits)
  stLine = 2,         // a line error in the trigger's mask occurred (lParam: line error bits)
  stOutBuffFree = 3,  // output buffer free space reached the trigger's level
  stOutBuffUsed = 4,  // output buffer use fell to the trigger's level
  stOutSent = 5,      // every queued byte has left the port
};

// Modem status bits (as a UART's modem status register).
enum TModemStatusBit : unsigned {
  msCTS = 0x10,
  msDSR = 0x20,
  msRI = 0x40,
  msDCD = 0x80,
};

// Line error bits.
enum TLineErrorBit : unsigned {
  leOverrun = 0x02,
  leParity = 0x04,
  leFraming = 0x08,
  leBreak = 0x10,
};

// A trigger handler procedure. It runs on the port's dispatch thread and must not
// block; it may call any operation of the port (send, read, add or set triggers).
using TTriggerHandler = std::function<void(unsigned msg, unsigned wParam, long lParam)>;

}  // namespace fe
