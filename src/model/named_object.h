// The named object tree: the base of every object of the disc model and the two owning
// container templates (an ordered array, and a folder of items and nested sub-folders).
//
// Containers own their children through std::unique_ptr; each child keeps a plain back pointer
// to its container. Element access outside 0..count-1 yields nullptr, and the model's loops rely
// on that instead of failing.
#pragma once

#include <cassert>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

namespace tessel {

class CNamedObject {
 public:
  CNamedObject() = default;
  virtual ~CNamedObject() = default;
  CNamedObject(const CNamedObject&) = delete;
  CNamedObject& operator=(const CNamedObject&) = delete;

  // The runtime class query: a new, empty object of this object's concrete class. Every
  // concrete class of the family overrides it (used to copy polymorphic folders).
  virtual std::unique_ptr<CNamedObject> CreateSame() const;
  // A leaf has nothing to clear and answers false; containers delete their children and answer
  // whether there was at least one.
  virtual bool Clear() { return false; }
  // Copies parent, name, id and both user words. Derived classes copy their own fields after
  // calling this; containers forward to their CopyItemsFrom.
  virtual void CopyFrom(const CNamedObject& other);

  // Assigns `name` only when it differs from the current name without regard to case
  // (byte-wise, ASCII letters folded); returns whether the name changed.
  bool SetName(std::string_view name);

  CNamedObject* parent() const { return parent_; }
  void set_parent(CNamedObject* parent) { parent_ = parent; }
  const std::string& name() const { return name_; }
  void set_name(std::string name) { name_ = std::move(name); }
  // Clip or playlist number (the five-digit file number); -1 for none.
  int32_t id() const { return id_; }
  void set_id(int32_t id) { id_ = id; }
  // Two words carried along by copies and not interpreted by the model; a CSource keeps the
  // author of its track in the second.
  int32_t user_word1() const { return user_word1_; }
  void set_user_word1(int32_t value) { user_word1_ = value; }
  int32_t user_word2() const { return user_word2_; }
  void set_user_word2(int32_t value) { user_word2_ = value; }

 private:
  CNamedObject* parent_ = nullptr;  // non-owning
  std::string name_;
  int32_t id_ = -1;
  int32_t user_word1_ = 0;
  int32_t user_word2_ = 0;
};

// A new empty object of the concrete class of `source`, typed as T.
template <class T>
std::unique_ptr<T> CreateSameAs(const T& source) {
  static_assert(std::is_base_of_v<CNamedObject, T>);
  std::unique_ptr<CNamedObject> object = source.CreateSame();
  const T* typed = dynamic_cast<const T*>(object.get());
  if (typed == nullptr) {
    assert(false && "CreateSame returned an object of an unrelated class");
    return std::make_unique<T>();
  }
  assert(typeid(*typed) == typeid(source) && "CreateSame not overridden");
  return std::unique_ptr<T>(static_cast<T*>(object.release()));
}

// An ordered array of owned T objects (insertion order, never sorted).
template <class T>
class CNamedPtrArray : public CNamedObject {
 public:
  std::unique_ptr<CNamedObject> CreateSame() const override {
    return std::make_unique<CNamedPtrArray>();
  }

  int GetCount() const { return static_cast<int>(items_.size()); }
  // nullptr for an index outside 0..count-1.
  T* GetAt(int index) const {
    return index >= 0 && index < GetCount() ? items_[static_cast<size_t>(index)].get() : nullptr;
  }
  std::span<const std::unique_ptr<T>> items() const { return items_; }

  // Makes this container the object's parent (unless it already is) and appends the object;
  // returns its index. A null object is not added and gives -1.
  int Add(std::unique_ptr<T> item) {
    if (!item) return -1;
    if (item->parent() != this) item->set_parent(this);
    items_.push_back(std::move(item));
    return GetCount() - 1;
  }

  // Deletes every element; returns whether there was at least one.
  bool Clear() override {
    const bool had_items = !items_.empty();
    items_.clear();
    items_.shrink_to_fit();
    return had_items;
  }

  void CopyFrom(const CNamedObject& other) override {
    if (const auto* array = dynamic_cast<const CNamedPtrArray*>(&other)) {
      CopyItemsFrom(*array);
    } else {
      CNamedObject::CopyFrom(other);
    }
  }

  // Deep copy: clears this container, copies the base fields of `other` (its parent link
  // included), then appends a new T for each element of `other`, copied with T's own copy
  // operation and parented to this container.
  virtual void CopyItemsFrom(const CNamedPtrArray& other) {
    if (&other == this) return;
    Clear();
    CNamedObject::CopyFrom(other);
    for (const auto& source : other.items_) {
      auto copy = std::make_unique<T>();
      copy->CopyFrom(*source);
      copy->set_parent(this);
      items_.push_back(std::move(copy));
    }
  }

 private:
  std::vector<std::unique_ptr<T>> items_;
};

// A folder of owned T items and owned F sub-folders (F derives from CNamedFolder<T, F>), so
// folders nest to any depth.
template <class T, class F>
class CNamedFolder : public CNamedObject {
 public:
  int GetCount() const { return static_cast<int>(items_.size()); }
  T* GetAt(int index) const {
    return index >= 0 && index < GetCount() ? items_[static_cast<size_t>(index)].get() : nullptr;
  }
  std::span<const std::unique_ptr<T>> items() const { return items_; }
  int Add(std::unique_ptr<T> item) {
    if (!item) return -1;
    if (item->parent() != this) item->set_parent(this);
    items_.push_back(std::move(item));
    return GetCount() - 1;
  }

  int GetFolderCount() const { return static_cast<int>(folders_.size()); }
  F* GetFolderAt(int index) const {
    return index >= 0 && index < GetFolderCount() ? folders_[static_cast<size_t>(index)].get()
                                                  : nullptr;
  }
  std::span<const std::unique_ptr<F>> folders() const { return folders_; }
  int AddFolder(std::unique_ptr<F> folder) {
    if (!folder) return -1;
    if (folder->parent() != this) folder->set_parent(this);
    folders_.push_back(std::move(folder));
    return GetFolderCount() - 1;
  }

  // Deletes the items, then every sub-folder; returns whether there was an item or a folder.
  bool Clear() override {
    const bool had_any = !items_.empty() || !folders_.empty();
    items_.clear();
    items_.shrink_to_fit();
    folders_.clear();
    folders_.shrink_to_fit();
    return had_any;
  }

  void CopyFrom(const CNamedObject& other) override {
    if (const auto* folder = dynamic_cast<const CNamedFolder*>(&other)) {
      CopyItemsFrom(*folder);
    } else {
      CNamedObject::CopyFrom(other);
    }
  }

  // Clears this folder and copies the base fields of `other`; each item of `other` is
  // re-created with its own runtime class and copied into. For each sub-folder of `other` an
  // empty folder of the same runtime class is added (sub-folder contents are not copied).
  virtual void CopyItemsFrom(const CNamedFolder& other) {
    if (&other == this) return;
    Clear();
    CNamedObject::CopyFrom(other);
    for (const auto& source : other.items_) {
      auto copy = CreateSameAs<T>(*source);
      copy->CopyFrom(*source);
      copy->set_parent(this);
      items_.push_back(std::move(copy));
    }
    for (const auto& source : other.folders_) {
      auto folder = CreateSameAs<F>(*source);
      folder->set_parent(this);
      folders_.push_back(std::move(folder));
    }
  }

  // The first item whose id equals `id`: this folder's items in order, then each sub-folder in
  // order, depth first; nullptr when none matches.
  T* FindById(int32_t id) const {
    for (const auto& item : items_) {
      if (item->id() == id) return item.get();
    }
    for (const auto& folder : folders_) {
      if (T* found = folder->FindById(id)) return found;
    }
    return nullptr;
  }

 private:
  std::vector<std::unique_ptr<T>> items_;
  std::vector<std::unique_ptr<F>> folders_;
};

}  // namespace tessel
