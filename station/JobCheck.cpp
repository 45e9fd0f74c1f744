#include "station/JobCheck.h"

#include <fmt/format.h>

#include "common/FileOps.h"
#include "common/ReadOnlyFile.h"
#include "common/Sha256.h"
#include "common/Signature.h"
#include "common/VisibleText.h"

namespace {

// A job, its signature and a key are a few hundred bytes; anything past
// this is not one of them.
constexpr std::size_t kMaxJobFileBytes = 64 * 1024;
// Enough of a digest to tell two apart when reading a refusal.
constexpr std::size_t kShortShaDigits = 16;

constexpr char kAskEngineering[] = "Ask engineering for the job and its .sig again.";

// The whole of a small file, or nothing with `error` saying why.
std::optional<std::string> ReadSmall(const std::string& path, std::string& error) {
  ReadOnlyFile file;
  if (!file.Open(path, FileSharing::kSharedRead, error)) return std::nullopt;
  std::string text;
  char buffer[4096];
  for (std::size_t got = file.Read(buffer, sizeof buffer); got > 0;
       got = file.Read(buffer, sizeof buffer)) {
    text.append(buffer, got);
    if (text.size() > kMaxJobFileBytes) {
      error = "it is larger than a job, a signature or a key can be";
      return std::nullopt;
    }
  }
  return text;
}

std::string CannotRead(const char* what, const std::string& path, const std::string& error) {
  return fmt::format("Cannot read the {} {}: {}", what, VisibleText(path), VisibleText(error));
}

std::string Short(const std::string& sha256) {
  return sha256.substr(0, kShortShaDigits) + "\u2026";
}

// Nothing of the job is read before this says yes.
std::string SignatureRefusal(const JobFiles& files) {
  const std::string sig = VisibleText(SignaturePath(files.job_path));
  if (!files.signature) {
    return fmt::format(
        "The job is not signed: {} is missing. Engineering signs the job with openssl "
        "(openssl dgst -sha256 -sign eng-key.pem -out JOB.json.sig JOB.json); put the .sig "
        "beside the job.",
        sig);
  }
  switch (VerifySignature(files.job_text, *files.signature, files.key_text)) {
    case SignatureVerdict::kValid:
      return "";
    case SignatureVerdict::kBadKey:
      return fmt::format(
          "{} is not an ECDSA P-256 public key in PEM form, as \"openssl ec -pubout\" writes "
          "it. Ask engineering for its public key.",
          VisibleText(files.key_path));
    case SignatureVerdict::kInvalid:
      break;
  }
  return fmt::format(
      "The signature {} does not verify with the key {}: the job was changed after it was "
      "signed, or signed with another key. {}",
      sig, VisibleText(files.key_path), kAskEngineering);
}

}  // namespace

std::string SignaturePath(const std::string& job_path) { return job_path + ".sig"; }

std::optional<JobFiles> ReadJobFiles(const std::string& job_path, const std::string& key_path,
                                     std::string& refusal) {
  JobFiles files;
  files.job_path = job_path;
  files.key_path = key_path;
  std::string error;
  const auto job = ReadSmall(job_path, error);
  if (!job) {
    refusal = CannotRead("job", job_path, error);
    return std::nullopt;
  }
  files.job_text = *job;
  const auto key = ReadSmall(key_path, error);
  if (!key) {
    refusal = CannotRead("key", key_path, error);
    return std::nullopt;
  }
  files.key_text = *key;
  const std::string sig_path = SignaturePath(job_path);
  if (fileops::Exists(sig_path)) {
    files.signature = ReadSmall(sig_path, error);
    if (!files.signature) {
      refusal = CannotRead("signature", sig_path, error);
      return std::nullopt;
    }
  }
  return files;
}

JobCheck CheckJob(const JobFiles& files, const std::string& firmware_name,
                  const std::string& firmware_sha256, std::chrono::sys_days today) {
  JobCheck check;
  check.refusal = SignatureRefusal(files);
  if (!check.refusal.empty()) return check;
  std::string error;
  std::optional<Job> job = ParseJob(files.job_text, error);
  if (!job) {
    check.refusal = fmt::format(
        "The job {} is signed but is no job: {}. Ask engineering for one made with "
        "tarvex-flash --make-job.",
        VisibleText(files.job_path), error);
    return check;
  }
  if (job->firmware_sha256 != firmware_sha256) {
    check.refusal = fmt::format(
        "{} is not the job's firmware: its SHA-256 is {}, the job's {}. Flash the job's own "
        "file ({}).",
        VisibleText(firmware_name), Short(firmware_sha256), Short(job->firmware_sha256),
        VisibleText(job->firmware));
    return check;
  }
  if (job->expires && today > std::chrono::sys_days(*job->expires)) {
    check.refusal =
        fmt::format("The job {} expired at the end of {} (UTC). Ask engineering for a new job.",
                    VisibleText(job->name), DayText(*job->expires));
    return check;
  }
  check.job = std::move(job);
  check.job_sha256 = Sha256Hex(files.job_text);
  return check;
}

std::chrono::sys_days TodayUtc() {
  return std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now());
}

std::string QuotaUsedUpText(int quota) {
  return fmt::format(
      "The job's quota is used up: {} of {} pagers have been flashed with it on this machine. "
      "Ask engineering for a new job.",
      quota, quota);
}

std::string TooFewLeftText(int left, std::size_t ports) {
  return fmt::format(
      "The job allows {} more pagers on this machine, fewer than the {} ports given: give at "
      "most {} ports.",
      left, ports, left);
}
