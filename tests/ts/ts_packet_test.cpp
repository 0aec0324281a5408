#include "ts/ts_packet.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <optional>
#include <span>
#include <vector>

#include "bytes.h"

namespace tessel {
namespace {

using ::testing::ElementsAreArray;

using test::Bytes;

struct PcrCase {
  uint64_t base;
  uint16_t extension;
  std::vector<uint8_t> wire;
};

TEST(PcrTest, EncodesAndDecodes) {
  const PcrCase cases[] = {
      {0x1FFFFFFFF, 0x1FF, Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})},
      {0, 0, Bytes({0x00, 0x00, 0x00, 0x00, 0x7E, 0x00})},  // reserved bits set
      {1, 0x100, Bytes({0x00, 0x00, 0x00, 0x00, 0xFF, 0x00})},
      // 600 s at 90 kHz plus 45 ticks of 27 MHz.
      {54000000, 45, Bytes({0x01, 0x9B, 0xFC, 0xC0, 0x7E, 0x2D})},
  };
  for (const PcrCase& c : cases) {
    ByteWriter out;
    WritePcr(out, {c.base, c.extension});
    EXPECT_THAT(out.buffer(), ElementsAreArray(c.wire)) << c.base;
    ByteReader in(c.wire);
    const PCR back = ReadPcr(in);
    EXPECT_EQ(back.Base, c.base);
    EXPECT_EQ(back.Extension, c.extension);
    if (c.extension < 300) {  // a normalised value goes through 27 MHz unchanged
      EXPECT_EQ(PCR::FromValue(back.Value()).Base, c.base);
    }
  }
}

TEST(TimestampTest, EncodesWithPrefixAndMarkerBits) {
  const struct {
    Timestamp ts;
    std::vector<uint8_t> wire;
  } cases[] = {
      {{kPrefixPtsOnly, 0}, Bytes({0x21, 0x00, 0x01, 0x00, 0x01})},
      {{kPrefixPtsWithDts, 0x1FFFFFFFF}, Bytes({0x3F, 0xFF, 0xFF, 0xFF, 0xFF})},
      {{kPrefixDts, 54000000}, Bytes({0x11, 0x0C, 0xDF, 0xF3, 0x01})},
  };
  for (const auto& c : cases) {
    ByteWriter out;
    WriteTimestamp(out, c.ts);
    EXPECT_THAT(out.buffer(), ElementsAreArray(c.wire));
    ByteReader in(c.wire);
    const Timestamp back = ReadTimestamp(in);
    EXPECT_EQ(back.Prefix, c.ts.Prefix);
    EXPECT_EQ(back.Value, c.ts.Value);
  }
}

TEST(TpExtraHeaderTest, KeepsThirtyBitsOfTheClock) {
  uint8_t header[4];
  WriteTpExtraHeader(header, 3, Ticks27M((uint64_t{5} << 30) | 0x12345678));
  EXPECT_THAT(header, ElementsAreArray(Bytes({0xD2, 0x34, 0x56, 0x78})));
  const TpExtraHeader back = ReadTpExtraHeader(header);
  EXPECT_EQ(back.CopyPermissionIndicator, 3);
  EXPECT_EQ(back.ArriveTimeStamp, 0x12345678u);
}

TEST(AdaptationFieldTest, StuffingTakesExactlyTheRequestedBytes) {
  const struct {
    uint8_t control_before;
    size_t n;
    uint8_t control_after;
    std::vector<uint8_t> field;
  } cases[] = {
      {1, 1, 3, Bytes({0x00})},
      {1, 2, 3, Bytes({0x01, 0x00})},
      {3, 4, 3, Bytes({0x03, 0x00, 0xFF, 0xFF})},
      {2, 3, 2, Bytes({0x02, 0x00, 0xFF})},
  };
  for (const auto& c : cases) {
    TransportPacket packet;
    packet.PayloadUnitStartIndicator = false;
    packet.AdaptationFieldControl = c.control_before;
    StuffAdaptationField(packet, c.n);
    EXPECT_EQ(packet.AdaptationFieldControl, c.control_after);
    ByteWriter out;
    EXPECT_EQ(WriteTransportPacket(out, packet), 4 + c.n);
    const std::vector<uint8_t> field(out.buffer().begin() + 4, out.buffer().end());
    EXPECT_THAT(field, ElementsAreArray(c.field)) << "n = " << c.n;
  }
}

// The PCR packet of a written stream: adaptation field only, PCR and 176 stuffing bytes.
TEST(AdaptationFieldTest, PcrPacketFillsTheWholePacketAndReadsBack) {
  TransportPacket packet;
  packet.PID = pid::kPcr;
  packet.AdaptationFieldControl = 2;
  AdaptationField& field = packet.Adaptation.emplace();
  field.Pcr = PCR::FromValue(Ticks27M(27000000ull * 600 + 45));
  field.StuffingSize = 176;
  ByteWriter out;
  ASSERT_EQ(WriteTransportPacket(out, packet), kTransportPacketSize);
  EXPECT_EQ(out.buffer()[4], 183);
  EXPECT_EQ(out.buffer()[5], 0x10);

  TransportPacket back;
  ASSERT_EQ(ReadTransportPacket(out.buffer(), back), kTransportPacketSize);
  EXPECT_EQ(back.PID, pid::kPcr);
  ASSERT_TRUE(back.Adaptation && back.Adaptation->Pcr);
  EXPECT_EQ(back.Adaptation->Pcr->Value(), Ticks27M(27000000ull * 600 + 45));
  EXPECT_EQ(back.Adaptation->StuffingSize, 176u);
}

TEST(TransportPacketTest, RejectsWhatIsNotAPacket) {
  std::vector<uint8_t> packet(kTransportPacketSize, 0xFF);
  packet[0] = 0x47;
  packet[1] = 0x11;
  packet[2] = 0x00;
  packet[3] = 0x30;  // adaptation field and payload
  packet[4] = 184;   // longer than the packet
  TransportPacket parsed;
  EXPECT_EQ(ReadTransportPacket(packet, parsed), 0u);
  packet[4] = 0;
  EXPECT_EQ(ReadTransportPacket(packet, parsed), 5u);
  EXPECT_EQ(parsed.PID, 0x1100);
  packet[0] = 0x48;  // bad sync byte
  EXPECT_EQ(ReadTransportPacket(packet, parsed), 0u);
  EXPECT_EQ(parsed.PID, pid::kNull);
  EXPECT_EQ(ReadTransportPacket(std::span(packet).first(100), parsed), 0u);
}

TEST(PesHeaderTest, StreamsWithoutOptionalHeaderAreSixBytes) {
  for (uint8_t id : {0xBC, 0xBE, 0xBF, 0xF0, 0xF1, 0xFF}) {
    PesHeader pes;
    pes.StreamID = id;
    pes.PTS = Timestamp{kPrefixPtsOnly, 1};
    pes.PES_PacketLength = 0x1234;
    ByteWriter out;
    EXPECT_EQ(WritePesHeader(out, pes), 6u);
    EXPECT_THAT(out.buffer(), ElementsAreArray(Bytes({0x00, 0x00, 0x01, id, 0x12, 0x34})));
  }
}

TEST(PesHeaderTest, VideoHeaderWithPtsAndDts) {
  PesHeader pes;
  pes.StreamID = 0xE0;
  pes.PTS = Timestamp{0, 54003003};
  pes.DTS = Timestamp{0, 54000000};
  ByteWriter out;
  ASSERT_EQ(WritePesHeader(out, pes), 19u);
  EXPECT_THAT(out.buffer(), ElementsAreArray(Bytes({
                                0x00, 0x00, 0x01, 0xE0, 0x00, 0x00,  // start code, id, length 0
                                0x84,                                // '10', data alignment
                                0xC0,                                // PTS and DTS
                                0x0A,                                // header data length
                                0x31, 0x0C, 0xE1, 0x0A, 0x77,        // PTS 54003003, prefix 0011
                                0x11, 0x0C, 0xDF, 0xF3, 0x01,        // DTS 54000000, prefix 0001
                            })));
}

// Every optional part at once: written, read back and written again to the same bytes.
TEST(PesHeaderTest, EveryOptionalFieldRoundTrips) {
  PesHeader pes;
  pes.StreamID = 0xFD;
  pes.PES_PacketLength = 500;
  pes.PES_Priority = true;
  pes.Copyright = true;
  pes.PTS = Timestamp{kPrefixPtsWithDts, 0x123456789};
  pes.DTS = Timestamp{kPrefixDts, 0x012345678};
  pes.ESCR = PCR{0x1ABCDEF01, 0x123};
  pes.ES_Rate = 0x2ABCDE;
  pes.TrickMode = 0x5F;
  pes.AdditionalCopyInfo = 0x55;
  pes.PreviousPES_PacketCRC = 0xBEEF;
  PesExtension& ext = pes.Extension.emplace();
  ext.PrivateData.emplace();
  for (size_t i = 0; i < 16; ++i) (*ext.PrivateData)[i] = static_cast<uint8_t>(i);
  ext.PackHeader = Bytes({1, 2, 3});
  ext.ProgramPacketSequenceCounterFlag = true;
  ext.ProgramPacketSequenceCounter = 0x55;
  ext.Mpeg1Mpeg2Identifier = true;
  ext.OriginalStuffLength = 0x2A;
  ext.P_STD_BufferFlag = true;
  ext.P_STD_BufferScale = true;
  ext.P_STD_BufferSize = 0x1ABC;
  ext.Extension2 = Bytes({0x71});
  pes.StuffingSize = 3;
  pes.DataStreamAlignmentType = 1;

  ByteWriter first;
  const size_t size = WritePesHeader(first, pes);
  EXPECT_EQ(pes.PES_HeaderDataLength, 0) << "the record is left as it was";
  ByteReader in(first.buffer());
  PesHeader back;
  ASSERT_TRUE(ReadPesHeader(in, back));
  EXPECT_EQ(size, 9u + back.PES_HeaderDataLength + 3);
  EXPECT_EQ(in.pos(), size);
  EXPECT_EQ(back.ESCR->Base, 0x1ABCDEF01u);
  EXPECT_EQ(back.ESCR->Extension, 0x123);
  EXPECT_EQ(*back.ES_Rate, 0x2ABCDEu);
  EXPECT_EQ(back.Extension->P_STD_BufferSize, 0x1ABC);
  EXPECT_EQ(back.StuffingSize, 3u);
  EXPECT_EQ(back.DataStreamAlignmentType, 1);
  ByteWriter second;
  WritePesHeader(second, back);
  EXPECT_EQ(second.buffer(), first.buffer());
}

// A payload that starts with the descriptor's tag keeps its bytes unless the header says the
// payload is aligned.
TEST(PesHeaderTest, AlignmentDescriptorOnlyWithDataAlignment) {
  for (bool aligned : {true, false}) {
    const std::vector<uint8_t> bytes =
        Bytes({0x00, 0x00, 0x01, 0xBD, 0x00, 0x00, aligned ? 0x84 : 0x80, 0x00, 0x00,  // no fields
               0x06, 0x01, 0x02, 0x0B, 0x77});
    ByteReader in(bytes);
    PesHeader pes;
    ASSERT_TRUE(ReadPesHeader(in, pes));
    EXPECT_EQ(in.pos(), aligned ? 12u : 9u);
    EXPECT_EQ(pes.DataStreamAlignmentType.has_value(), aligned);
  }
}

TEST(PesHeaderTest, HeaderLongerThanItsBytesFails) {
  const std::vector<uint8_t> bytes =
      Bytes({0x00, 0x00, 0x01, 0xE0, 0x00, 0x00, 0x84, 0x80, 0x20, 0x21, 0x00, 0x01});
  ByteReader in(bytes);
  PesHeader pes;
  EXPECT_FALSE(ReadPesHeader(in, pes));
  // In a packet, such a header is left out and the packet itself still reads.
  std::vector<uint8_t> packet(kTransportPacketSize, 0xFF);
  const uint8_t head[] = {0x47, 0x51, 0x00, 0x10, 0x00, 0x00, 0x01,
                          0xE0, 0x00, 0x00, 0x84, 0x80, 0xFF};  // header data length 255
  std::copy(std::begin(head), std::end(head), packet.begin());
  TransportPacket parsed;
  EXPECT_EQ(ReadTransportPacket(packet, parsed), 4u);
  EXPECT_FALSE(parsed.Pes);
}

TEST(PesPidTest, ElementaryStreamClasses) {
  for (uint16_t id : {0x1011, 0x1012, 0x1100, 0x111F, 0x1200, 0x12FF, 0x1400, 0x141F, 0x1800,
                      0x1A00, 0x1A1F, 0x1B00, 0x1B1F}) {
    EXPECT_TRUE(CarriesPesHeader(id)) << id;
  }
  for (uint16_t id : {0x0000, 0x001F, 0x0100, 0x1001, 0x1010, 0x1013, 0x1120, 0x1420, 0x1801,
                      0x1A20, 0x1B20, 0x1FFF}) {
    EXPECT_FALSE(CarriesPesHeader(id)) << id;
  }
}

// Headers that cannot be written as they are: a length that does not fit its field, or more than
// one packet of header. The writer fails and nothing claims success.
TEST(TransportPacketTest, HeaderThatDoesNotFitFailsTheWriter) {
  struct Case {
    const char* what;
    void (*shape)(TransportPacket&);
  };
  const Case cases[] = {
      {"adaptation field over 183 bytes",
       [](TransportPacket& p) {
         p.AdaptationFieldControl = 2;
         p.Adaptation.emplace().StuffingSize = 183;  // flags byte + 183 = 184
       }},
      {"adaptation field length over 255",
       [](TransportPacket& p) {
         p.AdaptationFieldControl = 2;
         p.Adaptation.emplace().StuffingSize = 300;
       }},
      {"private data over 255 bytes",
       [](TransportPacket& p) {
         p.AdaptationFieldControl = 2;
         p.Adaptation.emplace().PrivateData = std::vector<uint8_t>(256);
       }},
      {"PES header stuffing over 255 bytes",
       [](TransportPacket& p) {
         p.PID = 0x1100;
         p.Pes.emplace().StuffingSize = 256;
       }},
      {"PES header pushing the packet past 188 bytes",
       [](TransportPacket& p) {
         p.PID = 0x1100;
         p.AdaptationFieldControl = 3;
         p.Adaptation.emplace().StuffingSize = 100;
         p.Pes.emplace().StuffingSize = 80;  // 4 + 102 + 9 + 80
       }},
  };
  for (const Case& c : cases) {
    TransportPacket packet;
    c.shape(packet);
    ByteWriter out;
    EXPECT_EQ(WriteTransportPacket(out, packet), 0u) << c.what;
    EXPECT_FALSE(out.ok()) << c.what;
    std::array<uint8_t, kTransportPacketSize> span{};
    EXPECT_FALSE(FillTransportPacket(span, packet, {})) << c.what;
  }
  TransportPacket largest;  // exactly one packet of header still fits
  largest.AdaptationFieldControl = 2;
  largest.Adaptation.emplace().StuffingSize = 182;
  ByteWriter out;
  EXPECT_EQ(WriteTransportPacket(out, largest), kTransportPacketSize);
  EXPECT_TRUE(out.ok());
}

// Filling a packet in place gives the bytes the growing writer gives, followed by the payload and
// 0xFF where the payload ends early.
TEST(TransportPacketTest, FillInPlaceMatchesTheGrowingWriter) {
  std::vector<uint8_t> payload(300);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 7);
  struct Case {
    const char* what;
    size_t payload_size;
    void (*shape)(TransportPacket&);
  };
  const Case cases[] = {
      {"PCR packet", 0,
       [](TransportPacket& p) {
         p.PID = pid::kPcr;
         p.AdaptationFieldControl = 2;
         AdaptationField& field = p.Adaptation.emplace();
         field.Pcr = PCR::FromValue(Ticks27M(27000045));
         field.StuffingSize = 176;
       }},
      {"PES start with a whole payload", 300,
       [](TransportPacket& p) {
         p.PID = 0x1011;
         p.ContinuityCounter = 9;
         PesHeader& pes = p.Pes.emplace();
         pes.StreamID = 0xE0;
         pes.PTS = Timestamp{0, 54003003};
         pes.DTS = Timestamp{0, 54000000};
       }},
      {"continuation stuffed to its payload", 170,
       [](TransportPacket& p) {
         p.PID = 0x1100;
         p.PayloadUnitStartIndicator = false;
         StuffAdaptationField(p, 184 - 170);
       }},
      {"null packet", 0, [](TransportPacket&) {}},
  };
  for (const Case& c : cases) {
    TransportPacket packet;
    c.shape(packet);
    const auto data = std::span<const uint8_t>(payload).first(c.payload_size);
    ByteWriter grown;
    const size_t header = WriteTransportPacket(grown, packet);
    ASSERT_GT(header, 0u) << c.what;
    const size_t take = std::min(data.size(), kTransportPacketSize - header);
    grown.Bytes(data.first(take));
    while (grown.size() < kTransportPacketSize) grown.U8(0xFF);

    std::array<uint8_t, kSourcePacketSize> source;
    source.fill(0xAA);
    const std::optional<size_t> taken =
        FillSourcePacket(source, Ticks27M((uint64_t{1} << 30) + 846), packet, data);
    ASSERT_EQ(taken, take) << c.what;
    EXPECT_THAT(std::span(source).first(4), ElementsAreArray(Bytes({0x00, 0x00, 0x03, 0x4E})))
        << c.what << ": copy permission 0, 30 bits of the arrival time";
    EXPECT_THAT(std::span(source).subspan(4), ElementsAreArray(grown.buffer())) << c.what;
  }
}

}  // namespace
}  // namespace tessel
