// The command line of TarvexBench.exe, for a factory shortcut:
//   TarvexBench.exe [/run] [/count N] [/log FILE] [/job FILE /jobkey FILE]
//                   [FILE.hex] [PORT ...]
// Options are Windows' own kind ("/run", any case); a PORT is a COM name
// (COM7, \\.\COM12) or an adapter's serial number (serial=FT12AB34). Pure:
// nothing is opened here.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct BenchCommandLine {
  // Start the bench at once.
  bool run = false;
  // Stop taking pagers once this many have finished; 0 for no limit.
  int count = 0;
  std::optional<std::string> log_path{};
  // A signed job and engineering's public key, given together.
  std::optional<std::string> job{};
  std::optional<std::string> job_key{};
  std::optional<std::string> firmware{};
  std::vector<std::string> ports{};
  // "/?": the usage is shown, nothing else happens.
  bool usage = false;
  friend bool operator==(const BenchCommandLine&, const BenchCommandLine&) = default;
};

struct ParsedBenchCommandLine {
  BenchCommandLine line;
  // What is wrong with it, in a sentence; empty when nothing is.
  std::string fault;
};

// `arguments` without the program's own name.
ParsedBenchCommandLine ParseBenchCommandLine(const std::vector<std::string>& arguments);

// "The port COM5 is given twice (also as serial=FT5KQ2R7A).": two names
// that name one port, from the command line or the settings.
std::string PortGivenTwiceText(const std::string& first, const std::string& second);

// The usage, for the box that names a fault and for "/?".
std::string BenchUsageText();

// A port as the bench takes it: a COM name, or serial= and a number.
bool IsBenchPortName(const std::string& text);
