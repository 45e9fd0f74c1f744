// The pager emulator as a child process on a pseudo-terminal, with its log
// and programmed image read back once it has stopped.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

using Image = std::map<std::uint32_t, std::uint8_t>;

// The whole content of a file; empty when it cannot be read.
std::string ReadAll(const std::string& path);

// Addresses and bytes that a HEX text's data records put into flash,
// honouring extended segment (02) and linear (04) address records.
Image ImageOfHex(const std::string& text);

class PagerProcess {
 public:
  explicit PagerProcess(std::string work_dir) : dir_(std::move(work_dir)) {}
  ~PagerProcess() { Stop(); }
  PagerProcess(const PagerProcess&) = delete;
  PagerProcess& operator=(const PagerProcess&) = delete;

  // Starts the emulator with `options` plus its output files; returns the
  // line the host opens, or "" when it could not start.
  std::string Start(const std::vector<std::string>& options);
  // Stops it (it writes its outputs on the way out); true when it exited cleanly.
  bool Stop();
  // Kills it outright, as a cable pulled out: its line goes at once, and it
  // writes nothing.
  void Kill();

  // Valid after Stop().
  std::vector<std::string> LogLines() const;
  // The commands it received, in order: the text of each RX event.
  std::vector<std::string> Commands() const;
  // Log lines of one kind ("ERR", "RATE", ...), text only.
  std::vector<std::string> Events(const std::string& kind) const;
  // What the `pager`-th pager on the line programmed (there is one unless
  // the options make a bench of several).
  Image ProgrammedImage(int pager = 1) const;

 private:
  std::string dir_;
  pid_t pid_ = -1;
  int stdin_fd_ = -1;
  int exit_status_ = -1;
};
