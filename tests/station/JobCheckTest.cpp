// A job checked before any port opens: its signature with engineering's
// key, its firmware and its expiry, as table rows over one job signed with
// openssl (tests/support/SignedJob.h). The same rows run on Linux (libcrypto) and under Wine (CNG
// and crypt32).
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "common/Sha256.h"
#include "station/Job.h"
#include "station/JobCheck.h"
#include "tests/support/SignedJob.h"

namespace {

using std::chrono::sys_days;
using namespace std::chrono_literals;

using namespace signed_job;

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  text.replace(text.find(from), from.size(), to);
  return text;
}

struct JobCase {
  const char* name;
  std::string job = kJob;
  bool signed_ = true;
  std::string key = kEngineeringKey;
  std::string firmware = kFirmware;
  sys_days today = sys_days(2026y / 12 / 1);
  // How the refusal begins; empty when the job is taken.
  std::string refusal = "";
};

void PrintTo(const JobCase& c, std::ostream* out) { *out << c.name; }

class JobChecks : public ::testing::TestWithParam<JobCase> {};

TEST_P(JobChecks, TakeOnlyAnUnchangedJobSignedByEngineeringForItsFirmwareInTime) {
  const JobCase& c = GetParam();
  JobFiles files;
  files.job_path = "job.json";
  files.key_path = "eng-pub.pem";
  files.job_text = c.job;
  if (c.signed_) files.signature = BytesOfHex(kJobSignatureHex);
  files.key_text = c.key;
  const JobCheck check = CheckJob(files, "fw.hex", Sha256Hex(c.firmware), c.today);
  if (c.refusal.empty()) {
    ASSERT_TRUE(check.job.has_value()) << check.refusal;
    EXPECT_EQ(check.job->name, "line3");
    EXPECT_EQ(check.job->quota, 3);
    EXPECT_EQ(check.job->rate, 9600);
    EXPECT_EQ(check.job_sha256, Sha256Hex(kJob));
  } else {
    EXPECT_FALSE(check.job.has_value());
    EXPECT_TRUE(check.refusal.starts_with(c.refusal)) << check.refusal;
  }
}

JobCase Row(const char* name) {
  JobCase row;
  row.name = name;
  return row;
}

JobCase Row(const char* name, std::string refusal) {
  JobCase row = Row(name);
  row.refusal = std::move(refusal);
  return row;
}

INSTANTIATE_TEST_SUITE_P(
    Jobs, JobChecks,
    ::testing::Values(
        Row("Good"),
        [] {
          JobCase row = Row("TamperedQuota", "The signature job.json.sig does not verify");
          row.job = Replaced(kJob, "\"quota\": 3", "\"quota\": 30");
          return row;
        }(),
        [] {
          JobCase row = Row("TamperedFirmwareByte", "fw.hex is not the job's firmware");
          row.firmware = Replaced(kFirmware, "0F78", "1F78");
          return row;
        }(),
        [] {
          JobCase row = Row("WrongKey", "The signature job.json.sig does not verify");
          row.key = kOtherKey;
          return row;
        }(),
        [] {
          JobCase row = Row("NoKeyAtAll", "eng-pub.pem is not an ECDSA P-256 public key");
          row.key = "eng-pub.pem\n";
          return row;
        }(),
        [] {
          JobCase row = Row("MissingSignature", "The job is not signed: job.json.sig is missing");
          row.signed_ = false;
          return row;
        }(),
        [] {
          JobCase row = Row("OnItsLastDay");
          row.today = sys_days(2026y / 12 / 31);
          return row;
        }(),
        [] {
          JobCase row =
              Row("ExpiredThreeDaysAgo", "The job line3 expired at the end of 2026-12-31");
          row.today = sys_days(2027y / 1 / 3);
          return row;
        }()),
    [](const auto& info) { return std::string(info.param.name); });

// What --make-job writes reads back as the same job.
TEST(JobFile, ReadsBackAsWritten) {
  Job job;
  job.name = "line3";
  job.firmware = "fw.hex";
  job.firmware_sha256 = Sha256Hex(kFirmware);
  job.records = 164;
  job.ranges = {{0x10000, 0x10A27}, {0x20000, 0x2000F}};
  job.quota = 500;
  job.expires = 2026y / 12 / 31;
  job.rate = 2400;
  job.resends = 5;
  std::string error;
  EXPECT_EQ(ParseJob(JobText(job), error), job) << error;
  job.expires.reset();
  EXPECT_EQ(ParseJob(JobText(job), error), job) << error;
  EXPECT_EQ(JobText(job).find("\"expires\": null"), JobText(job).find("\"expires\""));
}

TEST(JobFile, AJobWithAKeyMissingOrOutOfRangeIsNone) {
  std::string error;
  EXPECT_FALSE(ParseJob(Replaced(kJob, "\"quota\": 3,\n", ""), error));
  EXPECT_EQ(error, "it has no 'quota'");
  EXPECT_FALSE(ParseJob(Replaced(kJob, "\"rate\": 9600", "\"rate\": 1200"), error));
  EXPECT_EQ(error, "\"rate\" is not 2400, 4800 or 9600");
  EXPECT_FALSE(ParseJob(Replaced(kJob, "\"quota\": 3", "\"quota\": 0"), error));
  EXPECT_FALSE(ParseJob(Replaced(kJob, "2026-12-31", "2026-02-30"), error));
  EXPECT_FALSE(ParseJob(Replaced(kJob, "\"tarvex_job\": 1", "\"tarvex_job\": 2"), error));
}

}  // namespace
