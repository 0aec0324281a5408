// Source records: their size, copy, the file-dialog filter and the pipe they open.
#include "model/source.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "es/parser_base.h"
#include "support/es_builders.h"
#include "support/test_support.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;

TEST(Source, SizeCountsEveryFileOfTheSource) {
  test::TempDir dir;
  test::WriteFile(dir / "movie.ac3", std::vector<uint8_t>(1000));
  test::WriteFile(dir / "movie.thd", std::vector<uint8_t>(2500));
  test::WriteFile(dir / "empty.ac3", {});
  struct Case {
    const char* name;
    fs::path path, second;
    std::vector<fs::path> list;
    uint64_t size;
  };
  const Case cases[] = {
      {"one file", dir / "movie.ac3", {}, {}, 1000},
      {"TrueHD pair", dir / "movie.ac3", dir / "movie.thd", {}, 3500},
      {"missing file", dir / "missing.ac3", dir / "movie.thd", {}, 2500},
      {"empty file and no path", dir / "empty.ac3", {}, {}, 0},
      {"file list replaces the paths",
       dir / "movie.ac3",
       {},
       {dir / "movie.thd", dir / "missing.ac3", dir / "movie.thd"},
       5000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CSource source;
    source.path = c.path;
    source.second_path = c.second;
    if (!c.list.empty()) {
      source.file_list = std::make_unique<CFileList>();
      for (const fs::path& p : c.list) source.file_list->items.push_back({p, 0});
    }
    EXPECT_EQ(SourceSize(source), c.size);
  }
}

TEST(Source, CopyTakesEveryFieldAndANewFileList) {
  CSource a;
  a.set_user_word2(77);
  a.path = "a.ac3";
  a.second_path = "a.thd";
  a.file_list = std::make_unique<CFileList>();
  a.file_list->items.push_back({"x.ac3", 5});
  a.file_list->value = 9;
  a.range_unit = range_unit::kMilliseconds;
  a.range_start = -1;
  a.range_end = 4000;
  a.graphics_time_base = -900;
  a.language = {'f', 'r', 'a'};
  a.isrc = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  CSource b;
  b.CopyFrom(a);
  EXPECT_EQ(b.user_word2(), 77);
  EXPECT_EQ(b.path, a.path);
  EXPECT_EQ(b.second_path, a.second_path);
  ASSERT_TRUE(b.file_list);
  EXPECT_NE(b.file_list.get(), a.file_list.get());
  EXPECT_EQ(b.file_list->items[0].path, "x.ac3");
  EXPECT_EQ(b.file_list->items[0].value, 5);
  EXPECT_EQ(b.file_list->value, 9);
  EXPECT_EQ(b.range_unit, a.range_unit);
  EXPECT_EQ(b.range_start, -1);
  EXPECT_EQ(b.range_end, 4000);
  EXPECT_EQ(b.graphics_time_base, -900);
  EXPECT_EQ(b.language, a.language);
  EXPECT_EQ(b.isrc, a.isrc);
  const SPipeSource pipe = b.PipeSource(4500);
  EXPECT_TRUE(pipe.path.empty());
  EXPECT_EQ(pipe.file_list, std::vector<fs::path>{"x.ac3"});
  EXPECT_EQ(pipe.start_cut, 4500);
  EXPECT_EQ(pipe.range_start, -1);
  EXPECT_EQ(pipe.language, a.language);
}

TEST(Source, FilterText) {
  const std::string patterns =
      "*.m2v;*.mpv;*.264;*.avc;*.vc1;*.wav;*.ac3;*.mlp;*.thd;*.dts;*.dtshd;*.sup";
  EXPECT_EQ(SourceFilter(), "Clip file(" + patterns + ")|" + patterns + "|All files(*.*)|*.*||");
}

// The source opens through a pipe that analyses it first; its language and ISRC reach the
// program map entry and the clip's stream record.
TEST(Source, OpensAPipeThatAnalysesTheSource) {
  test::TempDir dir;
  test::ScopedRecordingPrompt prompt;
  CSource source;
  source.path = dir / "feature.ac3";
  fs::copy_file(test::DataPath("es/ac3_51_448k.ac3"), source.path);
  source.language = {'d', 'e', 'u'};
  source.isrc = {'U', 'S', 'A', 'B', 'C', '2', '6', '0', '0', '0', '0', '1'};
  std::unique_ptr<CPipe> pipe;
  ASSERT_EQ(OpenSourcePipe(source, nullptr, pipe), 0);
  ASSERT_TRUE(pipe);
  EXPECT_NE(dynamic_cast<CFilePipe*>(pipe.get()), nullptr);
  EXPECT_TRUE(fs::exists(StreamInfoPath(source.path)));
  const ESI& esi = pipe->BuildEsi(0x1100);
  ASSERT_TRUE(esi.Language);
  EXPECT_EQ(std::string(esi.Language->Language.begin(), esi.Language->Language.end()), "deu");
  StreamCodingInfo info;
  pipe->FillClipAttributes(info);
  EXPECT_EQ(info.StreamCodingType, 0x81);
  EXPECT_EQ(std::string(info.Language, info.Language + 3), "deu");
  EXPECT_EQ(std::string(info.CountryCode, info.CountryCode + 2), "US");
  EXPECT_EQ(std::string(info.RecordingNumber, info.RecordingNumber + 5), "00001");
  EXPECT_TRUE(prompt.entries().empty());

  // Cancelled during the analysis: 1, no pipe, no message, no stream info file left.
  // (The H.264 analysis asks before every NAL unit.)
  source.path = dir / "other.264";
  fs::copy_file(test::DataPath("es/video/h264_1080p25.264"), source.path);
  pipe.reset();
  EXPECT_EQ(OpenSourcePipe(
                source, [](const ProgressRecord&) { return false; }, pipe),
            1);
  EXPECT_FALSE(pipe);
  EXPECT_TRUE(prompt.entries().empty());
  EXPECT_FALSE(fs::exists(StreamInfoPath(source.path)));
}

}  // namespace
}  // namespace tessel
