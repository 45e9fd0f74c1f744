#include "benchwin/BenchJob.h"

#include <fmt/format.h>

#include <algorithm>

#include "common/VisibleText.h"
#include "station/JobCheck.h"

void BenchJob::Name(std::string job_path, std::string key_path) {
  job_path_ = std::move(job_path);
  key_path_ = std::move(key_path);
  taken_.reset();
  quota_.reset();
}

std::string BenchJob::Check(const FirmwareCard& card) {
  taken_.reset();
  std::string refusal;
  const std::optional<JobFiles> files = ReadJobFiles(job_path_, key_path_, refusal);
  if (!files) return refusal;
  // An unsound file is refused as such; the job cannot be its.
  if (!card.loaded) return "";
  const JobCheck check = CheckJob(*files, card.name, card.sha256, TodayUtc());
  if (!check.job) return check.refusal;
  if (check.job_sha256 != job_sha256_) quota_.reset();
  taken_ = check.job;
  job_sha256_ = check.job_sha256;
  return "";
}

std::string BenchJob::OpenCount() {
  if (!taken_) return "";
  if (!quota_) {
    quota_ = std::make_unique<JobQuota>(state_folder_, job_sha256_, taken_->quota);
    if (!quota_->Open()) {
      const std::string fault = quota_->Fault();
      quota_.reset();
      return fault;
    }
  }
  // Read afresh: another bench may have taken places meanwhile.
  if (!quota_->Open()) return quota_->Fault();
  return quota_->Left() == 0 ? QuotaUsedUpText(taken_->quota) : "";
}

int BenchJob::Left() const {
  if (quota_) return quota_->Left();
  std::string error;
  const int taken = TakenPlaces(QuotaPath(state_folder_, job_sha256_), error);
  return std::max(0, taken_->quota - std::max(0, taken));
}

std::string BenchJob::CardLine() const {
  if (!Named()) return "";
  if (!taken_) return "job refused";
  const std::string until =
      taken_->expires ? "until " + DayText(*taken_->expires) + " (UTC)" : "no expiry";
  return fmt::format("job {}: {} of {} left, {}", VisibleText(taken_->name), Left(), taken_->quota,
                     until);
}

LogJob BenchJob::ForLog() const {
  if (!taken_ || !quota_) return {};
  const JobQuota* quota = quota_.get();
  return {taken_->name, job_sha256_, [quota] { return quota->Left(); }};
}

std::string JobRefusedText(const std::string& why) { return "The job is refused.\n" + why; }
