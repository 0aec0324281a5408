// Byte vectors written the way the wire formats are read: one int per byte.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

namespace tessel::test {

inline std::vector<uint8_t> Bytes(std::initializer_list<int> list) {
  std::vector<uint8_t> out;
  for (int b : list) out.push_back(static_cast<uint8_t>(b));
  return out;
}

inline std::vector<uint8_t> Text(std::string_view text) {
  return {text.begin(), text.end()};
}

}  // namespace tessel::test
