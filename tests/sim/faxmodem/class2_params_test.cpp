// The Class 2 / 2.0 front end's parameters: read from real T.30 frames, written
// as subparameters, negotiated, and handed to spandsp.
#include <gtest/gtest.h>
#include <spandsp.h>

#include "class2_commands.h"

namespace faxsim {
namespace {

// Frames as spandsp's T.30 engine sent them in a session (address, control, FCF, FIF).
const uint8_t kDis[] = {0xff, 0x13, 0x80, 0x00, 0xee, 0xf8, 0x80, 0x80, 0x91, 0x80, 0x80, 0x80, 0x18};
const uint8_t kDcs[] = {0xff, 0x13, 0x83, 0x00, 0x62, 0x78};
const uint8_t kCsi[] = {0xff, 0x03, 0x40, '0', '0', '2', ' ', ' ', ' ', ' ', ' ', ' ',
                        ' ',  ' ',  ' ',  ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};

TEST(FaxModemSimClass2, FramesBecomeClass2ReportsAndBack) {
  // DIS: V.27 ter, V.29 and V.17; fine; 2-D; A4 width; any length; 0 ms scan time.
  EXPECT_EQ(paramsFromDis(kDis, sizeof kDis).text(), "1,5,0,2,1,0,0,0");
  // DCS: 14400 bps V.17, fine, A4, any length, 1-D.
  EXPECT_EQ(paramsFromDcs(kDcs, sizeof kDcs).text(), "1,5,0,2,0,0,0,0");
  EXPECT_EQ(identFromFrame(kCsi, sizeof kCsi), "200");
  // A frame cut short reads as the lowest capabilities, not past its end.
  EXPECT_EQ(paramsFromDis(kDis, 4).text(), "0,0,0,0,0,0,0,5");

  // The session takes the lower of each capability and the receiver's scan time.
  Class2Params local;
  local.parse("1,5,1,2,0,1,0,0");
  Class2Params remote;  // as read from a DIS: 2-D capable, which a DTE may not ask for
  remote.vr = 0;
  remote.br = 3;
  remote.ln = 1;
  remote.df = 1;
  remote.st = 3;
  EXPECT_EQ(negotiate(local, remote).text(), "0,3,0,1,0,0,0,3");
  const SpandspCaps caps = capsFor(remote);
  EXPECT_EQ(caps.modems, T30_SUPPORT_V27TER | T30_SUPPORT_V29);
  EXPECT_FALSE(caps.resolutions & T30_SUPPORT_FINE_RESOLUTION);
}

TEST(FaxModemSimClass2, SubparametersReplaceOnlyWhatIsGiven) {
  Class2Params p;
  EXPECT_TRUE(p.parse("0,3"));
  EXPECT_EQ(p.text(), "0,3,0,2,0,0,0,0");
  EXPECT_TRUE(p.parse("1,,1"));
  EXPECT_EQ(p.text(), "1,3,1,2,0,0,0,0");
  // Out of range, not a number, too many fields: refused, nothing changes.
  for (const char* bad : {"2", "1,6", "x", "1,5,0,2,0,0,0,0,0", "1,-1", "1,123"}) {
    EXPECT_FALSE(p.parse(bad)) << bad;
    EXPECT_EQ(p.text(), "1,3,1,2,0,0,0,0") << bad;
  }
  EXPECT_EQ(p.bitsPerSecond(), 9600);
  EXPECT_EQ(p.width(), 2048);
}

}  // namespace
}  // namespace faxsim
