#include "formats/clpi.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/format.h"
#include "support/test_support.h"

// libbluray, when installed, serves as an independent reader of the files written here. It is
// loaded at run time so that the build does not depend on it.
#if __has_include(<libbluray/clpi_data.h>) && __has_include(<dlfcn.h>)
#include <dlfcn.h>
#include <libbluray/clpi_data.h>
#define TESSEL_TEST_WITH_LIBBLURAY 1
#endif

namespace tessel {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::IsSubsetOf;

std::vector<uint8_t> Fixture(const std::string& name) {
  return test::ReadData("clpi/" + name);
}

Clpi ReadOk(std::span<const uint8_t> bytes) {
  Clpi clip;
  std::string error;
  EXPECT_TRUE(clip.Read(bytes, &error)) << error;
  return clip;
}

std::vector<uint8_t> WriteOk(Clpi& clip) {
  std::string error;
  std::optional<std::vector<uint8_t>> bytes = clip.Write(&error);
  EXPECT_TRUE(bytes.has_value()) << error;
  return bytes.value_or(std::vector<uint8_t>{});
}

std::string DumpOf(const Clpi& clip) {
  DumpArchive archive;
  clip.Dump("", archive);
  return archive.text();
}

uint32_t U32At(std::span<const uint8_t> bytes, size_t at) {
  return ByteReader(bytes.subspan(at, 4)).U32();
}

void PutU32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

std::span<const uint8_t> ClipInfoBlock(std::span<const uint8_t> file) {
  return file.subspan(40, 4 + U32At(file, 40));
}

// The bytes of the block at the start address stored at `address_at`, through its length field.
std::span<const uint8_t> BlockAt(std::span<const uint8_t> file, size_t address_at) {
  const uint32_t start = U32At(file, address_at);
  return file.subspan(start, 4 + U32At(file, start));
}

// Where a written file may differ from the real file it was read from.
enum Difference : unsigned {
  kNone = 0,
  // Two padding bytes after SequenceInfo and after ProgramInfo (16-bit padding words the format
  // allows between blocks), which the writer does not reproduce: the blocks move and the start
  // addresses change.
  kPaddingWords = 1,
  // Angle change points set in fine entries of the EP map; they are not kept.
  kAngleChangePoints = 2,
};

struct RealFile {
  const char* name;
  // As reported by an independent reader (libbluray 1.3.4); -1 where it gave no answer.
  int application_type;
  int streams;
  int64_t source_packets;
  unsigned differences;
};

constexpr RealFile kRealFiles[] = {
    {"bdpl-disc1-00000.clpi", 1, 2, 367360, kNone},
    {"bdpl-disc1-00002.clpi", 1, 7, 27584, kNone},
    {"bdpl-disc1-00003.clpi", 5, 1, 2848, kNone},
    {"bdpl-disc1-00007.clpi", 1, 7, 43086400, kNone},
    {"bdpl-disc5-00002.clpi", 1, 7, 462393504, kNone},
    {"bdpl-disc5-00005.clpi", 1, 6, 564704, kNone},
    {"bdpl-disc5-00007.clpi", 5, 1, 1120, kNone},
    {"bdpl-disc5-00011.clpi", 1, 1, 306112, kNone},
    {"bdpl-disc5-00019.clpi", 2, 2, 13632, kNone},
    {"bdpl-disc5-00021.clpi", 1, 6, 8835392, kNone},
    {"bdpl-disc6-00001.clpi", 1, 2, 801920, kNone},
    {"bdpl-disc6-00002.clpi", 1, 9, 30272, kNone},
    {"bdpl-disc8-00009.clpi", 1, 3, 8191136, kNone},
    {"bdpl-disc14-00002.clpi", 1, 8, 28896, kNone},
    {"bdpl-disc16-00007.clpi", 1, 3, 14908992, kNone},
    {"bdpl-disc17-00008.clpi", 3, 1, 1088, kNone},
    {"bdpl-disc18-00017.clpi", 1, 3, 4275392, kNone},
    {"chaptertool-conan-bride1-00000.clpi", 1, 2, 532992, kNone},
    {"chaptertool-conan-bride1-00004.clpi", 1, 6, 29632, kNone},
    {"chaptertool-conan-bride2-00018.clpi", 1, 3, 27296, kNone},
    {"chaptertool-conan-zero-00100.clpi", 1, 7, 32224, kNone},
    {"chaptertool-kimetsu-00009.clpi", 1, 5, 1410304, kNone},
    {"chaptertool-mayonaka2-00003.clpi", 1, 3, 31718496, kNone},
    {"chaptertool-mayonaka2-00022.clpi", 3, 2, 1696, kNone},
    {"hdcookbook-sfaatest-00000.clpi", 1, 1, 29792, kAngleChangePoints},
    {"bdjsdk-avchd-00000.clpi", 1, 2, 20704, kPaddingWords},
    {"disc-audio-zoo-00000.clpi", 1, 7, 43296, kPaddingWords},
    {"disc-emptyplaylist-00000.clpi", 1, 2, 6656, kPaddingWords},
    {"disc-emptyplaylist-01900.clpi", -1, -1, -1, kPaddingWords},
    {"disc-mpeg2-00000.clpi", 1, 2, 10624, kPaddingWords},
    {"disc-multiclip-00000.clpi", 1, 2, 7328, kPaddingWords},
    {"disc-multiclip-00001.clpi", 1, 2, 7104, kPaddingWords},
    {"disc-multiclip-00002.clpi", 1, 2, 3520, kPaddingWords},
    {"disc-multiclip-00003.clpi", 1, 2, 17952, kPaddingWords},
    {"disc-simple-00000.clpi", 1, 4, 32032, kPaddingWords},
};

// The names of the dump lines that differ (the dumps of one file have the same lines).
std::set<std::string> DifferingFields(const std::string& a, const std::string& b) {
  std::istringstream in_a(a), in_b(b);
  std::set<std::string> names;
  std::string line_a, line_b;
  while (std::getline(in_a, line_a)) {
    if (!std::getline(in_b, line_b)) return {"<more lines>"};
    if (line_a == line_b) continue;
    const size_t begin = line_a.find_first_not_of(' ');
    names.insert(line_a.substr(begin, line_a.find(':') - begin));
  }
  if (std::getline(in_b, line_b)) names.insert("<fewer lines>");
  return names;
}

const std::set<std::string> kStartAddresses = {"SequenceInfoStartAddress",
                                               "ProgramInfoStartAddress", "CpiStartAddress",
                                               "ClipMarkStartAddress", "ExtensionDataStartAddress"};

// Compares the written Cpi block with the stored one, allowing only cleared angle change points.
void ExpectSameCpi(std::span<const uint8_t> stored, std::span<const uint8_t> written,
                   const Clpi& clip) {
  ASSERT_EQ(written.size(), stored.size());
  std::vector<bool> angle_byte(stored.size(), false);
  for (const STREAM_PID_ENTRY& entry : clip.cpi.ep_map.Entries) {
    const size_t map = 6 + entry.EpMapForOneStreamStartAddress;
    const size_t fine = map + U32At(stored, map);
    for (size_t i = 0; i < entry.NumberOfFineEntries; ++i) angle_byte[fine + 4 * i] = true;
  }
  for (size_t i = 0; i < stored.size(); ++i) {
    if (angle_byte[i] && written[i] != stored[i]) {
      EXPECT_EQ(written[i], stored[i] & 0x7F) << "Cpi byte " << i << ": angle change point";
    } else {
      ASSERT_EQ(written[i], stored[i]) << "Cpi byte " << i;
    }
  }
}

TEST(ClpiRealFiles, ReadAgreesWithTheIndependentReader) {
  for (const RealFile& f : kRealFiles) {
    SCOPED_TRACE(f.name);
    const std::vector<uint8_t> file = Fixture(f.name);
    const Clpi clip = ReadOk(file);
    EXPECT_EQ(clip.read_end, file.size());
    if (f.application_type < 0) continue;
    EXPECT_EQ(clip.clip_info.ApplicationType, f.application_type);
    EXPECT_EQ(clip.program_info.Sequence.Streams.size(), static_cast<size_t>(f.streams));
    EXPECT_EQ(clip.clip_info.NumberOfSourcePackets, f.source_packets);
  }
}

TEST(ClpiRealFiles, WriteReproducesTheFile) {
  for (const RealFile& f : kRealFiles) {
    SCOPED_TRACE(f.name);
    const std::vector<uint8_t> file = Fixture(f.name);
    Clpi clip = ReadOk(file);
    const std::string dump = DumpOf(clip);
    const std::vector<uint8_t> written = WriteOk(clip);
    const Clpi again = ReadOk(written);

    const std::set<std::string> changed = DifferingFields(dump, DumpOf(again));
    if (f.differences == kNone) {
      EXPECT_TRUE(written == file);
      EXPECT_THAT(changed, IsEmpty());
      continue;
    }
    // Block by block, each at its own start address.
    EXPECT_TRUE(std::equal(file.begin(), file.begin() + 8, written.begin())) << "type, version";
    EXPECT_TRUE(std::ranges::equal(ClipInfoBlock(written), ClipInfoBlock(file))) << "ClipInfo";
    EXPECT_TRUE(std::ranges::equal(BlockAt(written, 8), BlockAt(file, 8))) << "SequenceInfo";
    EXPECT_TRUE(std::ranges::equal(BlockAt(written, 12), BlockAt(file, 12))) << "ProgramInfo";
    ExpectSameCpi(BlockAt(file, 16), BlockAt(written, 16), clip);
    EXPECT_TRUE(std::ranges::equal(BlockAt(written, 20), BlockAt(file, 20))) << "ClipMark";
    if (U32At(file, 24) != 0) {
      EXPECT_TRUE(std::ranges::equal(BlockAt(written, 24), BlockAt(file, 24))) << "ExtensionData";
    }
    // Only the fields named by the difference may change in the dump.
    std::set<std::string> allowed;
    if (f.differences & kPaddingWords) {
      EXPECT_EQ(written.size() + 4, file.size());
      allowed = kStartAddresses;
    }
    EXPECT_THAT(changed, IsSubsetOf(allowed));
  }
}

#ifdef TESSEL_TEST_WITH_LIBBLURAY
class Libbluray {
 public:
  Libbluray() : handle_(dlopen("libbluray.so.2", RTLD_NOW | RTLD_LOCAL)) {
    if (!handle_) return;
    read_ = reinterpret_cast<CLPI_CL* (*)(const char*)>(dlsym(handle_, "bd_read_clpi"));
    free_ = reinterpret_cast<void (*)(CLPI_CL*)>(dlsym(handle_, "bd_free_clpi"));
  }
  ~Libbluray() {
    if (handle_) dlclose(handle_);
  }
  bool ok() const { return read_ && free_; }

  // What the reader makes of a file, as text; the ATC delta entries and angle change points
  // apart, which the caller compares itself.
  std::string Summary(const std::filesystem::path& path, int* atc_deltas, int* angle_points) {
    CLPI_CL* clip = read_(path.c_str());
    if (!clip) return "unreadable";
    std::string out = Format("app %d rate %u packets %u\n", clip->clip.application_type,
                             clip->clip.ts_recording_rate, clip->clip.num_source_packets);
    *atc_deltas = clip->clip.atc_delta_count;
    for (int a = 0; a < clip->sequence.num_atc_seq; ++a) {
      const CLPI_ATC_SEQ& atc = clip->sequence.atc_seq[a];
      for (int i = 0; i < atc.num_stc_seq; ++i) {
        const CLPI_STC_SEQ& stc = atc.stc_seq[i];
        out += Format("stc %x %u %u %u\n", stc.pcr_pid, stc.spn_stc_start,
                      stc.presentation_start_time, stc.presentation_end_time);
      }
    }
    for (int p = 0; p < clip->program.num_prog; ++p) {
      for (int i = 0; i < clip->program.progs[p].num_streams; ++i) {
        const CLPI_PROG_STREAM& s = clip->program.progs[p].streams[i];
        out += Format("stream %x %x %d %d %d %s\n", s.pid, s.coding_type, s.format, s.rate,
                      s.aspect, s.lang);
      }
    }
    *angle_points = 0;
    for (int e = 0; e < clip->cpi.num_stream_pid; ++e) {
      const CLPI_EP_MAP_ENTRY& entry = clip->cpi.entry[e];
      out += Format("ep %x %d\n", entry.pid, entry.ep_stream_type);
      for (int i = 0; i < entry.num_ep_coarse; ++i) {
        out += Format(" c %d %d %u\n", entry.coarse[i].ref_ep_fine_id, entry.coarse[i].pts_ep,
                      entry.coarse[i].spn_ep);
      }
      for (int i = 0; i < entry.num_ep_fine; ++i) {
        const CLPI_EP_FINE& fine = entry.fine[i];
        *angle_points += fine.is_angle_change_point;
        out += Format(" f %d %d %d\n", fine.i_end_position_offset, fine.pts_ep, fine.spn_ep);
      }
    }
    free_(clip);
    return out;
  }

 private:
  void* handle_;
  CLPI_CL* (*read_)(const char*) = nullptr;
  void (*free_)(CLPI_CL*) = nullptr;
};
#endif

TEST(ClpiIndependentReader, ReadsWhatWeWrite) {
#ifndef TESSEL_TEST_WITH_LIBBLURAY
  GTEST_SKIP() << "libbluray headers not installed";
#else
  Libbluray libbluray;
  if (!libbluray.ok()) GTEST_SKIP() << "libbluray not installed";
  test::TempDir dir;
  ATC_DELTA_ENTRY delta;
  delta.AtcDelta = 5000;
  SetCharField(delta.FollowingClipId, "00042");
  for (const RealFile& f : kRealFiles) {
    SCOPED_TRACE(f.name);
    int deltas = 0, angles = 0;
    const std::string expected =
        libbluray.Summary(test::DataPath("clpi/" + std::string(f.name)), &deltas, &angles);
    ASSERT_NE(expected, "unreadable");
    const std::vector<uint8_t> file = Fixture(f.name);
    // Both ways of producing a file: a complete write, and the in-place patch of ClipInfo.
    Clpi clip = ReadOk(file);
    clip.clip_info.AtcDeltaEntries = {delta};
    const std::vector<uint8_t> written = WriteOk(clip);
    const std::optional<std::vector<uint8_t>> patched = WithFollowingClips(file, {delta});
    ASSERT_TRUE(patched.has_value());
    for (const std::vector<uint8_t>* bytes : {&written, &*patched}) {
      const auto path = dir / "00001.clpi";
      ASSERT_TRUE(WriteWholeFile(path, *bytes));
      int written_deltas = 0, written_angles = 0;
      EXPECT_EQ(libbluray.Summary(path, &written_deltas, &written_angles), expected);
      EXPECT_EQ(written_deltas, 1);
      if (bytes == &written) {
        EXPECT_EQ(written_angles, 0);
      } else {
        EXPECT_EQ(written_angles, angles);
      }
    }
  }
#endif
}

// ---- Writing records ----

TEST(ClpiWrite, NewClipLayout) {
  Clpi clip;
  clip.program_info.Sequence.Streams.emplace_back().StreamPID = 0x1011;
  clip.program_info.Sequence.Streams[0].CodingInfo.StreamCodingType = 0x1B;
  const std::vector<uint8_t> bytes = WriteOk(clip);
  ASSERT_GE(bytes.size(), 224u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 8), "HDMV0200");
  EXPECT_EQ(U32At(bytes, 8), 220u);    // SequenceInfo right after a 180-byte ClipInfo
  EXPECT_EQ(U32At(bytes, 40), 176u);   // ClipInfo length
  EXPECT_EQ(bytes[40 + 148 + 1], 30);  // TsTypeInfoBlock length
  EXPECT_EQ(bytes[40 + 150], 0x80);    // ValidityFlags
  EXPECT_EQ(bytes[40 + 11] & 1, 0);    // IsAtcDelta
  EXPECT_EQ(U32At(bytes, 16) + 4, U32At(bytes, 20));  // Cpi of length 0
  EXPECT_EQ(U32At(bytes, U32At(bytes, 16)), 0u);
  EXPECT_EQ(U32At(bytes, 24), 0u);  // no extension data
  EXPECT_EQ(U32At(bytes, 20) + 4, bytes.size());
  const Clpi back = ReadOk(bytes);
  EXPECT_EQ(back.sequence_info.NumberOfAtcSequences, 1);
  EXPECT_EQ(back.program_info.NumberOfProgramSequence, 1);
  ASSERT_NE(back.program_info.Sequence.FindStream(0x1011), nullptr);
  EXPECT_EQ(back.program_info.Sequence.FindStream(0x1100), nullptr);
}

TEST(ClpiWrite, AtcDeltaEntriesSetTheFlagAndCount) {
  for (size_t count : {0u, 2u}) {
    Clpi clip;
    for (size_t i = 0; i < count; ++i) {
      ATC_DELTA_ENTRY& entry = clip.clip_info.AtcDeltaEntries.emplace_back();
      entry.AtcDelta = 1000 + static_cast<uint32_t>(i);
      SetCharField(entry.FollowingClipId, i == 0 ? "00007" : "00008");
    }
    const std::vector<uint8_t> bytes = WriteOk(clip);
    EXPECT_EQ(bytes[40 + 11], count ? 1 : 0);
    EXPECT_EQ(U32At(bytes, 40), 176u + (count ? 2 + 14 * count : 0));
    if (count) {
      EXPECT_EQ(bytes[40 + 181], count);
      EXPECT_EQ(std::string(bytes.begin() + 40 + 186, bytes.begin() + 40 + 195), "00007M2TS");
    }
    const Clpi back = ReadOk(bytes);
    ASSERT_EQ(back.clip_info.AtcDeltaEntries.size(), count);
    if (count) {
      EXPECT_EQ(back.clip_info.AtcDeltaEntries[1].AtcDelta, 1001u);
    }
  }
  Clpi too_many;
  too_many.clip_info.AtcDeltaEntries.resize(256);
  std::string error;
  EXPECT_FALSE(too_many.Write(&error).has_value());
  EXPECT_FALSE(error.empty());
}

TEST(ClpiWrite, ZeroedReservedFieldsAreClearedAndKeptOnesKept) {
  std::vector<uint8_t> file = Fixture("bdpl-disc1-00000.clpi");
  // Zeroed kind: header bytes 28..39, ClipInfo bytes 4..5, 8..10 and bits 7..1 of byte 11,
  // the reserved bytes of SequenceInfo, ProgramInfo and Cpi.
  for (size_t at = 28; at < 40; ++at) file[at] = 0xA5;
  file[40 + 4] = file[40 + 5] = file[40 + 8] = file[40 + 10] = 0x5A;
  file[40 + 11] |= 0x80;  // bit 0 is IsAtcDelta
  file[U32At(file, 8) + 4] = 0x77;
  file[U32At(file, 12) + 4] = 0x77;
  file[U32At(file, 16) + 4] = 0x77;
  // Kept kind: the 128 reserved bytes of ClipInfo (without the maker's magic).
  for (size_t i = 0; i < 128; ++i) file[40 + 20 + i] = static_cast<uint8_t>(i + 1);

  Clpi clip = ReadOk(file);
  EXPECT_FALSE(clip.KavoData.has_value());
  const std::vector<uint8_t> written = WriteOk(clip);
  ASSERT_EQ(written.size(), file.size());
  for (size_t at = 28; at < 40; ++at) EXPECT_EQ(written[at], 0) << at;
  EXPECT_EQ(written[40 + 4] | written[40 + 5] | written[40 + 8] | written[40 + 10], 0);
  EXPECT_EQ(written[40 + 11], 0);
  EXPECT_EQ(written[U32At(written, 8) + 4], 0);
  EXPECT_EQ(written[U32At(written, 12) + 4], 0);
  EXPECT_EQ(written[U32At(written, 16) + 4], 0);
  EXPECT_TRUE(std::equal(written.begin() + 60, written.begin() + 188, file.begin() + 60));
}

TEST(ClpiWrite, MoreAtcAndProgramSequencesAreDroppedConsistently) {
  // A clip that says it has two ATC and two program sequences keeps the first of each and is
  // written with counts of 1, so the written file describes what it holds.
  std::vector<uint8_t> file = Fixture("bdpl-disc1-00000.clpi");
  file[U32At(file, 8) + 5] = 2;
  file[U32At(file, 12) + 5] = 2;
  Clpi clip = ReadOk(file);
  EXPECT_EQ(clip.sequence_info.NumberOfAtcSequences, 2);
  const std::vector<uint8_t> written = WriteOk(clip);
  EXPECT_EQ(written[U32At(written, 8) + 5], 1);
  EXPECT_EQ(written[U32At(written, 12) + 5], 1);
}

TEST(ClpiCopy, IsDeep) {
  Clpi original = ReadOk(Fixture("bdjsdk-avchd-00000.clpi"));
  ASSERT_TRUE(original.ext_data.has_value());
  const std::string dump = DumpOf(original);
  Clpi copy = original;
  copy.cpi.ep_map.Entries[0].KeyPoints[0].Pts += 90000;
  copy.program_info.Sequence.Streams[0].StreamPID = 0x1FFF;
  copy.ext_data->entries.emplace_back().data = {1, 2, 3};
  EXPECT_EQ(DumpOf(original), dump);
  EXPECT_NE(DumpOf(copy), dump);
}

TEST(ClpiEpStreams, WhichTracksGetAMap) {
  struct Case {
    std::vector<uint16_t> pids;
    uint8_t application_type;
    std::vector<uint8_t> types;
  };
  const Case cases[] = {
      // Video tracks take the map whatever the application type.
      {{0x1011, 0x1100, 0x1200}, 1, {1, 0, 0}},
      {{0x1100, 0x1B00, 0x1B01}, 7, {0, 1, 1}},
      {{0x1100, 0x1101}, 1, {0, 0}},
      {{0x1100, 0x1101}, 4, {3, 0}},
      {{0x1200, 0x1100}, 4, {3, 0}},
      {{0x1100, 0x1A00}, 7, {3, 0}},
      {{0x1200, 0x1A00, 0x1A01, 0x1100}, 7, {0, 0, 4, 0}},
      {{0x1200, 0x1100}, 7, {6, 0}},
      {{0x1400}, 7, {7}},
      {{0x1800}, 7, {0}},
      {{0x1012}, 7, {0}},  // second view video is no map stream
      {{}, 7, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChooseEpStreamTypes(c.pids, c.application_type), c.types)
        << ::testing::PrintToString(c.pids) << " type " << int{c.application_type};
  }
}

// ---- Maker's block ----

ExtensionData ToolDataBlock(size_t extra_entry_bytes) {
  SKavoToolData tool;
  tool.Descriptor = "clip 7";
  ByteWriter w;
  tool.Write(&w);
  ExtensionData block;
  SExtDataEntry& entry = block.entries.emplace_back();
  entry.ExtDataEntry_ID1 = 0x1000;
  entry.ExtDataEntry_ID2 = 0x0001;
  entry.data = w.Take();
  if (extra_entry_bytes) {
    SExtDataEntry& other = block.entries.emplace_back();
    other.ExtDataEntry_ID1 = 0x1000;
    other.ExtDataEntry_ID2 = 0x0002;
    other.data.assign(extra_entry_bytes, 0xEE);
  }
  return block;
}

TEST(ClpiMakerBlock, SurvivesWriteReadAndCopy) {
  Clpi clip = ReadOk(Fixture("bdpl-disc1-00000.clpi"));
  clip.KavoData = ToolDataBlock(0);
  const std::vector<uint8_t> bytes = WriteOk(clip);
  EXPECT_EQ(std::string(bytes.begin() + 60, bytes.begin() + 64), "KAVO");

  const Clpi back = ReadOk(bytes);
  ASSERT_TRUE(back.KavoData.has_value());
  Clpi copy = back;
  ASSERT_EQ(copy.KavoData->entries.size(), 1u);
  const std::unique_ptr<SExtDataBase> record = CreateRecord(copy.KavoData->entries[0]);
  ASSERT_NE(record, nullptr);
  const auto* tool = dynamic_cast<const SKavoToolData*>(record.get());
  ASSERT_NE(tool, nullptr);
  EXPECT_EQ(tool->Company, "Corvane");
  EXPECT_EQ(tool->Descriptor, "clip 7");
  EXPECT_EQ(WriteOk(copy), bytes);
  EXPECT_THAT(DumpOf(back), HasSubstr("KavoData: \n"));
}

TEST(ClpiMakerBlock, NeverWritesPastTheReservedBytes) {
  const std::vector<uint8_t> file = Fixture("bdpl-disc1-00000.clpi");
  // The container takes 12 + 12 * 2 + both entries padded to 4 bytes; 124 bytes follow the magic.
  const size_t tool_size = (ToolDataBlock(0).entries[0].data.size() + 3) & ~size_t{3};
  const size_t fitting = 124 - 36 - tool_size;
  for (size_t extra : {fitting, fitting + 1}) {
    Clpi clip = ReadOk(file);
    clip.KavoData = ToolDataBlock(extra);
    std::string error;
    const std::optional<std::vector<uint8_t>> bytes = clip.Write(&error);
    if (extra == fitting) {
      ASSERT_TRUE(bytes.has_value()) << error;
      EXPECT_EQ(U32At(*bytes, 8), U32At(file, 8)) << "ClipInfo grew";
      ASSERT_TRUE(ReadOk(*bytes).KavoData.has_value());
    } else {
      EXPECT_FALSE(bytes.has_value());
      EXPECT_THAT(error, HasSubstr("maker's block"));
    }
  }
}

// ---- Following clips ----

TEST(ClpiFollowingClips, AddingAnEntryMovesEveryLaterBlock) {
  const std::vector<uint8_t> file = Fixture("bdjsdk-avchd-00000.clpi");
  test::TempDir dir;
  const auto path = dir / "00000.clpi";
  ASSERT_TRUE(WriteWholeFile(path, file));
  ATC_DELTA_ENTRY entry;
  entry.AtcDelta = 123456;
  SetCharField(entry.FollowingClipId, "00001");
  std::string error;
  ASSERT_TRUE(SetFollowingClips(path, {entry}, &error)) << error;
  std::vector<uint8_t> patched;
  ASSERT_TRUE(ReadWholeFile(path, patched));

  ASSERT_EQ(patched.size(), file.size() + 16);
  for (size_t at = 8; at < 28; at += 4) EXPECT_EQ(U32At(patched, at), U32At(file, at) + 16) << at;
  EXPECT_EQ(U32At(patched, 40), U32At(file, 40) + 16);
  // Everything after ClipInfo (padding words included) is kept byte for byte.
  EXPECT_TRUE(std::equal(patched.begin() + 220 + 16, patched.end(), file.begin() + 220));
  const Clpi clip = ReadOk(patched);
  ASSERT_EQ(clip.clip_info.AtcDeltaEntries.size(), 1u);
  EXPECT_EQ(clip.clip_info.AtcDeltaEntries[0].AtcDelta, 123456u);
  EXPECT_EQ(CharField(clip.clip_info.AtcDeltaEntries[0].FollowingClipId), "00001");

  // Removing it again gives the original file back, shorter, with no stale tail.
  ASSERT_TRUE(SetFollowingClips(path, {}, &error)) << error;
  ASSERT_TRUE(ReadWholeFile(path, patched));
  EXPECT_EQ(patched, file);
}

TEST(ClpiFollowingClips, RefusesFilesItCannotPatch) {
  const std::vector<uint8_t> file = Fixture("chaptertool-conan-bride1-00000.clpi");
  struct Case {
    const char* what;
    size_t size;
    size_t address_at;
    uint32_t address;
  };
  const Case cases[] = {
      {"truncated inside ClipInfo", 100, 0, 0},
      {"SequenceInfo address inside ClipInfo", file.size(), 8, 100},
      {"Cpi address inside the header", file.size(), 16, 12},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bad(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(c.size));
    if (c.address_at) PutU32(bad, c.address_at, c.address);
    std::string error;
    EXPECT_FALSE(WithFollowingClips(bad, {}, &error).has_value()) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
  }
  std::string error;
  EXPECT_FALSE(SetFollowingClips("/nonexistent/00000.clpi", {}, &error));
}

// ---- Robustness ----

TEST(ClpiRead, BlockAddressesOutsideTheFileFail) {
  const std::vector<uint8_t> file = Fixture("bdjsdk-avchd-00000.clpi");
  struct Case {
    size_t address_at;
    const char* message;
  };
  const Case cases[] = {
      {8, "SequenceInfoStartAddress points outside the file"},
      {12, "ProgramInfoStartAddress points outside the file"},
      {16, "CpiStartAddress points outside the file"},
      {20, "ClipMarkStartAddress points outside the file"},
      {24, "ExtensionDataStartAddress points outside the file"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bad = file;
    bad[c.address_at] = 0x10;  // far past the end
    Clpi clip;
    std::string error;
    EXPECT_FALSE(clip.Read(bad, &error));
    EXPECT_EQ(error, c.message);
  }
  // A length that runs past the file.
  std::vector<uint8_t> bad = file;
  bad[U32At(file, 12)] = 0x01;
  std::string error;
  Clpi clip;
  EXPECT_FALSE(clip.Read(bad, &error));
  EXPECT_EQ(error, "ProgramInfo: length points outside the file");
}

TEST(ClpiRead, EveryTruncationFails) {
  for (const char* name :
       {"bdpl-disc1-00000.clpi", "chaptertool-conan-bride1-00000.clpi", "bdjsdk-avchd-00000.clpi",
        "bdpl-disc5-00019.clpi", "bdpl-disc1-00003.clpi"}) {
    const std::vector<uint8_t> file = Fixture(name);
    for (size_t n = 0; n < file.size(); ++n) {
      Clpi clip;
      EXPECT_FALSE(clip.Read(std::span(file).first(n))) << name << " cut at " << n;
    }
  }
}

TEST(ClpiRead, RandomByteFlipsGiveAFailureOrAValidRecord) {
  std::mt19937 random(20261210);
  int parsed = 0;
  for (const char* name : {"bdpl-disc1-00002.clpi", "chaptertool-conan-bride1-00000.clpi",
                           "bdjsdk-avchd-00000.clpi", "bdpl-disc18-00017.clpi"}) {
    const std::vector<uint8_t> file = Fixture(name);
    for (int round = 0; round < 1000; ++round) {
      std::vector<uint8_t> bad = file;
      const int flips = 1 + static_cast<int>(random() % 4);
      for (int i = 0; i < flips; ++i) bad[random() % bad.size()] ^= 1 << (random() % 8);
      Clpi clip;
      if (!clip.Read(bad)) continue;
      ++parsed;
      // A record that was read can be dumped, written and read again.
      DumpArchive archive;
      clip.Dump("", archive);
      if (std::optional<std::vector<uint8_t>> written = clip.Write()) {
        Clpi again;
        EXPECT_TRUE(again.Read(*written)) << name << " round " << round;
      }
    }
  }
  EXPECT_GT(parsed, 0);
}

// ---- Dumps and clip-side extension records ----

TEST(ClpiDump, RecordsUseTheirFieldNames) {
  const Clpi clip = ReadOk(Fixture("disc-multiclip-00002.clpi"));
  const std::string dump = DumpOf(clip);
  EXPECT_THAT(dump, HasSubstr("TypeIndicator: HDMV\nVersionNumber: 0200\n"));
  EXPECT_THAT(dump, HasSubstr(" ApplicationType: 1(MainTS for a MainPath of Movie)\n"));
  EXPECT_THAT(dump, HasSubstr(" TsRecordingRate: 6000000\n NumberOfSourcePackets: 3520\n"));
  EXPECT_THAT(dump, HasSubstr("   StartPTS: 27360360\n   EndPTS: 27450450\n"));
  EXPECT_THAT(dump, HasSubstr("ProgramInfo: \n"
                              " Length: 58\n"
                              " NumberOfProgramSequence: 1\n"
                              " ProgramSequenceInfo: \n"
                              "  SpnProgramSequenceStart: 0\n"
                              "  ProgramMapPid: 0x0100\n"
                              "  NumberOfStreams: 2\n"
                              "  StreamInfo 0: \n"
                              "   StreamPID: 0x1011\n"));
  EXPECT_THAT(dump, HasSubstr("Cpi: \n"
                              " Length: 36\n"
                              " CpiType: 1\n"
                              " EpMap: \n"
                              "  NumberOfPidEnties: 1\n"
                              "  PidEntry:\n"
                              "   StreamPid: 0x1011\n"));
  EXPECT_THAT(dump, HasSubstr("ClipMark: \n Length: 0\nExtensionData: \n Length: 0\n"));
}

TEST(ClpiExtensionRecords, StereoscopicProgramAndEpMap) {
  Clpi source = ReadOk(Fixture("bdpl-disc1-00000.clpi"));
  ByteWriter program;
  ASSERT_TRUE(source.program_info.Write(program));
  ByteWriter cpi;
  ASSERT_TRUE(source.cpi.Write(cpi));

  auto entry = [](uint16_t id2, std::vector<uint8_t> data) {
    SExtDataEntry e;
    e.ExtDataEntry_ID1 = 0x0002;
    e.ExtDataEntry_ID2 = id2;
    e.data = std::move(data);
    return e;
  };
  SExtDataEntry pi_entry = entry(0x0005, program.Take());
  SExtDataEntry cpi_entry = entry(0x0006, cpi.Take());
  const std::unique_ptr<SExtDataBase> pi_record = CreateRecord(pi_entry);
  const std::unique_ptr<SExtDataBase> cpi_record = CreateRecord(cpi_entry);
  ASSERT_NE(pi_record, nullptr);
  ASSERT_NE(cpi_record, nullptr);
  DumpArchive pi_dump, cpi_dump;
  pi_record->Dump("", pi_dump);
  cpi_record->Dump("", cpi_dump);
  DumpArchive expected_pi, expected_cpi;
  source.program_info.Dump("", expected_pi);
  source.cpi.Dump("", expected_cpi);
  EXPECT_EQ(pi_dump.text(), expected_pi.text());
  EXPECT_EQ(cpi_dump.text(), expected_cpi.text());

  cpi_entry.data.resize(cpi_entry.data.size() / 2);
  EXPECT_EQ(CreateRecord(cpi_entry), nullptr);
}

}  // namespace
}  // namespace tessel
