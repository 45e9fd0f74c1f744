// A job as engineering hands it to the factory: the one firmware it
// approves (by its SHA-256), how many pagers one machine may flash with it,
// the last day it may be used, and the rate and resends to use. A small JSON
// file, which engineering signs with openssl (ECDSA P-256) into JOB.json.sig
// beside it; JobCheck.h says how a bench checks it.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "station/FirmwareSummary.h"

// The first key of a job file, and the format's number in it.
constexpr char kJobFormatKey[] = "tarvex_job";
constexpr int kJobFormat = 1;
constexpr int kMaxJobQuota = 1000000;
constexpr std::size_t kMaxJobNameBytes = 64;

struct Job {
  std::string name;
  // The firmware file's name when the job was made: for people only, the
  // digest is what is checked.
  std::string firmware;
  std::string firmware_sha256;
  int records = 0;
  std::vector<AddressRange> ranges;
  int quota = 0;
  // The last day (UTC) the job may be used; none: it does not expire.
  std::optional<std::chrono::year_month_day> expires;
  int rate = 0;
  int resends = 0;
  friend bool operator==(const Job&, const Job&) = default;
};

// The job made for a firmware file, `summary` being its figures.
Job JobFor(const std::string& firmware_name, const std::string& firmware_sha256,
           const HexSummary& summary);

// The job file's text: one key a line, in a fixed order, so that people can
// read what they sign.
std::string JobText(const Job& job);
// A job read from its file's text; nothing, with `error` saying what is
// wrong, when it is not one.
std::optional<Job> ParseJob(std::string_view text, std::string& error);

// "2026-12-31": a day of the calendar, or nothing.
std::optional<std::chrono::year_month_day> ParseDay(std::string_view text);
std::string DayText(std::chrono::year_month_day day);

// What is wrong with a job's name ("" when nothing): empty, too long, or
// holding control characters.
std::string JobNameError(std::string_view name);

// "job NAME: K left": what rows and summaries show of a job.
std::string JobLeftText(const std::string& name, int left);
// "quota reached: N of N": a bench that stopped because the job's quota is
// used up.
std::string QuotaReachedText(int quota);
