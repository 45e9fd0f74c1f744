// What the pagersim program needs of the system around the emulator, one
// file per platform (PagerSystem_posix.cpp, PagerSystem_win32.cpp): its
// arguments, its stop requests, the --link to its line, and files written
// whole.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "PagerOptions.h"

namespace pagersim {

// The program's arguments as UTF-8, its own name first.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Why these options cannot be served here, before anything opens: a --link
// that still leads to a line in use (another pagersim's), or, on Windows,
// which has no pseudo-terminals, a missing --device. Empty when they can.
std::string RefusalOnThisSystem(const PagerOptions& options);

// Catches the system's stop requests (Ctrl+C, a termination, and on POSIX
// SIGUSR1, which asks for the outputs) for WaitForStop. False, with `err`,
// when that cannot be set up.
bool CatchStopRequests(std::string* err);

// Returns when a stop is asked, when stdin ends (with `stdin_stop`), or once
// `finished` says the emulator ended by itself; runs `write_outputs` for
// each request to write the outputs while serving on.
void WaitForStop(bool stdin_stop, const std::function<bool()>& finished,
                 const std::function<void()>& write_outputs);

// A symlink to the line (a Wine prefix's dosdevices/com1, say), removed
// with it. It replaces a link left behind by an emulator that is gone, never
// a real file; on removal only a link still leading to our line is deleted,
// so a newer emulator's link survives.
class LineLink {
 public:
  LineLink() = default;
  ~LineLink() { Remove(); }
  LineLink(const LineLink&) = delete;
  LineLink& operator=(const LineLink&) = delete;

  bool Create(const std::string& link, const std::string& target, std::string* err);
  void Remove();

 private:
  std::string link_;
  std::string target_;
};

// Writes via a temporary file that replaces `path` in one step, so a reader
// never sees a half-written file.
bool WriteFileAtomically(const std::string& path, std::string_view content, std::string* err);

}  // namespace pagersim
