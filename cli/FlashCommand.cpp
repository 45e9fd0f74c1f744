#include "cli/FlashCommand.h"

#include <cstdio>
#include <exception>
#include <optional>

#include "cli/Console.h"
#include "cli/FlashPlan.h"
#include "cli/HexSummary.h"
#include "cli/JobCommand.h"
#include "cli/Platform.h"
#include "cli/PortListing.h"
#include "cli/StationCommand.h"
#include "cli/TuneReport.h"
#include "common/ReadOnlyFile.h"
#include "common/Sha256.h"
#include "common/TextWidth.h"
#include "common/VisibleText.h"
#include "engine/Hexproc.h"
#include "station/NextStep.h"
#include "station/PagerRunner.h"
#include "station/TraceLog.h"

namespace {

int Code(ExitCode code) { return static_cast<int>(code); }

// Lines for people: on a terminal word-wrapped to its width, each line's
// continuations indented; elsewhere as they are.
void Print(std::FILE* stream, const std::string& text) {
  WriteText(stream, WrapText(text, TerminalColumns(stream)));
}

void PrintErr(const std::string& text) { Print(stderr, text); }

// The file is read once, shared with other readers and kept from writers
// while it is read, and checked as the engine checks it; every port's update
// sends that one image.
FirmwareLoad ReadFirmware(const std::string& name) {
  ReadOnlyFile file;
  return LoadFirmwareFile(file, name, FileSharing::kSharedRead);
}

int RefuseFile(const std::string& name, const FirmwareLoad& load) {
  const FileRefusal refusal = RefusalOf(load);
  PrintErr(VisibleText(name) + ": " + refusal.headline + "\n" + VisibleLines(refusal.reason) +
           "\n" + refusal.next_step + "\n");
  return Code(ExitCode::kBadHexFile);
}

int CheckOnly(const FlashPlan& plan, const HexSummary& summary) {
  if (plan.json) {
    WriteText(stdout, JsonHexSummary(plan.hex_file, summary, plan.baud));
  } else {
    Print(stdout, FormatHexSummary(plan.hex_file, summary, plan.baud));
  }
  return Code(summary.sound ? ExitCode::kFinished : ExitCode::kBadHexFile);
}

// The ports to open, in the plan's order: names as given, serial= forms as
// the adapters are found among the ports present (which also say, for the
// summary and the log, which adapter each pager hangs on).
struct FoundPorts {
  std::vector<PortInfo> present;
  std::vector<std::string> names;
  std::string error;
};

// A bench waits for an adapter that is not there yet (its name stays
// empty); only several adapters with one serial number are an error there.
FoundPorts FindPorts(const FlashPlan& plan) {
  FoundPorts found;
  found.present = ListSerialPorts();
  for (const std::string& given : plan.ports) {
    const PortMatch match = ResolvePort(given, found.present);
    if (!match.error.empty() && (!plan.station || match.ambiguous)) {
      found.error = match.error;
      break;
    }
    found.names.push_back(match.name);
  }
  return found;
}

std::vector<PagerJob> MakeJobs(const FlashPlan& plan, const FoundPorts& ports,
                               const std::shared_ptr<const CheckedFirmware>& firmware) {
  std::vector<PagerJob> jobs;
  for (std::size_t i = 0; i < ports.names.size(); ++i) {
    PagerJob job;
    job.index = i;
    job.port = ports.names[i];
    // An adapter named by its serial number is known by it even before it
    // is plugged in.
    job.adapter_serial = AdapterSerialFor(plan.ports[i], job.port, ports.present);
    job.file_name = plan.hex_file;
    job.firmware = firmware;
    job.baud = plan.baud;
    job.resend = plan.resend;
    jobs.push_back(std::move(job));
  }
  return jobs;
}

int Flash(const FlashPlan& plan, const FoundPorts& ports,
          const std::shared_ptr<const CheckedFirmware>& firmware, const RunJob* job) {
  // Set by Ctrl+C once the handler is in; the log waits no longer after it.
  static std::atomic<bool> interrupt{false};
  std::unique_ptr<TraceLog> log;
  if (!plan.log_file.empty()) {
    log = std::make_unique<TraceLog>(plan.log_file, plan.hex_file, Sha256Hex(firmware->FileBytes()),
                                     &interrupt, plan.station_name);
    if (!log->CanAppend()) {
      PrintErr("tarvex-flash: " + log->CannotAppendText() + "\n");
      return Code(ExitCode::kUsage);
    }
    if (job != nullptr) NameJobInLog(*job, *log);
  }
  JobQuota* quota = job != nullptr ? job->quota.get() : nullptr;
  // A one-shot or a gang takes its places before any port opens.
  if (quota != nullptr && !plan.station) {
    if (const ExitCode code = ReserveForPorts(*quota, ports.names.size());
        code != ExitCode::kFinished) {
      return Code(code);
    }
  }
  // From here on Ctrl+C only sets the flag; each update stops at its next
  // step and takes its pager out of flash mode.
  InstallInterruptHandler(interrupt);
  const std::vector<PagerJob> jobs = MakeJobs(plan, ports, firmware);
  if (plan.station) {
    const ExitCode code = RunStationCommand(plan, jobs, interrupt, log.get(), job);
    UpdatesEnded();
    return Code(code);
  }
  Console console(ChooseProgressMode(plan, StreamsAreTerminals()), plan.verbosity, ports.names);
  std::vector<PortResult> results;
  if (quota != nullptr) {
    PlacesGivenBack listener(console, *quota);
    results = RunGang(jobs, listener, interrupt, log.get());
  } else {
    results = RunGang(jobs, console, interrupt, log.get());
  }
  std::vector<ExitCode> codes;
  for (const PortResult& result : results)
    codes.push_back(PagerExitCode(result.code, result.logged));
  const ExitCode code = GangExitCode(codes, interrupt.load());
  const std::optional<LogJob> standing =
      job != nullptr ? std::optional(AsLogJob(*job)) : std::nullopt;
  console.Finish(results, code, standing ? &*standing : nullptr);
  if (job != nullptr && !plan.json)
    WriteText(stdout, JobLeftText(job->job.name, quota->Left()) + "\n");
  UpdatesEnded();
  return Code(code);
}

int Run(FlashPlan plan) {
  if (plan.list_ports) {
    const std::string list = FormatPortList(ListSerialPorts(), plan.json);
    plan.json ? WriteText(stdout, list) : Print(stdout, list);
    return Code(ExitCode::kFinished);
  }
  if (plan.tune_adapters) return TuneAdapters(plan.ports);
  FoundPorts ports;
  if (!plan.check_only) {
    ports = FindPorts(plan);
    // One pager, one update: a port given under two names would have two
    // updates at its one pager.
    const std::string error =
        ports.error.empty() ? SamePortTwice(plan.ports, ports.present) : ports.error;
    if (!error.empty()) {
      PrintErr(UsageErrorText(error));
      return Code(ExitCode::kUsage);
    }
  }
  const FirmwareLoad load = ReadFirmware(plan.hex_file);
  // A file that cannot be read is an error; one read whole is what --check
  // reports on, sound or not.
  if (!load.read) return RefuseFile(plan.hex_file, load);
  if (!plan.make_job.empty()) {
    if (!load.firmware) return RefuseFile(plan.hex_file, load);
    return Code(MakeJob(plan, *load.firmware));
  }
  // A job names its firmware by the digest of a sound file.
  RunJob job;
  if (!plan.job_file.empty()) {
    if (!load.firmware) return RefuseFile(plan.hex_file, load);
    const ExitCode code = TakeJob(plan, Sha256Hex(load.firmware->FileBytes()), job);
    if (code != ExitCode::kFinished) return Code(code);
    plan = UnderJob(plan, job.job);
  }
  if (plan.check_only) {
    return CheckOnly(plan, load.firmware ? SummarizeHex(*load.firmware) : UnsoundHex(load.reason));
  }
  // Refused before any port is opened: nothing goes to any pager.
  if (!load.firmware) return RefuseFile(plan.hex_file, load);
  return Flash(plan, ports, load.firmware, plan.job_file.empty() ? nullptr : &job);
}

}  // namespace

int RunFlashCommand(int argc, const char* const* argv) {
  try {
    const std::size_t columns = TerminalColumns(stdout);
    const ParsedCommandLine parsed =
        ParseCommandLine(argc, argv, columns > 0 ? columns : kHelpColumns);
    if (parsed.done) {
      WriteText(stdout, parsed.out);
      PrintErr(parsed.err);
      return Code(parsed.code);
    }
    return Run(parsed.plan);
  } catch (const std::exception& error) {
    PrintErr(std::string("tarvex-flash: ") + error.what() + "\n");
    return Code(ExitCode::kInternal);
  }
}
