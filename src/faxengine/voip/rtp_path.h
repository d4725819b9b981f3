// The G.711 media path: the modem's audio in RTP packets of 20 ms, PCMU or PCMA.
// Fax modems need the line clean, so there is no voice activity detection, no
// comfort noise and no loss concealment: what did not arrive in time is a gap
// the modem's own fill-in covers. Arriving packets wait in a fixed (not adaptive)
// play-out buffer of 60 ms, placed by their timestamps: reordering within the
// buffer is undone, late packets are dropped. Comfort noise and telephone events
// are ignored; malformed packets are counted and dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "media_path.h"

namespace fe::voip {

enum class TG711Law { Ulaw, Alaw };

inline constexpr int kPayloadPcmu = 0;
inline constexpr int kPayloadPcma = 8;
inline constexpr int kPayloadComfortNoise = 13;
inline constexpr int kRtpHeaderBytes = 12;

// An RTP packet's fields; payload points into the datagram it was parsed from.
struct TRtpPacket {
  int payloadType = 0;
  bool marker = false;
  uint16_t sequence = 0;
  uint32_t timestamp = 0;
  uint32_t ssrc = 0;
  const uint8_t* payload = nullptr;
  size_t payloadSize = 0;
};

// Parses an RTP datagram (version 2: CSRC list, header extension and padding
// honoured). False for anything shorter than it claims to be or of another
// version; never reads outside data[0, size).
bool ParseRtp(const uint8_t* data, size_t size, TRtpPacket& out);

// Writes the 12-byte header of a packet without CSRCs or extension.
void WriteRtpHeader(uint8_t* out, int payloadType, bool marker, uint16_t sequence, uint32_t timestamp, uint32_t ssrc);

// A fixed play-out buffer of linear samples placed by RTP timestamp. The first
// packet sets the play-out point `delay` samples behind it; every Take moves it
// on by the samples taken. Capacity bounds how far ahead a packet may be: one
// beyond it means the sender's clock jumped, and play-out starts afresh there.
class TJitterBuffer {
 public:
  explicit TJitterBuffer(int delaySamples = 480, int capacitySamples = 8000);

  enum class TPut { Stored, Late, Restarted };
  TPut Put(uint32_t timestamp, const int16_t* samples, int count);
  // The next count samples; returns how many at the start are real (the rest,
  // from the first missing sample on, is a gap and reads as silence).
  int Take(int16_t* out, int count);
  void Reset();
  bool Started() const { return started_; }
  // Samples stored ahead of the play-out point (real ones only).
  int Buffered() const;

 private:
  void Start(uint32_t timestamp);

  int delay_, capacity_;
  bool started_ = false;
  int lateRun_ = 0;       // late packets in a row
  size_t head_ = 0;       // ring index of the play-out point
  uint32_t playout_ = 0;  // timestamp of the next sample to play
  std::vector<int16_t> samples_;
  std::vector<uint8_t> valid_;
};

struct TRtpStats {
  uint64_t sent = 0;
  uint64_t received = 0;    // packets of our codec taken in
  uint64_t late = 0;        // arrived after their play-out time
  uint64_t malformed = 0;   // not RTP, or shorter than their header says
  uint64_t ignored = 0;     // comfort noise, telephone events, other payload types
  uint64_t restarts = 0;    // the sender's timestamps jumped, or a new stream began
  uint64_t gapSamples = 0;  // samples the modem had to fill in
};

class TRtpPath final : public TMediaPath {
 public:
  TRtpPath(TG711Law law, TDatagramSend send);
  ~TRtpPath() override;
  TRtpPath(const TRtpPath&) = delete;
  TRtpPath& operator=(const TRtpPath&) = delete;

  void Transmit(const int16_t* samples, int count) override;
  int Receive(int16_t* samples, int count) override;
  void Deliver(const uint8_t* data, size_t size) override;

  const TRtpStats& Stats() const { return stats_; }
  // "rtp pcmu: sent 1500, received 1498, late 0, ..." for the call's trace.
  std::string Summary() const override;
  uint32_t Ssrc() const { return ssrc_; }
  int PayloadType() const { return payloadType_; }

 private:
  TG711Law law_;
  int payloadType_;
  TDatagramSend send_;
  uint32_t ssrc_, timestamp_;
  uint16_t sequence_;
  bool first_ = true;
  bool haveSource_ = false;
  uint32_t sourceSsrc_ = 0;
  TJitterBuffer buffer_;
  TRtpStats stats_;
};

}  // namespace fe::voip
