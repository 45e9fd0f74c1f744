// The file a job's count lives in, as the system keeps it: opened (created
// with its folder when missing), locked against every other process and
// handle while a change is made, read whole, and appended to with the line
// on the disk before the append returns (the file and, where the system
// allows, its folder flushed), so a power cut loses nothing an append said
// was done. One implementation file per platform, chosen by the build.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class QuotaJournal {
 public:
  QuotaJournal() = default;
  ~QuotaJournal();
  QuotaJournal(const QuotaJournal&) = delete;
  QuotaJournal& operator=(const QuotaJournal&) = delete;

  // Opens `path`; with `create`, a missing file (and its folder) is made,
  // and its name flushed into the folder. False with Error() set when it
  // cannot be opened, or is missing and not to be made.
  bool Open(const std::string& path, bool create);
  // Waits for the file's lock, which no other handle holds meanwhile.
  bool Lock();
  void Unlock();
  bool ReadAll(std::string& text);
  // Appends `text` and flushes it to the disk.
  bool AppendDurably(std::string_view text);
  // Why the last call failed, in the system's words.
  const std::string& Error() const { return error_; }

 private:
  void Close();
  bool Fail(const std::string& what);

  std::intptr_t handle_ = -1;
  std::intptr_t folder_ = -1;
  std::string path_;
  std::string error_;
};

// The folder the counts of jobs live in on this machine, when the
// environment names none (TARVEX_STATE_DIR): /var/lib/tarvex-flasher on
// Linux, %ProgramData%\Tarvex Flasher on Windows. One machine, one count,
// whoever is logged on.
std::string JobStateFolder();
