#include "cli/StationCommand.h"

#include "cli/Platform.h"
#include "cli/StationView.h"
#include "station/CountPlaces.h"
#include "station/Job.h"
#include "station/JobQuota.h"
#include "station/Station.h"
#include "station/TraceLog.h"
#include "station/WallClock.h"

namespace {

std::vector<StationPortSetup> MakeSetups(const FlashPlan& plan, const std::vector<PagerJob>& jobs) {
  std::vector<StationPortSetup> setups;
  for (const PagerJob& job : jobs) {
    setups.push_back({job, plan.ports[job.index], ListSerialPorts, {}});
  }
  return setups;
}

std::vector<StationRow> FirstRows(const std::vector<StationPortSetup>& setups) {
  std::vector<StationRow> rows;
  for (const StationPortSetup& setup : setups) rows.push_back(FirstRow(setup));
  return rows;
}

// A station is watched: quiet only silences its bell.
ProgressMode StationMode(const FlashPlan& plan, bool terminal) {
  if (plan.json) return ProgressMode::kJson;
  return terminal ? ProgressMode::kRedraw : ProgressMode::kPlain;
}

// A bench under a job ends saying whether its quota was reached, or why
// its count could not be kept (the bench took no pager after that).
ExitCode JobEnding(const JobQuota& quota, StationView& view, ExitCode code) {
  const std::string fault = quota.Fault();
  if (!fault.empty()) {
    view.OnNote(fault);
    return code == ExitCode::kFinished ? ExitCode::kJobRefused : code;
  }
  if (quota.UsedUp()) view.OnNote(QuotaReachedText(quota.Quota()));
  return code;
}

}  // namespace

ExitCode RunStationCommand(const FlashPlan& plan, const std::vector<PagerJob>& jobs,
                           const std::atomic<bool>& interrupt, TraceLog* log, const RunJob* job) {
  const std::vector<StationPortSetup> setups = MakeSetups(plan, jobs);
  const bool terminal = StreamsAreTerminals();
  const ProgressMode mode = StationMode(plan, terminal);
  const bool bell = mode == ProgressMode::kRedraw && plan.verbosity != Verbosity::kQuiet;
  StationView view(mode, bell, FirstRows(setups));
  JobQuota* quota = job != nullptr ? job->quota.get() : nullptr;
  std::optional<LogJob> standing;
  if (quota != nullptr) {
    standing = AsLogJob(*job);
    view.ShowJob([name = job->job.name, quota] { return JobLeftText(name, quota->Left()); });
  }
  StationTally tally;
  CountPlaces count(plan.count);
  StationShared shared{tally, view, interrupt, log, UtcNow()};
  shared.set_aside_after = plan.set_aside_after;
  if (plan.count > 0) shared.places.push_back(&count);
  if (quota != nullptr) shared.places.push_back(quota);
  std::vector<StationRow> rows;
  for (const PortEnd& end : RunStation(setups, shared)) rows.push_back(end.row);
  ExitCode code = tally.Code(interrupt.load());
  if (quota != nullptr) code = JobEnding(*quota, view, code);
  view.Finish(rows, code, standing ? &*standing : nullptr);
  return code;
}
