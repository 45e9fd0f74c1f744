// Whether a bench may flash under a job, decided before any port opens: the
// signature beside the job verifies with engineering's public key, the
// firmware chosen is the job's, and the job has not expired. (Whether its
// quota is used up on this machine is JobQuota's to say.) A refusal says
// why and what to do, in a sentence or two.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "station/Job.h"

// The signature lives beside the job: JOB.json.sig.
std::string SignaturePath(const std::string& job_path);

// The three files of a job as read: the job, its signature (none when there
// is no file), and the public key.
struct JobFiles {
  std::string job_path;
  std::string key_path;
  std::string job_text;
  std::optional<std::string> signature;
  std::string key_text;
};

// Reads the job, its .sig and the key; nothing, with `refusal` saying
// which file could not be read and why, when one cannot (a missing .sig is
// no error here: CheckJob refuses it).
std::optional<JobFiles> ReadJobFiles(const std::string& job_path, const std::string& key_path,
                                     std::string& refusal);

struct JobCheck {
  // Set when the job may be used.
  std::optional<Job> job;
  // The SHA-256 of the job file, which names its count and its log lines.
  std::string job_sha256;
  std::string refusal;
};

// Checks, in this order: the signature (nothing in a job is trusted before
// it), the job's content, the firmware's SHA-256, and the expiry against
// `today` (UTC).
JobCheck CheckJob(const JobFiles& files, const std::string& firmware_name,
                  const std::string& firmware_sha256, std::chrono::sys_days today);

// Today in UTC, from the system's clock.
std::chrono::sys_days TodayUtc();

// The refusal of a job whose quota is used up on this machine.
std::string QuotaUsedUpText(int quota);
// The refusal of a one-shot or gang given more ports than the job has
// pagers left.
std::string TooFewLeftText(int left, std::size_t ports);
