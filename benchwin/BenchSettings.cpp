#include "benchwin/BenchSettings.h"

#include <algorithm>
#include <cctype>

#include "common/FileOps.h"
#include "common/NoCase.h"

namespace {

// A settings file is a few lines; anything past this is not one.
constexpr std::size_t kMaxSettingsBytes = 64 * 1024;
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

std::string_view Trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

// `text` when it is one of `offered`, else `fallback`.
template <typename Values>
int OneOf(std::string_view text, const Values& offered, int fallback) {
  for (const int value : offered) {
    if (text == std::to_string(value)) return value;
  }
  return fallback;
}

// A number from 0 to `high`, else `fallback`.
int WholeNumber(std::string_view text, int high, int fallback) {
  if (text.empty() || text.size() > 7 ||
      !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); })) {
    return fallback;
  }
  const int number = std::stoi(std::string(text));
  return number <= high ? number : fallback;
}

std::vector<std::string> SplitPorts(std::string_view text) {
  std::vector<std::string> ports;
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    const std::string_view port = Trimmed(text.substr(0, comma));
    if (!port.empty()) ports.emplace_back(port);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
  }
  return ports;
}

void Apply(BenchSettings& settings, const std::string& key, std::string_view value) {
  if (key == "firmware") {
    settings.firmware = value;
  } else if (key == "ports") {
    settings.ports = SplitPorts(value);
  } else if (key == "rate") {
    settings.rate = OneOf(value, kBenchRates, kDefaultBenchRate);
  } else if (key == "resends") {
    settings.resends = OneOf(value, kBenchResends, kDefaultBenchResends);
  } else if (key == "log") {
    settings.log = value;
  } else if (key == "stationname") {
    settings.station_name = value;
  } else if (key == "job") {
    settings.job = value;
  } else if (key == "jobkey") {
    settings.job_key = value;
  } else if (key == "setasideafter") {
    settings.set_aside_after = WholeNumber(value, kMaxSetAsideAfter, kDefaultSetAsideAfter);
  } else if (key == "locked") {
    settings.locked = value == "1";
  }
}

std::string ReadSmallFile(const std::string& path) {
  fileops::RegularFile file;
  std::string text;
  if (!file.Open(path)) return text;
  for (int c = file.Get(); c >= 0 && text.size() < kMaxSettingsBytes; c = file.Get()) {
    text.push_back(static_cast<char>(c));
  }
  return text;
}

}  // namespace

BenchSettings ParseBenchSettings(std::string_view text) {
  BenchSettings settings;
  if (text.starts_with(kUtf8Mark)) text.remove_prefix(kUtf8Mark.size());
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    Apply(settings, ToLower(Trimmed(line.substr(0, equals))), Trimmed(line.substr(equals + 1)));
  }
  return settings;
}

std::string FormatBenchSettings(const BenchSettings& settings) {
  std::string ports;
  for (const std::string& port : settings.ports) ports += (ports.empty() ? "" : ",") + port;
  std::string text = "[Bench]\r\n";
  text += "Firmware=" + settings.firmware + "\r\n";
  text += "Ports=" + ports + "\r\n";
  text += "Rate=" + std::to_string(settings.rate) + "\r\n";
  text += "Resends=" + std::to_string(settings.resends) + "\r\n";
  text += "Log=" + settings.log + "\r\n";
  text += "StationName=" + settings.station_name + "\r\n";
  // Written only when set, so a bench without a job keeps the file it had.
  if (!settings.job.empty()) text += "Job=" + settings.job + "\r\n";
  if (!settings.job_key.empty()) text += "JobKey=" + settings.job_key + "\r\n";
  if (settings.set_aside_after != kDefaultSetAsideAfter) {
    text += "SetAsideAfter=" + std::to_string(settings.set_aside_after) + "\r\n";
  }
  text += std::string("Locked=") + (settings.locked ? "1" : "0") + "\r\n";
  return text;
}

BenchSettings LoadBenchSettings(const std::string& directory) {
  return ParseBenchSettings(ReadSmallFile(fileops::JoinPath(directory, kBenchSettingsFileName)));
}

bool SaveBenchSettings(const std::string& directory, const BenchSettings& settings) {
  return fileops::ReplaceFileContents(directory, kBenchSettingsFileName,
                                      FormatBenchSettings(settings));
}

namespace {

// `ours` of a setting unless the file's has changed since it was read.
template <typename T>
void TakeUnlessChanged(T BenchSettings::*setting, const BenchSettings& read,
                       const BenchSettings& ours, BenchSettings& merged) {
  if (merged.*setting == read.*setting) merged.*setting = ours.*setting;
}

}  // namespace

std::optional<BenchSettings> SettingsToSave(const BenchSettings& read, const BenchSettings& ours,
                                            const BenchSettings& now) {
  if (now.locked) return std::nullopt;
  BenchSettings merged = now;
  TakeUnlessChanged(&BenchSettings::firmware, read, ours, merged);
  TakeUnlessChanged(&BenchSettings::ports, read, ours, merged);
  TakeUnlessChanged(&BenchSettings::rate, read, ours, merged);
  TakeUnlessChanged(&BenchSettings::resends, read, ours, merged);
  TakeUnlessChanged(&BenchSettings::log, read, ours, merged);
  TakeUnlessChanged(&BenchSettings::station_name, read, ours, merged);
  TakeUnlessChanged(&BenchSettings::job, read, ours, merged);
  TakeUnlessChanged(&BenchSettings::job_key, read, ours, merged);
  TakeUnlessChanged(&BenchSettings::set_aside_after, read, ours, merged);
  if (merged == now) return std::nullopt;
  return merged;
}

std::string BenchLogPath(const BenchSettings& settings, const std::string& directory) {
  return InFolder(directory, settings.log.empty() ? kDefaultBenchLogName : settings.log);
}

// "C:\x", "\\server\x", "\x" and "/x" name their place whatever the
// current folder.
std::string InFolder(const std::string& directory, const std::string& path) {
  const bool rooted = !path.empty() && (path.front() == '/' || path.front() == '\\');
  const bool drive = path.size() > 1 && path[1] == ':';
  if (path.empty() || rooted || drive) return path;
  return fileops::JoinPath(directory, path);
}

std::string SetupText(int rate, int resends) {
  return std::to_string(rate) + " bit/s\n" +
         (resends == 0 ? "no resends" : std::to_string(resends) + " resends");
}
