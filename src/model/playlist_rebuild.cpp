#include "model/playlist_rebuild.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "mux/muxer.h"

namespace tessel {
namespace {

constexpr uint8_t kInMuxSyncPip = 7;  // SubPathType of picture-in-picture video in the main stream
constexpr uint8_t kEntryMainClip = 1;
constexpr uint8_t kEntrySubClip = 2;
constexpr uint8_t kEntryInMuxSubPath = 3;
constexpr uint8_t kStreamEntryLength = 9;
constexpr uint16_t kPipMetadataId1 = 0x0001;
constexpr uint16_t kPipMetadataId2 = 0x0001;

bool KeepsAnyTrack(const CClpiObject& clip) {
  return clip.new_tracks.size() > 0 ||
         std::any_of(clip.original_tracks.begin(), clip.original_tracks.end(),
                     [](const auto& track) { return track->keep != 0; });
}

bool IsCut(const CClpiObject& clip) {
  return clip.in_point != 0 || clip.out_point < clip.PacketCount();
}

int64_t To90k(uint64_t ticks27m) {
  return static_cast<int64_t>((ticks27m + 150) / 300);
}

// The position a reference to item `ref` moves to once the `removed` items (ascending) are gone;
// nothing when it named one of them.
std::optional<uint16_t> RenumberedItem(const std::vector<size_t>& removed, size_t ref) {
  if (std::binary_search(removed.begin(), removed.end(), ref)) return std::nullopt;
  const auto before = std::lower_bound(removed.begin(), removed.end(), ref) - removed.begin();
  return static_cast<uint16_t>(ref - static_cast<size_t>(before));
}

void SetEntryPid(StreamEntry& entry, uint32_t pid) {
  if (entry.Type == kEntrySubClip) {
    entry.RefToStreamPID_OfSubClip = static_cast<uint16_t>(pid);
  } else {
    entry.RefToStreamPID_OfMainClip = static_cast<uint16_t>(pid);
  }
}

// The attributes a playlist entry shows for a track: the clip's record of an original stream, or
// what the analysis of a new stream found.
void FillAttributes(const SMuxTrack& track, StreamAttributes& attributes) {
  if (const auto* rip = dynamic_cast<const SRipTrack*>(&track)) {
    static_cast<AttributeValues&>(attributes) = rip->attributes;
    return;
  }
  StreamInfo info;
  track.FillClipAttributes(info);
  static_cast<AttributeValues&>(attributes) = info.CodingInfo;
  attributes.StreamCodingType = track.CodingType();
}

// The list of a stream table an entry of the track goes into; nothing for a stream a table
// cannot list.
std::optional<StnList> ListFor(const SMuxTrack& track) {
  const TrackKind kind = GetKind(track);
  if (!track.primary) {
    if (kind == TrackKind::kAudio) return StnList::kSecondaryAudio;
    if (kind == TrackKind::kVideo) return StnList::kSecondaryVideo;
    return std::nullopt;
  }
  switch (kind) {
    case TrackKind::kVideo:
      return StnList::kPrimaryVideo;
    case TrackKind::kAudio:
      return StnList::kPrimaryAudio;
    case TrackKind::kPg:
      return StnList::kPgTextSt;
    case TrackKind::kIg:
      return StnList::kIg;
    case TrackKind::kOther:
      break;
  }
  if (track.CodingType() == coding::kTextSubtitle) return StnList::kPgTextSt;
  return std::nullopt;
}

// A new entry for the track on `pid`: of the main clip, or, with a sub-path id, of the in-mux
// picture-in-picture sub-path. Null when no list takes the stream.
PRIMARY_STREAM_ENTRY* AddEntry(StnTable& table, const SMuxTrack& track, uint32_t pid,
                               std::optional<uint8_t> sub_path_id) {
  const std::optional<StnList> which = ListFor(track);
  if (!which) return nullptr;
  std::unique_ptr<PRIMARY_STREAM_ENTRY> entry = StnTable::NewEntry(*which);
  entry->Entry.Length = kStreamEntryLength;
  entry->Entry.Type = sub_path_id ? kEntryInMuxSubPath : kEntryMainClip;
  entry->Entry.RefToSubPathID = sub_path_id.value_or(0);
  entry->Entry.RefToStreamPID_OfMainClip = static_cast<uint16_t>(pid);
  FillAttributes(track, entry->Attributes);
  StreamEntryList& list = table.list(*which);
  list.push_back(std::move(entry));
  return list.back().get();
}

// Deletes exactly this entry, wherever it is listed.
void EraseEntry(StnTable& table, const PRIMARY_STREAM_ENTRY* entry) {
  for (StreamEntryList& list : table.lists) {
    const auto it = std::find_if(list.begin(), list.end(), [entry](const auto& candidate) {
      return candidate.get() == entry;
    });
    if (it != list.end()) {
      list.erase(it);
      return;
    }
  }
}

int ListSize(const StnTable& table, StnList which) {
  return static_cast<int>(table.list(which).size());
}

// Where a combination reference points to.
struct SCombTarget {
  TrackKind kind;
  bool primary;
  StnList list;
};
constexpr SCombTarget kPrimaryAudioTarget{TrackKind::kAudio, true, StnList::kPrimaryAudio};
constexpr SCombTarget kSecondaryAudioTarget{TrackKind::kAudio, false, StnList::kSecondaryAudio};
constexpr SCombTarget kPipPgTarget{TrackKind::kPg, true, StnList::kPgTextSt};

int TargetLength(const StnTable& table, const SCombTarget& target) {
  if (target.list != StnList::kPgTextSt) return ListSize(table, target.list);
  return ListSize(table, StnList::kPgTextSt) + ListSize(table, StnList::kPipPgTextSt);
}

// The stream number of the entry on `pid` in the rebuilt target list.
std::optional<int> TargetPosition(const StnTable& table, const SCombTarget& target, uint16_t pid) {
  if (target.list == StnList::kPgTextSt) {
    const int pip = table.IndexOfPid(StnList::kPipPgTextSt, pid);
    if (pip >= 0) return pip + ListSize(table, StnList::kPgTextSt);
  }
  const int index = table.IndexOfPid(target.list, pid);
  if (index < 0) return std::nullopt;
  return index;
}

class CPlaylistRebuild {
 public:
  CPlaylistRebuild(const CMplsObject& playlist, Mpls& copy)
      : playlist_(playlist), copy_(copy), clips_(CurrentClips()) {}

  void Run() {
    RemoveEmptyItems();
    RemapItemTimes();
    for (size_t i = 0; i < copy_.play_items.size(); ++i) RebuildTable(i);
    for (PLAY_ITEM& item : copy_.play_items) SortTable(item.stn);
    for (size_t i = 0; i < copy_.play_items.size(); ++i) RenumberCombinations(i);
    UpdatePipSubPaths();
    AddNewPipSubPaths();
    RemapMarks();
    UpdatePipMetadata();
  }

 private:
  CClpiObject* FindClip(int number) const { return clips_ ? clips_->FindClip(number) : nullptr; }
  CClpiObject* ItemClip(size_t item) const {
    return item < copy_.play_items.size() ? FindClip(copy_.play_items[item].ClipNumber()) : nullptr;
  }

  // ---- play items ----

  void RemoveEmptyItems() {
    for (size_t i = 0; i < copy_.play_items.size(); ++i) {
      const CClpiObject* clip = ItemClip(i);
      if (clip && !KeepsAnyTrack(*clip)) removed_.push_back(i);
    }
    if (removed_.empty()) return;
    for (size_t i = removed_.size(); i-- > 0;) {
      const size_t index = removed_[i];
      // The join into the item that takes the removed one's place is no longer seamless.
      if (index + 1 < copy_.play_items.size()) {
        copy_.play_items[index + 1].ConnectionCondition = connection_condition::kNonSeamless;
      }
      copy_.play_items.erase(copy_.play_items.begin() + static_cast<std::ptrdiff_t>(index));
    }
    RenumberMarks();
    RenumberSubPlayItems();
  }

  void RenumberMarks() {
    std::vector<PLAY_MARK> kept;
    for (PLAY_MARK mark : copy_.marks) {
      const std::optional<uint16_t> ref = RenumberedItem(removed_, mark.RefToPlayItemID);
      if (!ref) continue;
      mark.RefToPlayItemID = *ref;
      kept.push_back(mark);
    }
    copy_.marks = std::move(kept);
  }

  void RenumberSubPlayItems() {
    for (SUB_PATH& path : copy_.sub_paths) {
      std::vector<SUB_PLAY_ITEM> kept;
      for (SUB_PLAY_ITEM& item : path.items) {
        const std::optional<uint16_t> ref = RenumberedItem(removed_, item.SyncPlayItemID);
        if (!ref) continue;
        item.SyncPlayItemID = *ref;
        kept.push_back(std::move(item));
      }
      path.items = std::move(kept);
    }
  }

  // A 45 kHz IN or OUT time of `clip`; a time outside the kept part becomes the new start or end.
  static uint32_t RemapEdge(const CClpiObject& clip, uint32_t t45) {
    int64_t t = RemapTime(clip, int64_t{t45} * 2);
    if (t == kRemapBeforeStart) t = To90k(clip.output_timing.presentation_start);
    if (t == kRemapAfterEnd) t = To90k(clip.output_timing.presentation_end);
    return static_cast<uint32_t>(t / 2);
  }

  void RemapItemTimes() {
    for (size_t i = 0; i < copy_.play_items.size(); ++i) {
      const CClpiObject* clip = ItemClip(i);
      if (!clip) continue;
      PLAY_ITEM& item = copy_.play_items[i];
      item.InTime = RemapEdge(*clip, item.InTime);
      item.OutTime = RemapEdge(*clip, item.OutTime);
    }
  }

  // ---- stream tables ----

  // The clip track that stands for a new track of the playlist: the clip's new track of the same
  // file, or for an empty track the clip's placeholder of it. The play item's own clip is asked
  // first, then every play item's clip in order, so that the entry names a PID of the clip it
  // plays wherever that clip has the track.
  std::pair<CClpiObject*, const SMuxTrack*> Counterpart(size_t item,
                                                        const SMuxTrack* playlist_track) const {
    const auto* raw = dynamic_cast<const SRawTrack*>(playlist_track);
    if (!raw) return {nullptr, nullptr};
    auto find_in = [raw](const CClpiObject& clip) -> const SMuxTrack* {
      if (raw->IsEmpty()) {
        for (size_t i = 0; i < clip.new_tracks.size(); ++i) {
          if (clip.new_tracks[i].empty_link == raw->empty_link) return &clip.new_tracks[i];
        }
        return nullptr;
      }
      const int index = clip.new_tracks.Find(raw->MainPath(), false);
      return index < 0 ? nullptr : &clip.new_tracks[static_cast<size_t>(index)];
    };
    std::vector<size_t> order{item};
    for (size_t i = 0; i < copy_.play_items.size(); ++i) order.push_back(i);
    for (size_t i : order) {
      CClpiObject* clip = ItemClip(i);
      if (!clip) continue;
      if (const SMuxTrack* found = find_in(*clip)) return {clip, found};
    }
    return {nullptr, nullptr};
  }

  void RebuildTable(size_t item_index) {
    StnTable& table = copy_.play_items[item_index].stn;
    std::vector<PRIMARY_STREAM_ENTRY*> entries;
    for (const auto& track : playlist_.tracks) {
      PRIMARY_STREAM_ENTRY probe;
      probe.Entry = track->entry;
      entries.push_back(table.FindStream(probe));
    }
    for (size_t t = 0; t < playlist_.tracks.size(); ++t) {
      const SRipTrack& track = *playlist_.tracks[t];
      PRIMARY_STREAM_ENTRY* entry = entries[t];
      if (track.keep && track.sub_path) {
        if (entry) entry->OrderKey = track.order;
      } else if (track.keep) {
        KeepVisible(item_index, track, entry);
      } else if (!track.replacement) {
        if (entry) EraseEntry(table, entry);
      } else if (entry) {
        CompleteReplaced(item_index, track, *entry);
      }
    }
    AddNewTracks(item_index);
  }

  void KeepVisible(size_t item_index, const SRipTrack& track, PRIMARY_STREAM_ENTRY* entry) {
    CClpiObject* clip = ItemClip(item_index);
    const SRipTrack* own = clip ? FindByPid(clip->original_tracks, track.pid) : nullptr;
    if (entry) {
      const uint32_t pid = own ? OutputPidOf(*clip, *own) : 0;
      if (pid != 0 && pid != own->pid) SetEntryPid(entry->Entry, pid);
      entry->OrderKey = track.order;
      return;
    }
    if (!own || !own->primary) return;
    StnTable& table = copy_.play_items[item_index].stn;
    const uint32_t pid = OutputPidOf(*clip, *own);
    if (PRIMARY_STREAM_ENTRY* added = AddEntry(table, *own, pid ? pid : own->pid, std::nullopt)) {
      added->OrderKey = track.order;
    }
  }

  // The clip track an entry of a replaced playlist track names in a play item: the replacement's
  // counterpart, except in a play item whose clip has none and still keeps its own stream of
  // that PID, which the entry goes on naming.
  std::pair<CClpiObject*, const SMuxTrack*> StreamOfReplaced(size_t item_index,
                                                             const SRipTrack& track) const {
    const auto found = Counterpart(item_index, track.replacement);
    CClpiObject* item_clip = ItemClip(item_index);
    if (!item_clip || found.first == item_clip) return found;
    const SRipTrack* own = FindByPid(item_clip->original_tracks, track.pid);
    if (own && own->keep) return {item_clip, own};
    return found;
  }

  void CompleteReplaced(size_t item_index, const SRipTrack& track, PRIMARY_STREAM_ENTRY& entry) {
    const auto [clip, stream] = StreamOfReplaced(item_index, track);
    if (stream) {
      const uint32_t pid = OutputPidOf(*clip, *stream);
      if (pid != 0) SetEntryPid(entry.Entry, pid);
      // A replacement of another coding type of the same kind must not be announced as the
      // stream it replaces.
      FillAttributes(*stream, entry.Attributes);
    }
    entry.OrderKey = track.replacement->order;
  }

  void AddNewTracks(size_t item_index) {
    StnTable& table = copy_.play_items[item_index].stn;
    for (size_t n = 0; n < playlist_.new_tracks.size(); ++n) {
      const SRawTrack& track = playlist_.new_tracks[n];
      const auto [clip, counterpart] = Counterpart(item_index, &track);
      if (!counterpart || counterpart->replacement) continue;
      std::optional<uint8_t> sub_path;
      if (!counterpart->primary) sub_path = NewPipSubPathId(track);
      const uint32_t pid = OutputPidOf(*clip, *counterpart);
      if (PRIMARY_STREAM_ENTRY* entry = AddEntry(table, *counterpart, pid, sub_path)) {
        entry->OrderKey = track.order;
      }
    }
  }

  // Each new secondary stream gets an in-mux picture-in-picture sub-path of its own, numbered
  // after the sub-paths the playlist has; the sub-paths are added once the old ones are done.
  uint8_t NewPipSubPathId(const SRawTrack& track) {
    const auto it = std::find(new_pip_tracks_.begin(), new_pip_tracks_.end(), &track);
    const size_t index = static_cast<size_t>(it - new_pip_tracks_.begin());
    if (it == new_pip_tracks_.end()) new_pip_tracks_.push_back(&track);
    return static_cast<uint8_t>(copy_.sub_paths.size() + index);
  }

  static void SortTable(StnTable& table) {
    for (StreamEntryList& list : table.lists) {
      std::stable_sort(list.begin(), list.end(),
                       [](const auto& a, const auto& b) { return a->OrderKey < b->OrderKey; });
    }
  }

  // ---- combination references ----

  // The output PID of the stream a playlist track names in this play item; nothing when it
  // cannot be told, and 0 for a hidden track that no stream replaces (its stream is gone).
  std::optional<uint32_t> ReferencedPid(size_t item_index, const SRipTrack& track) const {
    if (track.keep) {
      if (track.sub_path) return track.pid;
      CClpiObject* clip = ItemClip(item_index);
      const SRipTrack* own = clip ? FindByPid(clip->original_tracks, track.pid) : nullptr;
      if (!own) return std::nullopt;
      const uint32_t pid = OutputPidOf(*clip, *own);
      return pid ? pid : own->pid;
    }
    if (!track.replacement) return 0;
    const auto [clip, stream] = StreamOfReplaced(item_index, track);
    if (!stream) return std::nullopt;
    return OutputPidOf(*clip, *stream);
  }

  void Renumber(size_t item_index, StreamCombInfo& comb, const SCombTarget& target) const {
    const StnTable& table = copy_.play_items[item_index].stn;
    std::vector<const SRipTrack*> candidates;
    for (const auto& track : playlist_.tracks) {
      if (GetKind(*track) == target.kind && (track->primary != 0) == target.primary) {
        candidates.push_back(track.get());
      }
    }
    const std::vector<uint8_t> old = std::move(comb.RefIDs);
    comb.RefIDs.clear();
    for (uint8_t ref : old) {
      if (ref >= candidates.size()) {
        comb.AddRef(ref);
        continue;
      }
      const std::optional<uint32_t> pid = ReferencedPid(item_index, *candidates[ref]);
      if (!pid) {
        if (ref < TargetLength(table, target)) comb.AddRef(ref);
        continue;
      }
      const std::optional<int> position =
          *pid ? TargetPosition(table, target, static_cast<uint16_t>(*pid)) : std::nullopt;
      if (position) comb.AddRef(static_cast<uint8_t>(*position));
    }
  }

  void RenumberCombinations(size_t item_index) {
    StnTable& table = copy_.play_items[item_index].stn;
    for (auto& entry : table.list(StnList::kSecondaryAudio)) {
      if (auto* audio = dynamic_cast<SECONDARD_AUDIO_STREAM_ENTRY*>(entry.get())) {
        Renumber(item_index, audio->SecondardAudioStreamCombInfo, kPrimaryAudioTarget);
      }
    }
    for (auto& entry : table.list(StnList::kSecondaryVideo)) {
      if (auto* video = dynamic_cast<SECONDARD_VIDEO_STREAM_ENTRY*>(entry.get())) {
        Renumber(item_index, video->SecondardVideoSecondardAudioStreamCombInfo,
                 kSecondaryAudioTarget);
        Renumber(item_index, video->SecondardVideoPiP_PG_TextST_StreamCombInfo, kPipPgTarget);
      }
    }
  }

  // ---- sub-paths ----

  void UpdatePipSubPaths() {
    std::vector<const SRipTrack*> pip_tracks;
    for (const auto& track : playlist_.tracks) {
      if (GetKind(*track) == TrackKind::kVideo && !track->primary)
        pip_tracks.push_back(track.get());
    }
    size_t k = 0;
    for (SUB_PATH& path : copy_.sub_paths) {
      if (path.SubPathType != kInMuxSyncPip) continue;
      const SRipTrack* track = k < pip_tracks.size() ? pip_tracks[k] : nullptr;
      ++k;
      if (!track || (!track->keep && !track->replacement)) {
        path.items.clear();
        continue;
      }
      for (SUB_PLAY_ITEM& item : path.items) RemapSubPlayItem(item);
    }
  }

  void RemapSubPlayItem(SUB_PLAY_ITEM& item) const {
    const CClpiObject* clip = FindClip(item.ClipNumber());
    if (!clip) return;
    item.InTime = RemapEdge(*clip, item.InTime);
    item.OutTime = RemapEdge(*clip, item.OutTime);
    item.SyncStartPTS_OfPlayItem = std::max(item.SyncStartPTS_OfPlayItem, item.InTime);
  }

  // The sub-path a new secondary stream's entries name: it plays along every play item.
  void AddNewPipSubPaths() {
    for (size_t n = 0; n < new_pip_tracks_.size(); ++n) {
      SUB_PATH path;
      path.SubPathType = kInMuxSyncPip;
      for (size_t i = 0; i < copy_.play_items.size(); ++i) {
        const PLAY_ITEM& play_item = copy_.play_items[i];
        SUB_PLAY_ITEM item;
        std::copy(std::begin(play_item.ClipInformationFileName),
                  std::end(play_item.ClipInformationFileName), item.ClipInformationFileName);
        std::copy(std::begin(play_item.ClipCodecIdentifier),
                  std::end(play_item.ClipCodecIdentifier), item.ClipCodecIdentifier);
        item.ConnectionCondition = play_item.ConnectionCondition;
        item.RefToSTC_ID = play_item.RefToSTC_ID;
        item.InTime = play_item.InTime;
        item.OutTime = play_item.OutTime;
        item.SyncPlayItemID = static_cast<uint16_t>(i);
        item.SyncStartPTS_OfPlayItem = play_item.InTime;
        path.items.push_back(item);
      }
      copy_.sub_paths.push_back(std::move(path));
    }
  }

  // ---- marks ----

  void RemapMarks() {
    std::vector<PLAY_MARK> kept;
    for (PLAY_MARK mark : copy_.marks) {
      if (mark.RefToPlayItemID >= copy_.play_items.size()) continue;
      const PLAY_ITEM& item = copy_.play_items[mark.RefToPlayItemID];
      const CClpiObject* clip = FindClip(item.ClipNumber());
      if (clip && clip->IsModified()) {
        const int64_t t = RemapTime(*clip, int64_t{mark.MarkTimeStamp} * 2);
        mark.MarkTimeStamp = t == kRemapBeforeStart ? item.InTime
                             : t == kRemapAfterEnd  ? item.OutTime
                                                    : static_cast<uint32_t>(t / 2);
      }
      kept.push_back(mark);
    }
    copy_.marks = std::move(kept);
  }

  // ---- picture-in-picture metadata ----

  // Whether a header still names a play item of a loaded clip and a secondary video stream of
  // its rebuilt table; the play item is renumbered past the removed ones.
  bool KeepHeader(MetadataBlockHeader& header) const {
    const std::optional<uint16_t> ref = RenumberedItem(removed_, header.RefPlayItemId);
    if (!ref || *ref >= copy_.play_items.size()) return false;
    header.RefPlayItemId = *ref;
    const PLAY_ITEM& item = copy_.play_items[*ref];
    return FindClip(item.ClipNumber()) &&
           header.RefSvStreamId < ListSize(item.stn, StnList::kSecondaryVideo);
  }

  void RemapPipTimes(PipMetadataBlock& block) const {
    const CClpiObject* clip = FindClip(copy_.play_items[block.header.RefPlayItemId].ClipNumber());
    std::vector<PipMetadataEntry> kept;
    for (PipMetadataEntry entry : block.entries) {
      const int64_t t = RemapTime(*clip, int64_t{entry.PipTimeStamp} * 2);
      if (t == kRemapBeforeStart || t == kRemapAfterEnd) continue;
      entry.PipTimeStamp = static_cast<uint32_t>(t / 2);
      kept.push_back(entry);
    }
    block.entries = std::move(kept);
  }

  void UpdatePipMetadata() {
    if (!copy_.ext_data) return;
    const SExtDataEntry* stored = copy_.ext_data->FindEntry(kPipMetadataId1, kPipMetadataId2);
    SPipMetaData metadata;
    if (!stored || !metadata.Read(stored->data)) return;
    std::vector<PipMetadataBlock> kept;
    for (PipMetadataBlock& block : metadata.blocks) {
      if (!KeepHeader(block.header)) continue;
      RemapPipTimes(block);
      kept.push_back(std::move(block));
    }
    metadata.blocks = std::move(kept);
    if (metadata.blocks.empty()) {
      copy_.ext_data->RemovePipMetadata();
    } else {
      copy_.ext_data->StorePipMetadata(metadata);
    }
  }

  const CMplsObject& playlist_;
  Mpls& copy_;
  CCofObject* clips_;
  std::vector<size_t> removed_;  // indices of the play items of empty clips, ascending
  std::vector<const SRawTrack*> new_pip_tracks_;
};

}  // namespace

int64_t RemapTime(const CClpiObject& clip, int64_t t90) {
  const int64_t start = static_cast<int64_t>(clip.start_time);
  const bool cut = IsCut(clip);
  const int64_t old_start = cut ? start + clip.in_offset : start;
  const int64_t old_end = cut ? start + clip.out_offset : static_cast<int64_t>(clip.end_time);
  const int64_t new_start = To90k(clip.output_timing.presentation_start);
  const int64_t new_end = To90k(clip.output_timing.presentation_end);
  if (t90 == old_start) return new_start;
  if (t90 == old_end) return new_end;
  if (t90 < old_start) return kRemapBeforeStart;
  if (t90 > old_end) return kRemapAfterEnd;
  const int64_t moved = t90 + (new_start - old_start);
  if (moved < new_start) return kRemapBeforeStart;
  if (moved > new_end) return kRemapAfterEnd;
  return moved;
}

uint32_t OutputPidOf(CClpiObject& clip, const SMuxTrack& track) {
  if (!clip.IsModified()) {
    const auto* rip = dynamic_cast<const SRipTrack*>(&track);
    return rip ? rip->pid : track.output_pid;
  }
  if (track.original && !track.keep) return 0;
  if (clip.built) return track.output_pid;
  // The multiplexer's order decides; it is worked out on the clip's tracks and undone, so that
  // the clip is left as it was.
  std::vector<SMuxTrack*> candidates;
  for (const auto& original : clip.original_tracks) candidates.push_back(original.get());
  for (SMuxTrack* added : clip.new_tracks.Pointers()) candidates.push_back(added);
  std::vector<uint32_t> saved;
  for (const SMuxTrack* candidate : candidates) saved.push_back(candidate->output_pid);
  uint32_t pid = 0;
  if (BuildTrackList(candidates, nullptr)) pid = track.output_pid;
  for (size_t i = 0; i < candidates.size(); ++i) candidates[i]->output_pid = saved[i];
  return pid;
}

bool RebuildForOutput(const CMplsObject& playlist, Mpls& copy) {
  if (!playlist.IsModified()) return false;
  CPlaylistRebuild(playlist, copy).Run();
  return true;
}

}  // namespace tessel
