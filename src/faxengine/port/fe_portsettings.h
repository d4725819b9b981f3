// Line settings of a serial port and the rules that tie them together.
#pragma once

#include "fe_porttypes.h"

namespace fe {

inline constexpr unsigned kInputRingSize = 8192;  // the dispatcher's input ring

struct TPortSettings {
  long baud = 19200;
  TParity parity = pNone;
  unsigned dataBits = 8;
  unsigned stopBits = 1;
  unsigned inSize = 4096;
  unsigned outSize = 4096;
  bool dtr = true;
  bool rts = true;
  THWFlowOptions hwFlow = 0;
  TSWFlowOptions swFlow = swfNone;
  char xonChar = 17;
  char xoffChar = 19;
  unsigned bufferFull = 0;
  unsigned bufferResume = 0;
  bool rs485 = false;
};

// With any hardware flow option set: a BufferFull of 0 or above InSize becomes 90%
// of InSize, a BufferResume of 0 or above BufferFull becomes 10% of InSize.
// RS485 mode is switched off by hwfUseRTS or hwfRequireCTS.
void NormaliseFlowThresholds(TPortSettings& s);

// 0 when the settings are valid line parameters, else -ecBaudRate (unsupported
// speed), -ecByteSize (data bits other than 5-8), -ecBadArgument (stop bits other
// than 1 or 2, buffers under 16 bytes).
int CheckLineSettings(const TPortSettings& s);

}  // namespace fe
