// tarvex-flash --station from its plan to its exit code.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "cli/FlashPlan.h"
#include "engine/Firmware.h"
#include "link/PortList.h"
#include "station/ExitCode.h"

class TraceLog;

// Runs a bench on `ports` (the plan's ports as they were found among
// `present`, in the same order; empty for an adapter not there yet) until
// Ctrl+C sets `interrupt` or the plan's count of pagers has finished; prints
// the summary.
ExitCode RunStationCommand(const FlashPlan& plan, const std::vector<std::string>& ports,
                           const std::vector<PortInfo>& present,
                           const std::shared_ptr<const CheckedFirmware>& firmware,
                           const std::atomic<bool>& interrupt, TraceLog* log);
