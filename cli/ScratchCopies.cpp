#include "cli/ScratchCopies.h"

#include <fstream>
#include <random>

namespace {

constexpr int kNameAttempts = 16;

// The path as the program keeps names, in UTF-8: on Windows the temporary
// directory lies under the user's name, which the ANSI code page may lack.
std::string Utf8Name(const std::filesystem::path& path) {
  const std::u8string name = path.u8string();
  return std::string(name.begin(), name.end());
}

}  // namespace

bool ScratchCopies::Create(const std::string& content, std::size_t count, std::string& error) {
  std::error_code code;
  const std::filesystem::path base = std::filesystem::temp_directory_path(code);
  if (code) {
    error = "no temporary directory: " + code.message();
    return false;
  }
  std::random_device random;
  // create_directory is false when the name exists: never reuse another's.
  for (int attempt = 0; attempt < kNameAttempts && dir_.empty(); ++attempt) {
    const auto candidate = base / ("tarvex-flash-" + std::to_string(random()));
    if (std::filesystem::create_directory(candidate, code)) dir_ = candidate;
  }
  if (dir_.empty()) {
    error = "cannot make a directory in " + Utf8Name(base);
    return false;
  }
  for (std::size_t i = 0; i < count; ++i) {
    const auto path = dir_ / ("port" + std::to_string(i + 1) + ".hex");
    std::ofstream out(path, std::ios::binary);
    out << content;
    out.close();
    paths_.push_back(Utf8Name(path));
    if (!out) {
      error = "cannot write " + Utf8Name(path);
      return false;
    }
  }
  return true;
}

void ScratchCopies::Remove() {
  if (dir_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
  dir_.clear();
  paths_.clear();
}
