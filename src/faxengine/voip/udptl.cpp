// UDPTL packet codec and session (see udptl.h for the packet layout).
#include "udptl.h"

#include <algorithm>

#include "per.h"

namespace fe::voip::udptl {

namespace {

// IFPs kept on the send side for secondaries and FEC, and on the receive side
// for FEC repairs of packets already handed on.
constexpr size_t kTxHistory = 64;
constexpr size_t kRxHistory = 128;
// FEC records kept, and the most packets one packet's FEC may reach back.
constexpr size_t kFecRecords = 16;
constexpr int kMaxFecReach = 128;
// Secondaries put in one packet at most.
constexpr int kMaxRedundancy = 16;
// A jump in the far end's numbering this large is a new start, not a gap.
constexpr int64_t kResyncJump = 1000;
// Unwrapped numbers start here, so a run never goes below zero.
constexpr int64_t kSeqBase = int64_t(1) << 32;

// An open type or octet string: length determinant and bytes.
TDecodeError ReadItem(per::TReader& in, TBytes& out) {
  size_t n = 0;
  const size_t at = in.Offset();
  uint8_t first = 0;
  if (!in.Length(n)) {
    if (in.Offset() == at && in.Byte(first) && (first & 0xC0) == 0xC0) return TDecodeError::Fragmented;
    return TDecodeError::Truncated;
  }
  const uint8_t* bytes = nullptr;
  if (!in.Bytes(n, bytes)) return TDecodeError::Truncated;
  out.assign(bytes, bytes + n);
  return TDecodeError::None;
}

// A count of items, each at least one octet long: more than is left is a lie.
TDecodeError ReadCount(per::TReader& in, size_t& n) {
  const size_t at = in.Offset();
  uint8_t first = 0;
  if (!in.Length(n)) {
    if (in.Offset() == at && in.Byte(first) && (first & 0xC0) == 0xC0) return TDecodeError::Fragmented;
    return TDecodeError::Truncated;
  }
  return n > in.Left() ? TDecodeError::Truncated : TDecodeError::None;
}

bool AppendItem(TBytes& out, const TBytes& item) {
  if (!per::AppendLength(out, item.size())) return false;
  out.insert(out.end(), item.begin(), item.end());
  return true;
}

void XorInto(TBytes& into, const TBytes& other) {
  if (into.size() < other.size()) into.resize(other.size(), 0);
  for (size_t i = 0; i < other.size(); ++i) into[i] ^= other[i];
}

}  // namespace

const char* DecodeErrorText(TDecodeError error) {
  switch (error) {
    case TDecodeError::None: return "no error";
    case TDecodeError::Truncated: return "packet ends inside an item";
    case TDecodeError::Fragmented: return "fragmented item (16384 bytes or more)";
    case TDecodeError::BadRecovery: return "unknown error-recovery choice";
    case TDecodeError::BadFec: return "FEC span or entry count out of range";
    case TDecodeError::TrailingBytes: return "bytes after the end of the packet";
  }
  return "?";
}

const char* OriginName(TOrigin origin) {
  switch (origin) {
    case TOrigin::Primary: return "primary";
    case TOrigin::Secondary: return "secondary";
    case TOrigin::Fec: return "fec";
  }
  return "?";
}

TDecodeError Decode(const uint8_t* data, size_t size, TPacket& out) {
  per::TReader in(data, size);
  const uint8_t* seq = nullptr;
  if (!in.Bytes(2, seq)) return TDecodeError::Truncated;
  out.seq = static_cast<uint16_t>((seq[0] << 8) | seq[1]);
  out.secondaries.clear();
  out.fecData.clear();
  out.fecSpan = 0;
  if (TDecodeError e = ReadItem(in, out.primary); e != TDecodeError::None) return e;
  uint8_t choice = 0;
  if (!in.Byte(choice)) return TDecodeError::Truncated;
  if (choice != 0x00 && choice != 0x80) return TDecodeError::BadRecovery;
  out.fec = choice == 0x80;
  size_t count = 0;
  if (!out.fec) {
    if (TDecodeError e = ReadCount(in, count); e != TDecodeError::None) return e;
    out.secondaries.resize(count);
    for (TBytes& ifp : out.secondaries)
      if (TDecodeError e = ReadItem(in, ifp); e != TDecodeError::None) return e;
  } else {
    // fec-npackets: an unconstrained integer, an octet count and the value.
    size_t octets = 0;
    const uint8_t* value = nullptr;
    if (!in.Length(octets) || !in.Bytes(octets, value)) return TDecodeError::Truncated;
    if (octets < 1 || octets > 2 || (value[0] & 0x80) != 0) return TDecodeError::BadFec;
    out.fecSpan = octets == 1 ? value[0] : (value[0] << 8) | value[1];
    if (out.fecSpan < 1 || out.fecSpan > kMaxFecSpan) return TDecodeError::BadFec;
    if (TDecodeError e = ReadCount(in, count); e != TDecodeError::None) return e;
    if (count > kMaxFecEntries) return TDecodeError::BadFec;
    out.fecData.resize(count);
    for (TBytes& entry : out.fecData)
      if (TDecodeError e = ReadItem(in, entry); e != TDecodeError::None) return e;
  }
  return in.Left() == 0 ? TDecodeError::None : TDecodeError::TrailingBytes;
}

bool Encode(const TPacket& packet, TBytes& out) {
  TBytes bytes;
  bytes.push_back(static_cast<uint8_t>(packet.seq >> 8));
  bytes.push_back(static_cast<uint8_t>(packet.seq & 0xFF));
  if (!AppendItem(bytes, packet.primary)) return false;
  if (!packet.fec) {
    bytes.push_back(0x00);
    if (!per::AppendLength(bytes, packet.secondaries.size())) return false;
    for (const TBytes& ifp : packet.secondaries)
      if (!AppendItem(bytes, ifp)) return false;
  } else {
    if (packet.fecSpan < 1 || packet.fecSpan > kMaxFecSpan || packet.fecData.size() > kMaxFecEntries) return false;
    bytes.push_back(0x80);
    bytes.push_back(0x01);
    bytes.push_back(static_cast<uint8_t>(packet.fecSpan));
    per::AppendLength(bytes, packet.fecData.size());
    for (const TBytes& entry : packet.fecData)
      if (!AppendItem(bytes, entry)) return false;
  }
  out = std::move(bytes);
  return true;
}

size_t EncodedSize(size_t primary, const std::vector<size_t>& secondaries) {
  size_t n = 2 + per::LengthSize(primary) + primary + 1 + per::LengthSize(secondaries.size());
  for (size_t s : secondaries) n += per::LengthSize(s) + s;
  return n;
}

TSession::TSession(TSettings settings) : settings_(settings) {}

TBytes TSession::FecEntry(int m, int span, int entries) const {
  // Entry m of the packet about to be sent (seq) covers seq+m-entries*j, j = 1..span; those not sent
  // yet (before the first packet) count as empty.
  TBytes entry;
  for (int j = 1; j <= span; ++j) {
    const int64_t back = int64_t(entries) * j - m;  // how far before seq
    if (back >= 1 && size_t(back) <= txHistory_.size()) XorInto(entry, txHistory_[txHistory_.size() - size_t(back)]);
  }
  return entry;
}

uint16_t TSession::Send(const uint8_t* ifp, size_t size, int redundancy) {
  TPacket packet;
  packet.seq = txSeq_++;
  packet.primary.assign(ifp, ifp + size);
  if (settings_.fecSpan > 0 && settings_.fecEntries > 0) {
    const int span = std::min(settings_.fecSpan, kMaxFecSpan);
    const int entries = std::min(settings_.fecEntries, int(kMaxFecEntries));
    packet.fec = true;
    packet.fecSpan = span;
    for (int m = 0; m < entries; ++m) packet.fecData.push_back(FecEntry(m, span, entries));
  } else {
    size_t n = size_t(std::clamp(redundancy, 0, kMaxRedundancy));
    n = std::min(n, txHistory_.size());
    std::vector<size_t> sizes;
    for (size_t i = 0; i < n; ++i) sizes.push_back(txHistory_[txHistory_.size() - 1 - i].size());
    // Oldest first out until the datagram fits the far end.
    while (!sizes.empty() && EncodedSize(size, sizes) > settings_.farMaxDatagram) sizes.pop_back();
    for (size_t i = 0; i < sizes.size(); ++i) packet.secondaries.push_back(txHistory_[txHistory_.size() - 1 - i]);
    if (sizes.empty() && EncodedSize(size, {}) > settings_.farMaxDatagram) ++stats_.oversize;
  }
  TBytes datagram;
  if (Encode(packet, datagram)) {
    ++stats_.sent;
    if (send_) send_(datagram.data(), datagram.size());
  } else {
    ++stats_.oversize;  // an IFP of 16384 bytes or more: nothing can carry it
  }
  txHistory_.push_back(std::move(packet.primary));
  if (txHistory_.size() > kTxHistory) txHistory_.pop_front();
  return packet.seq;
}

int64_t TSession::Unwrap(uint16_t seq) const {
  const auto delta = static_cast<int16_t>(static_cast<uint16_t>(seq - static_cast<uint16_t>(highest_ & 0xFFFF)));
  return highest_ + delta;
}

void TSession::Resync(int64_t seq, int64_t reachBack) {
  highest_ = seq;
  firstSeq_ = next_ = seq - reachBack;
  delivered_.clear();
  fec_.clear();
  gapSinceMs_ = -1;
}

bool TSession::Known(int64_t seq) const {
  return seq < next_ || waiting_.count(seq) != 0;
}

const TBytes* TSession::Find(int64_t seq) const {
  if (auto it = waiting_.find(seq); it != waiting_.end()) return &it->second.ifp;
  if (auto it = delivered_.find(seq); it != delivered_.end()) return &it->second;
  return nullptr;
}

void TSession::Store(int64_t seq, TBytes ifp, TOrigin origin) {
  waiting_.emplace(seq, TWaiting{std::move(ifp), origin});
}

bool TSession::Receive(const uint8_t* data, size_t size) {
  TPacket packet;
  if (Decode(data, size, packet) != TDecodeError::None) {
    ++stats_.malformed;
    return false;
  }
  ++stats_.received;
  // A run starts with the first packet, or with the earliest secondary it
  // carries: those IFPs were sent before it and are recovered, not ignored.
  const int64_t reachBack = packet.fec ? 0 : int64_t(packet.secondaries.size());
  int64_t seq = 0;
  if (!started_) {
    started_ = true;
    seq = kSeqBase + packet.seq;
    Resync(seq, reachBack);
  } else {
    seq = Unwrap(packet.seq);
    if (seq > highest_ + kResyncJump || seq < next_ - kResyncJump) {
      // The far end numbers afresh (restarted, or renumbered on the way). Its
      // secondaries are then either none or copies of IFPs handed on already:
      // the new run starts with this packet.
      Flush();
      ++stats_.resyncs;
      Resync(seq, 0);
    }
  }
  highest_ = std::max(highest_, seq);

  if (Known(seq))
    ++stats_.duplicates;
  else
    Store(seq, std::move(packet.primary), TOrigin::Primary);

  for (size_t i = 0; i < packet.secondaries.size(); ++i) {
    const int64_t s = seq - 1 - int64_t(i);
    if (s < next_ || s < firstSeq_) break;  // older ones are older still
    if (Known(s) || packet.secondaries[i].empty()) continue;
    Store(s, std::move(packet.secondaries[i]), TOrigin::Secondary);
    ++stats_.recoveredSecondary;
  }

  if (packet.fec && !packet.fecData.empty()) {
    const int reach = packet.fecSpan * int(packet.fecData.size());
    if (reach <= kMaxFecReach) {
      fec_.push_back(TFecRecord{seq, packet.fecSpan, std::move(packet.fecData)});
      if (fec_.size() > kFecRecords) fec_.pop_front();
      holdPackets_ = std::max(holdPackets_, reach + 1);
      RepairFromFec();
    }
  }
  DeliverReady();
  return true;
}

void TSession::RepairFromFec() {
  // Each repair may complete another entry, so go round until nothing changes.
  bool progress = true;
  while (progress) {
    progress = false;
    // A record whose packets all lie before next_ can repair nothing more.
    while (!fec_.empty() && fec_.front().seq <= next_) fec_.pop_front();
    for (const TFecRecord& record : fec_) {
      const int entries = int(record.entries.size());
      for (int m = 0; m < entries; ++m) {
        int64_t missing = -1;
        int missingCount = 0;
        for (int j = 1; j <= record.span && missingCount < 2; ++j) {
          const int64_t covered = record.seq + m - int64_t(entries) * j;
          if (Find(covered) == nullptr) {
            missing = covered;
            ++missingCount;
          }
        }
        if (missingCount != 1 || missing < next_ || missing < firstSeq_ || record.entries[size_t(m)].empty()) continue;
        TBytes rebuilt = record.entries[size_t(m)];
        for (int j = 1; j <= record.span; ++j) {
          const int64_t covered = record.seq + m - int64_t(entries) * j;
          if (covered == missing) continue;
          const TBytes& other = *Find(covered);
          for (size_t i = 0; i < other.size() && i < rebuilt.size(); ++i) rebuilt[i] ^= other[i];
        }
        Store(missing, std::move(rebuilt), TOrigin::Fec);
        ++stats_.recoveredFec;
        progress = true;
      }
    }
  }
}

void TSession::DeliverReady() {
  for (;;) {
    for (auto it = waiting_.begin(); it != waiting_.end() && it->first == next_; it = waiting_.begin()) {
      TWaiting item = std::move(it->second);
      waiting_.erase(it);
      if (ifpSink_) ifpSink_(static_cast<uint16_t>(next_ & 0xFFFF), item.ifp.data(), item.ifp.size(), item.origin);
      delivered_[next_] = std::move(item.ifp);
      if (delivered_.size() > kRxHistory) delivered_.erase(delivered_.begin());
      ++next_;
      gapSinceMs_ = -1;
    }
    if (waiting_.empty()) {
      gapSinceMs_ = -1;
      return;
    }
    // A gap at next_: wait for the packet or its recovery, but not for ever.
    if (gapSinceMs_ < 0) gapSinceMs_ = nowMs_;
    if (waiting_.rbegin()->first - next_ <= holdPackets_) return;
    GiveUpGap();
  }
}

void TSession::GiveUpGap() {
  if (waiting_.empty()) return;
  const int64_t count = waiting_.begin()->first - next_;
  if (count > 0) {
    stats_.lost += uint64_t(count);
    if (lossSink_) lossSink_(static_cast<uint16_t>(next_ & 0xFFFF), int(count));
  }
  next_ = waiting_.begin()->first;
  gapSinceMs_ = -1;
}

void TSession::Advance(int ms) {
  nowMs_ += std::max(ms, 0);
  if (gapSinceMs_ >= 0 && nowMs_ - gapSinceMs_ >= settings_.holdMs) {
    GiveUpGap();
    DeliverReady();
  }
}

void TSession::Flush() {
  while (!waiting_.empty()) {
    GiveUpGap();
    DeliverReady();
  }
}

}  // namespace fe::voip::udptl
