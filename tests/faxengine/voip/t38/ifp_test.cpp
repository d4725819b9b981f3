// T.38 IFP packets against spandsp's T.38 core as the independent peer: what
// its encoder writes we must read back to the values it was given and write
// again byte for byte; what we write its decoder must hand to its receive
// handlers unchanged. Then the normalising step and damaged packets.
#include "ifp.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// spandsp's headers trip our warning set; they are not ours to fix.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include <spandsp.h>
#pragma GCC diagnostic pop

namespace fe::voip::ifp {
namespace {

using Bytes = std::vector<uint8_t>;

// A spandsp T.38 core whose packets are collected and whose receive handlers
// record what they are given as text.
struct Core {
  t38_core_state_t* core = nullptr;
  std::vector<Bytes> sent;
  std::vector<std::string> received;
  uint16_t rxSeq = 0;

  explicit Core(int version) {
    core = t38_core_init(nullptr, &Core::OnIndicator, &Core::OnData, &Core::OnMissing, this, &Core::OnPacket, this);
    t38_set_t38_version(core, version);
  }
  ~Core() { t38_core_free(core); }
  static int OnPacket(t38_core_state_t*, void* user, const uint8_t* buf, int len, int) {
    static_cast<Core*>(user)->sent.emplace_back(buf, buf + len);
    return 0;
  }
  static int OnIndicator(t38_core_state_t*, void* user, int indicator) {
    static_cast<Core*>(user)->received.push_back("ind " + std::to_string(indicator));
    return 0;
  }
  static int OnData(t38_core_state_t*, void* user, int dataType, int fieldType, const uint8_t* buf, int len) {
    static_cast<Core*>(user)->received.push_back("data " + std::to_string(dataType) + " " + std::to_string(fieldType) +
                                                 " " + std::string(buf, buf + len));
    return 0;
  }
  static int OnMissing(t38_core_state_t*, void*, int, int) { return 0; }
  void Feed(const Bytes& ifp) { t38_core_rx_ifp_packet(core, ifp.data(), int(ifp.size()), rxSeq++); }
};

TEST(Ifp, ReadsAndRewritesWhatSpandspWrites) {
  for (int version : {0, 2}) {
    SCOPED_TRACE("version " + std::to_string(version));
    Core peer(version);
    // Indicators: the root values, and in later versions the extension ones.
    const int lastIndicator = version == 0 ? kIndLastRoot : 22;
    for (int indicator = 0; indicator <= lastIndicator; ++indicator) {
      peer.sent.clear();
      t38_core_send_indicator(peer.core, indicator);
      ASSERT_EQ(peer.sent.size(), 1u) << indicator;
      TIfp p;
      ASSERT_EQ(Parse(peer.sent[0].data(), peer.sent[0].size(), version, p), peer.sent[0].size());
      EXPECT_TRUE(p.indicator);
      EXPECT_EQ(p.value, indicator);
      EXPECT_EQ(Encode(p, version), peer.sent[0]);
    }
    // Data: every root data type with every root field type, with and without data.
    const uint8_t bytes[300] = {0x7E, 0xFF, 0x13, 0x80, 0x00, 0x10};
    for (int dataType = 0; dataType <= kDataLastRoot; ++dataType) {
      for (int fieldType = 0; fieldType <= kFieldLastRoot; ++fieldType) {
        for (int len : {0, 1, 6, 300}) {
          if (len == 0 && (fieldType == kFieldHdlcData || fieldType == kFieldT4NonEcmData)) continue;
          peer.sent.clear();
          t38_core_send_data(peer.core, dataType, fieldType, bytes, len, T38_PACKET_CATEGORY_CONTROL_DATA);
          ASSERT_EQ(peer.sent.size(), 1u);
          TIfp p;
          ASSERT_EQ(Parse(peer.sent[0].data(), peer.sent[0].size(), version, p), peer.sent[0].size());
          EXPECT_FALSE(p.indicator);
          EXPECT_EQ(p.value, dataType);
          ASSERT_EQ(p.fields.size(), 1u);
          EXPECT_EQ(p.fields[0].type, fieldType);
          EXPECT_EQ(p.fields[0].data, Bytes(bytes, bytes + len));
          EXPECT_EQ(Encode(p, version), peer.sent[0]);
        }
      }
    }
    // Several fields in one packet, as the end of a frame is sent.
    const t38_data_field_t fields[] = {{T38_FIELD_HDLC_DATA, bytes, 6}, {T38_FIELD_HDLC_FCS_OK, nullptr, 0},
                                       {T38_FIELD_HDLC_DATA, bytes + 2, 3}, {T38_FIELD_HDLC_FCS_OK_SIG_END, nullptr, 0}};
    peer.sent.clear();
    t38_core_send_data_multi_field(peer.core, T38_DATA_V17_9600, fields, 4, T38_PACKET_CATEGORY_CONTROL_DATA_END);
    ASSERT_EQ(peer.sent.size(), 1u);
    TIfp p;
    ASSERT_EQ(Parse(peer.sent[0].data(), peer.sent[0].size(), version, p), peer.sent[0].size());
    EXPECT_EQ(Describe(p), "data v17-9600 hdlc-data/6 hdlc-fcs-OK hdlc-data/3 hdlc-fcs-OK-sig-end");
    EXPECT_EQ(Encode(p, version), peer.sent[0]);
  }
}

TEST(Ifp, SpandspReadsWhatWeWrite) {
  for (int version : {0, 3}) {
    SCOPED_TRACE("version " + std::to_string(version));
    Core peer(version);
    std::vector<TIfp> packets;
    std::vector<std::string> expected;
    for (int indicator : {1, 2, 3, 7, 15}) {
      packets.push_back(TIfp{true, indicator, false, {}});
      expected.push_back("ind " + std::to_string(indicator));
    }
    const std::string frame = "\xFF\x13\x80\x00\x4E\x76";
    const std::string page(257, 'x');
    packets.push_back(TIfp{false, kDataV21, true,
                           {{kFieldHdlcData, Bytes(frame.begin(), frame.end())}, {kFieldHdlcFcsOkSigEnd, {}}}});
    expected.push_back("data 0 0 " + frame);
    expected.push_back("data 0 4 ");
    packets.push_back(TIfp{false, kDataV29_9600, true, {{kFieldT4NonEcmData, Bytes(page.begin(), page.end())}}});
    expected.push_back("data 4 6 " + page);
    packets.push_back(TIfp{false, kDataV29_9600, true, {{kFieldT4NonEcmSigEnd, Bytes(3, 0)}}});
    expected.push_back("data 4 7 " + std::string(3, '\0'));
    for (const TIfp& p : packets) {
      const Bytes bytes = Encode(p, version);
      ASSERT_FALSE(bytes.empty());
      peer.Feed(bytes);
    }
    EXPECT_EQ(peer.received, expected);
  }
}

TEST(Ifp, NormalisingMovesDataOutOfFrameEnds) {
  const Bytes tail = {0x12, 0x34};
  for (int end : {kFieldHdlcSigEnd, kFieldHdlcFcsOk, kFieldHdlcFcsBad, kFieldHdlcFcsOkSigEnd, kFieldHdlcFcsBadSigEnd}) {
    SCOPED_TRACE(FieldTypeName(end));
    TIfp p{false, kDataV21, true, {{kFieldHdlcData, {0xFF, 0x13}}, {end, tail}}};
    ASSERT_TRUE(Normalise(p));
    ASSERT_EQ(p.fields.size(), 3u);
    EXPECT_EQ(p.fields[1].type, kFieldHdlcData);
    EXPECT_EQ(p.fields[1].data, tail);
    EXPECT_EQ(p.fields[2].type, end);
    EXPECT_TRUE(p.fields[2].data.empty());
    // spandsp now gets the bytes as frame data and the end as an end.
    Core peer(0);
    peer.Feed(Encode(p, 0));
    ASSERT_EQ(peer.received.size(), 3u);
    EXPECT_EQ(peer.received[1], "data 0 0 \x12\x34");
    EXPECT_EQ(peer.received[2], "data 0 " + std::to_string(end) + " ");
  }
  // Packets that are already right stay as they are; page data may end with data.
  TIfp good{false, kDataV21, true, {{kFieldHdlcData, {0xFF}}, {kFieldHdlcFcsOk, {}}}};
  EXPECT_FALSE(Normalise(good));
  TIfp page{false, kDataV17_14400, true, {{kFieldT4NonEcmSigEnd, {1, 2, 3}}}};
  EXPECT_FALSE(Normalise(page));
  EXPECT_EQ(page.fields[0].data.size(), 3u);
}

TEST(Ifp, DamagedPacketsAreRefusedAndPaddingIsNotPartOfThePacket) {
  const TIfp samples[] = {
      {true, 3, false, {}},
      {false, kDataV21, true, {{kFieldHdlcData, Bytes(200, 0x7E)}, {kFieldHdlcFcsOk, {}}}},
      {false, kDataV17_14400, true, {{kFieldT4NonEcmData, Bytes(40, 0)}, {kFieldT4NonEcmSigEnd, {}}}},
  };
  for (int version : {0, 2}) {
    for (const TIfp& sample : samples) {
      const Bytes bytes = Encode(sample, version);
      ASSERT_FALSE(bytes.empty());
      TIfp out;
      for (size_t n = 0; n < bytes.size(); ++n) {
        // An exact-size heap copy: reading past it is a sanitizer error.
        std::unique_ptr<uint8_t[]> cut(new uint8_t[n + 1]);
        std::copy(bytes.begin(), bytes.begin() + long(n), cut.get());
        EXPECT_EQ(Parse(cut.get(), n, version, out), 0u) << "prefix of " << n;
      }
      // Zeros after a packet (FEC padding) are not read as part of it.
      Bytes padded = bytes;
      padded.resize(bytes.size() + 9, 0);
      EXPECT_EQ(Parse(padded.data(), padded.size(), version, out), bytes.size());
      EXPECT_EQ(Describe(out), Describe(sample));
    }
  }
  TIfp out;
  const Bytes rootDataOutOfRange = {0x40 | (9 << 1)};
  EXPECT_EQ(Parse(rootDataOutOfRange.data(), rootDataOutOfRange.size(), 0, out), 0u);
  const Bytes extensionOutOfRange = {0x20 | 0x01, 0xC0};  // indicator 16 + 7
  EXPECT_EQ(Parse(extensionOutOfRange.data(), extensionOutOfRange.size(), 2, out), 0u);
  const Bytes countBeyondEnd = {0xC0, 0x05, 0x00};
  EXPECT_EQ(Parse(countBeyondEnd.data(), countBeyondEnd.size(), 0, out), 0u);
  EXPECT_EQ(Describe(countBeyondEnd.data(), countBeyondEnd.size(), 0), "malformed (3 bytes)");
  // Nothing unwritable is written.
  EXPECT_TRUE(Encode(TIfp{true, 16, false, {}}, 0).empty());
  EXPECT_TRUE(Encode(TIfp{false, 3, true, {{kFieldHdlcData, Bytes(65536, 1)}}}, 0).empty());
  EXPECT_TRUE(Encode(TIfp{false, 3, true, {{kFieldLastRoot + 1, {1}}}}, 0).empty());
}

}  // namespace
}  // namespace fe::voip::ifp
