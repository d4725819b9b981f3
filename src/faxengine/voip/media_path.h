// The seam between the virtual modem and a call's media. Every 20 ms the media
// clock hands the path the 160 samples (8 kHz, linear 16 bit) the modem sent in
// that tick and asks it for 160 samples for the modem's receiver. A G.711 path
// packs them into RTP; a T.38 path feeds them to a fax gateway whose IFP packets
// travel in UDPTL. Datagrams go out through a send function the session owner
// supplies and come back in through Deliver, so a path never owns a socket.
// All calls come from the media thread: the session polls its socket there too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace fe::voip {

// Samples per media tick: 20 ms at 8000 samples per second.
inline constexpr int kTickSamples = 160;

using TDatagramSend = std::function<void(const uint8_t* data, size_t size)>;
// Gets the lines a path adds to the call's trace.
using TTraceSink = std::function<void(const std::string& line)>;

class TMediaPath {
 public:
  virtual ~TMediaPath() = default;

  // The modem's output for this tick (count samples).
  virtual void Transmit(const int16_t* samples, int count) = 0;
  // Fills samples with input for the modem's receiver for this tick and returns
  // how many of the count are real; the rest is a gap (nothing arrived in time)
  // that the modem covers with its own fill-in rather than with made-up audio.
  virtual int Receive(int16_t* samples, int count) = 0;
  // A datagram that arrived on the path's port (any size, any content).
  virtual void Deliver(const uint8_t* data, size_t size) = 0;

  // Counts for the call's trace ("rtp pcmu: sent 1500, ..."): the path's name,
  // a colon, then its figures.
  virtual std::string Summary() const = 0;
  // How long the far end may stay silent in a call before the session takes it
  // as gone; 0: the session's own limit. A G.711 stream never pauses, but a
  // T.38 peer sends nothing while neither side makes a sound, and may stay
  // quiet for seconds while the other side trains.
  virtual int QuietLimitMs() const { return 0; }
  // Where the path's own trace lines go (none by default); the session sets it
  // when the path starts carrying a call.
  virtual void SetTrace(TTraceSink trace) { (void)trace; }
};

}  // namespace fe::voip
