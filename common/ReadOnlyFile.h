// A file opened read-only, exclusively or shared with other readers: while
// it is open no other program may write it. The window's update holds the
// firmware file exclusively (on Windows no other program can open it at
// all); the command line reads it once, shared, so several flashers can
// read one file at the same time. One implementation file per platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// What Open says of a name that leads to a device (NUL, CON, COM5, a
// serial port or /dev/null) rather than to a file.
constexpr char kDeviceNotFileText[] = "a device, not a file";

enum class FileSharing {
  kExclusive,   // no other program may hold the file open
  kSharedRead,  // others may read it too, none may write it
};

class ReadOnlyFile {
 public:
  ReadOnlyFile() = default;
  ~ReadOnlyFile() { Close(); }
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  // Opens an existing regular file. On failure `error` says why, in words.
  bool Open(const std::string& name, FileSharing sharing, std::string& error);
  bool IsOpen() const { return handle_ != kNoHandle; }
  // Reads up to `count` bytes; returns how many came (0 at the end or on error).
  std::size_t Read(char* buffer, std::size_t count);
  // Size from the file's directory entry.
  bool Size(std::int64_t& size) const;
  void Close();

 private:
  static constexpr std::intptr_t kNoHandle = -1;
  std::intptr_t handle_ = kNoHandle;
};
