// PG/IG segment files: entries, time stamps, composition states, display sets and their search.
#include <gtest/gtest.h>

#include "es/graphics.h"
#include "es/parser_base.h"
#include "support/es_builders.h"
#include "support/test_support.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;

struct Result {
  int code = -1;
  std::string message;
  std::unique_ptr<CStreamInfo> info = std::make_unique<CStreamInfo>();
  std::vector<SAuEntry> entries;
  const SGsSif& record() const { return static_cast<const SGsSif&>(*info->record); }
};

Result AnalyseFile(const fs::path& path) {
  Result r;
  r.code = ParseElementaryFile(path, *r.info, r.message, nullptr);
  for (uint32_t i = 0; r.code == 0 && i < r.info->header.auCount; ++i) {
    r.entries.push_back(*r.info->GetAu(i));
  }
  return r;
}

Result Analyse(const test::TempDir& dir, const std::vector<uint8_t>& bytes,
               const char* name = "t.sup") {
  test::WriteFile(dir / name, bytes);
  return AnalyseFile(dir / name);
}

// Two captions, each shown by an epoch-start set and cleared by an empty composition.
test::GraphicsFileBuilder TwoCaptions(const char* letters = "PG") {
  test::GraphicsFileBuilder b(1920, 1080, 1, letters);
  b.ShowSet(90000, 2);   // entries 0..4
  b.ClearSet(180000);    // entries 5..7
  b.ShowSet(270000, 2);  // entries 8..12
  b.ClearSet(360000);    // entries 13..15
  return b;
}

TEST(GraphicsParser, PresentationGraphicsEntries) {
  test::TempDir dir;
  const auto builder = TwoCaptions();
  const Result r = Analyse(dir, builder.bytes());
  ASSERT_EQ(r.code, 0) << r.message;
  EXPECT_EQ(r.info->header.streamCodingType, coding::kPg);
  ASSERT_EQ(r.entries.size(), 16u);
  EXPECT_EQ(r.record().video.width, 1920);
  EXPECT_EQ(r.record().video.height, 1080);
  EXPECT_EQ(r.record().video.frame_rate, 1);
  EXPECT_EQ(r.record().video.Text(), "1920x1080 23.976");
  EXPECT_TRUE(r.record().IsMultiplexed());

  // Every entry points at its segment type byte and covers type, length and data.
  uint64_t total = 0;
  for (const SAuEntry& e : r.entries) {
    const auto& bytes = builder.bytes();
    EXPECT_EQ(bytes[e.offset], e.flags & 0xFF);
    EXPECT_EQ(e.size, 3u + (bytes[e.offset + 1] << 8 | bytes[e.offset + 2]));
    total += e.size;
  }
  EXPECT_EQ(r.info->header.totalSize, total);
  // Time stamps move onto the stream time base; a DTS of 0 stays 0.
  EXPECT_EQ(r.entries[0].pts, 90000u + 131070);
  EXPECT_EQ(r.entries[0].dts, 81000u + 131070);
  // Flags: type, composition state, and the empty composition mark.
  EXPECT_EQ(r.entries[0].flags, 0x16u | 2 << 8);
  EXPECT_EQ(r.entries[3].flags, 0x15u);
  EXPECT_EQ(r.entries[5].flags, 0x16u | au_flag::kEmptyComposition);
  EXPECT_EQ(CompositionState(r.entries[8].flags), 2);

  test::GraphicsFileBuilder zero_dts;
  zero_dts.Pcs(900, 0, 1, {{0, 0, 0}});
  zero_dts.End(900, 0);
  const Result z = Analyse(dir, zero_dts.bytes(), "zero.sup");
  ASSERT_EQ(z.code, 0);
  EXPECT_EQ(z.entries[0].dts, 0u);
  EXPECT_EQ(z.entries[0].pts, 900u + 131070);
  EXPECT_EQ(CompositionState(z.entries[0].flags), 1);
}

TEST(GraphicsParser, LowerCaseLettersAccepted) {
  test::TempDir dir;
  const Result r = Analyse(dir, TwoCaptions("pg").bytes(), "lower.pg");
  ASSERT_EQ(r.code, 0) << r.message;
  EXPECT_EQ(r.entries.size(), 16u);
}

TEST(GraphicsParser, InteractiveGraphics) {
  for (uint8_t model : {0, 1}) {
    SCOPED_TRACE(model);
    test::TempDir dir;
    test::GraphicsFileBuilder b(1280, 720, 6, "IG");
    b.Ics(90000, 81000, 2, model);
    b.Pds(90000, 81000);
    b.Ods(90000, 81000, 0, 32, 8);
    b.End(90000, 81000);
    const Result r = Analyse(dir, b.bytes(), "menu.ig");
    ASSERT_EQ(r.code, 0) << r.message;
    EXPECT_EQ(r.info->header.streamCodingType, coding::kIg);
    EXPECT_EQ(r.record().coding_type, coding::kIg);
    EXPECT_EQ(r.record().stream_model, model);
    EXPECT_EQ(r.record().IsMultiplexed(), model == 0);
    EXPECT_EQ(r.record().video.Text(), "1280x720 50");
    // The interactive composition comes first: no time stamp is moved.
    for (const SAuEntry& e : r.entries) {
      EXPECT_EQ(e.pts, 90000u);
      EXPECT_EQ(e.dts, 81000u);
    }
    EXPECT_EQ(CompositionState(r.entries[0].flags), 2);
    SStdSpec models[2];
    ASSERT_EQ(r.record().StdModels(models), 1);
    EXPECT_EQ(models[0].kind, StdKind::kIg);
  }
}

TEST(GraphicsParser, DamagedFiles) {
  struct Case {
    const char* what;
    size_t cut;          // bytes removed from the end
    bool foreign_later;  // a later segment without the letters
    int result;
  };
  const Case cases[] = {
      {"last segment runs past the end", 13 + 3, false, 8},
      {"one byte after the last segment", 0, false, 8},
      {"header cut after the letters", 0, false, 8},
      {"later segment without letters", 0, true, 2},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    auto bytes = TwoCaptions().bytes();
    bytes.resize(bytes.size() - c.cut);
    if (i == 1) bytes.push_back('P');
    if (i == 2) bytes.insert(bytes.end(), {'P', 'G', 0, 0});
    if (c.foreign_later) bytes[bytes.size() - 13] = 'X';  // the last END segment
    const Result r = Analyse(dir, bytes);
    EXPECT_EQ(r.code, c.result);
    EXPECT_EQ(r.message, ParseResultMessage(c.result));
    EXPECT_FALSE(fs::exists(StreamInfoPath(dir / "t.sup")));
  }
}

TEST(DisplaySets, OpenedByCompositionsClosedByEmptyOnes) {
  test::TempDir dir;
  test::GraphicsFileBuilder b = TwoCaptions();
  b.ShowSet(450000, 0);  // 16..20: a normal-case set that runs to the end of the file
  const Result r = Analyse(dir, b.bytes());
  ASSERT_EQ(r.code, 0);
  const auto sets = FindDisplaySets(r.entries);
  ASSERT_EQ(sets.size(), 3u);
  const uint32_t t = 131070;
  EXPECT_EQ(sets[0].start_time, 81000 + t);
  EXPECT_EQ(sets[0].end_time, 179100 + t);  // the empty composition's dts
  EXPECT_EQ(sets[0].first, 0u);
  EXPECT_EQ(sets[0].last, 7u);  // the clearing set belongs to the set it ends
  EXPECT_EQ(sets[1].first, 8u);
  EXPECT_EQ(sets[1].last, 15u);
  EXPECT_EQ(sets[1].end_time, 359100 + t);
  EXPECT_EQ(sets[2].first, 16u);
  EXPECT_EQ(sets[2].last, 20u);
  EXPECT_EQ(sets[2].end_time, 441000 + t);  // the last entry's dts

  // A composition without an empty one before it closes the open set at its own dts.
  test::GraphicsFileBuilder back_to_back;
  back_to_back.ShowSet(90000, 2);
  back_to_back.ShowSet(180000, 1);
  const Result r2 = Analyse(dir, back_to_back.bytes(), "b2b.sup");
  const auto sets2 = FindDisplaySets(r2.entries);
  ASSERT_EQ(sets2.size(), 2u);
  EXPECT_EQ(sets2[0].end_time, 171000 + t);
  EXPECT_EQ(sets2[0].last, 4u);
}

TEST(DisplaySets, TimeRangeSearch) {
  const std::vector<SDisplaySetRange> sets = {
      {1000, 2000, 0, 7}, {3000, 4000, 8, 15}, {5000, 6000, 16, 23}};
  const uint32_t count = 26;
  struct Case {
    uint32_t start, end;
    bool found;
    uint32_t first, last;
  };
  const Case cases[] = {
      {0, 2000, true, 0, 7},      // end equals a set's end time
      {1000, 3500, true, 0, 15},  // end inside the second set: runs to its end
      {1000, 3000, true, 0, 7},   // a set starting at the end is left out
      {1500, 4000, true, 8, 15},  // start inside the first set: from the next one
      {2500, 9000, true, 8, 25},  // end beyond the last set: the last unit
      {3000, 3000, false, 0, 0},  // the first set found starts at the end
      {5001, 9000, false, 0, 0},  // no set starts at or after the start
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.start << ".." << c.end);
    uint32_t first = 99, last = 99;
    EXPECT_EQ(FindDisplaySetRange(sets, count, c.start, c.end, first, last), c.found);
    if (c.found) {
      EXPECT_EQ(first, c.first);
      EXPECT_EQ(last, c.last);
    }
  }
  uint32_t first, last;
  EXPECT_FALSE(FindDisplaySetRange({}, count, 0, 100, first, last));
}

// The search over a real stream info file, and real PG files from other tools.
TEST(DisplaySets, RealFiles) {
  test::TempDir dir;
  fs::copy_file(test::DataPath("es/pgs_1080_eng.sup"), dir / "eng.sup");
  const Result r = AnalyseFile(dir / "eng.sup");
  ASSERT_EQ(r.code, 0) << r.message;
  EXPECT_EQ(r.record().video.width, 1920);
  EXPECT_EQ(r.record().video.height, 1080);
  const auto sets = FindDisplaySets(r.entries);
  EXPECT_EQ(sets.size(), 4u);  // four captions, each cleared by an empty composition
  for (size_t i = 1; i < sets.size(); ++i) EXPECT_EQ(sets[i].first, sets[i - 1].last + 1);
  uint32_t first, last;
  ASSERT_TRUE(FindDisplaySetRange(*r.info, sets[1].start_time, sets[2].end_time, first, last));
  EXPECT_EQ(first, sets[1].first);
  EXPECT_EQ(last, sets[2].last);

  fs::copy_file(test::DataPath("es/pgs_128x64_libpgs-js.sup"), dir / "small.sup");
  const Result s = AnalyseFile(dir / "small.sup");
  ASSERT_EQ(s.code, 0) << s.message;
  EXPECT_EQ(s.record().video.Text(), "128x64 24");
}

}  // namespace
}  // namespace tessel
