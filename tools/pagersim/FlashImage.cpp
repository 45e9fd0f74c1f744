#include "FlashImage.h"

#include <cstdio>

#include "IntelHex.h"

namespace pagersim {
namespace {

constexpr uint32_t kUpperHalfShift = 16;
constexpr uint64_t kLineAlignMask = ~uint64_t{kHexOutputRecordBytes - 1};
constexpr const char* kHexLineEnd = "\r\n";

std::string LinearAddressRecord(uint32_t upper) {
  HexRecord record;
  record.type = kRecordExtendedLinear;
  record.data = {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)};
  return EncodeRecord(record) + kHexLineEnd;
}

}  // namespace

size_t FlashImage::Program(uint32_t address, const std::vector<uint8_t>& bytes) {
  size_t reprogrammed = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const uint32_t at = address + static_cast<uint32_t>(i);
    auto [it, inserted] = bytes_.try_emplace(at, bytes[i]);
    if (!inserted) {
      it->second &= bytes[i];
      ++reprogrammed;
    }
  }
  return reprogrammed;
}

std::optional<uint8_t> FlashImage::At(uint32_t address) const {
  auto it = bytes_.find(address);
  if (it == bytes_.end()) return std::nullopt;
  return it->second;
}

std::vector<uint8_t> FlashImage::Flatten() const {
  if (bytes_.empty()) return {};
  const uint32_t base = LowestAddress();
  std::vector<uint8_t> out(size_t{HighestAddress()} - base + 1, kErasedByte);
  for (const auto& [address, value] : bytes_) out[address - base] = value;
  return out;
}

std::string FlashImage::ToIntelHex() const {
  std::string out;
  uint32_t current_upper = 0;
  auto it = bytes_.begin();
  while (it != bytes_.end()) {
    const uint32_t start = it->first;
    if ((start >> kUpperHalfShift) != current_upper) {
      current_upper = start >> kUpperHalfShift;
      out += LinearAddressRecord(current_upper);
    }
    // 64-bit so the line end of the last line below 4 GiB does not wrap to zero.
    const uint64_t line_end = (uint64_t{start} & kLineAlignMask) + kHexOutputRecordBytes;
    HexRecord record;
    record.offset = static_cast<uint16_t>(start);
    uint64_t next = start;
    while (it != bytes_.end() && it->first == next && next < line_end) {
      record.data.push_back(it->second);
      ++next;
      ++it;
    }
    out += EncodeRecord(record) + kHexLineEnd;
  }
  HexRecord eof;
  eof.type = kRecordEndOfFile;
  return out + EncodeRecord(eof) + kHexLineEnd;
}

}  // namespace pagersim
