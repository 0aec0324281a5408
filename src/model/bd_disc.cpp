#include "model/bd_disc.h"

#include <algorithm>
#include <fstream>

#include "platform/common.h"
#include "platform/files.h"
#include "platform/format.h"
#include "platform/prompt.h"
#include "platform/string_table.h"

namespace tessel {
namespace {

constexpr int kParseErrorText = 5071;  // "Stream parse error:\n%s"
constexpr int kNoPlaylistText = 5072;  // "has no corresponding mpls file! "
constexpr int kNoClipText = 5073;      // "has no corresponding clpi file ! "
constexpr int kMovieGroupText = 1901;  // "MainPath of Movie"

void ShowParseError(const std::string& path) {
  ShowMessage(Format(LoadString(kParseErrorText), path.c_str()));
}

// The built path mapped onto the names that exist below the BDMV folder.
std::string Existing(const std::string& folder, const std::string& built) {
  return ResolveNoCase(built, folder.size());
}

// Reads a database file whole; on failure shows the file system's error text.
bool ReadDatabaseFile(const std::string& path, std::vector<uint8_t>& bytes) {
  std::string error;
  if (ReadWholeFile(path, bytes, &error)) return true;
  ShowMessage(error);
  return false;
}

bool CanOpenForReading(const std::string& path) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) return false;
  std::ifstream in(path, std::ios::binary);
  return static_cast<bool>(in);
}

std::string FileTitle(const std::string& path) {
  return fs::path(path).stem().string();
}

// The decimal value a title starts with, read like atoi: an optional sign and the digits that
// follow; 0 when there are none ("abcde" is playlist 0, "-0001" is negative).
int LeadingNumber(std::string_view title) {
  size_t i = 0;
  while (i < title.size() && title[i] == ' ') ++i;
  const bool negative = i < title.size() && title[i] == '-';
  if (i < title.size() && (title[i] == '-' || title[i] == '+')) ++i;
  int value = 0;
  for (; i < title.size() && title[i] >= '0' && title[i] <= '9'; ++i) {
    value = value * 10 + (title[i] - '0');
  }
  return negative ? -value : value;
}

// The paths of `pattern` in `sub` whose titles pass `keep`, in listing order.
template <class Keep>
std::vector<std::string> ListFiles(const std::string& folder, BdName sub, const char* pattern,
                                   Keep keep) {
  const std::string base = WithTrailingSlash(folder);
  const std::string dir = Existing(base, base + BdNameText(sub));
  std::vector<std::string> paths;
  for (const fs::path& path : EnumerateFolder(dir, pattern)) {
    if (keep(path.stem().string())) paths.push_back(path.string());
  }
  // The title rules leave only paths of one length, for which the order is a plain
  // case-insensitive one, so the sort always gets a consistent comparison.
  std::stable_sort(paths.begin(), paths.end(), [](const std::string& a, const std::string& b) {
    return NaturalCompare(a, b) < 0;
  });
  return paths;
}

void AddOnce(std::vector<int>& list, int value) {
  if (std::find(list.begin(), list.end(), value) == list.end()) list.push_back(value);
}

}  // namespace

std::unique_ptr<CNamedObject> CIndexObject::CreateSame() const {
  return std::make_unique<CIndexObject>();
}

std::unique_ptr<CNamedObject> CMoObject::CreateSame() const {
  return std::make_unique<CMoObject>();
}

std::unique_ptr<CNamedObject> CSoundObject::CreateSame() const {
  return std::make_unique<CSoundObject>();
}

CBDDisc::~CBDDisc() {
  Clear();
}

std::unique_ptr<CNamedObject> CBDDisc::CreateSame() const {
  return std::make_unique<CBDDisc>();
}

bool CBDDisc::Clear() {
  // The published lists must never outlive the objects they point to.
  if (clips_ && CurrentClips() == clips_.get()) SetCurrentClips(nullptr);
  if (playlists_ && CurrentPlaylists() == playlists_.get()) SetCurrentPlaylists(nullptr);
  if (CurrentEditRecord() == &edit_record_) SetCurrentEditRecord(nullptr);
  const bool had_any = index_ || movie_objects_ || sound_ || playlists_ || clips_;
  index_.reset();
  movie_objects_.reset();
  sound_.reset();
  playlists_.reset();
  clips_.reset();
  stereoscopic_ = false;
  return had_any;
}

bool CBDDisc::Open(const std::string& folder) {
  folder_ = FindBdmvFolder(folder);
  Clear();
  edit_record_.edits.clear();
  if (!LoadIndex(folder_) || !LoadMovieObject(folder_)) return false;
  LoadSound(folder_);  // a missing or broken sound file never prevents opening
  if (!LoadPlaylists(folder_)) return false;
  if (!LoadClipsById(folder_, CollectClipNumbers())) return false;

  const std::string ssif =
      Existing(folder_, folder_ + BdNameText(BdName::kStream) + "/" + BdNameText(BdName::kSsif));
  std::error_code ec;
  stereoscopic_ = fs::is_directory(ssif, ec);

  Publish();
  for (const auto& playlist : playlists_->items()) playlist->BuildTrackList();
  for (const auto& playlist : playlists_->items()) RecordSeamlessLinks(*playlist);
  SetName(DiscNameFromPath(folder_));
  return true;
}

bool CBDDisc::LoadIndex(std::string folder) {
  std::string path;
  if (!IndexPath(folder, false, path)) return false;
  path = Existing(folder, path);
  std::vector<uint8_t> bytes;
  if (!ReadDatabaseFile(path, bytes)) return false;
  index_ = std::make_unique<CIndexObject>();
  index_->set_parent(this);
  index_->set_name(fs::path(path).filename().string());
  index_->path = path;
  if (index_->Read(bytes, nullptr)) return true;
  ShowParseError(path);
  return false;
}

bool CBDDisc::LoadMovieObject(std::string folder) {
  std::string path;
  if (!MovieObjectPath(folder, false, path)) return false;
  path = Existing(folder, path);
  std::vector<uint8_t> bytes;
  if (!ReadDatabaseFile(path, bytes)) return false;
  movie_objects_ = std::make_unique<CMoObject>();
  movie_objects_->set_parent(this);
  movie_objects_->set_name(fs::path(path).filename().string());
  movie_objects_->path = path;
  if (movie_objects_->Read(bytes, nullptr)) return true;
  ShowParseError(path);
  return false;
}

bool CBDDisc::LoadSound(std::string folder) {
  std::string path;
  if (!SoundPath(folder, path)) return true;
  path = Existing(folder, path);
  if (!CanOpenForReading(path)) return true;
  auto sound = std::make_unique<CSoundObject>();
  sound->set_parent(this);
  sound->set_name(fs::path(path).filename().string());
  sound->path = path;
  if (!sound->ReadFile(path, nullptr)) return false;
  sound_ = std::move(sound);
  return true;
}

bool CBDDisc::LoadPlaylists(std::string folder) {
  if (!playlists_) {
    playlists_ = std::make_unique<CPofObject>();
    playlists_->set_parent(this);
  }
  std::string pattern;
  if (!PlaylistPath(folder, kPlaylistPattern, pattern)) return false;
  const std::vector<std::string> paths = ListFiles(
      folder, BdName::kPlaylist, "*.mpls",
      [](const std::string& title) { return title.size() == 5 && LeadingNumber(title) >= 0; });
  if (paths.empty()) {
    ShowMessage(LoadString(kNoPlaylistText));
    return false;
  }
  for (const std::string& path : paths) {
    std::vector<uint8_t> bytes;
    if (!ReadDatabaseFile(path, bytes)) return false;
    CMplsObject* playlist = playlists_->AddNewPlaylist();
    playlist->SetName(FileTitle(path));
    playlist->path = path;
    if (!playlist->Parse(bytes)) {
      ShowParseError(path);
      return false;
    }
    playlist->set_id(LeadingNumber(FileTitle(path)));
  }
  return true;
}

bool CBDDisc::LoadClipsById(std::string folder, const std::vector<int>& numbers) {
  if (!clips_) {
    clips_ = std::make_unique<CCofObject>();
    clips_->set_parent(this);
  }
  if (numbers.empty()) {
    ShowMessage(LoadString(kNoClipText));
    return false;
  }
  for (int number : numbers) {
    if (!LoadOneClip(folder, number)) return false;
  }
  return true;
}

bool CBDDisc::LoadAllClips(std::string folder) {
  std::vector<int> numbers;
  for (const std::string& path :
       ListFiles(folder, BdName::kClipinf, "*.clpi",
                 [](const std::string& title) { return FileNumberFromName(title) >= 0; })) {
    numbers.push_back(FileNumberFromName(FileTitle(path)));
  }
  return LoadClipsById(std::move(folder), numbers);
}

bool CBDDisc::LoadOneClip(std::string& folder, int number) {
  std::string clpi_path;
  std::string stream_path;
  if (!ClipInfoPath(folder, number, false, clpi_path) || !StreamPath(folder, number, stream_path)) {
    return false;
  }
  clpi_path = Existing(folder, clpi_path);
  std::vector<uint8_t> bytes;
  if (!ReadDatabaseFile(clpi_path, bytes)) return false;
  CClpiObject* clip = clips_->AddNewClip();
  clip->set_id(number);
  clip->SetName(FileTitle(clpi_path));
  clip->clpi_path = clpi_path;
  if (!clip->Parse(bytes)) {
    ShowParseError(clpi_path);
    return false;
  }
  stream_path = Existing(folder, stream_path);
  if (!CanOpenForReading(stream_path)) {
    ShowMessage(Format("File missing: %05d.m2ts ! ", number));
    return false;
  }
  clip->stream_path = stream_path;
  clip->InitState();
  return true;
}

void CBDDisc::Publish() {
  SetCurrentClips(clips_.get());
  SetCurrentPlaylists(playlists_.get());
  SetCurrentEditRecord(&edit_record_);
}

std::vector<int> CBDDisc::CollectClipNumbers() const {
  std::vector<int> numbers;
  for (const auto& playlist : playlists_->items()) {
    for (int number : playlist->CollectClips()) {
      // A clip name that is no number names no loadable clip; lookups treat it as none.
      if (number >= 0) AddOnce(numbers, number);
    }
  }
  std::sort(numbers.begin(), numbers.end());
  return numbers;
}

void CBDDisc::RecordSeamlessLinks(const CMplsObject& playlist) {
  int previous_number = -1;
  CClpiObject* previous_clip = nullptr;
  for (const PLAY_ITEM& item : playlist.play_items) {
    const int number = item.ClipNumber();
    CClpiObject* clip = clips_->FindClip(number);
    if (item.ConnectionCondition == 5) {
      if (clip && previous_number >= 0 && previous_number != number) {
        AddOnce(clip->seamless_predecessors, previous_number);
      }
      if (previous_clip) AddOnce(previous_clip->seamless_successors, number);
    }
    previous_number = number;
    previous_clip = clip;
  }
}

std::string ClipListLabel(const CCofObject& clips) {
  return Format("%s(%d)", clips.name().c_str(), clips.GetCount());
}

std::string ClipGroupLabel(const CCofObject& clips) {
  const auto movies = std::count_if(clips.items().begin(), clips.items().end(),
                                    [](const auto& clip) { return clip->IsMovieClip(); });
  return Format("%s(%d)", LoadString(kMovieGroupText), static_cast<int>(movies));
}

bool IsListedClip(const CClpiObject& clip) {
  return clip.IsMovieClip() && clip.TrackCount() > 0;
}

std::string ClipLabel(const CClpiObject& clip) {
  return Format("%s, %s, %d %s", NumberedFileName(clip.id(), "m2ts").c_str(),
                SizeText(clip.PacketCount()).c_str(), clip.TrackCount(), "track(s)");
}

std::string PlaylistListLabel(const CPofObject& playlists) {
  return Format("%s(%d)", playlists.name().c_str(), playlists.GetCount());
}

std::string PlaylistLabel(const CMplsObject& playlist) {
  return Format("%s, %s, %d %s", playlist.name().c_str(), TimeText(playlist.DurationMs()).c_str(),
                static_cast<int>(playlist.play_items.size()), "PI(s)");
}

}  // namespace tessel
