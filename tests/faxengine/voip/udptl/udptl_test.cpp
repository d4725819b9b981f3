// UDPTL packets and sessions: the length determinant at its boundaries, packets
// cut short or bent out of shape, and a sender and receiver joined by a wire
// that loses, repeats and reorders datagrams. Every decode works on a heap copy
// of exactly the datagram's size, so a read past its end is a sanitizer error.
#include "udptl.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

namespace fe::voip::udptl {
namespace {

TBytes Ifp(size_t size, uint8_t salt) {
  TBytes ifp(size);
  for (size_t i = 0; i < size; ++i) ifp[i] = static_cast<uint8_t>(salt * 31 + i * 7 + 1);
  return ifp;
}

TDecodeError DecodeExact(const TBytes& bytes, TPacket& out) {
  // A buffer of exactly this size: one byte read beyond it is caught.
  std::unique_ptr<uint8_t[]> copy(new uint8_t[bytes.size() + (bytes.empty() ? 1 : 0)]);
  std::copy(bytes.begin(), bytes.end(), copy.get());
  return Decode(copy.get(), bytes.size(), out);
}

TEST(UdptlCodec, LengthDeterminantAtItsBoundaries) {
  struct Case {
    size_t size;
    TBytes header;  // the length determinant of the primary IFP
  };
  const Case cases[] = {{0, {0x00}}, {1, {0x01}}, {127, {0x7F}}, {128, {0x80, 0x80}}, {16383, {0xBF, 0xFF}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    TPacket packet;
    packet.seq = 0xBEEF;
    packet.primary = Ifp(c.size, 3);
    TBytes bytes;
    ASSERT_TRUE(Encode(packet, bytes));
    ASSERT_EQ(bytes.size(), 2 + c.header.size() + c.size + 2);
    EXPECT_EQ(bytes[0], 0xBE);
    EXPECT_EQ(bytes[1], 0xEF);
    EXPECT_EQ(TBytes(bytes.begin() + 2, bytes.begin() + 2 + long(c.header.size())), c.header);
    EXPECT_EQ(bytes.size(), EncodedSize(c.size, {}));
    TPacket back;
    ASSERT_EQ(DecodeExact(bytes, back), TDecodeError::None);
    EXPECT_EQ(back.seq, 0xBEEF);
    EXPECT_EQ(back.primary, packet.primary);
    EXPECT_FALSE(back.fec);
    EXPECT_TRUE(back.secondaries.empty());
  }
  // 16384 needs fragments: refused when writing, and a fragment prefix when reading.
  TPacket big;
  big.primary = Ifp(16384, 1);
  TBytes bytes = {0x55};
  EXPECT_FALSE(Encode(big, bytes));
  EXPECT_EQ(bytes, TBytes{0x55});
  TPacket secondaryTooBig;
  secondaryTooBig.secondaries.push_back(Ifp(16384, 2));
  EXPECT_FALSE(Encode(secondaryTooBig, bytes));
  TPacket out;
  EXPECT_EQ(DecodeExact({0x00, 0x01, 0xC1, 0x00, 0x00}, out), TDecodeError::Fragmented);
}

TEST(UdptlCodec, SecondariesAndFecInTheirWireForm) {
  // Written out by hand from the packet layout: seq, primary, choice, count,
  // items; FEC: choice 0x80, fec-npackets as octet count and value, entries.
  const TBytes redundancy = {0x12, 0x34, 0x01, 0x00, 0x00, 0x02, 0x01, 0x06, 0x02, 0xC0, 0x01};
  TPacket packet;
  ASSERT_EQ(DecodeExact(redundancy, packet), TDecodeError::None);
  EXPECT_EQ(packet.seq, 0x1234);
  EXPECT_EQ(packet.primary, TBytes{0x00});
  ASSERT_EQ(packet.secondaries.size(), 2u);
  EXPECT_EQ(packet.secondaries[0], TBytes{0x06});
  EXPECT_EQ(packet.secondaries[1], (TBytes{0xC0, 0x01}));
  TBytes again;
  ASSERT_TRUE(Encode(packet, again));
  EXPECT_EQ(again, redundancy);

  const TBytes fec = {0xFF, 0xFF, 0x01, 0x02, 0x80, 0x01, 0x03, 0x02, 0x02, 0xAA, 0xBB, 0x01, 0xCC};
  ASSERT_EQ(DecodeExact(fec, packet), TDecodeError::None);
  EXPECT_EQ(packet.seq, 0xFFFF);
  EXPECT_TRUE(packet.fec);
  EXPECT_EQ(packet.fecSpan, 3);
  ASSERT_EQ(packet.fecData.size(), 2u);
  EXPECT_EQ(packet.fecData[0], (TBytes{0xAA, 0xBB}));
  EXPECT_EQ(packet.fecData[1], TBytes{0xCC});
  ASSERT_TRUE(Encode(packet, again));
  EXPECT_EQ(again, fec);
}

TEST(UdptlCodec, CutOrBentPacketsAreRefusedWithoutReadingPastTheEnd) {
  TPacket withSecondaries;
  withSecondaries.seq = 7;
  withSecondaries.primary = Ifp(200, 1);
  withSecondaries.secondaries = {Ifp(130, 2), Ifp(3, 3), Ifp(0, 4)};
  TPacket withFec;
  withFec.seq = 9;
  withFec.primary = Ifp(40, 5);
  withFec.fec = true;
  withFec.fecSpan = 2;
  withFec.fecData = {Ifp(40, 6), Ifp(150, 7), Ifp(1, 8)};
  for (const TPacket& p : {withSecondaries, withFec}) {
    TBytes bytes;
    ASSERT_TRUE(Encode(p, bytes));
    TPacket out;
    ASSERT_EQ(DecodeExact(bytes, out), TDecodeError::None);
    // Every shorter prefix is an incomplete packet.
    for (size_t n = 0; n < bytes.size(); ++n) {
      const TBytes cut(bytes.begin(), bytes.begin() + long(n));
      EXPECT_EQ(DecodeExact(cut, out), TDecodeError::Truncated) << "prefix of " << n;
    }
    TBytes longer = bytes;
    longer.push_back(0);
    EXPECT_EQ(DecodeExact(longer, out), TDecodeError::TrailingBytes);
  }
  TPacket out;
  // An error-recovery choice that does not exist.
  EXPECT_EQ(DecodeExact({0x00, 0x01, 0x01, 0x00, 0x40, 0x00}, out), TDecodeError::BadRecovery);
  // A count of 100 secondaries with two bytes left.
  EXPECT_EQ(DecodeExact({0x00, 0x01, 0x01, 0x00, 0x00, 0x64, 0x00, 0x00}, out), TDecodeError::Truncated);
  // FEC spans of zero, negative, beyond reason; an integer of five octets.
  EXPECT_EQ(DecodeExact({0x00, 0x01, 0x00, 0x80, 0x01, 0x00, 0x00}, out), TDecodeError::BadFec);
  EXPECT_EQ(DecodeExact({0x00, 0x01, 0x00, 0x80, 0x01, 0xFF, 0x00}, out), TDecodeError::BadFec);
  EXPECT_EQ(DecodeExact({0x00, 0x01, 0x00, 0x80, 0x02, 0x10, 0x00, 0x00}, out), TDecodeError::BadFec);
  EXPECT_EQ(DecodeExact({0x00, 0x01, 0x00, 0x80, 0x05, 0, 0, 0, 0, 1, 0x00}, out), TDecodeError::BadFec);
  // More FEC entries than any sender uses.
  TBytes many = {0x00, 0x01, 0x00, 0x80, 0x01, 0x01, 0x21};
  for (int i = 0; i < 33; ++i) many.push_back(0x00);
  EXPECT_EQ(DecodeExact(many, out), TDecodeError::BadFec);
}

// A sender and a receiver joined by a wire the test controls.
struct Link {
  explicit Link(TSession::TSettings tx = {}, TSession::TSettings rx = {}) : sender(tx), receiver(rx) {
    sender.SetSend([this](const uint8_t* d, size_t n) { wire.emplace_back(d, d + n); });
    receiver.SetIfpSink([this](uint16_t seq, const uint8_t* d, size_t n, TOrigin origin) {
      got.push_back({seq, TBytes(d, d + n), origin});
    });
    receiver.SetLossSink([this](uint16_t seq, int count) { losses.emplace_back(seq, count); });
  }
  void Pass(size_t i) { receiver.Receive(wire[i].data(), wire[i].size()); }

  struct Got {
    uint16_t seq;
    TBytes ifp;
    TOrigin origin;
  };
  TSession sender;
  TSession receiver;
  std::vector<TBytes> wire;
  std::vector<Got> got;
  std::vector<std::pair<uint16_t, int>> losses;
};

TEST(UdptlSession, SendsNumberedPacketsWithTheNewestEarlierIfpsAsSecondaries) {
  Link link;
  std::vector<TBytes> sent;
  const int redundancy[] = {3, 3, 0, 1, 5, 2};
  for (int i = 0; i < 6; ++i) {
    sent.push_back(Ifp(10 + size_t(i), uint8_t(i)));
    EXPECT_EQ(link.sender.Send(sent.back().data(), sent.back().size(), redundancy[i]), i);
  }
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    TPacket packet;
    ASSERT_EQ(DecodeExact(link.wire[size_t(i)], packet), TDecodeError::None);
    EXPECT_EQ(packet.seq, i);
    EXPECT_EQ(packet.primary, sent[size_t(i)]);
    ASSERT_EQ(packet.secondaries.size(), size_t(std::min(redundancy[i], i)));
    for (size_t k = 0; k < packet.secondaries.size(); ++k) EXPECT_EQ(packet.secondaries[k], sent[size_t(i) - 1 - k]);
  }
  EXPECT_EQ(link.sender.Stats().sent, 6u);
}

TEST(UdptlSession, SecondariesAreTrimmedOldestFirstToTheFarDatagramSize) {
  TSession::TSettings small;
  small.farMaxDatagram = 80;
  Link link(small);
  for (uint8_t i = 0; i < 8; ++i) {
    const TBytes ifp = Ifp(20, i);
    link.sender.Send(ifp.data(), ifp.size(), 5);
  }
  // 2 + 1 + 20 + 1 + 1 = 25 bytes for the primary, 21 per secondary: two fit.
  TPacket packet;
  ASSERT_EQ(DecodeExact(link.wire.back(), packet), TDecodeError::None);
  EXPECT_LE(link.wire.back().size(), 80u);
  ASSERT_EQ(packet.secondaries.size(), 2u);
  EXPECT_EQ(packet.secondaries[0], Ifp(20, 6));
  EXPECT_EQ(packet.secondaries[1], Ifp(20, 5));
  for (const TBytes& datagram : link.wire) EXPECT_LE(datagram.size(), 80u);
  EXPECT_EQ(link.sender.Stats().oversize, 0u);
  // An IFP too big on its own still goes, alone, and is counted.
  const TBytes huge = Ifp(100, 9);
  link.sender.Send(huge.data(), huge.size(), 3);
  ASSERT_EQ(DecodeExact(link.wire.back(), packet), TDecodeError::None);
  EXPECT_EQ(packet.primary, huge);
  EXPECT_TRUE(packet.secondaries.empty());
  EXPECT_EQ(link.sender.Stats().oversize, 1u);
}

// Sends count IFPs of varying size; returns them.
std::vector<TBytes> SendMany(Link& link, int count, int redundancy, unsigned seed = 1) {
  std::mt19937 random(seed);
  std::vector<TBytes> sent;
  for (int i = 0; i < count; ++i) {
    sent.push_back(Ifp(1 + random() % 60, uint8_t(random())));
    link.sender.Send(sent.back().data(), sent.back().size(), redundancy);
  }
  return sent;
}

TEST(UdptlSession, LostRunsUpToTheRedundancyAreRecoveredFromSecondaries) {
  for (int redundancy = 1; redundancy <= 4; ++redundancy) {
    for (int run = 1; run <= redundancy; ++run) {
      SCOPED_TRACE("redundancy " + std::to_string(redundancy) + ", run " + std::to_string(run));
      Link link;
      const auto sent = SendMany(link, 20, redundancy);
      for (size_t i = 0; i < link.wire.size(); ++i)
        if (i < 8 || i >= 8 + size_t(run)) link.Pass(i);
      ASSERT_EQ(link.got.size(), sent.size());
      for (size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(link.got[i].seq, i);
        EXPECT_EQ(link.got[i].ifp, sent[i]);
        EXPECT_EQ(link.got[i].origin, i >= 8 && i < 8 + size_t(run) ? TOrigin::Secondary : TOrigin::Primary);
      }
      EXPECT_EQ(link.receiver.Stats().recoveredSecondary, uint64_t(run));
      EXPECT_EQ(link.receiver.Stats().lost, 0u);
      EXPECT_TRUE(link.losses.empty());
    }
  }
}

TEST(UdptlSession, ARunLongerThanTheRedundancyLosesOnlyWhatNoPacketCarries) {
  Link link;
  const auto sent = SendMany(link, 20, 2);
  for (size_t i = 0; i < link.wire.size(); ++i)
    if (i < 5 || i > 8) link.Pass(i);  // 5, 6, 7, 8 lost; 9 carries 8 and 7
  ASSERT_EQ(link.got.size(), sent.size() - 2);
  ASSERT_EQ(link.losses.size(), 1u);
  EXPECT_EQ(link.losses[0], std::make_pair(uint16_t(5), 2));
  EXPECT_EQ(link.receiver.Stats().lost, 2u);
  EXPECT_EQ(link.got[5].seq, 7);
  EXPECT_EQ(link.got[5].ifp, sent[7]);
  for (size_t i = 1; i < link.got.size(); ++i) EXPECT_LT(link.got[i - 1].seq, link.got[i].seq);
}

TEST(UdptlSession, FecRebuildsLostPacketsItCovers) {
  // span 3, 2 entries: each packet covers the six before it, odd and even apart,
  // so any two lost in a row are rebuilt from one later packet.
  for (int lostRun = 1; lostRun <= 2; ++lostRun) {
    SCOPED_TRACE(lostRun);
    TSession::TSettings fec;
    fec.fecSpan = 3;
    fec.fecEntries = 2;
    Link link(fec);
    const auto sent = SendMany(link, 30, 0, 7);
    for (size_t i = 0; i < link.wire.size(); ++i)
      if (i < 12 || i >= 12 + size_t(lostRun)) link.Pass(i);
    ASSERT_EQ(link.got.size(), sent.size());
    for (size_t i = 0; i < sent.size(); ++i) {
      ASSERT_EQ(link.got[i].seq, i);
      // A rebuilt IFP is as long as the longest it was coded with: its own bytes
      // and then zeros.
      const TBytes& ifp = link.got[i].ifp;
      ASSERT_GE(ifp.size(), sent[i].size());
      EXPECT_EQ(TBytes(ifp.begin(), ifp.begin() + long(sent[i].size())), sent[i]);
      for (size_t k = sent[i].size(); k < ifp.size(); ++k) EXPECT_EQ(ifp[k], 0);
      EXPECT_EQ(link.got[i].origin, i >= 12 && i < 12 + size_t(lostRun) ? TOrigin::Fec : TOrigin::Primary);
    }
    EXPECT_EQ(link.receiver.Stats().recoveredFec, uint64_t(lostRun));
    EXPECT_EQ(link.receiver.Stats().lost, 0u);
  }
}

TEST(UdptlSession, FecRepairsChainWhenOneRebuiltPacketCompletesAnotherEntry) {
  // span 2, 1 entry: packet n covers n-1 and n-2. Lose 10 and 11: packet 12
  // cannot help (both missing), packet 13 rebuilds 11 from 12; then 12's entry
  // has only 10 missing and rebuilds it.
  TSession::TSettings fec;
  fec.fecSpan = 2;
  fec.fecEntries = 1;
  Link link(fec);
  const auto sent = SendMany(link, 20, 0, 3);
  for (size_t i = 0; i < link.wire.size(); ++i)
    if (i != 10 && i != 11) link.Pass(i);
  ASSERT_EQ(link.got.size(), sent.size());
  EXPECT_EQ(link.receiver.Stats().recoveredFec, 2u);
  for (size_t i = 0; i < sent.size(); ++i)
    EXPECT_EQ(TBytes(link.got[i].ifp.begin(), link.got[i].ifp.begin() + long(sent[i].size())), sent[i]);
}

TEST(UdptlSession, DuplicatesAndReorderingStillGiveEachIfpOnceInOrder) {
  Link link;
  const auto sent = SendMany(link, 12, 0);
  // Datagrams twice, pairs swapped, one very late copy of the first. (The first
  // to arrive starts the run: nothing before it is waited for.)
  const size_t order[] = {0, 0, 2, 1, 1, 2, 4, 3, 3, 6, 5, 7, 9, 8, 11, 10, 0};
  for (size_t i : order) link.Pass(i);
  ASSERT_EQ(link.got.size(), sent.size());
  for (size_t i = 0; i < sent.size(); ++i) {
    EXPECT_EQ(link.got[i].seq, i);
    EXPECT_EQ(link.got[i].ifp, sent[i]);
  }
  EXPECT_EQ(link.receiver.Stats().duplicates, 5u);
  EXPECT_EQ(link.receiver.Stats().lost, 0u);
  EXPECT_EQ(link.receiver.Stats().received, std::size(order));
}

TEST(UdptlSession, AGapHeldBackIsGivenUpAfterItsTimeOrWhenTooManyWait) {
  TSession::TSettings rx;
  rx.holdMs = 60;
  Link link({}, rx);
  SendMany(link, 12, 0);
  link.Pass(0);
  link.Pass(2);  // 1 missing: 2 waits
  EXPECT_EQ(link.got.size(), 1u);
  link.receiver.Advance(40);
  EXPECT_EQ(link.got.size(), 1u);
  link.receiver.Advance(20);
  ASSERT_EQ(link.got.size(), 2u);
  EXPECT_EQ(link.got[1].seq, 2);
  ASSERT_EQ(link.losses.size(), 1u);
  EXPECT_EQ(link.losses[0], std::make_pair(uint16_t(1), 1));
  // A late 1 is now a duplicate, not a step back.
  link.Pass(1);
  EXPECT_EQ(link.got.size(), 2u);
  EXPECT_EQ(link.receiver.Stats().duplicates, 1u);
  // Without the clock: packets pile up behind gap 3 until too many wait.
  for (size_t i = 4; i < 12; ++i) link.Pass(i);
  EXPECT_EQ(link.got.back().seq, 11);
  EXPECT_EQ(link.receiver.Stats().lost, 2u);
}

// Packets numbered from first on, written directly (a far end's numbering).
std::vector<TBytes> NumberedFrom(uint16_t first, int count, int redundancy) {
  std::vector<TBytes> out;
  std::vector<TBytes> ifps;
  for (int i = 0; i < count; ++i) {
    TPacket packet;
    packet.seq = static_cast<uint16_t>(first + i);
    packet.primary = Ifp(5, uint8_t(i));
    for (int k = 1; k <= redundancy && k <= i; ++k) packet.secondaries.push_back(ifps[size_t(i - k)]);
    ifps.push_back(packet.primary);
    TBytes bytes;
    EXPECT_TRUE(Encode(packet, bytes));
    out.push_back(bytes);
  }
  return out;
}

TEST(UdptlSession, AcceptsAnyFirstNumberAndTheWrap) {
  for (uint16_t first : {uint16_t(32768), uint16_t(65530), uint16_t(0)}) {
    SCOPED_TRACE(first);
    TSession receiver({});
    std::vector<uint16_t> seqs;
    receiver.SetIfpSink([&](uint16_t seq, const uint8_t*, size_t, TOrigin) { seqs.push_back(seq); });
    const auto packets = NumberedFrom(first, 12, 1);
    for (size_t i = 0; i < packets.size(); ++i)
      if (i != 7) receiver.Receive(packets[i].data(), packets[i].size());  // 7 comes from 8's secondary
    ASSERT_EQ(seqs.size(), 12u);
    for (size_t i = 0; i < seqs.size(); ++i) EXPECT_EQ(seqs[i], uint16_t(first + i));
    EXPECT_EQ(receiver.Stats().lost, 0u);
    EXPECT_EQ(receiver.Stats().resyncs, 0u);
  }
}

TEST(UdptlSession, TheFirstPacketsLostAreTakenFromTheSecondariesOfTheFirstThatArrives) {
  // While a NAT pinhole opens the first datagrams may vanish.
  TSession receiver({});
  std::vector<uint16_t> seqs;
  receiver.SetIfpSink([&](uint16_t seq, const uint8_t*, size_t, TOrigin) { seqs.push_back(seq); });
  const auto packets = NumberedFrom(100, 6, 3);
  for (size_t i = 2; i < packets.size(); ++i) receiver.Receive(packets[i].data(), packets[i].size());
  EXPECT_EQ(seqs, (std::vector<uint16_t>{100, 101, 102, 103, 104, 105}));
}

TEST(UdptlSession, MalformedDatagramsAreCountedAndChangeNothing) {
  Link link;
  const auto sent = SendMany(link, 6, 1);
  link.Pass(0);
  const TBytes junk[] = {{}, {0x00}, {0x00, 0x01, 0x05, 0x01}, {0x00, 0x02, 0x01, 0x00, 0x7F}, {0xC0, 0xC0, 0xC0}};
  for (const TBytes& bad : junk) {
    std::unique_ptr<uint8_t[]> copy(new uint8_t[bad.size() + 1]);
    std::copy(bad.begin(), bad.end(), copy.get());
    EXPECT_FALSE(link.receiver.Receive(copy.get(), bad.size()));
  }
  for (size_t i = 1; i < link.wire.size(); ++i) link.Pass(i);
  EXPECT_EQ(link.receiver.Stats().malformed, std::size(junk));
  ASSERT_EQ(link.got.size(), sent.size());
  for (size_t i = 0; i < sent.size(); ++i) EXPECT_EQ(link.got[i].ifp, sent[i]);
}

TEST(UdptlSession, AFarEndThatRestartsItsNumberingIsFollowed) {
  TSession receiver({});
  std::vector<uint16_t> seqs;
  receiver.SetIfpSink([&](uint16_t seq, const uint8_t*, size_t, TOrigin) { seqs.push_back(seq); });
  for (const TBytes& p : NumberedFrom(20000, 4, 0)) receiver.Receive(p.data(), p.size());
  for (const TBytes& p : NumberedFrom(5, 3, 0)) receiver.Receive(p.data(), p.size());
  EXPECT_EQ(seqs, (std::vector<uint16_t>{20000, 20001, 20002, 20003, 5, 6, 7}));
  EXPECT_EQ(receiver.Stats().resyncs, 1u);
  EXPECT_EQ(receiver.Stats().lost, 0u);
}

TEST(UdptlSession, PacketsRenumberedOnTheWayGiveEachIfpOnce) {
  // A box in the path rewrites the numbers mid-call; the secondaries in the
  // renumbered packets are IFPs already handed on and must not come again.
  TSession receiver({});
  std::vector<TBytes> got;
  receiver.SetIfpSink([&](uint16_t, const uint8_t* d, size_t n, TOrigin) { got.emplace_back(d, d + n); });
  auto packets = NumberedFrom(300, 10, 3);
  for (size_t i = 5; i < packets.size(); ++i) {
    const auto seq = static_cast<uint16_t>(((packets[i][0] << 8) | packets[i][1]) + 30000);
    packets[i][0] = static_cast<uint8_t>(seq >> 8);
    packets[i][1] = static_cast<uint8_t>(seq & 0xFF);
  }
  for (const TBytes& p : packets) receiver.Receive(p.data(), p.size());
  ASSERT_EQ(got.size(), 10u);
  for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], Ifp(5, uint8_t(i)));
  EXPECT_EQ(receiver.Stats().resyncs, 1u);
}

TEST(UdptlSession, RandomLossWithRedundancyOrFecLosesNothingAtThreePercent) {
  for (bool useFec : {false, true}) {
    SCOPED_TRACE(useFec ? "fec" : "redundancy");
    TSession::TSettings tx;
    if (useFec) {
      tx.fecSpan = 3;
      tx.fecEntries = 3;
    }
    Link link(tx);
    const auto sent = SendMany(link, 2000, 3, 11);
    std::mt19937 random(4242);
    size_t dropped = 0;
    for (size_t i = 0; i < link.wire.size(); ++i) {
      if (random() % 100 < 3) {
        ++dropped;
        continue;
      }
      link.Pass(i);
    }
    link.receiver.Flush();
    EXPECT_GT(dropped, 30u);
    ASSERT_EQ(link.got.size(), sent.size());
    for (size_t i = 0; i < sent.size(); ++i)
      ASSERT_EQ(TBytes(link.got[i].ifp.begin(), link.got[i].ifp.begin() + long(sent[i].size())), sent[i]);
    const TStats& s = link.receiver.Stats();
    EXPECT_EQ(s.recoveredSecondary + s.recoveredFec, dropped);
    EXPECT_EQ(s.lost, 0u);
  }
}

}  // namespace
}  // namespace fe::voip::udptl
