// One update's reading position in a checked firmware image: every record
// the update sends comes from the image, so what goes to the pager is exactly
// what passed the check, whatever happens to the file on disk meanwhile. The
// position is what the progress figure follows. The image itself is shared
// and never written; each update has a HexImage of its own.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>

#include "engine/Firmware.h"

class HexImage {
 public:
  // Takes the image to read; the position goes back to the start.
  void Assign(std::shared_ptr<const CheckedFirmware> firmware) {
    firmware_ = std::move(firmware);
    position_ = 0;
  }
  void Clear() { Assign(nullptr); }
  bool Loaded() const { return firmware_ != nullptr; }

  std::string_view Bytes() const { return firmware_ ? firmware_->Bytes() : std::string_view(); }
  std::int64_t Size() const { return static_cast<std::int64_t>(Bytes().size()); }

  // Copies up to `count` bytes from the position on and moves past them;
  // returns how many there were (0 at or past the end).
  std::size_t Read(char* buffer, std::size_t count) {
    if (position_ >= Size()) return 0;
    const auto available = static_cast<std::size_t>(Size() - position_);
    const std::size_t taken = std::min(count, available);
    std::memcpy(buffer, Bytes().data() + position_, taken);
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
  std::shared_ptr<const CheckedFirmware> firmware_;
  std::int64_t position_ = 0;
};
