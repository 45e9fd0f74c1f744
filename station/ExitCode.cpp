#include "station/ExitCode.h"

#include <fmt/format.h>

#include <algorithm>

namespace {

struct CodeInfo {
  ExitCode code;
  std::string_view name;
  std::string_view meaning;
};

constexpr CodeInfo kCodes[] = {
    {ExitCode::kFinished, "finished", "every pager finished"},
    {ExitCode::kInternal, "error", "an error of the program itself"},
    {ExitCode::kUsage, "usage", "bad usage (options, or the --log file cannot be written)"},
    {ExitCode::kBadHexFile, "bad-hex-file", "the HEX file is missing, unreadable or has errors"},
    {ExitCode::kPortNotOpened, "port-not-opened", "a port cannot be opened"},
    {ExitCode::kNoResponse, "no-response", "no response from a pager"},
    {ExitCode::kRefused, "refused", "a pager refused (NAK) a command"},
    {ExitCode::kResendsExceeded, "resends-exceeded", "resends of a package exceeded"},
    {ExitCode::kRewindsExceeded, "rewinds-exceeded", "rewinds of the transfer exceeded"},
    {ExitCode::kUnexpectedReply, "unexpected-reply", "a pager answered something unexpected"},
    {ExitCode::kPortLost, "port-lost", "a port was lost during the update (adapter pulled out)"},
    {ExitCode::kNotLogged, "not-logged",
     "a pager finished but its --log line could not be written"},
    {ExitCode::kJobRefused, "job-refused",
     "a job refused: its signature, firmware, expiry or quota"},
    {ExitCode::kInterrupted, "interrupted", "interrupted by Ctrl+C"},
};

}  // namespace

ExitCode ExitCodeOf(UpdateOutcome outcome) {
  switch (outcome) {
    case UpdateOutcome::kFinished:
      return ExitCode::kFinished;
    case UpdateOutcome::kCannotOpenFile:
      return ExitCode::kBadHexFile;
    case UpdateOutcome::kCannotOpenPort:
      return ExitCode::kPortNotOpened;
    case UpdateOutcome::kNoResponse:
      return ExitCode::kNoResponse;
    case UpdateOutcome::kRefused:
      return ExitCode::kRefused;
    case UpdateOutcome::kResendsExceeded:
      return ExitCode::kResendsExceeded;
    case UpdateOutcome::kRewindsExceeded:
      return ExitCode::kRewindsExceeded;
    case UpdateOutcome::kUnexpectedReply:
      return ExitCode::kUnexpectedReply;
    case UpdateOutcome::kInterrupted:
      return ExitCode::kInterrupted;
    case UpdateOutcome::kPortLost:
      return ExitCode::kPortLost;
    case UpdateOutcome::kNone:
      break;
  }
  return ExitCode::kInternal;
}

std::string_view OutcomeName(ExitCode code) {
  for (const CodeInfo& info : kCodes) {
    if (info.code == code) return info.name;
  }
  return "error";
}

std::size_t LongestOutcomeName() {
  std::size_t longest = 0;
  for (const CodeInfo& info : kCodes) longest = std::max(longest, info.name.size());
  return longest;
}

ExitCode PagerExitCode(ExitCode code, bool logged) {
  return !logged && code == ExitCode::kFinished ? ExitCode::kNotLogged : code;
}

bool CountsAsFinished(ExitCode pager_code) {
  return pager_code == ExitCode::kFinished || pager_code == ExitCode::kNotLogged;
}

ExitCode GangExitCode(const std::vector<ExitCode>& in_port_order, bool interrupted) {
  if (interrupted) return ExitCode::kInterrupted;
  for (ExitCode code : in_port_order) {
    if (code != ExitCode::kFinished) return code;
  }
  return ExitCode::kFinished;
}

std::string ExitCodeTable() {
  std::string table = "Exit codes:\n";
  for (const CodeInfo& info : kCodes) {
    table +=
        fmt::format("  {:>3}  {:<17} {}\n", static_cast<int>(info.code), info.name, info.meaning);
  }
  table +=
      "  With several pagers: the code of the first failure in port order;\n"
      "  with --station: the code of the first pager that failed.\n";
  return table;
}
