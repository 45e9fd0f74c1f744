#include "station/JobQuota.h"

#include <algorithm>
#include <string_view>

#include "common/FileOps.h"
#include "common/VisibleText.h"
#include "station/WallClock.h"

namespace {

constexpr char kTake[] = "take";
constexpr char kGive[] = "give";

// Places taken in a count's text: a line begun with "t" took one, one begun
// with "g" gave one back. A line cut short by a crash counts by its first
// letter, so a take that was being written counts as taken: the safe side.
int CountTaken(std::string_view text) {
  int taken = 0;
  bool line_start = true;
  for (const char c : text) {
    if (line_start && c == kTake[0]) ++taken;
    if (line_start && c == kGive[0] && taken > 0) --taken;
    line_start = c == '\n';
  }
  return taken;
}

// The count's text under its lock; false when it cannot be read.
bool ReadLocked(QuotaJournal& journal, std::string& text) {
  if (!journal.Lock()) return false;
  const bool read = journal.ReadAll(text);
  journal.Unlock();
  return read;
}

}  // namespace

JobQuota::JobQuota(const std::string& folder, const std::string& job_sha256, int quota)
    : path_(QuotaPath(folder, job_sha256)), quota_(quota) {}

bool JobQuota::Open() {
  std::lock_guard lock(mutex_);
  std::string text;
  if (!journal_.Open(path_, true) || !ReadLocked(journal_, text)) {
    fault_ = CannotKeepCountText(path_, journal_.Error());
    return false;
  }
  taken_ = CountTaken(text);
  return true;
}

// Under the file's lock: the count read afresh (another bench may have
// changed it), then the line appended and on the disk.
bool JobQuota::Change(const char* word, bool only_below_quota) {
  if (!journal_.Lock()) {
    fault_ = CannotKeepCountText(path_, journal_.Error());
    return false;
  }
  std::string text;
  bool kept = journal_.ReadAll(text);
  if (kept) taken_ = CountTaken(text);
  const bool full = kept && only_below_quota && taken_ >= quota_;
  if (kept && !full) {
    // A line a crash cut short is ended first, so it cannot swallow this one.
    const std::string line_end = text.empty() || text.back() == '\n' ? "" : "\n";
    kept = journal_.AppendDurably(line_end + word + " " + UtcNow() + "\n");
    if (kept) taken_ += std::string_view(word) == kTake ? 1 : -1;
  }
  if (!kept) fault_ = CannotKeepCountText(path_, journal_.Error());
  journal_.Unlock();
  return kept && !full;
}

bool JobQuota::Reserve() {
  std::lock_guard lock(mutex_);
  if (!fault_.empty() || !Change(kTake, true)) return false;
  ++in_flight_;
  return true;
}

void JobQuota::Release(bool finished) {
  std::lock_guard lock(mutex_);
  in_flight_ = std::max(0, in_flight_ - 1);
  if (!finished && fault_.empty()) (void)Change(kGive, false);
}

bool JobQuota::UsedUp() const {
  std::lock_guard lock(mutex_);
  return !fault_.empty() || (taken_ >= quota_ && in_flight_ == 0);
}

int JobQuota::Left() const {
  std::lock_guard lock(mutex_);
  return std::max(0, quota_ - taken_);
}

std::string JobQuota::Fault() const {
  std::lock_guard lock(mutex_);
  return fault_;
}

std::string QuotaPath(const std::string& folder, const std::string& job_sha256) {
  return fileops::JoinPath(folder, job_sha256 + ".quota");
}

int TakenPlaces(const std::string& path, std::string& error) {
  if (!fileops::Exists(path)) return 0;
  QuotaJournal journal;
  std::string text;
  if (!journal.Open(path, false) || !ReadLocked(journal, text)) {
    error = CannotKeepCountText(path, journal.Error());
    return -1;
  }
  return CountTaken(text);
}

std::string CannotKeepCountText(const std::string& path, const std::string& why) {
  return "Cannot keep the job's count in " + VisibleText(path) + ": " + VisibleText(why) +
         ". The folder must be writable to everyone who flashes on this machine (the package "
         "makes it so); or name another with TARVEX_STATE_DIR.";
}
