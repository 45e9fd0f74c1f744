// The bench window's settings, kept in TARVEXBENCH.INI in the folder it is
// started from: one "Key=value" line each, in UTF-8.
//   Firmware=C:\Firmware\pager.hex
//   Ports=COM5,serial=FT12AB34
//   Rate=9600
//   Resends=3
//   Log=D:\Logs\line3.jsonl
//   StationName=LINE3-BENCH2
//   Job=D:\Jobs\line3.json
//   JobKey=D:\Jobs\eng-pub.pem
//   SetAsideAfter=3
//   Locked=1
// A supervisor writes Locked=1 to fix the firmware, the ports and the rest:
// line staff can then start and stop the bench, nothing else. Under a job
// (Job= and JobKey=) the firmware can only be the job's, and the rate and
// resends are the job's.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/Hexproc.h"
#include "station/SetAside.h"

constexpr char kBenchSettingsFileName[] = "TARVEXBENCH.INI";
// The log when the settings name none: beside the settings file.
constexpr char kDefaultBenchLogName[] = "TarvexBench.jsonl";
// The update program's choices and defaults.
inline constexpr auto& kBenchRates = kTransferRates;
constexpr int kBenchResends[] = {0, 3, 5};
constexpr int kDefaultBenchRate = 4800;
constexpr int kDefaultBenchResends = 3;

struct BenchSettings {
  std::string firmware;
  // As the user chose them: COM names, or serial= and an adapter's number.
  std::vector<std::string> ports;
  int rate = kDefaultBenchRate;
  int resends = kDefaultBenchResends;
  // Empty: kDefaultBenchLogName beside the settings file.
  std::string log;
  bool locked = false;
  // The bench's name in each log line; empty: the computer's name.
  std::string station_name;
  // A signed job and engineering's public key; empty: none.
  std::string job = "";
  std::string job_key = "";
  // Failures in a row that set a port aside; 0 never.
  int set_aside_after = kDefaultSetAsideAfter;
  friend bool operator==(const BenchSettings&, const BenchSettings&) = default;
};

// Unknown keys and lines are passed over; keys are read in any case; a rate
// or a resend count the window does not offer gives its default.
BenchSettings ParseBenchSettings(std::string_view text);
// CR LF line ends, for Notepad.
std::string FormatBenchSettings(const BenchSettings& settings);

// The settings file of `directory`; the defaults when there is none or it
// cannot be read.
BenchSettings LoadBenchSettings(const std::string& directory);
// Replaces the file in one step; false when it could not be written.
bool SaveBenchSettings(const std::string& directory, const BenchSettings& settings);

// What to write back at exit: the file as it is `now`, with each setting the
// window holds (`ours`) where nobody has changed the file's since the window
// read it (`read`). Nothing when the file has been locked meanwhile (a
// supervisor's Locked=1 stays), or when there is nothing to change.
std::optional<BenchSettings> SettingsToSave(const BenchSettings& read, const BenchSettings& ours,
                                            const BenchSettings& now);

// The log the settings name, or the default one in `directory`.
std::string BenchLogPath(const BenchSettings& settings, const std::string& directory);

// "9600 bit/s" and "3 resends" (or "no resends"), on two lines.
std::string SetupText(int rate, int resends);

// A path the settings file gives, as it names a file: relative ones are in
// the settings file's `directory`, whatever the current one is later.
std::string InFolder(const std::string& directory, const std::string& path);
