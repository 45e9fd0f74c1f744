// The serial line the emulated loader serves on, behind one small interface:
// a new pseudo-terminal or an existing serial device on POSIX
// (PagerLine_posix.cpp), a COM port on Windows (PagerLine_win32.cpp). The
// build picks the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace pagersim {

class PagerLine {
 public:
  enum class Ready { kBytes, kWoken, kTimeout, kFailed };

  virtual ~PagerLine() = default;

  // What the host opens: the pty's slave, or the device given.
  virtual std::string Path() const = 0;
  // A pseudo-terminal: the host sets its rate, and the loader reads it there.
  virtual bool Emulated() const = 0;
  virtual bool IsOpen() const = 0;

  // Waits up to `timeout_ms` (-1: no limit) for bytes to read, or for
  // Wake(); kFailed, with LastError(), when the waiting itself failed.
  virtual Ready Wait(int timeout_ms) = 0;
  // Ends the Wait() running now and every one after it. Any thread.
  virtual void Wake() = 0;
  // Reads what has arrived: the count, 0 when nothing has, -1 when the line
  // failed or the peer closed it (LastError() says which).
  virtual int Read(std::uint8_t* buffer, std::size_t size) = 0;
  // Writes all of `bytes`; false, with LastError(), when it could not.
  virtual bool Write(const std::uint8_t* bytes, std::size_t count) = 0;
  virtual std::string LastError() const = 0;

  // The loader listens at `bps` from now on: a real port is set to it once
  // what was written has left; a pty's rate is the host's to set.
  virtual void SetRate(int bps) = 0;
  // The rate the host set, where the line shows it (a pty); 0 elsewhere.
  virtual int HostRate() const = 0;
  // Returns once what was written has left a real port.
  virtual void FlushOutput() = 0;
  // Bytes written that the host has not read yet, where the line shows it
  // (a pty); -1 elsewhere.
  virtual int UnreadByHost() const = 0;
  // The emulator stops holding the line open itself: from then on a failed
  // Read() means the host has let go of it too. False where the line cannot
  // tell (a real port, which nobody but the emulator holds).
  virtual bool LetGo() = 0;
  virtual void Close() = 0;
};

// The line: `device_path` when given, else a new pseudo-terminal; raw 8N1
// at `rate_bps`, no modem control. Nothing, with `err` set, when it cannot
// be opened.
std::unique_ptr<PagerLine> OpenPagerLine(const std::string& device_path, int rate_bps,
                                         std::string* err);

}  // namespace pagersim
