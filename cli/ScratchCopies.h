// Private copies of the firmware, one per port, in a directory of their own
// under the system's temporary directory: the engine holds its file
// exclusively, and every update then sends exactly the bytes that were
// checked and hashed. The directory goes when this object does.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

class ScratchCopies {
 public:
  ScratchCopies() = default;
  ~ScratchCopies() { Remove(); }
  ScratchCopies(const ScratchCopies&) = delete;
  ScratchCopies& operator=(const ScratchCopies&) = delete;

  // Writes `count` copies of `content`; on failure `error` says why.
  bool Create(const std::string& content, std::size_t count, std::string& error);
  const std::vector<std::string>& Paths() const { return paths_; }
  void Remove();

 private:
  std::filesystem::path dir_;
  std::vector<std::string> paths_;
};
