// Builds Intel HEX text and scratch files for tests.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

// One record, colon to checksum, upper-case, no line end.
inline std::string HexRecordText(std::uint16_t address, std::uint8_t type,
                                 const std::vector<std::uint8_t>& data) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text = ":";
  unsigned sum = 0;
  auto put = [&](std::uint8_t byte) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 15]);
    sum += byte;
  };
  put(static_cast<std::uint8_t>(data.size()));
  put(static_cast<std::uint8_t>(address >> 8));
  put(static_cast<std::uint8_t>(address & 0xFF));
  put(type);
  for (std::uint8_t byte : data) put(byte);
  put(static_cast<std::uint8_t>(-sum & 0xFF));
  return text;
}

inline std::vector<std::uint8_t> Bytes(std::size_t count, std::uint8_t first = 0) {
  std::vector<std::uint8_t> data(count);
  for (std::size_t i = 0; i < count; ++i) data[i] = static_cast<std::uint8_t>(first + i);
  return data;
}

constexpr char kEndRecordLine[] = ":00000001FF";

// Joins records with CR LF after each.
inline std::string HexFileText(const std::vector<std::string>& records) {
  std::string text;
  for (const std::string& record : records) text += record + "\r\n";
  return text;
}

// A scratch directory removed with everything in it at the end of the test.
class TempDir {
 public:
  TempDir() {
    // Tests run in parallel processes: a random name keeps them apart.
    std::random_device random;
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = std::filesystem::temp_directory_path() /
            ("tarvex-test-" + std::to_string(random()) + "-" + std::to_string(stamp));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string Write(const std::string& name, const std::string& content) const {
    const auto file = path_ / name;
    std::ofstream out(file, std::ios::binary);
    out << content;
    return file.string();
  }
  std::string PathOf(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};
