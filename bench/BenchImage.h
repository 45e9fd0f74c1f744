// The firmware image the benchmarks flash: full 16-byte data records of
// reproducible bytes from address 0 up, CR LF after every line, the end
// record last. 4096 records fill the first 64 KiB; beyond that a 04 (extended
// linear address) record opens each further 64 KiB.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

constexpr std::uint32_t kImageRecordBytes = 16;
constexpr std::uint32_t kRecordsPer64KiB = 0x10000 / kImageRecordBytes;

// The data byte the image holds at `address`.
std::uint8_t ImageByte(std::uint32_t address);

// Calls `each` with every record of the file, colon to checksum, in file
// order; the end record comes last.
void ForEachImageRecord(std::uint32_t data_records,
                        const std::function<void(const std::string&)>& each);

// Writes the image as a HEX file, one record at a time. False, with the
// reason in `error`, when the file cannot be written.
bool WriteImageFile(const std::string& path, std::uint32_t data_records, std::string& error);

// Size of that file in bytes.
std::uint64_t ImageFileBytes(std::uint32_t data_records);

// Records the host sends and programs: the data records and the 04 records
// between them; the end record is never sent.
std::uint32_t ImageSentRecords(std::uint32_t data_records);

// True when the binary image an emulator wrote holds exactly the image's
// bytes from address 0 up. Compared byte by byte from the file, so the
// benchmark's own memory stays small whatever the file's size: the flasher
// is forked from it, and a child's peak memory counts what it inherited
// before it ran the flasher.
bool BinaryHoldsImage(const std::string& bin_path, std::uint32_t data_records);
