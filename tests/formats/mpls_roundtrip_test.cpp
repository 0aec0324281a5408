// Every playlist of tests/data/mpls/ read, written and read again: the bytes come back except in
// the fields the writer zeroes or recomputes (each difference is named), and the dump is the same.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "formats/mpls.h"
#include "platform/files.h"
#include "platform/format.h"
#include "support/test_support.h"

namespace tessel {
namespace {

std::vector<std::filesystem::path> PlaylistFixtures() {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(test::DataPath("mpls"))) {
    if (entry.path().extension() == ".mpls") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string DumpOf(const Mpls& mpls) {
  DumpArchive archive;
  mpls.Dump("", archive);
  return archive.text();
}

// A byte range of the original file with its name. Bits in `may_clear` are zeroed-kind reserved
// bits the writer leaves 0; `recomputed` marks a field the writer fills in itself.
struct Field {
  size_t offset;
  size_t size;
  std::string name;
  uint8_t may_clear = 0;
  bool recomputed = false;
};

// Walks the original file by its own lengths and names its records and the fields a rewrite may
// change. Independent of the reader under test, so it also cross-checks where records start.
class FieldMap {
 public:
  explicit FieldMap(std::span<const uint8_t> file) : file_(file) {
    Record(0, 40, "header");
    Clear(20, 20, "header reserved");
    Record(40, 18, "AppInfoPlayList");
    Add({40, 4, "AppInfoPlayList Length", 0, true});
    Clear(56, 1, "AppInfoPlayList flags reserved bits", 0x1F);
    Clear(57, 1, "AppInfoPlayList reserved");
    WalkPlayList(U32(8));
    WalkMarks(U32(12));
    if (U32(16)) WalkExtensionData(U32(16));
  }

  // The innermost field holding the offset.
  const Field* At(size_t offset) const {
    const Field* best = nullptr;
    for (const Field& f : fields_) {
      if (offset >= f.offset && offset < f.offset + f.size && (!best || f.size <= best->size)) {
        best = &f;
      }
    }
    return best;
  }

 private:
  uint32_t U32(size_t at) const {
    return at + 4 <= file_.size() ? uint32_t{file_[at]} << 24 | uint32_t{file_[at + 1]} << 16 |
                                        uint32_t{file_[at + 2]} << 8 | file_[at + 3]
                                  : 0;
  }
  uint16_t U16(size_t at) const {
    return at + 2 <= file_.size() ? static_cast<uint16_t>(file_[at] << 8 | file_[at + 1]) : 0;
  }
  uint8_t U8(size_t at) const { return at < file_.size() ? file_[at] : 0; }
  void Add(Field f) { fields_.push_back(std::move(f)); }
  void Record(size_t offset, size_t size, std::string name) { Add({offset, size, name}); }
  void Clear(size_t offset, size_t size, std::string name, uint8_t mask = 0xFF) {
    Add({offset, size, std::move(name), mask});
  }

  void WalkPlayList(size_t at) {
    Record(at, U32(at) + 4, "PlayList");
    Clear(at + 4, 2, "PlayList reserved");
    size_t p = at + 10;
    for (int i = 0, n = U16(at + 6); i < n; ++i) {
      const std::string name = Format("PlayItem %d", i);
      Record(p, U16(p) + 2, name);
      Clear(p + 11, 1, name + " reserved");
      Clear(p + 12, 1, name + " reserved bits before IsMultiAngle", 0xE0);
      Clear(p + 30, 1, name + " reserved bits after the random access flag", 0x7F);
      if (U8(p + 31) != 1) Clear(p + 32, 2, name + " StillTime (StillMode is not 1)");
      if (U8(p + 12) & 0x10) Clear(p + 35, 1, name + " multi-angle reserved bits", 0xFC);
      p += U16(p) + 2;
    }
    for (int i = 0, n = U16(at + 8); i < n; ++i) {
      const std::string name = Format("SubPath %d", i);
      Record(p, U32(p) + 4, name);
      Clear(p + 4, 1, name + " reserved");
      Clear(p + 6, 1, name + " reserved");
      Clear(p + 7, 1, name + " reserved bits before IsRepeatSubPath", 0xFE);
      Clear(p + 8, 1, name + " reserved");
      size_t q = p + 10;
      for (int j = 0, m = U8(p + 9); j < m; ++j) {
        const std::string item = Format("%s SubPlayItem %d", name.c_str(), j);
        Record(q, U16(q) + 2, item);
        Clear(q + 11, 3, item + " reserved");
        Clear(q + 14, 1, item + " reserved bits", 0xE0);
        if (U8(q + 14) & 0x01) Clear(q + 31, 1, item + " multi-clip reserved");
        q += U16(q) + 2;
      }
      p += U32(p) + 4;
    }
  }

  void WalkMarks(size_t at) {
    Record(at, U32(at) + 4, "PlayListMarks");
    for (int i = 0, n = U16(at + 4); i < n; ++i) {
      Clear(at + 6 + 14 * i, 1, Format("PlayListMark %d reserved", i));
    }
  }

  void WalkExtensionData(size_t at) {
    Record(at, U32(at) + 4, "ExtensionData");
    Add({at, 4, "ExtensionData Length (entry data padded to multiples of 4)", 0, true});
    Clear(at + 8, 3, "ExtensionData reserved");
  }

  std::span<const uint8_t> file_;
  std::vector<Field> fields_;
};

// Reports the first line that differs rather than two whole dumps.
void ExpectSameLines(const std::string& actual, const std::string& expected) {
  std::istringstream a(actual), e(expected);
  std::string la, le;
  for (int line = 1;; ++line) {
    const bool more_a = static_cast<bool>(std::getline(a, la));
    const bool more_e = static_cast<bool>(std::getline(e, le));
    if (!more_a && !more_e) return;
    if (more_a != more_e || la != le) {
      ADD_FAILURE() << "dump line " << line << ": \"" << la << "\" instead of \"" << le << "\"";
      return;
    }
  }
}

TEST(MplsRoundTrip, EveryFixtureWritesBackItsBytesAndDump) {
  const auto files = PlaylistFixtures();
  ASSERT_GE(files.size(), 30u);
  for (const auto& path : files) {
    SCOPED_TRACE(path.filename().string());
    std::vector<uint8_t> original;
    ASSERT_TRUE(ReadWholeFile(path, original));
    Mpls mpls;
    std::string error;
    ASSERT_TRUE(mpls.Read(original, &error)) << error;
    const std::vector<uint8_t> written = mpls.Write();

    const FieldMap map(original);
    for (size_t i = 0; i < std::max(original.size(), written.size()); ++i) {
      if (i >= written.size()) {
        EXPECT_EQ(original[i], 0) << "offset " << i << ": trailing padding is not zero";
        continue;
      }
      const uint8_t was = i < original.size() ? original[i] : 0;
      if (written[i] == was) continue;
      ASSERT_LT(i, original.size()) << "offset " << i << ": the rewrite is longer and not zero";
      const Field* field = map.At(i);
      ASSERT_NE(field, nullptr) << "offset " << i << " lies in no record";
      const bool allowed =
          field->recomputed || (field->may_clear && written[i] == (was & ~field->may_clear));
      EXPECT_TRUE(allowed) << "offset " << i << " (" << field->name << " +" << i - field->offset
                           << "): was 0x" << std::hex << int{was} << ", written 0x"
                           << int{written[i]};
    }

    Mpls again;
    ASSERT_TRUE(again.Read(written, &error)) << error;
    ExpectSameLines(DumpOf(again), DumpOf(mpls));
    EXPECT_EQ(again.Write(), written);
  }
}

TEST(MplsRoundTrip, CopyWritesTheSameBytes) {
  for (const auto& path : PlaylistFixtures()) {
    SCOPED_TRACE(path.filename().string());
    std::vector<uint8_t> original;
    ASSERT_TRUE(ReadWholeFile(path, original));
    auto mpls = std::make_unique<Mpls>();
    ASSERT_TRUE(mpls->Read(original));
    const Mpls copy = *mpls;
    const std::vector<uint8_t> expected = mpls->Write();
    mpls.reset();  // the copy must own everything it holds
    EXPECT_EQ(copy.Write(), expected);
  }
}

}  // namespace
}  // namespace tessel
