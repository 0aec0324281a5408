#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "support/test_support.h"

namespace {

struct Result {
  int exit_code;
  std::string out;
  std::string err;
};

// Runs the program with stdout and stderr kept apart.
Result RunTessel(const std::string& args) {
  tessel::test::TempDir dir;
  const std::string err_path = (dir / "stderr").string();
  const std::string command = std::string(TESSEL_EXE) + " " + args + " 2>" + err_path;
  Result r{-1, {}, {}};
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return r;
  std::array<char, 4096> buf{};
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0) r.out.append(buf.data(), n);
  const int status = pclose(pipe);
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (FILE* err = std::fopen(err_path.c_str(), "r")) {
    while ((n = fread(buf.data(), 1, buf.size(), err)) > 0) r.err.append(buf.data(), n);
    std::fclose(err);
  }
  return r;
}

std::string Disc(const char* name) {
  return "'" + tessel::test::DataPath(std::string("discs/") + name).string() + "'";
}

TEST(InfoCommand, PrintsBothTrees) {
  const Result r = RunTessel("info " + Disc("disc-multiclip"));
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out,
            "M2ts(s)(4)\n"
            "  MainPath of Movie(4)\n"
            "    00000.m2ts, 1.34MB, 2 track(s)\n"
            "    00001.m2ts, 1.30MB, 2 track(s)\n"
            "    00002.m2ts, 660KB, 2 track(s)\n"
            "    00003.m2ts, 3.29MB, 2 track(s)\n"
            "Mpls(s)(2)\n"
            "  00000, 00:00:10:010, 3 PI(s)\n"
            "  00001, 00:00:10:010, 1 PI(s)\n");
}

TEST(InfoCommand, TracksOfClipsAndPlaylists) {
  const Result r = RunTessel("info --tracks " + Disc("disc-simple/BDMV"));
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out,
            "M2ts(s)(1)\n"
            "  MainPath of Movie(1)\n"
            "    00000.m2ts, 5.87MB, 4 track(s)\n"
            "      0x1011, MPEG-4 AVC/H.264, 1080p, 23.976, 16:9\n"
            "      0x1100, AC-3, Multi, 48K, eng\n"
            "      0x1101, LPCM audio, Stereo, 48K, fra\n"
            "      0x1200, PG(Subtitle), eng\n"
            "Mpls(s)(1)\n"
            "  00000, 00:00:10:010, 1 PI(s)\n"
            "    0x1011, MPEG-4 AVC/H.264, 1080p, 23.976, visible\n"
            "    0x1100, AC-3, Multi, 48K, eng, visible\n"
            "    0x1101, LPCM audio, Stereo, 48K, fra, visible\n"
            "    0x1200, PG(Subtitle), eng, visible\n");
}

TEST(InfoCommand, JsonCarriesTheSameTrees) {
  const Result r = RunTessel("info --json --tracks " + Disc("disc-emptyplaylist"));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const nlohmann::json disc = nlohmann::json::parse(r.out);
  EXPECT_EQ(disc["name"], "disc-emptyplaylist");
  EXPECT_EQ(disc["clips"]["label"], "M2ts(s)(1)");
  EXPECT_EQ(disc["clips"]["group"], "MainPath of Movie(1)");
  ASSERT_EQ(disc["clips"]["items"].size(), 1u);
  EXPECT_EQ(disc["clips"]["items"][0]["tracks"][1]["pid"], 0x1100);
  EXPECT_EQ(disc["clips"]["items"][0]["tracks"][1]["language"], "eng");
  EXPECT_EQ(disc["playlists"]["label"], "Mpls(s)(2)");
  const nlohmann::json& empty = disc["playlists"]["items"][1];
  EXPECT_EQ(empty["label"], "01900, 00:00:00:000, 0 PI(s)");
  EXPECT_EQ(empty["play_item_count"], 0);
  EXPECT_TRUE(empty["tracks"].empty());
}

TEST(InfoCommand, FailedOpenShowsTheMessageAndExitsWith2) {
  tessel::test::TempDir dir;
  const Result r = RunTessel("info '" + dir.path().string() + "'");
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("index.bdmv: No such file or directory"), std::string::npos) << r.err;
}

}  // namespace
