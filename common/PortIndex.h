// COM port numbers and the signed 8-bit port index that ComPortIndex and
// TDComm::Port hold. The index is the number minus 1 kept to its low 8 bits,
// as the settings file is read, so 1 to 128 are the indices 0
// to 127 and 129 to 255 wrap to -128 to -2. Only -1 is left over: it stands
// for COM0, which names no port ("0" or an empty line in the settings file).
// A number outside 1 to 255 shares its index with one inside (256 with 0,
// "-2" with 254) and means what that index means.
#pragma once

#include <cstdint>

constexpr int kHighestComNumber = 255;

constexpr std::int8_t PortIndexOfNumber(int number) {
  return static_cast<std::int8_t>(static_cast<std::uint8_t>((number - 1) & 0xFF));
}

// 1 to 255 for every index but -1, which gives 0.
constexpr int PortNumberOfIndex(std::int8_t index) { return index >= -1 ? index + 1 : index + 257; }
