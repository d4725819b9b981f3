// The G.711 RTP media path; see rtp_path.h.
#include "rtp_path.h"

#include <spandsp.h>

#include <algorithm>
#include <random>

namespace fe::voip {

namespace {

uint16_t Get16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
         p[3];
}

void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

void Put32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

// The longest payload we decode: 120 ms. A longer one is no 20 ms fax stream.
constexpr size_t kMaxPayloadSamples = 960;
// Late packets in a row after which the sender's clock is taken to have gone
// back (a restarted stream) rather than its packets to be delayed.
constexpr int kLateRunRestart = 10;

}  // namespace

bool ParseRtp(const uint8_t* data, size_t size, TRtpPacket& out) {
  if (!data || size < static_cast<size_t>(kRtpHeaderBytes)) return false;
  if ((data[0] >> 6) != 2) return false;
  const bool padding = (data[0] & 0x20) != 0;
  const bool extension = (data[0] & 0x10) != 0;
  const size_t csrcs = data[0] & 0x0F;
  size_t offset = kRtpHeaderBytes + 4 * csrcs;
  if (offset > size) return false;
  if (extension) {
    if (offset + 4 > size) return false;
    const size_t words = Get16(data + offset + 2);
    offset += 4 + 4 * words;
    if (offset > size) return false;
  }
  size_t end = size;
  if (padding) {
    const size_t pad = data[size - 1];
    // The count includes its own octet, so 0 is as wrong as one beyond the payload.
    if (pad == 0 || pad > end - offset) return false;
    end -= pad;
  }
  out.marker = (data[1] & 0x80) != 0;
  out.payloadType = data[1] & 0x7F;
  out.sequence = Get16(data + 2);
  out.timestamp = Get32(data + 4);
  out.ssrc = Get32(data + 8);
  out.payload = data + offset;
  out.payloadSize = end - offset;
  return true;
}

void WriteRtpHeader(uint8_t* out, int payloadType, bool marker, uint16_t sequence, uint32_t timestamp, uint32_t ssrc) {
  out[0] = 0x80;
  out[1] = static_cast<uint8_t>((marker ? 0x80 : 0) | (payloadType & 0x7F));
  Put16(out + 2, sequence);
  Put32(out + 4, timestamp);
  Put32(out + 8, ssrc);
}

// ------------------------------------------------------------ jitter buffer --

TJitterBuffer::TJitterBuffer(int delaySamples, int capacitySamples)
    : delay_(std::max(delaySamples, 0)),
      capacity_(std::max(capacitySamples, delay_ + 2 * kTickSamples)),
      samples_(static_cast<size_t>(capacity_)),
      valid_(static_cast<size_t>(capacity_)) {}

void TJitterBuffer::Reset() {
  started_ = false;
  lateRun_ = 0;
  head_ = 0;
  std::fill(valid_.begin(), valid_.end(), 0);
}

void TJitterBuffer::Start(uint32_t timestamp) {
  Reset();
  started_ = true;
  playout_ = timestamp - static_cast<uint32_t>(delay_);
}

TJitterBuffer::TPut TJitterBuffer::Put(uint32_t timestamp, const int16_t* samples, int count) {
  if (count <= 0) return TPut::Stored;
  count = std::min(count, capacity_);
  TPut result = TPut::Stored;
  if (!started_) Start(timestamp);
  // Signed distance from the play-out point: correct across the 32-bit wrap.
  int64_t ahead = static_cast<int32_t>(timestamp - playout_);
  if (ahead + count <= 0) {
    if (++lateRun_ < kLateRunRestart) return TPut::Late;
    Start(timestamp);
    ahead = delay_;
    result = TPut::Restarted;
  } else if (ahead + count > capacity_) {
    Start(timestamp);
    ahead = delay_;
    result = TPut::Restarted;
  }
  lateRun_ = 0;
  // A packet that began before the play-out point keeps its part still to come.
  const int skip = ahead < 0 ? static_cast<int>(-ahead) : 0;
  for (int i = skip; i < count; ++i) {
    const size_t idx = (head_ + static_cast<size_t>(ahead + i)) % static_cast<size_t>(capacity_);
    samples_[idx] = samples[i];
    valid_[idx] = 1;
  }
  return result;
}

int TJitterBuffer::Take(int16_t* out, int count) {
  int real = 0;
  bool gap = !started_;
  for (int i = 0; i < count; ++i) {
    const size_t idx = (head_ + static_cast<size_t>(i)) % static_cast<size_t>(capacity_);
    if (!gap && valid_[idx]) {
      out[i] = samples_[idx];
      ++real;
    } else {
      gap = true;
      out[i] = 0;
    }
    valid_[idx] = 0;
  }
  if (started_) {
    head_ = (head_ + static_cast<size_t>(count)) % static_cast<size_t>(capacity_);
    playout_ += static_cast<uint32_t>(count);
  }
  return real;
}

int TJitterBuffer::Buffered() const {
  return static_cast<int>(std::count(valid_.begin(), valid_.end(), 1));
}

// ----------------------------------------------------------------- the path --

TRtpPath::TRtpPath(TG711Law law, TDatagramSend send)
    : law_(law), payloadType_(law == TG711Law::Ulaw ? kPayloadPcmu : kPayloadPcma), send_(std::move(send)) {
  // Random starting values, as RTP asks, so that a restarted call is not taken
  // for the continuation of the last one.
  std::random_device rd;
  ssrc_ = rd();
  timestamp_ = rd();
  sequence_ = static_cast<uint16_t>(rd());
}

TRtpPath::~TRtpPath() = default;

void TRtpPath::Transmit(const int16_t* samples, int count) {
  if (count <= 0) return;
  count = std::min<int>(count, static_cast<int>(kMaxPayloadSamples));
  uint8_t packet[kRtpHeaderBytes + kMaxPayloadSamples];
  WriteRtpHeader(packet, payloadType_, first_, sequence_, timestamp_, ssrc_);
  uint8_t* payload = packet + kRtpHeaderBytes;
  for (int i = 0; i < count; ++i)
    payload[i] = law_ == TG711Law::Ulaw ? linear_to_ulaw(samples[i]) : linear_to_alaw(samples[i]);
  if (send_) send_(packet, kRtpHeaderBytes + static_cast<size_t>(count));
  first_ = false;
  ++sequence_;
  timestamp_ += static_cast<uint32_t>(count);
  ++stats_.sent;
}

int TRtpPath::Receive(int16_t* samples, int count) {
  const int real = buffer_.Take(samples, count);
  stats_.gapSamples += static_cast<uint64_t>(count - real);
  return real;
}

void TRtpPath::Deliver(const uint8_t* data, size_t size) {
  TRtpPacket p;
  if (!ParseRtp(data, size, p)) {
    ++stats_.malformed;
    return;
  }
  // Comfort noise, telephone events (a dynamic type) and anything else that is
  // not our codec carry nothing a fax modem may hear.
  if (p.payloadType != payloadType_ || p.payloadSize == 0 || p.payloadSize > kMaxPayloadSamples) {
    ++stats_.ignored;
    return;
  }
  if (haveSource_ && p.ssrc != sourceSsrc_) {
    // Another stream (the far end restarted): its timestamps start elsewhere.
    buffer_.Reset();
    ++stats_.restarts;
  }
  haveSource_ = true;
  sourceSsrc_ = p.ssrc;
  int16_t linear[kMaxPayloadSamples];
  for (size_t i = 0; i < p.payloadSize; ++i)
    linear[i] = law_ == TG711Law::Ulaw ? ulaw_to_linear(p.payload[i]) : alaw_to_linear(p.payload[i]);
  switch (buffer_.Put(p.timestamp, linear, static_cast<int>(p.payloadSize))) {
    case TJitterBuffer::TPut::Late:
      ++stats_.late;
      return;
    case TJitterBuffer::TPut::Restarted:
      ++stats_.restarts;
      break;
    case TJitterBuffer::TPut::Stored:
      break;
  }
  ++stats_.received;
}

std::string TRtpPath::Summary() const {
  return std::string("rtp ") + (law_ == TG711Law::Ulaw ? "pcmu" : "pcma") + ": sent " + std::to_string(stats_.sent) +
         ", received " + std::to_string(stats_.received) + ", late " + std::to_string(stats_.late) + ", malformed " +
         std::to_string(stats_.malformed) + ", ignored " + std::to_string(stats_.ignored) + ", restarts " +
         std::to_string(stats_.restarts) + ", gap " + std::to_string(stats_.gapSamples / 8) + " ms";
}

}  // namespace fe::voip
