// tarvex-flash --station from its plan to its exit code.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/FlashPlan.h"
#include "cli/JobCommand.h"
#include "station/ExitCode.h"
#include "station/PagerRunner.h"

class TraceLog;
class JobQuota;
struct Job;

// Runs a bench, one port for each of `jobs` (the plan's ports in its order,
// each with the update its pagers get; a port's name is empty for an adapter
// not there yet), until Ctrl+C sets `interrupt`, the plan's count of pagers
// has finished or the `job`'s `quota` is used up; prints the summary.
ExitCode RunStationCommand(const FlashPlan& plan, const std::vector<PagerJob>& jobs,
                           const std::atomic<bool>& interrupt, TraceLog* log,
                           const RunJob* job = nullptr);
