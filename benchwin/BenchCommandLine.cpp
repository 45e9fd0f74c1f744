#include "benchwin/BenchCommandLine.h"

#include <algorithm>
#include <cctype>

#include "common/NoCase.h"
#include "link/PortList.h"
#include "station/PortLimit.h"

namespace {

constexpr int kMaxCount = 1000000;

bool StartsWithSerial(const std::string& text) {
  return ToLower(text.substr(0, kSerialPrefix.size())) == kSerialPrefix;
}

// serial= in the core's spelling, whatever case was typed.
std::string NormalPort(const std::string& port) {
  if (!StartsWithSerial(port)) return port;
  return std::string(kSerialPrefix) + port.substr(kSerialPrefix.size());
}

// What a port's spelling alone tells of it: COM5, //./COM5 and \\.\com5
// are one port, as are serial numbers in any case. Whether serial= names a
// port given too is known only from the ports present, at the window.
std::string SpelledIdentity(const std::string& port) {
  return GivenPortIdentity(port, {}, [](const std::string& name) { return DosNameOf(name); });
}

// "/run", not "/home/me/fw.hex": a path of a system whose folders are
// written with "/" is no option.
bool IsOption(const std::string& argument) {
  return !argument.empty() && argument.front() == '/' &&
         argument.find_first_of("/\\", 1) == std::string::npos;
}

bool ParseCount(const std::string& text, int& count) {
  if (text.empty() || text.size() > 7 ||
      !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); })) {
    return false;
  }
  count = std::stoi(text);
  return count >= 1 && count <= kMaxCount;
}

class Parser {
 public:
  explicit Parser(const std::vector<std::string>& arguments) : arguments_(arguments) {}

  ParsedBenchCommandLine Parse() {
    for (at_ = 0; at_ < arguments_.size() && fault_.empty(); ++at_) {
      const std::string& argument = arguments_[at_];
      if (IsOption(argument)) {
        Option(ToLower(argument));
      } else {
        Positional(argument);
      }
    }
    if (fault_.empty() && line_.job.has_value() != line_.job_key.has_value()) {
      fault_ = line_.job ? "/job needs /jobkey, engineering's public key."
                         : "/jobkey needs /job, the job it checks.";
    }
    if (fault_.empty() && line_.ports.size() > kMaxPorts) {
      fault_ = "A" + TooManyPortsText(line_.ports.size()).substr(1) + ".";
    }
    return {line_, fault_};
  }

 private:
  void Option(const std::string& option) {
    if (option == "/?") {
      line_.usage = true;
    } else if (option == "/run") {
      if (line_.run) fault_ = "/run is given twice.";
      line_.run = true;
    } else if (option == "/count") {
      Count();
    } else if (option == "/log") {
      FileValue(option, "the log file", line_.log_path);
    } else if (option == "/job") {
      FileValue(option, "the job file", line_.job);
    } else if (option == "/jobkey") {
      FileValue(option, "engineering's public key", line_.job_key);
    } else {
      fault_ = arguments_[at_] + " is not an option of TarvexBench.exe.";
    }
  }

  // The argument after the option, or nothing at the end of the line.
  std::optional<std::string> Value() {
    if (at_ + 1 >= arguments_.size()) return std::nullopt;
    return arguments_[++at_];
  }

  void Count() {
    if (line_.count != 0) {
      fault_ = "/count is given twice.";
      return;
    }
    const auto value = Value();
    if (!value || !ParseCount(*value, line_.count)) {
      fault_ = "/count needs a number of pagers from 1 to 1000000" +
               (value ? ", not " + *value + "." : ".");
    }
  }

  // An option that names a file: "/log needs the name of the log file."
  void FileValue(const std::string& option, const char* what, std::optional<std::string>& into) {
    if (into) {
      fault_ = option + " is given twice.";
      return;
    }
    const auto value = Value();
    if (!value || value->empty() || IsOption(*value)) {
      fault_ = option + " needs the name of " + what + ".";
      return;
    }
    into = *value;
  }

  // The firmware comes first, then the ports.
  void Positional(const std::string& argument) {
    if (IsBenchPortName(argument)) return Port(NormalPort(argument));
    if (line_.firmware || !line_.ports.empty()) {
      fault_ = argument +
               " is not a port: ports are COM names (COM7) or adapters' serial numbers "
               "(serial=FT12AB34), after the one FILE.hex.";
      return;
    }
    if (argument.empty()) {
      fault_ = "The firmware's file name is empty.";
      return;
    }
    line_.firmware = argument;
  }

  void Port(const std::string& port) {
    for (const std::string& earlier : line_.ports) {
      if (SpelledIdentity(earlier) == SpelledIdentity(port)) {
        fault_ = PortGivenTwiceText(earlier, port);
        return;
      }
    }
    line_.ports.push_back(port);
  }

  const std::vector<std::string>& arguments_;
  std::size_t at_ = 0;
  BenchCommandLine line_;
  std::string fault_;
};

}  // namespace

bool IsBenchPortName(const std::string& text) {
  if (ComNumberOf(text) > 0) return true;
  return StartsWithSerial(text) && text.size() > kSerialPrefix.size();
}

ParsedBenchCommandLine ParseBenchCommandLine(const std::vector<std::string>& arguments) {
  return Parser(arguments).Parse();
}

std::string PortGivenTwiceText(const std::string& first, const std::string& second) {
  return "The port " + first + " is given twice (also as " + second + ").";
}

std::string BenchUsageText() {
  return "TarvexBench.exe [/run] [/count N] [/log FILE] [/job FILE /jobkey FILE] [FILE.hex] "
         "[PORT ...]\n"
         "\n"
         "/run\tstart the bench at once\n"
         "/count N\tstop taking pagers once N have finished\n"
         "/log FILE\tappend one line per pager to FILE\n"
         "/job FILE\tflash only as the signed job FILE allows\n"
         "/jobkey FILE\tengineering's public key, which signed the job\n"
         "FILE.hex\tthe firmware every pager gets\n"
         "PORT\tCOM7, or serial=NUMBER for a USB adapter's serial number";
}
