#include "station/LogRecord.h"

#include <cmath>

#include "station/JsonText.h"

namespace {

using nlohmann::json;

constexpr double kMsPerSecond = 1000.0;
constexpr double kTenths = 10.0;
constexpr double kThousandths = 1000.0;

json OrNull(double value, double scale) {
  return value < 0 ? json(nullptr) : json(std::round(value * scale) / scale);
}

}  // namespace

void AddJobFields(json& record, const LogJob& job) {
  PutName(record, "job", job.name);
  record["job_sha256"] = job.sha256;
  record["quota_left"] = job.quota_left();
}

double RoundedSeconds(double seconds) { return std::round(seconds * kMsPerSecond) / kMsPerSecond; }

json ResultFields(const PortResult& result) {
  json fields = {{"adapter_serial", result.adapter_serial},
                 {"outcome", OutcomeName(result.code)},
                 {"exit_code", static_cast<int>(result.code)},
                 {"message", result.message},
                 {"seconds", RoundedSeconds(result.seconds)},
                 {"reply_ms", OrNull(result.reply_ms, kTenths)},
                 {"line_efficiency", OrNull(result.line_efficiency, kThousandths)},
                 {"turnaround_ms", OrNull(result.turnaround_ms, kTenths)},
                 {"may_be_in_loader", result.may_be_in_loader}};
  PutName(fields, "port", result.port);
  return fields;
}

json LogRecord(const PortResult& result, const LineStamp& stamp, const std::string& file,
               const std::string& sha256) {
  json record = ResultFields(result);
  record["time"] = stamp.utc_time;
  record["record_id"] = stamp.record_id;
  PutName(record, "station", stamp.station);
  PutName(record, "file", file);
  record["sha256"] = sha256;
  return record;
}

json StationLogRecord(const PortResult& result, const LineStamp& stamp, const std::string& file,
                      const std::string& sha256, int number, const std::string& station_start) {
  json record = LogRecord(result, stamp, file, sha256);
  record["number"] = number;
  record["station_start"] = station_start;
  return record;
}
