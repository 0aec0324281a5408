// The CRC-32 of program-specific sections: polynomial 0x04C11DB7, initial value 0xFFFFFFFF, no
// reflection and no final XOR, so a whole section including its CRC field sums to zero.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace tessel {

namespace crc_detail {
constexpr std::array<uint32_t, 256> MakeTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t crc = i << 24;
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    table[i] = crc;
  }
  return table;
}
inline constexpr std::array<uint32_t, 256> kTable = MakeTable();
}  // namespace crc_detail

constexpr uint32_t Crc32Mpeg2(std::span<const uint8_t> data, uint32_t crc = 0xFFFFFFFFu) {
  for (uint8_t byte : data) crc = (crc << 8) ^ crc_detail::kTable[((crc >> 24) ^ byte) & 0xFF];
  return crc;
}

}  // namespace tessel
