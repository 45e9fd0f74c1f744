#include "bench/BenchImage.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "tests/support/HexText.h"

std::uint8_t ImageByte(std::uint32_t address) {
  // A multiplicative hash: every byte value occurs and neighbours differ.
  return static_cast<std::uint8_t>((address * 2654435761u) >> 24);
}

void ForEachImageRecord(std::uint32_t data_records,
                        const std::function<void(const std::string&)>& each) {
  std::vector<std::uint8_t> data(kImageRecordBytes);
  for (std::uint32_t record = 0; record < data_records; ++record) {
    const std::uint32_t address = record * kImageRecordBytes;
    if (record != 0 && record % kRecordsPer64KiB == 0) {
      const auto upper = static_cast<std::uint16_t>(address >> 16);
      each(HexRecordText(
          0, 0x04,
          {static_cast<std::uint8_t>(upper >> 8), static_cast<std::uint8_t>(upper & 0xFF)}));
    }
    for (std::uint32_t i = 0; i < kImageRecordBytes; ++i) data[i] = ImageByte(address + i);
    each(HexRecordText(static_cast<std::uint16_t>(address & 0xFFFF), 0x00, data));
  }
  each(kEndRecordLine);
}

bool WriteImageFile(const std::string& path, std::uint32_t data_records, std::string& error) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  bool ok = true;
  ForEachImageRecord(data_records, [&](const std::string& record) {
    ok = ok && std::fputs(record.c_str(), file) >= 0 && std::fputs("\r\n", file) >= 0;
  });
  ok = std::fclose(file) == 0 && ok;
  if (!ok) error = path + ": write failed";
  return ok;
}

std::uint64_t ImageFileBytes(std::uint32_t data_records) {
  std::uint64_t bytes = 0;
  ForEachImageRecord(data_records, [&](const std::string& record) { bytes += record.size() + 2; });
  return bytes;
}

std::uint32_t ImageSentRecords(std::uint32_t data_records) {
  if (data_records == 0) return 0;
  return data_records + (data_records - 1) / kRecordsPer64KiB;
}

bool BinaryHoldsImage(const std::string& bin_path, std::uint32_t data_records) {
  std::FILE* file = std::fopen(bin_path.c_str(), "rb");
  if (file == nullptr) return false;
  std::uint32_t address = 0;
  bool same = true;
  for (int byte; same && (byte = std::fgetc(file)) != EOF; ++address) {
    same = static_cast<std::uint8_t>(byte) == ImageByte(address);
  }
  std::fclose(file);
  return same && address == data_records * kImageRecordBytes;
}
