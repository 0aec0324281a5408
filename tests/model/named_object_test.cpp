#include "model/named_object.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <typeinfo>

#include "model/clip_object.h"
#include "model/playlist_object.h"
#include "model/source.h"

namespace tessel {
namespace {

// A source class derived outside the model, to check that folder copies keep runtime classes.
class CTaggedSource : public CSource {
 public:
  std::unique_ptr<CNamedObject> CreateSame() const override {
    return std::make_unique<CTaggedSource>();
  }
  void CopyFrom(const CNamedObject& other) override {
    CSource::CopyFrom(other);
    if (const auto* tagged = dynamic_cast<const CTaggedSource*>(&other)) tag = tagged->tag;
  }
  int tag = 0;
};

class CTaggedFolder : public CSourceFolder {
 public:
  std::unique_ptr<CNamedObject> CreateSame() const override {
    return std::make_unique<CTaggedFolder>();
  }
};

template <class T>
std::unique_ptr<T> Named(const char* name, int32_t id) {
  auto object = std::make_unique<T>();
  object->set_name(name);
  object->set_id(id);
  return object;
}

TEST(NamedObject, StartsEmptyWithNoId) {
  CNamedObject object;
  EXPECT_EQ(object.parent(), nullptr);
  EXPECT_EQ(object.name(), "");
  EXPECT_EQ(object.id(), -1);
  EXPECT_EQ(object.user_word1(), 0);
  EXPECT_EQ(object.user_word2(), 0);
  EXPECT_FALSE(object.Clear());
}

TEST(NamedObject, SetNameIgnoresCase) {
  CNamedObject object;
  object.set_name("abc");
  EXPECT_FALSE(object.SetName("ABC"));
  EXPECT_EQ(object.name(), "abc");
  EXPECT_FALSE(object.SetName("abc"));
  EXPECT_TRUE(object.SetName("abd"));
  EXPECT_EQ(object.name(), "abd");
  EXPECT_TRUE(object.SetName("abd "));
  EXPECT_EQ(object.name(), "abd ");
}

TEST(NamedObject, SetNameComparesBytesBeyondAscii) {
  CNamedObject object;
  object.set_name("\xE9t\xE9");
  EXPECT_TRUE(object.SetName("\xC9T\xC9"));  // only ASCII letters are folded
  EXPECT_EQ(object.name(), "\xC9T\xC9");
}

TEST(NamedObject, CopyFromCopiesEveryBaseField) {
  CNamedObject owner;
  CClpiObject source;
  source.set_parent(&owner);
  source.set_name("00001");
  source.set_id(1);
  source.set_user_word1(7);
  source.set_user_word2(-3);
  CClpiObject copy;
  copy.CopyFrom(source);
  EXPECT_EQ(copy.parent(), &owner);
  EXPECT_EQ(copy.name(), "00001");
  EXPECT_EQ(copy.id(), 1);
  EXPECT_EQ(copy.user_word1(), 7);
  EXPECT_EQ(copy.user_word2(), -3);
}

TEST(NamedObject, CreateSameGivesTheConcreteClass) {
  const CClpiObject clip;
  const CMplsObject playlist;
  const CSource source;
  const CSourceFolder folder;
  const CCofObject clips;
  const CPofObject playlists;
  const CTaggedSource tagged;
  for (const CNamedObject* object : std::initializer_list<const CNamedObject*>{
           &clip, &playlist, &source, &folder, &clips, &playlists, &tagged}) {
    const auto same = object->CreateSame();
    ASSERT_NE(same, nullptr);
    const CNamedObject& created = *same;
    const CNamedObject& original = *object;
    EXPECT_EQ(typeid(created), typeid(original)) << typeid(original).name();
  }
}

TEST(NamedPtrArray, GetAtOutsideTheRangeIsNull) {
  CCofObject clips;
  EXPECT_EQ(clips.GetAt(0), nullptr);
  clips.AddNewClip();
  clips.AddNewClip();
  EXPECT_EQ(clips.GetAt(-1), nullptr);
  EXPECT_EQ(clips.GetAt(clips.GetCount()), nullptr);
  EXPECT_NE(clips.GetAt(0), nullptr);
  EXPECT_NE(clips.GetAt(1), nullptr);
}

TEST(NamedPtrArray, AddParentsAndAppendsInOrder) {
  CPofObject playlists;
  auto first = Named<CMplsObject>("00002", 2);
  CMplsObject* first_ptr = first.get();
  EXPECT_EQ(playlists.Add(std::move(first)), 0);
  EXPECT_EQ(playlists.Add(Named<CMplsObject>("00001", 1)), 1);
  EXPECT_EQ(playlists.Add(nullptr), -1);
  ASSERT_EQ(playlists.GetCount(), 2);
  EXPECT_EQ(playlists.GetAt(0), first_ptr);
  EXPECT_EQ(playlists.GetAt(1)->name(), "00001");  // insertion order, no sorting
  for (const auto& item : playlists.items()) EXPECT_EQ(item->parent(), &playlists);
}

TEST(NamedPtrArray, ClearReportsWhetherThereWasAnElement) {
  CCofObject clips;
  EXPECT_FALSE(clips.Clear());
  EXPECT_EQ(clips.GetCount(), 0);
  EXPECT_EQ(clips.name(), "M2ts(s)");
  clips.AddNewClip();
  EXPECT_TRUE(clips.Clear());
  EXPECT_EQ(clips.GetCount(), 0);
  EXPECT_EQ(clips.GetAt(0), nullptr);
  EXPECT_FALSE(clips.Clear());
}

TEST(CofObject, IsNamedAndNumbersNewClipsAfterTheLast) {
  CCofObject clips;
  EXPECT_EQ(clips.name(), "M2ts(s)");
  CClpiObject* first = clips.AddNewClip();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->id(), 0);
  EXPECT_EQ(first->name(), "M2ts#0");
  EXPECT_EQ(first->parent(), &clips);
  EXPECT_EQ(clips.GetAt(0), first);
}

TEST(CofObject, AddNewClipFollowsTheLastIdEvenWhenLowerIdsAreFree) {
  CCofObject clips;
  clips.Add(Named<CClpiObject>("00003", 3));
  clips.Add(Named<CClpiObject>("00012", 12));
  CClpiObject* clip = clips.AddNewClip();
  EXPECT_EQ(clip->id(), 13);
  EXPECT_EQ(clip->name(), "M2ts#13");
  EXPECT_EQ(clips.GetCount(), 3);
  EXPECT_EQ(clips.GetAt(2), clip);
}

TEST(PofObject, NamesNewPlaylistsByTheCount) {
  CPofObject playlists;
  EXPECT_EQ(playlists.name(), "Mpls(s)");
  CMplsObject* first = playlists.AddNewPlaylist();
  first->set_id(800);
  CMplsObject* second = playlists.AddNewPlaylist();
  EXPECT_EQ(first->name(), "Mpls#0");
  EXPECT_EQ(second->name(), "Mpls#1");
  EXPECT_EQ(second->id(), -1);
  EXPECT_EQ(second->parent(), &playlists);
  EXPECT_EQ(playlists.GetCount(), 2);
}

TEST(NamedPtrArray, CopyFromIsADeepCopy) {
  CNamedObject disc;
  CCofObject source;
  source.set_parent(&disc);
  source.set_id(5);
  source.Add(Named<CClpiObject>("00001", 1));
  source.Add(Named<CClpiObject>("00002", 2));

  CCofObject copy;
  copy.AddNewClip();  // replaced by the copy
  const CNamedObject& as_base = source;
  copy.CopyFrom(as_base);  // forwarded to CopyItemsFrom

  EXPECT_EQ(copy.parent(), &disc);
  EXPECT_EQ(copy.id(), 5);
  ASSERT_EQ(copy.GetCount(), 2);
  for (int i = 0; i < 2; ++i) {
    EXPECT_NE(copy.GetAt(i), source.GetAt(i));
    EXPECT_EQ(copy.GetAt(i)->name(), source.GetAt(i)->name());
    EXPECT_EQ(copy.GetAt(i)->id(), source.GetAt(i)->id());
    EXPECT_EQ(copy.GetAt(i)->parent(), &copy);
    EXPECT_EQ(source.GetAt(i)->parent(), &source);
  }

  copy.GetAt(0)->set_name("renamed");
  EXPECT_EQ(source.GetAt(0)->name(), "00001");
  source.Clear();
  EXPECT_EQ(copy.GetCount(), 2);
  EXPECT_EQ(copy.GetAt(1)->name(), "00002");
}

TEST(NamedPtrArray, CopyingItselfChangesNothing) {
  CCofObject clips;
  clips.AddNewClip();
  clips.CopyItemsFrom(clips);
  EXPECT_EQ(clips.GetCount(), 1);
}

TEST(NamedFolder, AccessOutsideTheRangeIsNull) {
  CSourceFolder folder;
  EXPECT_EQ(folder.GetAt(0), nullptr);
  EXPECT_EQ(folder.GetFolderAt(0), nullptr);
  folder.Add(std::make_unique<CSource>());
  folder.AddFolder(std::make_unique<CSourceFolder>());
  EXPECT_EQ(folder.GetAt(-1), nullptr);
  EXPECT_EQ(folder.GetAt(1), nullptr);
  EXPECT_EQ(folder.GetFolderAt(-1), nullptr);
  EXPECT_EQ(folder.GetFolderAt(1), nullptr);
  EXPECT_EQ(folder.GetAt(0)->parent(), &folder);
  EXPECT_EQ(folder.GetFolderAt(0)->parent(), &folder);
}

TEST(NamedFolder, ClearDeletesItemsAndSubFolders) {
  CSourceFolder folder;
  EXPECT_FALSE(folder.Clear());
  folder.AddFolder(std::make_unique<CSourceFolder>());
  EXPECT_TRUE(folder.Clear());
  EXPECT_EQ(folder.GetFolderCount(), 0);
  folder.Add(std::make_unique<CSource>());
  EXPECT_TRUE(folder.Clear());
  EXPECT_EQ(folder.GetCount(), 0);
}

TEST(NamedFolder, FindByIdPrefersOwnItemsThenSearchesDepthFirst) {
  CSourceFolder root;
  auto sub1 = std::make_unique<CSourceFolder>();
  auto nested = std::make_unique<CSourceFolder>();
  nested->Add(Named<CSource>("nested 7", 7));
  nested->Add(Named<CSource>("nested 4", 4));
  sub1->Add(Named<CSource>("sub1 4", 4));
  sub1->AddFolder(std::move(nested));
  auto sub2 = std::make_unique<CSourceFolder>();
  sub2->Add(Named<CSource>("sub2 7", 7));
  sub2->Add(Named<CSource>("sub2 9", 9));
  root.AddFolder(std::move(sub1));
  root.AddFolder(std::move(sub2));
  root.Add(Named<CSource>("root 4", 4));

  ASSERT_NE(root.FindById(4), nullptr);
  EXPECT_EQ(root.FindById(4)->name(), "root 4");
  EXPECT_EQ(root.FindById(7)->name(), "nested 7");  // sub1's sub-folder before sub2
  EXPECT_EQ(root.FindById(9)->name(), "sub2 9");
  EXPECT_EQ(root.FindById(1), nullptr);
  EXPECT_EQ(root.FindById(-1), nullptr);
}

TEST(NamedFolder, CopyItemsFromKeepsRuntimeClasses) {
  CSourceFolder source;
  source.set_name("sources");
  source.set_id(3);
  auto tagged = Named<CTaggedSource>("tagged", 1);
  tagged->tag = 42;
  tagged->set_user_word2(77);
  source.Add(std::move(tagged));
  source.Add(Named<CSource>("plain", 2));
  auto sub = std::make_unique<CTaggedFolder>();
  sub->set_name("sub");
  sub->Add(Named<CSource>("inside", 5));
  source.AddFolder(std::move(sub));
  source.AddFolder(std::make_unique<CSourceFolder>());

  CSourceFolder copy;
  copy.Add(Named<CSource>("old", 8));
  copy.CopyFrom(source);

  EXPECT_EQ(copy.name(), "sources");
  EXPECT_EQ(copy.id(), 3);
  ASSERT_EQ(copy.GetCount(), 2);
  const auto* copied_tagged = dynamic_cast<const CTaggedSource*>(copy.GetAt(0));
  ASSERT_NE(copied_tagged, nullptr);
  EXPECT_NE(copied_tagged, source.GetAt(0));
  EXPECT_EQ(copied_tagged->tag, 42);
  EXPECT_EQ(copied_tagged->name(), "tagged");
  EXPECT_EQ(copied_tagged->user_word2(), 77);
  EXPECT_EQ(copied_tagged->parent(), &copy);
  const CSource& plain = *copy.GetAt(1);
  EXPECT_EQ(typeid(plain), typeid(CSource));
  EXPECT_EQ(copy.GetAt(1)->parent(), &copy);
  EXPECT_EQ(copy.FindById(8), nullptr);

  // Sub-folders are re-created empty, with their runtime class.
  ASSERT_EQ(copy.GetFolderCount(), 2);
  const CSourceFolder& first_folder = *copy.GetFolderAt(0);
  const CSourceFolder& second_folder = *copy.GetFolderAt(1);
  EXPECT_EQ(typeid(first_folder), typeid(CTaggedFolder));
  EXPECT_EQ(typeid(second_folder), typeid(CSourceFolder));
  EXPECT_NE(copy.GetFolderAt(0), source.GetFolderAt(0));
  EXPECT_EQ(copy.GetFolderAt(0)->GetCount(), 0);
  EXPECT_EQ(copy.GetFolderAt(0)->parent(), &copy);
}

}  // namespace
}  // namespace tessel
