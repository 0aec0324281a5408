// The root of the disc model: one opened source BDMV folder with its index, movie objects,
// optional sound file, the playlists and the clips the playlists use.
//
// Every failure while opening is reported through the prompt service where it happens and makes
// the operation return false; objects loaded before the failure stay attached until Clear.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "formats/index.h"
#include "formats/movie_object.h"
#include "formats/sound.h"
#include "model/bd_paths.h"
#include "model/clip_object.h"
#include "model/edit_list.h"
#include "model/named_object.h"
#include "model/playlist_object.h"

namespace tessel {

// index.bdmv and the path it was read from.
class CIndexObject : public CNamedObject, public IndexFile {
 public:
  std::unique_ptr<CNamedObject> CreateSame() const override;
  std::string path;
};

// MovieObject.bdmv and the path it was read from.
class CMoObject : public CNamedObject, public MovieObjectFile {
 public:
  std::unique_ptr<CNamedObject> CreateSame() const override;
  std::string path;
};

// AUXDATA/Sound.bdmv and the path it was read from.
class CSoundObject : public CNamedObject, public SoundFile {
 public:
  std::unique_ptr<CNamedObject> CreateSame() const override;
  std::string path;
};

class CBDDisc : public CNamedObject {
 public:
  CBDDisc() = default;
  ~CBDDisc() override;

  std::unique_ptr<CNamedObject> CreateSame() const override;

  // Loads the folder the user picked: the BDMV folder itself or the folder that holds it. Names
  // of existing folders and files are matched without regard to case. Reads nothing but database
  // files and writes nothing.
  virtual bool Open(const std::string& folder);
  virtual bool LoadIndex(std::string folder);
  virtual bool LoadMovieObject(std::string folder);
  // True when the sound file is absent or parsed.
  virtual bool LoadSound(std::string folder);
  // True when at least one playlist qualified and all of them parsed.
  virtual bool LoadPlaylists(std::string folder);
  // Loads the clips with the given numbers (ascending), each with its stream file checked.
  virtual bool LoadClipsById(std::string folder, const std::vector<int>& numbers);
  // Loads every clip of CLIPINF whose title is five digits.
  virtual bool LoadAllClips(std::string folder);

  // Releases every loaded file (and withdraws the published lists when they are this disc's).
  // The folder and the name stay.
  bool Clear() override;

  CIndexObject* index() const { return index_.get(); }
  CMoObject* movie_objects() const { return movie_objects_.get(); }
  CSoundObject* sound() const { return sound_.get(); }
  CPofObject* playlists() const { return playlists_.get(); }
  CCofObject* clips() const { return clips_.get(); }
  // The BDMV folder, ending with '/'.
  const std::string& folder() const { return folder_; }
  bool stereoscopic() const { return stereoscopic_; }
  // The edits made since the disc was opened, in order.
  const SEditRecord& edit_record() const { return edit_record_; }
  // Makes this disc's lists and record the ones the editing operations use (Open does).
  void Publish();

 private:
  // The clip numbers every playlist uses, ascending, each once.
  std::vector<int> CollectClipNumbers() const;
  bool LoadOneClip(std::string& folder, int number);
  void RecordSeamlessLinks(const CMplsObject& playlist);

  std::unique_ptr<CIndexObject> index_;
  std::unique_ptr<CMoObject> movie_objects_;
  std::unique_ptr<CSoundObject> sound_;
  std::unique_ptr<CPofObject> playlists_;
  std::unique_ptr<CCofObject> clips_;
  std::string folder_;
  bool stereoscopic_ = false;
  SEditRecord edit_record_;
};

// The labels of the two trees.
// "M2ts(s)(N)": the clip list and its count.
std::string ClipListLabel(const CCofObject& clips);
// "MainPath of Movie(N)": the group of clips the user may edit, with their count.
std::string ClipGroupLabel(const CCofObject& clips);
// Whether the clip has a line of its own under the group: a movie clip with at least one track.
bool IsListedClip(const CClpiObject& clip);
// "00001.m2ts, 1.17MB, 4 track(s)".
std::string ClipLabel(const CClpiObject& clip);
// "Mpls(s)(N)".
std::string PlaylistListLabel(const CPofObject& playlists);
// "00001, 00:01:02:345, 3 PI(s)".
std::string PlaylistLabel(const CMplsObject& playlist);

}  // namespace tessel
