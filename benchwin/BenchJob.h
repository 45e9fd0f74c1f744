// The job the bench window flashes under, when one is named (/job and
// /jobkey, or Job= and JobKey= in TARVEXBENCH.INI): checked against the
// firmware chosen as soon as it is read, and again at each Start, when it
// may have expired or another bench may have used up its quota. Under a
// job the firmware can only be the job's, and the rate and resends are the
// job's. Pure but for the files it reads and the count it keeps.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "benchwin/FirmwareCard.h"
#include "station/Job.h"
#include "station/JobQuota.h"
#include "station/TraceLog.h"

class BenchJob {
 public:
  // Counts are kept in `state_folder` (JobStateFolder() in the program).
  explicit BenchJob(std::string state_folder) : state_folder_(std::move(state_folder)) {}

  // The job and the key, as paths; none when `job_path` is empty.
  void Name(std::string job_path, std::string key_path);
  bool Named() const { return !job_path_.empty(); }
  // Checked and not refused since.
  const Job* Taken() const { return taken_ ? &*taken_ : nullptr; }

  // Checks the job for the firmware `card` shows: "" when it may be
  // flashed, else why not, in a sentence or two.
  std::string Check(const FirmwareCard& card);
  // Opens the job's count for a run: "" when a pager may be taken, else
  // why not (its quota used up, its count not to be kept).
  std::string OpenCount();
  // The count of the run; null before OpenCount.
  JobQuota* Count() { return quota_.get(); }
  const JobQuota* Count() const { return quota_.get(); }

  // What the firmware card says of the job: "job line3: 2 of 3 left, until
  // 2026-12-31 (UTC)", or "job refused".
  std::string CardLine() const;
  // What the log's lines say of it.
  LogJob ForLog() const;

 private:
  int Left() const;

  const std::string state_folder_;
  std::string job_path_;
  std::string key_path_;
  std::optional<Job> taken_;
  std::string job_sha256_;
  std::unique_ptr<JobQuota> quota_;
};

// The box's text for a refused job.
std::string JobRefusedText(const std::string& why);
