// SHA-256 of the firmware file, for the traceability log. The system's own
// crypto computes it (libcrypto on Linux, BCrypt on Windows): one
// implementation file per platform, in the library tarvex_digest, which the
// command-line flasher and the bench window link.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

using Sha256Digest = std::array<std::uint8_t, 32>;

// Throws std::runtime_error when the system's crypto refuses: a log line
// must never carry a digest that is not the file's.
Sha256Digest Sha256Of(std::string_view data);

// The digest as 64 lower-case hex digits, as sha256sum prints it.
std::string Sha256Hex(std::string_view data);
