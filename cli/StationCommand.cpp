#include "cli/StationCommand.h"

#include "cli/Platform.h"
#include "cli/StationView.h"
#include "station/CountPlaces.h"
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

}  // namespace

ExitCode RunStationCommand(const FlashPlan& plan, const std::vector<PagerJob>& jobs,
                           const std::atomic<bool>& interrupt, TraceLog* log) {
  const std::vector<StationPortSetup> setups = MakeSetups(plan, jobs);
  const bool terminal = StreamsAreTerminals();
  const ProgressMode mode = StationMode(plan, terminal);
  const bool bell = mode == ProgressMode::kRedraw && plan.verbosity != Verbosity::kQuiet;
  StationView view(mode, bell, FirstRows(setups));
  StationTally tally;
  CountPlaces count(plan.count);
  std::vector<IPagerPlaces*> places;
  if (plan.count > 0) places.push_back(&count);
  const StationShared shared{tally, view,  interrupt, log, UtcNow(), SystemTickSource(),
                             false, places};
  std::vector<StationRow> rows;
  for (const PortEnd& end : RunStation(setups, shared)) rows.push_back(end.row);
  const ExitCode code = tally.Code(interrupt.load());
  view.Finish(rows, code);
  return code;
}
