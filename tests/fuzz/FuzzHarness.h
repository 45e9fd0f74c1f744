// The bodies of the two fuzz targets, as plain functions over bytes. The
// libFuzzer programs call them for every input and abort on a fault; the
// replay test calls them for every file of the seed corpora and of the
// findings kept as regressions, in every build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The bytes as a firmware file: the whole-file check in any chunking, the
// file opened and read record by record as the update does, and a complete
// update against a pager that answers at once. Returns "" when every
// invariant held, else what broke.
std::string CheckHexInput(const std::uint8_t* data, std::size_t size);

// The bytes as the settings file: loaded without being changed, then saved
// and loaded back to the same choices. Returns "" when every invariant held,
// else what broke.
std::string CheckSettingsInput(const std::uint8_t* data, std::size_t size);

// A directory of this process's own for scratch files, made on first use and
// removed with its contents when the process ends normally.
const std::string& FuzzScratchDirectory();
