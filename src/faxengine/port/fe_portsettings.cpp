#include "fe_portsettings.h"

#include "fe_errors.h"

namespace fe {

void NormaliseFlowThresholds(TPortSettings& s) {
  if (s.hwFlow & (hwfUseRTS | hwfRequireCTS)) s.rs485 = false;
  if (s.hwFlow == 0) return;
  if (s.bufferFull == 0 || s.bufferFull > s.inSize) s.bufferFull = s.inSize * 9 / 10;
  if (s.bufferResume == 0 || s.bufferResume > s.bufferFull) s.bufferResume = s.inSize / 10;
}

int CheckLineSettings(const TPortSettings& s) {
  static constexpr long kBauds[] = {300,   600,   1200,   2400,   4800,   9600,  19200,
                                    38400, 57600, 115200, 230400, 460800, 921600};
  bool baudOk = false;
  for (long b : kBauds) baudOk = baudOk || b == s.baud;
  if (!baudOk) return -ecBaudRate;
  if (s.dataBits < 5 || s.dataBits > 8) return -ecByteSize;
  if ((s.stopBits != 1 && s.stopBits != 2) || s.inSize < 16 || s.outSize < 16) return -ecBadArgument;
  return 0;
}

}  // namespace fe
