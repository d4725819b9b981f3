// UDPTL, the transport T.38 fax packets (IFPs) travel in over UDP: the packet
// codec and a session that numbers outgoing IFPs, adds redundancy, and puts
// incoming IFPs back in order, recovering lost ones from the redundant copies
// or from forward error correction (FEC) that later packets carry.
//
// A packet is aligned PER:
//   seq-number           16 bits
//   primary-ifp-packet   open type: length determinant + the IFP's bytes
//   error-recovery       one octet: 0x00 secondary-ifp-packets, 0x80 fec-info
//     secondary-ifp-packets: count (length determinant), each IFP an open type,
//                            newest first (seq-1, seq-2, ...)
//     fec-info: fec-npackets (unconstrained integer: octet count + value), then
//               fec-data: count, each entry an octet string (length + bytes)
// With fec-npackets = span S and E entries, entry m of packet n is the XOR of
// the primary IFPs of packets n+m-E*j for j = 1..S (each padded with zeros to
// the longest); so the entries together cover packets n-S*E .. n-1.
//
// The session works on byte buffers only: the owner feeds it datagrams and
// gives it the time; it owns no socket and starts no thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <vector>

namespace fe::voip::udptl {

using TBytes = std::vector<uint8_t>;

struct TPacket {
  uint16_t seq = 0;
  TBytes primary;
  bool fec = false;             // error recovery is fec-info rather than secondaries
  std::vector<TBytes> secondaries;  // newest first
  int fecSpan = 0;
  std::vector<TBytes> fecData;
};

enum class TDecodeError {
  None,
  Truncated,      // the packet ends inside an item
  Fragmented,     // a length of 16384 or more (a fragmented item)
  BadRecovery,    // an error-recovery choice other than the two defined
  BadFec,         // fec-npackets not a small positive number, or too many entries
  TrailingBytes,  // bytes left after the packet
};

const char* DecodeErrorText(TDecodeError error);

// Largest FEC span and entry count a packet may carry (real ones use 1-5).
inline constexpr int kMaxFecSpan = 32;
inline constexpr size_t kMaxFecEntries = 32;

// Reads a packet; never reads past size. On an error out is unspecified.
TDecodeError Decode(const uint8_t* data, size_t size, TPacket& out);
// Writes a packet; false (out unchanged) when an item is 16384 bytes or longer
// or the FEC values are out of range.
bool Encode(const TPacket& packet, TBytes& out);
// Size Encode gives for a packet with redundancy and these IFP sizes.
size_t EncodedSize(size_t primary, const std::vector<size_t>& secondaries);

struct TStats {
  uint64_t sent = 0;               // datagrams sent
  uint64_t received = 0;           // well-formed datagrams received
  uint64_t recoveredSecondary = 0; // IFPs taken from secondaries before their own packet came
  uint64_t recoveredFec = 0;       // IFPs rebuilt from FEC
  uint64_t lost = 0;               // IFPs given up on (gaps never filled)
  uint64_t duplicates = 0;         // packets whose IFP had already been delivered or was waiting
  uint64_t malformed = 0;          // datagrams dropped as unreadable
  uint64_t resyncs = 0;            // jumps in the far end's numbering taken as a new start
  uint64_t oversize = 0;           // IFPs sent alone still over the far end's datagram size
};

enum class TOrigin { Primary, Secondary, Fec };
const char* OriginName(TOrigin origin);

class TSession {
 public:
  struct TSettings {
    // The far end's T38FaxMaxDatagram: secondaries are dropped, oldest first,
    // until a datagram fits.
    size_t farMaxDatagram = 400;
    // Send FEC instead of redundancy when both are above 0 (the receive side
    // takes either whatever is set here).
    int fecSpan = 0;
    int fecEntries = 0;
    // How long a gap may hold back the packets after it before it is given up.
    int holdMs = 100;
  };
  // An IFP handed on in sequence order; origin says how it came.
  using TIfpSink = std::function<void(uint16_t seq, const uint8_t* data, size_t size, TOrigin origin)>;
  // count IFPs from seq on are lost for good.
  using TLossSink = std::function<void(uint16_t seq, int count)>;
  using TDatagramSink = std::function<void(const uint8_t* data, size_t size)>;

  explicit TSession(TSettings settings);

  void SetSend(TDatagramSink send) { send_ = std::move(send); }
  void SetIfpSink(TIfpSink sink) { ifpSink_ = std::move(sink); }
  void SetLossSink(TLossSink sink) { lossSink_ = std::move(sink); }

  // Sends one IFP as the next packet with up to redundancy earlier IFPs as
  // secondaries (ignored when sending FEC). Returns its sequence number.
  uint16_t Send(const uint8_t* ifp, size_t size, int redundancy);
  // The sequence number the next Send uses (the first is 0).
  uint16_t NextSendSeq() const { return txSeq_; }

  // A datagram from the far end. A malformed one is counted and dropped.
  // Returns false for a malformed datagram.
  bool Receive(const uint8_t* data, size_t size);
  // Time passes (ms); a gap held longer than holdMs is given up.
  void Advance(int ms);
  // Gives up every gap now and hands on everything that waits.
  void Flush();

  const TStats& Stats() const { return stats_; }
  const TSettings& Settings() const { return settings_; }

 private:
  struct TWaiting {
    TBytes ifp;
    TOrigin origin;
  };
  struct TFecRecord {
    int64_t seq;
    int span;
    std::vector<TBytes> entries;
  };

  int64_t Unwrap(uint16_t seq) const;
  // Starts a run at seq, taking reachBack IFPs before it as part of it.
  void Resync(int64_t seq, int64_t reachBack);
  bool Known(int64_t seq) const;
  const TBytes* Find(int64_t seq) const;
  void Store(int64_t seq, TBytes ifp, TOrigin origin);
  void RepairFromFec();
  void DeliverReady();
  void GiveUpGap();
  TBytes FecEntry(int m, int span, int entries) const;

  TSettings settings_;
  TDatagramSink send_;
  TIfpSink ifpSink_;
  TLossSink lossSink_;
  TStats stats_;

  // Send side: the IFPs sent last, newest at the back.
  uint16_t txSeq_ = 0;
  std::deque<TBytes> txHistory_;

  // Receive side. Sequence numbers are unwrapped into a 64-bit count so the
  // 16-bit wrap needs no special case; the first packet sets where it starts.
  bool started_ = false;
  int64_t firstSeq_ = 0;     // the first number of this run (nothing before it is known)
  int64_t next_ = 0;         // the next IFP to hand on
  int64_t highest_ = 0;      // the highest number seen
  std::map<int64_t, TWaiting> waiting_;  // known IFPs at or after next_
  std::map<int64_t, TBytes> delivered_;  // the last IFPs handed on, for FEC
  std::deque<TFecRecord> fec_;            // FEC of the last packets received
  int holdPackets_ = 4;      // packets a gap may hold back (grows with the FEC reach)
  int64_t nowMs_ = 0;
  int64_t gapSinceMs_ = -1;  // when the current gap at next_ was first seen
};

}  // namespace fe::voip::udptl
