// Error correction mode: the image cut into numbered frames and blocks, the
// bursts that carry them, and the frames that manage them (PPS, PPR, CTC, EOR).
// Both directions; the engines drive the modem, this part only builds and
// checks bytes, so every rule here is testable without a line.
//
// Conventions callers rely on:
// - Frames as TFramer and TDeframer (hdlc.h) see them: address, control, FCF,
//   FIF, no FCS.
// - Page, block and frame numbers are 0-based and kept mod 256 as on the line;
//   frame numbers start at 0 in every block.
// - A block is at most 256 frames; the last frame of a page is padded with
//   zeros to full size.
// - A PPR map is 32 octets, bit n (LSB first in octet n / 8) set = frame n must
//   be sent again. Bits at or beyond the frame count mean nothing and are
//   ignored.
// - No Qt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "t30.h"

namespace fe::ecm {

constexpr size_t kMaxFrames = 256;  // frames per block
constexpr uint8_t fcfFCD = 0x06;
constexpr uint8_t fcfRCP = 0x86;
constexpr uint8_t fcfPPS = 0xBE;
constexpr uint8_t fcfPPR = 0xBC;
constexpr uint8_t fcfRR = 0x6E;
constexpr uint8_t fcfRNR = 0xEC;
constexpr uint8_t fcfCTC = 0x12;
constexpr uint8_t fcfCTR = 0xC4;
constexpr uint8_t fcfEOR = 0xCE;
constexpr uint8_t fcfERR = 0x1C;
constexpr int kPprLimit = 4;  // the fourth PPR for a block leads to CTC or EOR

using Bytes = std::vector<uint8_t>;
using FrameMap = std::vector<bool>;  // one flag per frame of a block

// --- sender -------------------------------------------------------------------

// One page's coded data cut into frames of frameSize octets and blocks of up to
// 256 frames.
class TPageFrames {
 public:
  TPageFrames(const Bytes& page, size_t frameSize);
  size_t FrameSize() const { return size_; }
  size_t Blocks() const { return blocks_; }
  // Frames in block b (1 to 256).
  size_t FramesIn(size_t block) const;
  // The data of frame n of block b, always FrameSize() octets.
  Bytes FrameData(size_t block, size_t n) const;

 private:
  Bytes data_;
  size_t size_;
  size_t frames_;
  size_t blocks_;
};

// The bit stream of one burst for "AT+FTM=": flags for about 200 ms at bps,
// every frame of the block still marked, RCP three times, closing flags. DLE
// doubling is not applied.
Bytes BuildBurst(const TPageFrames& page, size_t block, const FrameMap& send, int bps);

// PPS FIF: FCF2 (NULL inside a page, or the post-page command with the X bit),
// page counter, block counter, frames in this burst - 1.
struct Pps {
  uint8_t fcf2 = 0;  // 0 (NULL), t30::fcfMPS, fcfEOM or fcfEOP, X bit cleared
  uint8_t page = 0;
  uint8_t block = 0;
  int frames = 0;  // 1..256
};
Bytes BuildPpsFif(const Pps& p);
std::optional<Pps> ParsePpsFif(const Bytes& fif);

// Applies a received PPR map to a block of frameCount frames: which frames to
// send again. Bits beyond the block are ignored (some receivers set them all).
// Nothing for a map of the wrong size.
std::optional<FrameMap> ParsePpr(const Bytes& fif, size_t frameCount);

// CTC FIF: DCS octets 1-2 with the new speed.
Bytes BuildCtcFif(int bps);

// --- receiver -----------------------------------------------------------------

// Collects the frames of one block as bursts arrive.
class TBlockCollector {
 public:
  explicit TBlockCollector(size_t frameSize) : size_(frameSize) {}
  // One deframed frame. FCD frames of the negotiated size (the last frame of a
  // block may be shorter) are kept by number; RCP is counted; anything else is
  // ignored. Returns false for a frame that is not FCD or RCP.
  bool Add(const Bytes& frame);
  // The frame count of the block: the largest any PPS named.
  void SetCount(int frames);
  int Count() const { return count_; }
  bool SawRcp() const { return rcp_ > 0; }
  // PPR FIF for the frames still missing (empty when none is).
  Bytes MissingMap() const;
  bool Complete() const;
  // The block's data in order; missing frames are left out.
  Bytes Data() const;
  // The data up to the first missing frame (all of it when complete): what an
  // MMR page can still use after EOR.
  Bytes DataUntilGap() const;
  // A new block.
  void Clear();

 private:
  size_t size_;
  int count_ = 0;
  int rcp_ = 0;
  std::vector<Bytes> frames_ = std::vector<Bytes>(kMaxFrames);
  std::vector<bool> have_ = std::vector<bool>(kMaxFrames);
};

// How a PPS relates to the block the receiver expects.
enum class PpsMatch {
  Current,   // page and block as expected
  Previous,  // the block just confirmed: our MCF was lost, send it again
  Other,     // anything else: the sides disagree, end the call
};
PpsMatch MatchPps(const Pps& p, uint8_t page, uint8_t block, uint8_t prevPage, uint8_t prevBlock, bool havePrev);

}  // namespace fe::ecm
