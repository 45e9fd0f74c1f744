// What makes each line of the log a record of its own wherever it is
// carried: a random id, and the name of the station that wrote it. A
// shipper may deliver a line twice; the collector keeps one row per id.
#pragma once

#include <array>
#include <cstdint>
#include <string>

// A record id, or why the system gave none.
struct RecordId {
  std::string text;
  std::string error;
};

// A random (version 4) UUID, its bytes from the system's random source.
RecordId NewRecordId();

// The 16 bytes as a version 4 UUID in its usual text form
// ("1b4e28ba-2fa1-41d2-883f-0016d3cca427"): the version and variant bits
// set, the other 122 bits as given, lower-case hex.
std::string UuidV4Text(std::array<std::uint8_t, 16> bytes);

// The station's name as its lines carry it: the one given, or the host's
// name when none is.
std::string StationName(const std::string& given);

// One implementation file per platform, chosen by the build.
namespace record_identity_detail {
// Fills `bytes` from the system's random source; empty, or why not.
std::string SystemRandom(std::array<std::uint8_t, 16>& bytes);
// The host's name as the network knows it; empty when the system tells none.
std::string HostName();
}  // namespace record_identity_detail
