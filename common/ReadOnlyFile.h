// A file opened read-only and exclusively: while it is open no other program
// may write it (on Windows no other program can open it at all). The update
// holds the firmware file this way so it cannot change under a transfer.
// One implementation file per platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class ReadOnlyFile {
 public:
  ReadOnlyFile() = default;
  ~ReadOnlyFile() { Close(); }
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  // Opens an existing regular file. On failure `error` says why, in words.
  bool Open(const std::string& name, std::string& error);
  bool IsOpen() const { return handle_ != kNoHandle; }
  // Reads up to `count` bytes; returns how many came (0 at the end or on error).
  std::size_t Read(char* buffer, std::size_t count);
  bool Seek(std::int64_t offset);
  // Current position, or -1 when closed.
  std::int64_t Position() const;
  // Size from the file's directory entry.
  bool Size(std::int64_t& size) const;
  void Close();

 private:
  static constexpr std::intptr_t kNoHandle = -1;
  std::intptr_t handle_ = kNoHandle;
};
