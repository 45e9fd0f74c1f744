// A job's quota as the places of a run (PagerPlaces.h), counted once for the
// whole machine in a file that outlives every run: one line for each place
// taken ("take") and each given back ("give"), named by the job file's
// SHA-256 in the machine's state folder (QuotaJournal.h). A place is taken
// on the disk before Reserve says yes, so however the program ends (a stop,
// kill -9, a power cut) a pager that may have been flashed stays counted;
// only a failure given back frees it. Every port of every bench on the
// machine takes its places under the file's lock, so together they never
// pass the quota. Deleting the log does not touch the count.
#pragma once

#include <mutex>
#include <string>

#include "station/PagerPlaces.h"
#include "station/QuotaJournal.h"

class JobQuota final : public IPagerPlaces {
 public:
  // The count of the job whose file's SHA-256 is `job_sha256`, in `folder`.
  JobQuota(const std::string& folder, const std::string& job_sha256, int quota);

  // Opens the count, creating it when the job has none yet, and reads it.
  // False, with Fault() saying why, when it cannot be kept.
  bool Open();

  bool Reserve() override;
  void Release(bool finished) override;
  bool UsedUp() const override;

  int Quota() const { return quota_; }
  // Pagers the job still allows on this machine: its quota less the places
  // taken, as last read.
  int Left() const;
  // Why the count could not be kept ("" while it can): the bench then takes
  // no more pagers.
  std::string Fault() const;
  const std::string& Path() const { return path_; }

 private:
  bool Change(const char* word, bool only_below_quota);

  const std::string path_;
  const int quota_;
  mutable std::mutex mutex_;
  QuotaJournal journal_;
  int taken_ = 0;
  // Places this run holds for pagers not yet ended.
  int in_flight_ = 0;
  std::string fault_;
};

// The count's file of a job in `folder`.
std::string QuotaPath(const std::string& folder, const std::string& job_sha256);

// Places the job's count holds, read without making anything: 0 when there
// is no count yet; -1, with `error` saying why, when it cannot be read.
int TakenPlaces(const std::string& path, std::string& error);

// "cannot keep the job's count in PATH: WHY." and what to do.
std::string CannotKeepCountText(const std::string& path, const std::string& why);
