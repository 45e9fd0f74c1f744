#include "station/Job.h"

#include <fmt/format.h>

#include <algorithm>
#include <limits>
#include <nlohmann/json.hpp>

#include "common/VisibleText.h"
#include "engine/Hexproc.h"

namespace {

using nlohmann::ordered_json;
using std::chrono::year_month_day;

constexpr int kMaxResends = 99;
constexpr std::size_t kSha256Digits = 64;

std::string RangeText(const AddressRange& range) {
  return fmt::format("{:08X}-{:08X}", range.first, range.last);
}

bool IsHexDigits(std::string_view text, std::string_view digits) {
  return !text.empty() && text.find_first_not_of(digits) == std::string_view::npos;
}

std::optional<AddressRange> ParseRange(std::string_view text) {
  constexpr std::size_t kDigits = 8;
  if (text.size() != 2 * kDigits + 1 || text[kDigits] != '-') return std::nullopt;
  const std::string_view first = text.substr(0, kDigits);
  const std::string_view last = text.substr(kDigits + 1);
  if (!IsHexDigits(first, "0123456789ABCDEF") || !IsHexDigits(last, "0123456789ABCDEF")) {
    return std::nullopt;
  }
  AddressRange range{static_cast<std::uint32_t>(std::stoul(std::string(first), nullptr, 16)),
                     static_cast<std::uint32_t>(std::stoul(std::string(last), nullptr, 16))};
  if (range.last < range.first) return std::nullopt;
  return range;
}

// A whole number of `object` at `key` within [low, high].
int NumberAt(const ordered_json& object, const char* key, int low, int high) {
  const ordered_json& value = object.at(key);
  if (!value.is_number_integer() || value.get<long long>() < low || value.get<long long>() > high) {
    throw std::invalid_argument(
        fmt::format("\"{}\" is not a number from {} to {}", key, low, high));
  }
  return value.get<int>();
}

std::string TextAt(const ordered_json& object, const char* key) {
  const ordered_json& value = object.at(key);
  if (!value.is_string()) throw std::invalid_argument(fmt::format("\"{}\" is not a text", key));
  return value.get<std::string>();
}

std::vector<AddressRange> RangesAt(const ordered_json& object) {
  const ordered_json& value = object.at("ranges");
  if (!value.is_array()) throw std::invalid_argument("\"ranges\" is not a list");
  std::vector<AddressRange> ranges;
  for (const ordered_json& item : value) {
    const auto range = item.is_string() ? ParseRange(item.get<std::string>()) : std::nullopt;
    if (!range) throw std::invalid_argument("\"ranges\" holds a range that is not FIRST-LAST");
    ranges.push_back(*range);
  }
  return ranges;
}

std::optional<year_month_day> ExpiresAt(const ordered_json& object) {
  const ordered_json& value = object.at("expires");
  if (value.is_null()) return std::nullopt;
  const auto day = value.is_string() ? ParseDay(value.get<std::string>()) : std::nullopt;
  if (!day) throw std::invalid_argument("\"expires\" is not a day YYYY-MM-DD, nor null");
  return day;
}

Job JobOf(const ordered_json& object) {
  if (!object.is_object()) throw std::invalid_argument("it is no JSON object");
  if (!object.contains(kJobFormatKey) || object.at(kJobFormatKey) != kJobFormat) {
    throw std::invalid_argument(fmt::format("it is no job of format {}", kJobFormat));
  }
  Job job;
  job.name = TextAt(object, "job");
  if (const std::string error = JobNameError(job.name); !error.empty()) {
    throw std::invalid_argument("\"job\": " + error);
  }
  job.firmware = TextAt(object, "firmware");
  job.firmware_sha256 = TextAt(object, "firmware_sha256");
  if (job.firmware_sha256.size() != kSha256Digits ||
      !IsHexDigits(job.firmware_sha256, "0123456789abcdef")) {
    throw std::invalid_argument("\"firmware_sha256\" is not 64 hex digits");
  }
  job.records = NumberAt(object, "records", 0, std::numeric_limits<int>::max());
  job.ranges = RangesAt(object);
  job.quota = NumberAt(object, "quota", 1, kMaxJobQuota);
  job.expires = ExpiresAt(object);
  job.rate = NumberAt(object, "rate", 0, std::numeric_limits<int>::max());
  if (std::find(kTransferRates.begin(), kTransferRates.end(), job.rate) == kTransferRates.end()) {
    throw std::invalid_argument("\"rate\" is not 2400, 4800 or 9600");
  }
  job.resends = NumberAt(object, "resends", 0, kMaxResends);
  return job;
}

}  // namespace

Job JobFor(const std::string& firmware_name, const std::string& firmware_sha256,
           const HexSummary& summary) {
  Job job;
  job.firmware = firmware_name;
  job.firmware_sha256 = firmware_sha256;
  job.records = summary.records;
  job.ranges = summary.ranges;
  return job;
}

std::string JobText(const Job& job) {
  ordered_json ranges = ordered_json::array();
  for (const AddressRange& range : job.ranges) ranges.push_back(RangeText(range));
  const ordered_json object = {
      {kJobFormatKey, kJobFormat},
      {"job", job.name},
      {"firmware", job.firmware},
      {"firmware_sha256", job.firmware_sha256},
      {"records", job.records},
      {"ranges", ranges},
      {"quota", job.quota},
      {"expires", job.expires ? ordered_json(DayText(*job.expires)) : ordered_json(nullptr)},
      {"rate", job.rate},
      {"resends", job.resends}};
  return object.dump(2, ' ', false, ordered_json::error_handler_t::replace) + "\n";
}

std::optional<Job> ParseJob(std::string_view text, std::string& error) {
  try {
    return JobOf(ordered_json::parse(text));
  } catch (const ordered_json::out_of_range& missing) {
    // "key 'quota' not found"
    const std::string what = missing.what();
    const std::size_t key = what.find("key '");
    error = key == std::string::npos
                ? "a key is missing"
                : "it has no " + what.substr(key + 4, what.rfind('\'') - key - 3);
  } catch (const ordered_json::parse_error&) {
    error = "it is no JSON";
  } catch (const std::exception& wrong) {
    error = wrong.what();
  }
  return std::nullopt;
}

std::optional<year_month_day> ParseDay(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
  for (const std::size_t at : {0, 1, 2, 3, 5, 6, 8, 9}) {
    if (text[at] < '0' || text[at] > '9') return std::nullopt;
  }
  const std::string digits(text);
  const year_month_day day{
      std::chrono::year(std::stoi(digits.substr(0, 4))),
      std::chrono::month(static_cast<unsigned>(std::stoi(digits.substr(5, 2)))),
      std::chrono::day(static_cast<unsigned>(std::stoi(digits.substr(8, 2))))};
  if (!day.ok()) return std::nullopt;
  return day;
}

std::string DayText(year_month_day day) {
  return fmt::format("{:04d}-{:02d}-{:02d}", static_cast<int>(day.year()),
                     static_cast<unsigned>(day.month()), static_cast<unsigned>(day.day()));
}

std::string JobNameError(std::string_view name) {
  if (name.empty()) return "the job's name is empty";
  if (name.size() > kMaxJobNameBytes) {
    return fmt::format("the job's name is longer than {} bytes", kMaxJobNameBytes);
  }
  if (VisibleText(name) != name) return "the job's name holds control characters";
  return "";
}

std::string JobLeftText(const std::string& name, int left) {
  return fmt::format("job {}: {} left", VisibleText(name), left);
}

std::string QuotaReachedText(int quota) {
  return fmt::format("quota reached: {} of {}", quota, quota);
}
