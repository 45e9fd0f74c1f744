// The pager's flash contents as programmed through the loader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pagersim {

inline constexpr uint8_t kErasedByte = 0xFF;
inline constexpr size_t kHexOutputRecordBytes = 16;

// Sparse image: only programmed addresses are stored; everything else reads as erased.
class FlashImage {
 public:
  // Programs like NOR flash: a bit once cleared stays cleared until the next erase, so the
  // stored value is old & new. Returns how many of the bytes had been programmed before
  // (a host that programs the same record twice is usually buggy).
  size_t Program(uint32_t address, const std::vector<uint8_t>& bytes);
  void Erase() { bytes_.clear(); }

  bool empty() const { return bytes_.empty(); }
  size_t size() const { return bytes_.size(); }
  // Only meaningful when !empty().
  uint32_t LowestAddress() const { return bytes_.begin()->first; }
  uint32_t HighestAddress() const { return bytes_.rbegin()->first; }
  std::optional<uint8_t> At(uint32_t address) const;
  const std::map<uint32_t, uint8_t>& bytes() const { return bytes_; }

  // Lowest to highest programmed address, gaps filled with kErasedByte; empty if nothing
  // was programmed.
  std::vector<uint8_t> Flatten() const;
  // Intel HEX text: data records of at most 16 bytes that never cross a 16-byte boundary,
  // a 04 record whenever the upper address half changes, an EOF record, CR LF endings.
  std::string ToIntelHex() const;

  bool operator==(const FlashImage&) const = default;

 private:
  std::map<uint32_t, uint8_t> bytes_;
};

}  // namespace pagersim
