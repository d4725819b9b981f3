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

namespace fe::voip {

// Samples per media tick: 20 ms at 8000 samples per second.
inline constexpr int kTickSamples = 160;

using TDatagramSend = std::function<void(const uint8_t* data, size_t size)>;

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
};

}  // namespace fe::voip
