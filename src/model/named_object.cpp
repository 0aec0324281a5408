#include "model/named_object.h"

#include <algorithm>

namespace tessel {
namespace {

unsigned char FoldCase(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte - 'A' + 'a') : byte;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) { return FoldCase(x) == FoldCase(y); });
}

}  // namespace

std::unique_ptr<CNamedObject> CNamedObject::CreateSame() const {
  return std::make_unique<CNamedObject>();
}

void CNamedObject::CopyFrom(const CNamedObject& other) {
  if (&other == this) return;
  parent_ = other.parent_;
  name_ = other.name_;
  id_ = other.id_;
  user_word1_ = other.user_word1_;
  user_word2_ = other.user_word2_;
}

bool CNamedObject::SetName(std::string_view name) {
  if (EqualsNoCase(name_, name)) return false;
  name_.assign(name);
  return true;
}

}  // namespace tessel
