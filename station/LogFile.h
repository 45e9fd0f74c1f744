// The traceability log's file, as the system writes it. One implementation
// file per platform, chosen by the build.
#pragma once

#include <atomic>
#include <string>
#include <string_view>

// How an append went: whole, or why not, in words that follow "cannot
// append to the log PATH: " ("No such file or directory", "it is a serial
// port or a terminal, not a file").
struct LogAppend {
  bool whole = false;
  std::string reason;
};

// Decides which comes first of an append and a caller that gives up
// waiting for it: once the append has begun to write, the line is its own
// (whole, or cut back off the file); once the caller has given up, nothing
// is written. So a line is either in the log or told as not written, never
// both.
class AppendTurn {
 public:
  // The append is about to write: false once the caller has given up.
  bool BeginWriting() { return Claim(kWriting); }
  // The caller gives up: false once the append has begun to write.
  bool GiveUp() { return Claim(kGivenUp); }
  bool GivenUp() const { return state_.load() == kGivenUp; }

 private:
  static constexpr int kOpen = 0;
  static constexpr int kWriting = 1;
  static constexpr int kGivenUp = 2;
  bool Claim(int state) {
    int open = kOpen;
    return state_.compare_exchange_strong(open, state) || state_.load() == state;
  }
  std::atomic<int> state_{kOpen};
};

// Appends `line` to the file `path` names (UTF-8 on Windows, bytes on
// POSIX), creating it when it is missing, while no other appender of ours
// writes to it. A write that goes short is cut back off the file, so no
// fragment is left for the next line to be glued to. Whole only when the
// whole line is in the file; an empty line only tries the file.
//
// A log is a regular file, or a new one: a folder, a device (a serial port
// among them), a FIFO or a socket is refused, each said as what it is, and
// one that is there already is not even opened (opening a serial port
// would disturb its line). Nothing waits on what the name leads to: the
// open does not block, and the wait for another appender's lock ends once
// `turn` is given up; the line is written only when `turn` lets it begin.
LogAppend AppendWhole(const std::string& path, std::string_view line, AppendTurn& turn);
