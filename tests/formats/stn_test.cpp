#include "formats/stn.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

namespace tessel {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

std::unique_ptr<PRIMARY_STREAM_ENTRY> Entry(StnList list, uint16_t pid, uint8_t coding_type,
                                            int32_t order_key = 0) {
  auto entry = StnTable::NewEntry(list);
  entry->Entry.RefToStreamPID_OfMainClip = pid;
  entry->Attributes.StreamCodingType = coding_type;
  entry->OrderKey = order_key;
  return entry;
}

std::vector<uint8_t> Written(const StnTable& table) {
  ByteWriter w;
  table.Write(w);
  return w.Take();
}

std::vector<uint16_t> Pids(const StnTable& table) {
  std::vector<uint16_t> pids;
  for (const auto& list : table.lists) {
    for (const auto& entry : list) pids.push_back(entry->Entry.Pid());
  }
  return pids;
}

TEST(StnTable, PictureInPictureListIsStoredBetweenPgAndIgWithItsCountLast) {
  StnTable table;
  table.list(StnList::kPrimaryVideo).push_back(Entry(StnList::kPrimaryVideo, 0x1011, 0x1B));
  table.list(StnList::kPrimaryAudio).push_back(Entry(StnList::kPrimaryAudio, 0x1100, 0x81));
  table.list(StnList::kPrimaryAudio).push_back(Entry(StnList::kPrimaryAudio, 0x1101, 0x80));
  table.list(StnList::kPgTextSt).push_back(Entry(StnList::kPgTextSt, 0x1200, 0x90));
  table.list(StnList::kPipPgTextSt).push_back(Entry(StnList::kPipPgTextSt, 0x1201, 0x90));
  table.list(StnList::kIg).push_back(Entry(StnList::kIg, 0x1400, 0x91));
  const std::vector<uint8_t> bytes = Written(table);

  ASSERT_EQ(bytes.size(), 16u + 6 * 16);
  EXPECT_EQ(bytes[0] << 8 | bytes[1], static_cast<int>(bytes.size()) - 2);
  // Counts: video, audio, PG, IG, secondary audio, secondary video, picture-in-picture PG.
  EXPECT_THAT(std::vector<uint8_t>(bytes.begin() + 4, bytes.begin() + 11),
              ElementsAre(1, 2, 1, 1, 0, 0, 1));
  std::vector<uint16_t> stored;
  for (size_t at = 16; at < bytes.size(); at += 16) {
    stored.push_back(static_cast<uint16_t>(bytes[at + 2] << 8 | bytes[at + 3]));
  }
  EXPECT_THAT(stored, ElementsAre(0x1011, 0x1100, 0x1101, 0x1200, 0x1201, 0x1400));

  StnTable back;
  ByteReader r(bytes);
  ASSERT_TRUE(back.Read(r));
  EXPECT_EQ(back.IndexOfPid(StnList::kPipPgTextSt, 0x1201), 0);
  EXPECT_EQ(back.IndexOfPid(StnList::kIg, 0x1400), 0);
  EXPECT_EQ(Written(back), bytes);
}

TEST(StnTable, CombinationRecordsArePaddedToEvenSize) {
  struct Case {
    std::vector<uint8_t> refs;
    size_t size;
  };
  for (const Case& c : {Case{{0, 1, 2}, 6}, Case{{0, 1}, 4}, Case{{}, 2}}) {
    StreamCombInfo comb;
    for (uint8_t id : c.refs) comb.AddRef(id);
    comb.AddRef(0);  // already held unless empty
    ByteWriter w;
    comb.Write(w);
    const size_t expected_refs = c.refs.empty() ? 1 : c.refs.size();
    EXPECT_EQ(comb.RefIDs.size(), expected_refs);
    EXPECT_EQ(w.size(), c.refs.empty() ? 4u : c.size);
    EXPECT_EQ(w.buffer()[0], expected_refs);
    StreamCombInfo back;
    ByteReader r(w.buffer());
    ASSERT_TRUE(back.Read(r));
    EXPECT_EQ(r.remaining(), 0u);
    EXPECT_EQ(back.RefIDs, comb.RefIDs);
  }
}

// An entry of an unknown type (4) with a longer body, followed by known attributes.
constexpr uint8_t kUnknownTypeEntry[] = {
    0x0B, 0x04, 0xAA, 0xBB, 0xCC, 0xDD, 0, 0, 0, 0, 0, 0x01,  // StreamEntry, type 4, length 11
    0x05, 0x81, 0x61, 'e',  'n',  'g',                        // StreamAttributes: AC-3 eng
};

TEST(StreamEntry, UnknownTypeIsSteppedOverByLengthAndKeptWhole) {
  PRIMARY_STREAM_ENTRY entry;
  ByteReader r(kUnknownTypeEntry);
  ASSERT_TRUE(entry.Read(r));
  EXPECT_EQ(r.remaining(), 0u);
  EXPECT_EQ(entry.Entry.Type, 4);
  EXPECT_EQ(entry.Attributes.StreamCodingType, 0x81);
  EXPECT_EQ(GetLanguage(entry.Attributes), "eng");
  ByteWriter w;
  entry.Write(w);
  EXPECT_THAT(w.buffer(), ElementsAreArray(kUnknownTypeEntry));
}

TEST(StreamAttributes, UnknownCodingTypeKeepsItsBytes) {
  constexpr uint8_t kHevc[] = {0x05, 0x24, 0x81, 0x00, 0x00, 0x00};
  StreamAttributes attributes;
  ByteReader r(kHevc);
  ASSERT_TRUE(attributes.Read(r));
  ByteWriter w;
  attributes.Write(w);
  EXPECT_THAT(w.buffer(), ElementsAreArray(kHevc));
  EXPECT_FALSE(GetLanguage(attributes).has_value());
}

TEST(StreamAttributes, KeptReservedBytesOfVideoAndGraphics) {
  constexpr uint8_t kVideo[] = {0x05, 0x1B, 0x61, 0x12, 0x34, 0x56};
  constexpr uint8_t kGraphics[] = {0x05, 0x90, 'j', 'p', 'n', 0x77};
  for (std::span<const uint8_t> bytes : {std::span(kVideo), std::span(kGraphics)}) {
    StreamAttributes attributes;
    ByteReader r(bytes);
    ASSERT_TRUE(attributes.Read(r));
    ByteWriter w;
    attributes.Write(w);
    EXPECT_THAT(w.buffer(), ElementsAreArray(bytes));
  }
}

TEST(StreamAttributes, LanguageHelpersOnlyTouchStreamsWithALanguage) {
  StreamAttributes video;
  video.StreamCodingType = 0x1B;
  EXPECT_FALSE(GetLanguage(video).has_value());
  SetLanguage(video, "fra");
  EXPECT_EQ(video.Language[0], 0);

  StreamAttributes text;
  text.StreamCodingType = 0x92;
  text.CharacterCode = 1;
  SetLanguage(text, "deu");
  EXPECT_EQ(GetLanguage(text), "deu");
  ByteWriter w;
  text.Write(w);
  EXPECT_THAT(w.buffer(), ElementsAre(5, 0x92, 1, 'd', 'e', 'u'));
}

TEST(StnTable, RemoveStreamLooksInPictureInPictureListForSubtitles) {
  StnTable table;
  table.list(StnList::kPgTextSt).push_back(Entry(StnList::kPgTextSt, 0x1200, 0x90));
  table.list(StnList::kPipPgTextSt).push_back(Entry(StnList::kPipPgTextSt, 0x1800, 0x92));
  auto text = Entry(StnList::kPgTextSt, 0x1800, 0x92);
  EXPECT_EQ(table.FindStream(*text), table.list(StnList::kPipPgTextSt)[0].get());
  EXPECT_TRUE(table.RemoveStream(*text));
  EXPECT_TRUE(table.list(StnList::kPipPgTextSt).empty());
  EXPECT_EQ(table.list(StnList::kPgTextSt).size(), 1u);
  EXPECT_FALSE(table.RemoveStream(*text));
  EXPECT_FALSE(table.RemoveStream(*Entry(StnList::kPrimaryVideo, 0x1012, 0x20)));
}

TEST(StnTable, SameStreamComparesSubPathOnlyForSubPathEntries) {
  StreamEntry a, b;
  a.Type = b.Type = 3;
  a.RefToStreamPID_OfMainClip = b.RefToStreamPID_OfMainClip = 0x1A00;
  a.RefToSubPathID = 0;
  b.RefToSubPathID = 1;
  EXPECT_FALSE(a.SameStream(b));
  a.Type = b.Type = 1;
  EXPECT_TRUE(a.SameStream(b));
  b.Type = 2;
  EXPECT_FALSE(a.SameStream(b));
}

TEST(StnTable, SortStreamsOrdersEveryListByKeyAndCopiesDeeply) {
  StnTable table;
  for (auto [pid, key] : {std::pair{0x1100, 3}, {0x1101, 1}, {0x1102, 2}}) {
    table.list(StnList::kPrimaryAudio).push_back(Entry(StnList::kPrimaryAudio, pid, 0x81, key));
  }
  table.list(StnList::kSecondaryVideo).push_back(Entry(StnList::kSecondaryVideo, 0x1B00, 0xEA));
  table.SortStreams();
  EXPECT_THAT(Pids(table), ElementsAre(0x1101, 0x1102, 0x1100, 0x1B00));

  StnTable copy = table;
  table.list(StnList::kPrimaryAudio).clear();
  EXPECT_THAT(Pids(copy), ElementsAre(0x1101, 0x1102, 0x1100, 0x1B00));
  EXPECT_NE(
      dynamic_cast<SECONDARD_VIDEO_STREAM_ENTRY*>(copy.list(StnList::kSecondaryVideo)[0].get()),
      nullptr);
}

TEST(StnTable, StreamInfoListSkipsSubPathClipStreams) {
  StnTable table;
  table.list(StnList::kPrimaryAudio).push_back(Entry(StnList::kPrimaryAudio, 0x1100, 0x81));
  auto sub = Entry(StnList::kPrimaryAudio, 0, 0x81);
  sub->Entry.Type = 2;
  sub->Entry.RefToStreamPID_OfSubClip = 0x1101;
  table.list(StnList::kPrimaryAudio).push_back(std::move(sub));
  auto sub_path_of_main = Entry(StnList::kSecondaryAudio, 0x1A00, 0xA1);
  sub_path_of_main->Entry.Type = 3;
  SetLanguage(sub_path_of_main->Attributes, "ita");
  table.list(StnList::kSecondaryAudio).push_back(std::move(sub_path_of_main));

  constexpr uint8_t kHevc[] = {0x05, 0x24, 0x61, 0x00, 0x00, 0x00};
  auto hevc = Entry(StnList::kPrimaryVideo, 0x1011, 0);
  ByteReader r(kHevc);
  ASSERT_TRUE(hevc->Attributes.Read(r));
  table.list(StnList::kPrimaryVideo).push_back(std::move(hevc));

  const std::vector<StreamInfo> infos = ToStreamInfoList(table);
  ASSERT_EQ(infos.size(), 3u);
  EXPECT_EQ(infos[0].StreamPID, 0x1011);
  EXPECT_EQ(infos[1].StreamPID, 0x1100);
  EXPECT_EQ(infos[2].StreamPID, 0x1A00);
  EXPECT_EQ(GetLanguage(infos[2].CodingInfo), "ita");
  // A coding type without a known layout keeps its attribute bytes in the clip layout too.
  ByteWriter w;
  infos[0].CodingInfo.Write(w);
  ASSERT_EQ(w.size(), 22u);
  EXPECT_THAT(std::vector<uint8_t>(w.buffer().begin(), w.buffer().begin() + 3),
              ElementsAre(21, 0x24, 0x61));
}

TEST(StreamCodingInfo, VideoAspectRatioIsWrittenWithoutTheCcFlag) {
  StreamCodingInfo info;
  info.StreamCodingType = 0x02;
  info.VideoFormat = 4;
  info.FrameRate = 4;
  info.AspectRatio = 3;
  info.CcFlag = true;
  SetCharField(info.CountryCode, "US");
  ByteWriter w;
  info.Write(w);
  const std::vector<uint8_t>& b = w.buffer();
  ASSERT_EQ(b.size(), 22u);
  EXPECT_THAT(std::vector<uint8_t>(b.begin(), b.begin() + 8),
              ElementsAre(21, 0x02, 0x44, 0x30, 0, 0, 'U', 'S'));

  StreamCodingInfo back;
  ByteReader r(b);
  ASSERT_TRUE(back.Read(r));
  EXPECT_EQ(back.AspectRatio, 3);
  EXPECT_FALSE(back.CcFlag);
}

TEST(StreamCodingInfo, DumpShowsAttributesAndIsrc) {
  StreamInfo info;
  info.StreamPID = 0x1100;
  info.CodingInfo.StreamCodingType = 0x81;
  info.CodingInfo.Length = 21;
  info.CodingInfo.AudioPresentationType = 6;
  info.CodingInfo.SamplingFrequency = 1;
  SetLanguage(info.CodingInfo, "eng");
  DumpArchive archive;
  info.Dump("", archive);
  EXPECT_EQ(archive.text(),
            "StreamPID: 0x1100\n"
            "StreamCodingInfo: \n"
            " Length: 21\n"
            " StreamCodingType: AC-3(0x81)\n"
            " AudioPresentationType: 6\n"
            " SamplingFrequency: 1\n"
            " Language: eng\n"
            " ISRC: \n"
            "  CountryCode: \n"
            "  CopyrightHolder: \n"
            "  RecordingYear: \n"
            "  RecordingNumber: \n");
}

}  // namespace
}  // namespace tessel
