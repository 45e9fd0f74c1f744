#include "station/NextStep.h"

#include <algorithm>
#include <iterator>

#include "engine/Hexproc.h"

namespace {

struct Step {
  ExitCode code;
  std::string_view words;
};

constexpr char kDamagedFile[] =
    "The file is damaged or is not the firmware: get a fresh copy; tarvex-flash --check tells "
    "whether a copy is sound.";
constexpr char kUnreadFile[] =
    "Check the file's name and folder, and that no other program holds it open.";
constexpr char kFileHasAnError[] = "The HEX file has an error.";

constexpr Step kSteps[] = {
    {ExitCode::kInternal,
     "An error of the program itself: note what it said and tell whoever looks after the bench."},
    {ExitCode::kBadHexFile, kDamagedFile},
    {ExitCode::kPortNotOpened,
     "Check that the adapter is plugged in and that no other program uses the port, then try "
     "again."},
    {ExitCode::kNoResponse,
     "The pager did not answer: check that it sits firmly in its cable and has power, then "
     "flash it again."},
    {ExitCode::kRefused,
     "The pager refused a command: put it back in its cable and flash it again; if it refuses "
     "again, set it aside."},
    {ExitCode::kResendsExceeded,
     "Packages kept arriving damaged: try another cable or a lower rate; if it happens again, "
     "set the pager aside."},
    {ExitCode::kRewindsExceeded,
     "The pager could not program its flash: set the pager aside and try another cable."},
    {ExitCode::kUnexpectedReply,
     "Something other than a pager's loader answered: check that the cable leads to a pager, "
     "then flash it again."},
    {ExitCode::kPortLost,
     "The adapter went away during the update: plug it in again and flash the pager again; its "
     "flash may be erased."},
    {ExitCode::kNotLogged,
     "The pager is flashed but its line is missing from the log: make room for the log, and "
     "note this pager by hand."},
    {ExitCode::kInterrupted, "The update was stopped: flash this pager again before it leaves."},
};

}  // namespace

std::string_view NextStep(ExitCode code) {
  const auto found = std::find_if(std::begin(kSteps), std::end(kSteps),
                                  [code](const Step& step) { return step.code == code; });
  return found == std::end(kSteps) ? std::string_view() : found->words;
}

FileRefusal RefusalOf(const FirmwareLoad& load) {
  if (load.firmware) return {};
  if (load.read) return {kFileHasAnError, load.reason, kDamagedFile};
  return {msgOpenHexFail.Text, load.reason, kUnreadFile};
}
