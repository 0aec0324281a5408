#include "ts/psi.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bytes.h"
#include "support/test_support.h"

#include "ts/crc32.h"
#include "ts/ts_packet.h"

namespace tessel {
namespace {

using ::testing::ElementsAreArray;

using test::Bytes;

std::vector<uint8_t> Text(std::string_view text) {
  return {text.begin(), text.end()};
}

TEST(Crc32Test, KnownVectors) {
  const struct {
    std::vector<uint8_t> data;
    uint32_t crc;
  } cases[] = {
      {{}, 0xFFFFFFFF},
      {Text("123456789"), 0x0376E6E7},  // the check value of CRC-32/MPEG-2
      {Bytes({0x00}), 0x4E08BFB4},
      // The PAT of every fixture disc, CRC as written there.
      {Bytes({0x00, 0xB0, 0x11, 0x00, 0x00, 0xC1, 0x00, 0x00, 0x00, 0x00, 0xE0, 0x1F, 0x00, 0x01,
              0xE1, 0x00}),
       0x235AAB82},
  };
  for (const auto& c : cases) EXPECT_EQ(Crc32Mpeg2(c.data), c.crc);
  static_assert(Crc32Mpeg2(std::span<const uint8_t>()) == 0xFFFFFFFF);
}

TEST(PatTest, MuxerPatHasTheFixedBytes) {
  PAT pat = MakeMuxerPat();
  ByteWriter out;
  ASSERT_EQ(WritePat(out, pat), 20u);
  EXPECT_THAT(out.buffer(), ElementsAreArray(Bytes({
                                0x00, 0xB0, 0x11,        // table 0, syntax 1, length 17
                                0x00, 0x00,              // transport_stream_id
                                0xC1, 0x00, 0x00,        // version 0, current; section 0 of 0
                                0x00, 0x00, 0xE0, 0x1F,  // program 0 -> SIT
                                0x00, 0x01, 0xE1, 0x00,  // program 1 -> PMT
                                0x23, 0x5A, 0xAB, 0x82,  // CRC32
                            })));
  EXPECT_TRUE(SectionCrcOk(out.buffer()));
  PAT back;
  ASSERT_TRUE(ReadPat(out.buffer(), back));
  ASSERT_EQ(back.Programs.size(), 2u);
  EXPECT_EQ(back.Programs[1].PID, pid::kPmt);
  EXPECT_EQ(back.CRC32, 0x235AAB82u);
}

TEST(SitTest, FreshSitMatchesTheOneOnRealDiscs) {
  SIT sit;
  ByteWriter out;
  WriteSit(out, sit);
  EXPECT_THAT(out.buffer(),
              ElementsAreArray(Bytes({0x7F, 0xF0, 0x19, 0xFF, 0xFF, 0xC1, 0x00, 0x00,  // header
                                      0xF0, 0x0A,                    // info length
                                      0x63, 0x08, 0xC1, 0xD4, 0xC0,  // peak rate 120000
                                      0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // smoothing rate, buffer
                                      0x00, 0x01, 0x80, 0x00,        // service 1, no loop
                                      0x03, 0x00, 0x38, 0x6D})));
}

// An entry of each modelled kind, written and read back.
std::vector<ESI> SampleStreams() {
  ESI avc;
  avc.StreamType = 0x1B;
  avc.ElementaryPid = 0x1011;
  avc.HdmvVideoRegistration = HdmvVideoRegistrationDescriptor{0x1B, 6, 1, 3};
  avc.AvcVideo = AvcVideoDescriptor{100, false, false, false, 0, 41, false, true};
  avc.AvcTimingHrd = AvcTimingHrdDescriptor{{0x7E, 0x1F}};
  avc.CaptionService.emplace().Services.resize(2);
  avc.CaptionService->Services[1].DigitalCC = true;
  avc.CaptionService->Services[1].CaptionServiceNumber = 5;
  ESI ac3;
  ac3.StreamType = 0x81;
  ac3.ElementaryPid = 0x1100;
  ac3.Ac3Registration.emplace();
  ac3.Ac3Audio = AC3_PMT_DESCRIPTOR{};
  ac3.Ac3Audio->NumChannels = 0;
  ac3.Ac3Audio->Text = Text("main");
  ac3.Ac3Audio->LanguageFlag = true;
  ac3.Ac3Audio->Language = {'e', 'n', 'g'};
  ac3.Language = Iso639LanguageDescriptor{{'e', 'n', 'g'}, 0};
  ESI lpcm;
  lpcm.StreamType = 0x80;
  lpcm.ElementaryPid = 0x1101;
  lpcm.HdmvLpcmRegistration = HdmvLpcmRegistrationDescriptor{0x80, 3, 1, 1};
  ESI vc1;
  vc1.StreamType = 0xEA;
  vc1.ElementaryPid = 0x1012;
  vc1.Vc1Registration = Vc1RegistrationDescriptor{0xA2, 1, true, 4, 0x1234};
  ESI pg;
  pg.StreamType = 0x90;
  pg.ElementaryPid = 0x1200;
  pg.OtherDescriptors.push_back({0xCC, Bytes({1, 2, 3})});
  return {avc, ac3, lpcm, vc1, pg};
}

TEST(PmtTest, EveryDescriptorKindRoundTrips) {
  PMT pmt;
  pmt.PrivateProgramDescriptor = Bytes({9, 8, 7});
  pmt.Streams = SampleStreams();
  ByteWriter first;
  ASSERT_GT(WritePmt(first, pmt), 0u);
  EXPECT_TRUE(SectionCrcOk(first.buffer()));
  PMT back;
  ASSERT_TRUE(ReadPmt(first.buffer(), back));
  ASSERT_EQ(back.Streams.size(), 5u);
  EXPECT_EQ(back.Streams[0].CaptionService->Services[1].CaptionServiceNumber, 5);
  EXPECT_TRUE(back.Streams[0].CaptionService->Services[1].DigitalCC);
  EXPECT_EQ(back.Streams[1].Ac3Audio->Text, Text("main"));
  EXPECT_EQ(back.Streams[3].Vc1Registration->HrdBuffer, 0x1234);
  EXPECT_EQ(back.Streams[4].OtherDescriptors.size(), 1u);
  ByteWriter second;
  WritePmt(second, back);
  EXPECT_EQ(second.buffer(), first.buffer());
}

TEST(EsiTest, AvcTimingHrdDescriptorStaysFourBytes) {
  const std::vector<uint8_t> wire = Bytes({0x1B, 0xF0, 0x11, 0xF0, 0x0E,  // type, PID, length 14
                                           0x05, 0x08, 'H',  'D',  'M',  'V',  0xFF, 0x1B,
                                           0x61, 0x3F, 0x2A, 0x02, 0x7E, 0x1F, 0x0A, 0x00});
  ByteReader in(std::span<const uint8_t>(wire).first(wire.size() - 2));
  ESI esi;
  ASSERT_TRUE(ReadEsi(in, esi));
  ASSERT_TRUE(esi.AvcTimingHrd);
  ByteWriter out;
  EXPECT_EQ(WriteEsi(out, esi), 19u);
  EXPECT_THAT(out.buffer(), ElementsAreArray(std::span(wire).first(19)));
}

TEST(EsiTest, Ac3AudioDescriptorLength) {
  const struct {
    uint8_t channels;
    size_t size;
  } cases[] = {{7, 6}, {2, 6}, {0, 10}};
  for (const auto& c : cases) {
    AC3_PMT_DESCRIPTOR d;
    d.NumChannels = c.channels;
    d.BsMode = 2;
    ByteWriter out;
    WriteAc3AudioDescriptor(out, d);
    EXPECT_EQ(out.size(), c.size) << int{c.channels};
    EXPECT_EQ(out.buffer()[1], c.size - 2);
  }
}

TEST(EsiTest, NewPgStreamCarriesOnlyTheLanguage) {
  ESI pg;
  pg.StreamType = 0x90;
  pg.ElementaryPid = 0x1200;
  pg.Language = Iso639LanguageDescriptor{{'f', 'r', 'a'}, 0};
  ByteWriter out;
  WriteEsi(out, pg);
  EXPECT_THAT(
      out.buffer(),
      ElementsAreArray(Bytes({0x90, 0xF2, 0x00, 0xF0, 0x06, 0x0A, 0x04, 'f', 'r', 'a', 0x00})));
}

TEST(PmtTest, SectionCutShortReadsAsFarAsItGoes) {
  PMT pmt;
  pmt.Streams = SampleStreams();
  ByteWriter out;
  WritePmt(out, pmt);
  const std::vector<uint8_t>& whole = out.buffer();
  for (size_t cut : {size_t{0}, size_t{3}, size_t{12}, size_t{40}, whole.size() - 1}) {
    PMT back;
    EXPECT_FALSE(ReadPmt(std::span(whole).first(cut), back)) << cut;
    EXPECT_FALSE(SectionCrcOk(std::span(whole).first(cut)));
  }
  std::vector<uint8_t> corrupt = whole;
  corrupt[20] ^= 1;
  EXPECT_FALSE(SectionCrcOk(corrupt));
}

TEST(SectionPacketsTest, PacketCount) {
  const std::pair<size_t, size_t> cases[] = {{1, 1}, {183, 1}, {184, 2}, {367, 2}, {368, 3}};
  for (const auto& [n, packets] : cases) EXPECT_EQ(SectionPacketCount(n), packets) << n;
}

// A PMT longer than one packet: only the first packet carries the unit start and a pointer_field,
// and the assembler puts the section back together.
TEST(SectionPacketsTest, LongPmtSpansTwoPacketsAndReassembles) {
  PMT pmt;
  for (int i = 0; i < 6; ++i) {
    pmt.Streams.push_back(SampleStreams()[0]);
    pmt.Streams.back().ElementaryPid = static_cast<uint16_t>(0x1011 + i);
  }
  ByteWriter section;
  const size_t size = WritePmt(section, pmt);
  ASSERT_GT(size, 183u);
  ASSERT_LE(size, 367u);
  std::vector<uint8_t> packets;
  uint8_t counter = 15;
  WriteSectionPackets(section.buffer(), pid::kPmt, counter, packets);
  ASSERT_EQ(packets.size(), 2 * kTransportPacketSize);
  EXPECT_EQ(counter, 1);
  EXPECT_THAT(std::span(packets).first(5), ElementsAreArray(Bytes({0x47, 0x41, 0x00, 0x1F, 0x00})));
  EXPECT_THAT(std::span(packets).subspan(188, 4),
              ElementsAreArray(Bytes({0x47, 0x01, 0x00, 0x10})));
  EXPECT_EQ(packets.back(), 0xFF);

  SectionAssembler assembler;
  std::vector<std::vector<uint8_t>> found;
  for (size_t at = 0; at < packets.size(); at += kTransportPacketSize) {
    const auto packet = std::span(packets).subspan(at, kTransportPacketSize);
    assembler.Feed(PacketPayload(packet), packet[1] & 0x40,
                   [&](std::span<const uint8_t> s) { found.emplace_back(s.begin(), s.end()); });
  }
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0], section.buffer());
}

// The program tables of streams written by an independent muxer, put back into packets in place
// from their sections, arrival times and continuity counters, come out byte for byte as found.
TEST(SectionPacketsTest, FilledInPlaceLikeAnIndependentMuxer) {
  for (const std::string name : {"ts/simple_00000_head1000.m2ts", "ts/audiozoo_00000_head1000.m2ts",
                                 "ts/mpeg2_00000_head1000.m2ts", "ts/emptyplaylist_01900.m2ts"}) {
    const std::vector<uint8_t> file = test::ReadData(name);
    size_t checked = 0;
    for (size_t at = 0; at + kSourcePacketSize <= file.size(); at += kSourcePacketSize) {
      const auto found = std::span(file).subspan(at, kSourcePacketSize);
      const auto packet = found.subspan(kTpExtraHeaderSize);
      const uint16_t pid = static_cast<uint16_t>((packet[1] & 0x1F) << 8 | packet[2]);
      if ((pid != pid::kPat && pid != pid::kSit && pid != pid::kPmt) || !(packet[1] & 0x40)) {
        continue;
      }
      const auto payload = PacketPayload(packet);
      const auto section = payload.subspan(1 + payload[0]);
      const size_t total = SectionTotalSize(section);
      ASSERT_LE(total, 183u) << name << ": a one-packet section";
      const TpExtraHeader tp = ReadTpExtraHeader(found.data());
      ASSERT_EQ(tp.CopyPermissionIndicator, 0) << name;
      std::array<uint8_t, kSourcePacketSize> filled;
      filled.fill(0);
      ASSERT_TRUE(FillSectionPacket(filled, Ticks27M(tp.ArriveTimeStamp), section.first(total), 0,
                                    pid, packet[3] & 0x0F));
      EXPECT_THAT(filled, ElementsAreArray(found)) << name << " packet " << at / kSourcePacketSize;
      ++checked;
    }
    EXPECT_GE(checked, 3u) << name << ": PAT, PMT and SIT at least";
  }
}

// Appending every packet of a section gives what filling each packet in place gives; a packet
// beyond the section's count is refused.
TEST(SectionPacketsTest, AppendedPacketsEqualThoseFilledOneByOne) {
  std::vector<uint8_t> section(400);
  for (size_t i = 0; i < section.size(); ++i) section[i] = static_cast<uint8_t>(i);
  for (size_t size :
       {size_t{12}, size_t{183}, size_t{184}, size_t{367}, size_t{368}, size_t{400}}) {
    const auto bytes = std::span<const uint8_t>(section).first(size);
    std::vector<uint8_t> appended;
    uint8_t counter = 14;
    WriteSectionPackets(bytes, pid::kPmt, counter, appended);
    const size_t count = SectionPacketCount(size);
    ASSERT_EQ(appended.size(), count * kTransportPacketSize) << size;
    EXPECT_EQ(counter, (14 + count) & 0xF) << size;
    for (size_t i = 0; i < count; ++i) {
      std::array<uint8_t, kTransportPacketSize> one;
      ASSERT_TRUE(FillSectionPacket(one, bytes, i, pid::kPmt, static_cast<uint8_t>(14 + i)));
      EXPECT_THAT(one, ElementsAreArray(std::span(appended).subspan(i * kTransportPacketSize,
                                                                    kTransportPacketSize)))
          << size << " packet " << i;
    }
    std::array<uint8_t, kTransportPacketSize> beyond;
    EXPECT_FALSE(FillSectionPacket(beyond, bytes, count, pid::kPmt, 0)) << size;
  }
}

// Lengths a table cannot state are refused instead of being cut to their field.
TEST(PsiWriteTest, LengthsThatDoNotFitFailTheSection) {
  PMT with_descriptor;
  with_descriptor.OtherDescriptors.push_back({0x42, std::vector<uint8_t>(256)});
  PMT with_stream_descriptor;
  with_stream_descriptor.Streams.push_back(SampleStreams()[0]);
  with_stream_descriptor.Streams.back().OtherDescriptors.push_back(
      {0x42, std::vector<uint8_t>(300)});
  PMT too_long;
  for (int i = 0; i < 100; ++i) too_long.Streams.push_back(SampleStreams()[0]);
  for (PMT* pmt : {&with_descriptor, &with_stream_descriptor, &too_long}) {
    ByteWriter out;
    EXPECT_EQ(WritePmt(out, *pmt), 0u);
    EXPECT_FALSE(out.ok());
  }
  SIT sit;
  sit.OtherTransmissionDescriptors.push_back({0x42, std::vector<uint8_t>(256)});
  ByteWriter out;
  EXPECT_EQ(WriteSit(out, sit), 0u);
  EXPECT_FALSE(out.ok());
}

// One section ends in the packet where the next begins: the pointer_field says where.
TEST(SectionAssemblerTest, SectionEndingInsideTheNextUnitStart) {
  PAT pat = MakeMuxerPat();
  ByteWriter a, b;
  WritePat(a, pat);
  pat.VersionNumber = 1;
  WritePat(b, pat);
  std::vector<uint8_t> first = {0};  // pointer_field
  first.insert(first.end(), a.buffer().begin(), a.buffer().begin() + 10);
  std::vector<uint8_t> second = {10};  // the rest of section a comes first
  second.insert(second.end(), a.buffer().begin() + 10, a.buffer().end());
  second.insert(second.end(), b.buffer().begin(), b.buffer().end());
  second.insert(second.end(), 5, 0xFF);

  SectionAssembler assembler;
  std::vector<std::vector<uint8_t>> found;
  const auto keep = [&](std::span<const uint8_t> s) { found.emplace_back(s.begin(), s.end()); };
  assembler.Feed(first, true, keep);
  assembler.Feed(second, true, keep);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0], a.buffer());
  EXPECT_EQ(found[1], b.buffer());
  // A pointer past the payload drops the unit instead of reading beyond it.
  assembler.Feed(Bytes({200, 0x00}), true, keep);
  assembler.Feed(Bytes({0x00, 0x00}), false, keep);
  EXPECT_EQ(found.size(), 2u);
}

}  // namespace
}  // namespace tessel
