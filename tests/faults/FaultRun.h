// One update over a real pseudo-terminal against the pager emulator started
// with a set of faults, and everything a fault test looks at afterwards: the
// boxes, the commands as the host wrote them and as the pager received them,
// the pager's image and log, and whether the port, the HEX file and every
// descriptor were given back. Runs in real time.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "engine/Hexproc.h"
#include "link/Dcommthread.h"
#include "tests/e2e/PagerProcess.h"
#include "tests/faults/LineRecorder.h"
#include "tests/support/HexText.h"
#include "tests/support/RecordingGui.h"

// A box as the user sees it: text and icon.
struct Box {
  std::string text;
  std::uint32_t style = 0;
  friend bool operator==(const Box&, const Box&) = default;
};

inline std::ostream& operator<<(std::ostream& out, const Box& box) {
  return out << "{\"" << box.text << "\", " << box.style << "}";
}

// The update's messages, written out here rather than taken from the engine's
// table, so a changed text or icon shows.
const Box kFinished{"Firmware updated finished.", 64};
const Box kEnterFlashFail{"Fail to enter flash mode.", 16};
const Box kBaudFail{"Unable to change transfering baud-rate.", 16};
const Box kEraseFail{"Fail to erase Flash ROM.", 16};
const Box kSendFail{"Fail to send code-package.", 16};
const Box kProgramRetry{"Error on programming code, now try resend and reprogram.", 48};
const Box kRewindExceeded{"Max. rewind counter exceed but still unable to program code-package.",
                          16};
const Box kUnexpectedReply{"Received an unideftified command, flash now terminated.", 16};
const Box kNoResponse{"No response from the pager, flash now terminated.", 16};
const Box kResendExceeded{
    "Pager can not receive package correctly after retry, flash now terminated.", 16};

// Open descriptors of this process.
inline int OpenDescriptorCount() {
  int count = 0;
  if (DIR* fds = ::opendir("/proc/self/fd")) {
    while (const dirent* entry = ::readdir(fds)) count += entry->d_name[0] != '.' ? 1 : 0;
    ::closedir(fds);
  }
  return count - 1;  // the one opendir holds
}

// True when nobody holds the file: our own exclusive lock on it succeeds only
// once the update has let go of its handle.
inline bool NobodyHolds(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);
  return free;
}

struct RunResult {
  std::vector<Box> boxes;
  std::vector<std::string> host_commands;   // as the host wrote them
  std::vector<std::string> pager_commands;  // as the pager received them
  std::vector<std::string> pager_errors;
  std::vector<std::string> pager_rates;
  Image image;
  Image file_image;
  double seconds = 0;
  bool pager_started = false;
  bool pager_exited_cleanly = false;
  bool port_closed = false;
  bool hex_file_closed = false;
  bool descriptors_given_back = false;

  bool Showed(const Box& box) const {
    for (const Box& shown : boxes) {
      if (shown == box) return true;
    }
    return false;
  }
};

struct RunPlan {
  std::vector<std::string> pager_options;
  std::vector<std::string> records;
  std::int32_t resend_times = 3;
  // When set, the pager is stopped, and the line with it, at the first event
  // pump after the host has written this many commands and then read the
  // line once in vain: the host is then waiting for the reply to that
  // command, which the pager has had.
  std::size_t hang_up_after_commands = 0;
  // How long the host stays away from the line after each reply it reads.
  std::chrono::milliseconds host_pause_after_reply{0};
};

inline RunResult RunAgainstPager(const RunPlan& plan) {
  RunResult result;
  TempDir dir;
  const std::string hex_text = HexFileText(plan.records);
  const std::string hex_path = dir.Write("fw.hex", hex_text);
  result.file_image = ImageOfHex(hex_text);

  const int descriptors_before = OpenDescriptorCount();
  {
    RecordingGui gui;
    LineRecorder recorder;
    PagerProcess pager(dir.path().string());
    TDComm comm(gui);
    comm.DeviceFactory = recorder.Factory();
    recorder.pause_after_read = plan.host_pause_after_reply;
    comm.DevicePath = pager.Start(plan.pager_options);
    result.pager_started = !comm.DevicePath.empty();
    if (!result.pager_started) return result;

    const FixedUpdateSettings settings(4800, plan.resend_times);

    bool hung_up = false;
    gui.on_pump = [&] {
      if (plan.hang_up_after_commands != 0 && !hung_up &&
          recorder.commands.size() == plan.hang_up_after_commands &&
          recorder.empty_reads_since_write > 0) {
        hung_up = true;
        pager.Stop();
      }
    };

    const auto start = std::chrono::steady_clock::now();
    {
      UpdateFlow flow({comm, settings, gui, SystemTickSource()});
      flow.Run(hex_path);
      result.hex_file_closed = !flow.HexFile.IsOpen() && NobodyHolds(hex_path);
    }
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.port_closed =
        !comm.IsOpened() && recorder.open_devices == 0 && recorder.opens == recorder.closes;

    result.pager_exited_cleanly = pager.Stop();
    for (const ShownBox& box : gui.boxes) result.boxes.push_back({box.text, box.style});
    result.host_commands = recorder.commands;
    result.pager_commands = pager.Commands();
    result.pager_errors = pager.Events("ERR");
    result.pager_rates = pager.Events("RATE");
    result.image = pager.ProgrammedImage();
  }
  result.descriptors_given_back = OpenDescriptorCount() == descriptors_before;
  return result;
}
