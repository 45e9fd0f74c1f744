#include "station/RecordIdentity.h"

#include <fmt/format.h>

namespace {

// RFC 4122: the high nibble of byte 6 is the version, the two high bits of
// byte 8 the variant (10).
constexpr std::uint8_t kVersionMask = 0x0f;
constexpr std::uint8_t kVersion4 = 0x40;
constexpr std::uint8_t kVariantMask = 0x3f;
constexpr std::uint8_t kVariantRfc4122 = 0x80;
constexpr std::size_t kVersionByte = 6;
constexpr std::size_t kVariantByte = 8;

}  // namespace

std::string UuidV4Text(std::array<std::uint8_t, 16> bytes) {
  bytes[kVersionByte] = (bytes[kVersionByte] & kVersionMask) | kVersion4;
  bytes[kVariantByte] = (bytes[kVariantByte] & kVariantMask) | kVariantRfc4122;
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    // Groups of 4, 2, 2, 2 and 6 bytes.
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += fmt::format("{:02x}", bytes[i]);
  }
  return text;
}

RecordId NewRecordId() {
  std::array<std::uint8_t, 16> bytes{};
  const std::string error = record_identity_detail::SystemRandom(bytes);
  if (!error.empty()) return {"", error};
  return {UuidV4Text(bytes), ""};
}

std::string StationName(const std::string& given) {
  return given.empty() ? record_identity_detail::HostName() : given;
}
