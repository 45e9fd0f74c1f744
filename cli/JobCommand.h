// tarvex-flash and jobs: writing one for engineering to sign (--make-job),
// and checking one before anything is flashed under it (--job, --job-key),
// in every mode.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli/FlashPlan.h"
#include "engine/Firmware.h"
#include "station/Job.h"
#include "station/JobQuota.h"
#include "station/LogRecord.h"
#include "station/PagerRunner.h"

class TraceLog;

// Writes the job for `firmware` (read from plan.hex_file) to plan.make_job
// and says how to sign it; the exit code.
ExitCode MakeJob(const FlashPlan& plan, const CheckedFirmware& firmware);

// A job checked and taken on for a run.
struct RunJob {
  Job job;
  std::string job_sha256;
  // Open while a run flashes under the job; none for --check.
  std::unique_ptr<JobQuota> quota;
};

// Checks the plan's job for the firmware whose SHA-256 is given; for a run
// that flashes (not --check) its count is opened too. Prints why and
// returns kJobRefused (or kUsage for -b or -r that disagree with the job)
// when the job may not be used.
ExitCode TakeJob(const FlashPlan& plan, const std::string& firmware_sha256, RunJob& taken);

// The plan with the job's rate and resends.
FlashPlan UnderJob(FlashPlan plan, const Job& job);

// The job as log lines and summaries name it, with what it has left.
LogJob AsLogJob(const RunJob& job);
// Lines of the log name the job and what it has left.
void NameJobInLog(const RunJob& job, TraceLog& log);

// A place for each port's pager before any port opens: a one-shot or a gang
// flashes all its ports or none. Prints why and returns kJobRefused when
// the job has too few left.
ExitCode ReserveForPorts(JobQuota& quota, std::size_t ports);

// Passes everything on to `listener`, giving back the place of each pager
// as it ends, before its log line is written.
class PlacesGivenBack final : public IPagerListener {
 public:
  PlacesGivenBack(IPagerListener& listener, IPagerPlaces& places)
      : listener_(listener), places_(places) {}
  void OnStart(const PagerJob& job) override { listener_.OnStart(job); }
  void OnProgress(std::size_t index, const PortProgress& progress) override {
    listener_.OnProgress(index, progress);
  }
  void OnMessage(std::size_t index, const std::string& text, UpdateOutcome outcome) override {
    listener_.OnMessage(index, text, outcome);
  }
  void OnEnd(std::size_t index, const PortResult& result) override {
    places_.Release(result.code == ExitCode::kFinished);
    listener_.OnEnd(index, result);
  }
  void OnNote(const std::string& text) override { listener_.OnNote(text); }

 private:
  IPagerListener& listener_;
  IPagerPlaces& places_;
};
