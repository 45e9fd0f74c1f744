#include "cli/FlashCommand.h"

#include <cstdio>
#include <exception>

#include "cli/Console.h"
#include "cli/FlashPlan.h"
#include "cli/HexSummary.h"
#include "cli/Platform.h"
#include "cli/PortListing.h"
#include "cli/PortRun.h"
#include "cli/ScratchCopies.h"
#include "cli/Sha256.h"
#include "cli/TraceLog.h"
#include "common/ReadOnlyFile.h"
#include "engine/Hexproc.h"

namespace {

constexpr std::size_t kReadChunk = 64 * 1024;

int Code(ExitCode code) { return static_cast<int>(code); }

void PrintErr(const std::string& text) { WriteText(stderr, text); }

// The whole file, read as the engine reads it: read-only, refused while
// another program holds it, and never more than a firmware file can be.
bool ReadFirmware(const std::string& name, std::string& content, std::string& error) {
  ReadOnlyFile file;
  if (!file.Open(name, error)) {
    error = "The file cannot be opened: " + error + ".";
    return false;
  }
  std::int64_t size = 0;
  if (!file.Size(size) || size > kMaxHexFileBytes) {
    error = size > kMaxHexFileBytes ? kHexFileTooLargeText : "The file size cannot be read.";
    return false;
  }
  char chunk[kReadChunk];
  for (std::size_t got; (got = file.Read(chunk, sizeof chunk)) > 0;) content.append(chunk, got);
  return true;
}

int CheckOnly(const FlashPlan& plan, const HexSummary& summary) {
  WriteText(stdout, FormatHexSummary(plan.hex_file, summary, plan.baud));
  return Code(summary.sound ? ExitCode::kFinished : ExitCode::kBadHexFile);
}

std::vector<PortJob> MakeJobs(const FlashPlan& plan, const HexSummary& summary,
                              const ScratchCopies& copies) {
  // For the summary and the log: which adapter each pager hangs on.
  const std::vector<PortInfo> present = ListSerialPorts();
  std::vector<PortJob> jobs;
  for (std::size_t i = 0; i < plan.ports.size(); ++i) {
    PortJob job;
    job.index = i;
    job.port = plan.ports[i];
    job.adapter_serial = AdapterSerialOf(plan.ports[i], present);
    job.file_name = plan.hex_file;
    job.hex_file = copies.Paths()[i];
    job.baud = plan.baud;
    job.resend = plan.resend;
    job.records_total = summary.records;
    jobs.push_back(std::move(job));
  }
  return jobs;
}

int Flash(const FlashPlan& plan, const std::string& content, const HexSummary& summary) {
  std::unique_ptr<TraceLog> log;
  if (!plan.log_file.empty()) {
    log = std::make_unique<TraceLog>(plan.log_file, plan.hex_file, Sha256Hex(content));
    if (!log->CanAppend()) {
      PrintErr("tarvex-flash: cannot append to the log " + plan.log_file + ".\n");
      return Code(ExitCode::kUsage);
    }
  }
  // Before the copies exist: from here on Ctrl+C only sets the flag, and the
  // copies are always removed on the way out.
  static std::atomic<bool> interrupt{false};
  InstallInterruptHandler(interrupt);
  ScratchCopies copies;
  std::string error;
  if (!copies.Create(content, plan.ports.size(), error)) {
    PrintErr("tarvex-flash: " + error + ".\n");
    return Code(ExitCode::kInternal);
  }
  Console console(ChooseProgressMode(plan, StreamsAreTerminals()), plan.verbosity, plan.ports);
  const std::vector<PortResult> results =
      RunGang(MakeJobs(plan, summary, copies), console, interrupt, log.get());
  std::vector<ExitCode> codes;
  for (const PortResult& result : results) codes.push_back(result.code);
  const ExitCode code = GangExitCode(codes, interrupt.load());
  console.Finish(results, code);
  return Code(code);
}

int Run(const FlashPlan& plan) {
  if (plan.list_ports) {
    WriteText(stdout, FormatPortList(ListSerialPorts(), plan.json));
    return Code(ExitCode::kFinished);
  }
  std::string content;
  std::string error;
  if (!ReadFirmware(plan.hex_file, content, error)) {
    PrintErr(plan.hex_file + ": " + msgOpenHexFail.Text + "\n" + error + "\n");
    return Code(ExitCode::kBadHexFile);
  }
  const HexSummary summary = SummarizeHex(content);
  if (plan.check_only) return CheckOnly(plan, summary);
  if (!summary.sound) {
    // Refused before any port is opened: nothing goes to any pager.
    PrintErr(plan.hex_file + ": " + msgOpenHexFail.Text + "\n" + summary.error + "\n");
    return Code(ExitCode::kBadHexFile);
  }
  return Flash(plan, content, summary);
}

}  // namespace

int RunFlashCommand(int argc, const char* const* argv) {
  try {
    const ParsedCommandLine parsed = ParseCommandLine(argc, argv);
    if (parsed.done) {
      WriteText(stdout, parsed.out);
      WriteText(stderr, parsed.err);
      return Code(parsed.code);
    }
    return Run(parsed.plan);
  } catch (const std::exception& error) {
    PrintErr(std::string("tarvex-flash: ") + error.what() + "\n");
    return Code(ExitCode::kInternal);
  }
}
