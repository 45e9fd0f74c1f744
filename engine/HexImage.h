// The firmware file's bytes, read once and checked: every record the update
// sends comes from here, so what goes to the pager is exactly what passed the
// check, whatever happens to the file on disk meanwhile. The read position is
// what the progress figure follows.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

class HexImage {
 public:
  // Takes the file's bytes; the position goes back to the start.
  void Assign(std::string bytes) {
    bytes_ = std::move(bytes);
    position_ = 0;
  }
  void Clear() { Assign(std::string()); }

  std::string_view Bytes() const { return bytes_; }
  std::int64_t Size() const { return static_cast<std::int64_t>(bytes_.size()); }

  // Copies up to `count` bytes from the position on and moves past them;
  // returns how many there were (0 at or past the end).
  std::size_t Read(char* buffer, std::size_t count) {
    if (position_ >= Size()) return 0;
    const auto available = static_cast<std::size_t>(Size() - position_);
    const std::size_t taken = std::min(count, available);
    std::memcpy(buffer, bytes_.data() + position_, taken);
    position_ += static_cast<std::int64_t>(taken);
    return taken;
  }

  // Like a file position it may stand past the end; reads there give nothing.
  bool Seek(std::int64_t offset) {
    if (offset < 0) return false;
    position_ = offset;
    return true;
  }
  std::int64_t Position() const { return position_; }

 private:
  std::string bytes_;
  std::int64_t position_ = 0;
};
