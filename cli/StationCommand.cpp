#include "cli/StationCommand.h"

#include "cli/Platform.h"
#include "cli/StationView.h"
#include "station/Station.h"
#include "station/TraceLog.h"
#include "station/WallClock.h"

namespace {

std::vector<StationPortSetup> MakeSetups(const FlashPlan& plan,
                                         const std::vector<std::string>& ports,
                                         const std::vector<PortInfo>& present,
                                         const std::shared_ptr<const CheckedFirmware>& firmware) {
  std::vector<StationPortSetup> setups;
  for (std::size_t i = 0; i < ports.size(); ++i) {
    StationPortSetup setup;
    setup.index = i;
    setup.given = plan.ports[i];
    setup.port = ports[i];
    // An adapter named by its serial number is known by it even before it
    // is plugged in.
    setup.adapter_serial = ports[i].empty() ? plan.ports[i].substr(plan.ports[i].find('=') + 1)
                                            : AdapterSerialOf(ports[i], present);
    setup.file_name = plan.hex_file;
    setup.firmware = firmware;
    setup.baud = plan.baud;
    setup.resend = plan.resend;
    setup.list_ports = ListSerialPorts;
    setups.push_back(std::move(setup));
  }
  return setups;
}

std::vector<StationRow> FirstRows(const std::vector<StationPortSetup>& setups) {
  std::vector<StationRow> rows;
  for (const StationPortSetup& setup : setups) {
    StationRow row;
    row.port = setup.port.empty() ? setup.given : setup.port;
    row.adapter_serial = setup.adapter_serial;
    if (setup.port.empty()) row.state = PortState::kAdapterMissing;
    rows.push_back(row);
  }
  return rows;
}

// A station is watched: quiet only silences its bell.
ProgressMode StationMode(const FlashPlan& plan, bool terminal) {
  if (plan.json) return ProgressMode::kJson;
  return terminal ? ProgressMode::kRedraw : ProgressMode::kPlain;
}

}  // namespace

ExitCode RunStationCommand(const FlashPlan& plan, const std::vector<std::string>& ports,
                           const std::vector<PortInfo>& present,
                           const std::shared_ptr<const CheckedFirmware>& firmware,
                           const std::atomic<bool>& interrupt, TraceLog* log) {
  const std::vector<StationPortSetup> setups = MakeSetups(plan, ports, present, firmware);
  const bool terminal = StreamsAreTerminals();
  const ProgressMode mode = StationMode(plan, terminal);
  const bool bell = mode == ProgressMode::kRedraw && plan.verbosity != Verbosity::kQuiet;
  StationView view(mode, bell, FirstRows(setups));
  StationTally tally(plan.count);
  const StationShared shared{tally, view, interrupt, log, UtcNow()};
  const std::vector<StationRow> rows = RunStation(setups, shared);
  const ExitCode code = tally.Code(interrupt.load());
  view.Finish(rows, code);
  return code;
}
