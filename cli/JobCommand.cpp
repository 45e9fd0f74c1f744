#include "cli/JobCommand.h"

#include <fmt/format.h>

#include "cli/Platform.h"
#include "common/FileOps.h"
#include "common/Sha256.h"
#include "common/VisibleText.h"
#include "station/JobCheck.h"
#include "station/TraceLog.h"

namespace {

// Where a path's folders end: on Windows either slash.
std::size_t LastSeparator(const std::string& path) {
  return path.find_last_of(std::string(1, fileops::kPathSeparator) + "/");
}

std::string FileNameOf(const std::string& path) {
  const std::size_t separator = LastSeparator(path);
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

// "line3-dec" for "jobs/line3-dec.json".
std::string StemOf(const std::string& path) {
  const std::string name = FileNameOf(path);
  const std::size_t dot = name.rfind('.');
  return dot == 0 || dot == std::string::npos ? name : name.substr(0, dot);
}

bool WriteNewFile(const std::string& path, const std::string& text) {
  const std::size_t separator = LastSeparator(path);
  const std::string folder = separator == std::string::npos
                                 ? fileops::CurrentDirectory().value_or(".")
                                 : path.substr(0, separator + 1);
  return fileops::ReplaceFileContents(folder, FileNameOf(path), text);
}

ExitCode Refuse(const std::string& why) {
  WriteText(stderr, "tarvex-flash: job refused: " + why + "\n");
  return ExitCode::kJobRefused;
}

ExitCode Usage(const std::string& error) {
  WriteText(stderr, UsageErrorText(error));
  return ExitCode::kUsage;
}

// -b and -r say what the job says, or nothing.
std::string DisagreesWithJob(const FlashPlan& plan, const Job& job) {
  if (plan.baud_given && plan.baud != job.rate) {
    return fmt::format("-b {} is not the job's rate, {}: leave -b out, the job sets it", plan.baud,
                       job.rate);
  }
  if (plan.resend_given && plan.resend != job.resends) {
    return fmt::format("-r {} is not the job's resends, {}: leave -r out, the job sets them",
                       plan.resend, job.resends);
  }
  return "";
}

std::string SummaryOf(const Job& job) {
  return fmt::format("{} pagers per machine, {}, {} bit/s, {} resends", job.quota,
                     job.expires ? "until " + DayText(*job.expires) + " (UTC)" : "no expiry",
                     job.rate, job.resends);
}

}  // namespace

ExitCode MakeJob(const FlashPlan& plan, const CheckedFirmware& firmware) {
  if (fileops::Exists(plan.make_job)) {
    return Usage(plan.make_job +
                 " is there already: a job is never written over, as its signature would no "
                 "longer fit; name another or remove it first");
  }
  Job job =
      JobFor(FileNameOf(plan.hex_file), Sha256Hex(firmware.FileBytes()), SummarizeHex(firmware));
  job.name = plan.job_name.empty() ? StemOf(plan.make_job) : plan.job_name;
  if (const std::string error = JobNameError(job.name); !error.empty()) {
    return Usage(error + ": give one with --job-name");
  }
  job.quota = plan.quota;
  job.expires = ParseDay(plan.expires);
  job.rate = plan.baud;
  job.resends = plan.resend;
  if (!WriteNewFile(plan.make_job, JobText(job))) {
    return Usage("cannot write the job " + plan.make_job);
  }
  const std::string path = VisibleText(plan.make_job);
  WriteText(stdout,
            fmt::format("Wrote the job {} for {} to {}: {}.\n"
                        "Engineering signs it with its private key, and hands over the job, its "
                        ".sig and the public key:\n"
                        "  openssl dgst -sha256 -sign eng-key.pem -out {}.sig {}\n",
                        VisibleText(job.name), VisibleText(job.firmware), path, SummaryOf(job),
                        path, path));
  return ExitCode::kFinished;
}

ExitCode TakeJob(const FlashPlan& plan, const std::string& firmware_sha256, RunJob& taken) {
  std::string refusal;
  const std::optional<JobFiles> files = ReadJobFiles(plan.job_file, plan.job_key, refusal);
  if (!files) return Refuse(refusal);
  const JobCheck check = CheckJob(*files, plan.hex_file, firmware_sha256, TodayUtc());
  if (!check.job) return Refuse(check.refusal);
  if (const std::string error = DisagreesWithJob(plan, *check.job); !error.empty()) {
    return Usage(error);
  }
  taken.job = *check.job;
  taken.job_sha256 = check.job_sha256;
  const std::string folder = JobStateFolder();
  if (plan.check_only) {
    std::string error;
    const int used = TakenPlaces(QuotaPath(folder, check.job_sha256), error);
    if (used < 0) return Refuse(error);
    return used >= taken.job.quota ? Refuse(QuotaUsedUpText(taken.job.quota)) : ExitCode::kFinished;
  }
  taken.quota = std::make_unique<JobQuota>(folder, check.job_sha256, taken.job.quota);
  if (!taken.quota->Open()) return Refuse(taken.quota->Fault());
  if (taken.quota->Left() == 0) return Refuse(QuotaUsedUpText(taken.job.quota));
  return ExitCode::kFinished;
}

FlashPlan UnderJob(FlashPlan plan, const Job& job) {
  plan.baud = job.rate;
  plan.resend = job.resends;
  return plan;
}

LogJob AsLogJob(const RunJob& job) {
  const JobQuota* quota = job.quota.get();
  return {job.job.name, job.job_sha256, [quota] { return quota->Left(); }};
}

void NameJobInLog(const RunJob& job, TraceLog& log) { log.SetJob(AsLogJob(job)); }

ExitCode ReserveForPorts(JobQuota& quota, std::size_t ports) {
  const int left = quota.Left();
  if (static_cast<std::size_t>(left) < ports) {
    return Refuse(left == 0 ? QuotaUsedUpText(quota.Quota()) : TooFewLeftText(left, ports));
  }
  for (std::size_t reserved = 0; reserved < ports; ++reserved) {
    if (quota.Reserve()) continue;
    // Another bench took places meanwhile, or the count cannot be kept.
    while (reserved-- > 0) quota.Release(false);
    const std::string fault = quota.Fault();
    return Refuse(fault.empty() ? TooFewLeftText(quota.Left(), ports) : fault);
  }
  return ExitCode::kFinished;
}
