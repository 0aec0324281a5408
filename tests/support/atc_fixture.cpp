#include "support/atc_fixture.h"

#include <algorithm>
#include <map>

#include "formats/clpi.h"
#include "formats/mpls.h"
#include "platform/common.h"
#include "platform/files.h"

namespace tessel::test {
namespace {

namespace fs = std::filesystem;

constexpr uint8_t kCodec[4] = {'M', '2', 'T', 'S'};

// Writes `bytes` to `relative` below `bdmv`, and to its copy in BACKUP when that exists.
bool WriteWithBackup(const fs::path& bdmv, const std::string& relative,
                     const std::vector<uint8_t>& bytes, std::string* error) {
  if (!WriteWholeFile(bdmv / relative, bytes, error)) return false;
  const fs::path backup = bdmv / "BACKUP" / relative;
  return !fs::exists(backup) || WriteWholeFile(backup, bytes, error);
}

ATC_DELTA_ENTRY EntryFor(int follower, uint32_t delta) {
  ATC_DELTA_ENTRY entry;
  entry.AtcDelta = delta;
  const std::string name = NumberedFileName(follower, "");
  std::copy_n(name.begin(), 5, entry.FollowingClipId);
  std::copy_n(kCodec, 4, entry.ClipCodecId);
  return entry;
}

int FollowerOf(const ATC_DELTA_ENTRY& entry) {
  return FileNumberFromName(
      std::string(std::begin(entry.FollowingClipId), std::end(entry.FollowingClipId)));
}

bool AddEntries(const fs::path& bdmv, int clip, const std::vector<int>& followers, uint32_t delta,
                std::string* error) {
  const std::string relative = "CLIPINF/" + NumberedFileName(clip, "clpi");
  std::vector<uint8_t> file;
  Clpi parsed;
  if (!ReadWholeFile(bdmv / relative, file, error) || !parsed.Read(file, error)) return false;
  std::vector<ATC_DELTA_ENTRY> entries = parsed.clip_info.AtcDeltaEntries;
  for (int follower : followers) {
    const bool present = std::any_of(entries.begin(), entries.end(), [follower](const auto& e) {
      return FollowerOf(e) == follower;
    });
    if (!present) entries.push_back(EntryFor(follower, delta));
  }
  const std::optional<std::vector<uint8_t>> patched = WithFollowingClips(file, entries, error);
  return patched && WriteWithBackup(bdmv, relative, *patched, error);
}

}  // namespace

std::vector<SSeamlessJoin> MakeSeamlessJoins(const fs::path& bdmv, int playlist, uint32_t delta,
                                             std::string* error) {
  const std::string relative = "PLAYLIST/" + NumberedFileName(playlist, "mpls");
  std::vector<uint8_t> file;
  Mpls parsed;
  if (!ReadWholeFile(bdmv / relative, file, error) || !parsed.Read(file, error)) return {};
  std::vector<SSeamlessJoin> joins;
  std::map<int, std::vector<int>> followers;
  for (size_t i = 1; i < parsed.play_items.size(); ++i) {
    parsed.play_items[i].ConnectionCondition = connection_condition::kSeamlessWithCleanBreak;
    const SSeamlessJoin join{parsed.play_items[i - 1].ClipNumber(),
                             parsed.play_items[i].ClipNumber()};
    joins.push_back(join);
    followers[join.clip].push_back(join.follower);
  }
  if (!WriteWithBackup(bdmv, relative, parsed.Write(), error)) return {};
  for (const auto& [clip, list] : followers) {
    if (!AddEntries(bdmv, clip, list, delta, error)) return {};
  }
  return joins;
}

std::vector<std::pair<int, uint32_t>> ReadAtcDeltas(const fs::path& clpi) {
  std::vector<uint8_t> file;
  Clpi parsed;
  if (!ReadWholeFile(clpi, file) || !parsed.Read(file)) return {};
  std::vector<std::pair<int, uint32_t>> deltas;
  for (const ATC_DELTA_ENTRY& entry : parsed.clip_info.AtcDeltaEntries) {
    deltas.emplace_back(FollowerOf(entry), entry.AtcDelta);
  }
  return deltas;
}

}  // namespace tessel::test
