// Tuning FTDI adapters over a registry kept in memory, and the Linux check
// over a port opener that reports what a test tells it to.
#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <set>

#include "link/AdapterTuning.h"

namespace {

PortInfo Port(const std::string& name, const std::string& description, const std::string& serial,
              int timer_ms = -1) {
  PortInfo port;
  port.Name = name;
  port.Number = ComNumberOf(name);
  port.Description = description;
  port.Serial = serial;
  port.LatencyTimerMs = timer_ms;
  return port;
}

// The bench: COM5 an FTDI adapter at the driver's 16 ms, COM6 a CP210x,
// COM7 an FTDI adapter tuned already, COM8 an FTDI adapter whose settings
// name no timer; an FTDI adapter once given COM10 is not plugged in.
class FakeRegistry final : public IFtdiRegistry {
 public:
  std::vector<FtdiAdapterKey> Adapters() override { return keys; }
  RegistryWrite SetLatencyTimer(const std::string& device_id, int timer_ms) override {
    if (denied) return {RegistryWrite::Result::kDenied, "Access is denied"};
    if (failing.count(device_id) > 0) return {RegistryWrite::Result::kFailed, "The key is gone"};
    for (FtdiAdapterKey& key : keys) {
      if (key.device_id == device_id) key.latency_timer_ms = timer_ms;
    }
    writes += device_id + "=" + std::to_string(timer_ms) + ";";
    return {};
  }

  std::vector<FtdiAdapterKey> keys = {{"VID_0403+PID_6001+FT5KQ2R7AA", "COM5", 16},
                                      {"VID_0403+PID_6001+FT12AB34A", "COM7", 1},
                                      {"VID_0403+PID_6015+DN0ABCDEA", "COM8", -1},
                                      {"VID_0403+PID_6001+OLD00001A", "COM10", 16}};
  bool denied = false;
  std::set<std::string> failing;
  std::string writes;
};

const std::vector<PortInfo> kPresent = {
    Port("COM5", "USB Serial Port", "FT5KQ2R7A", 16),
    Port("COM6", "Silicon Labs CP210x USB to UART Bridge", "0001"),
    Port("COM7", "USB Serial Port", "FT12AB34", 1), Port("COM8", "USB Serial Port", "DN0ABCDE")};

// "COM5 FT5KQ2R7A 16>1 set", one per adapter dealt with.
std::string Adapters(const TuningReport& report) {
  std::string text;
  for (const AdapterTimer& timer : report.adapters) {
    text += timer.port + " " + timer.serial + " " + std::to_string(timer.before_ms) + ">" +
            std::to_string(timer.after_ms) + (timer.written ? " set" : "") + ";";
  }
  return text;
}

struct TuningCase {
  const char* name;
  std::vector<std::string> given;
  bool denied;
  std::set<std::string> failing;
  TuningOutcome outcome;
  std::string port;
  std::string writes;
  std::string adapters;
  // What the report says of the port it names, from its start.
  std::string reason = "";
};

void PrintTo(const TuningCase& c, std::ostream* out) { *out << c.name; }

class Tuning : public ::testing::TestWithParam<TuningCase> {};

TEST_P(Tuning, SetsEachFtdiTimerToOneMsOrChangesNothing) {
  const TuningCase& c = GetParam();
  FakeRegistry registry;
  registry.denied = c.denied;
  registry.failing = c.failing;
  const TuningReport report = TuneLatencyTimers(registry, c.given, kPresent);
  EXPECT_EQ(report.outcome, c.outcome);
  EXPECT_EQ(report.port, c.port);
  EXPECT_EQ(registry.writes, c.writes);
  EXPECT_EQ(Adapters(report), c.adapters);
  EXPECT_TRUE(report.reason.starts_with(c.reason)) << report.reason;
  EXPECT_EQ(report.reason.empty(), c.reason.empty()) << report.reason;
}

const char kCom5[] = "VID_0403+PID_6001+FT5KQ2R7AA";
const char kCom8[] = "VID_0403+PID_6015+DN0ABCDEA";

INSTANTIATE_TEST_SUITE_P(
    Rows, Tuning,
    ::testing::Values(
        TuningCase{"FtdiPort",
                   {"COM5"},
                   false,
                   {},
                   TuningOutcome::kDone,
                   "",
                   std::string(kCom5) + "=1;",
                   "COM5 FT5KQ2R7A 16>1 set;"},
        // Every port is looked up first: COM5 before the CP210x is not set.
        TuningCase{"NotFtdi",
                   {"COM5", "COM6"},
                   false,
                   {},
                   TuningOutcome::kNotFtdi,
                   "COM6",
                   "",
                   "",
                   "Silicon Labs CP210x USB to UART Bridge"},
        TuningCase{"Missing", {"COM9"}, false, {}, TuningOutcome::kMissing, "COM9", "", ""},
        TuningCase{"SerialNotFound",
                   {"serial=NOPE"},
                   false,
                   {},
                   TuningOutcome::kMissing,
                   "serial=NOPE",
                   "",
                   "",
                   "no port has an adapter with the serial number NOPE; the ports present: COM5"},
        TuningCase{"Refused",
                   {"COM5"},
                   true,
                   {},
                   TuningOutcome::kRefused,
                   "COM5",
                   "",
                   "COM5 FT5KQ2R7A 16>16;",
                   "Access is denied"},
        TuningCase{
            "AlreadyOne", {"COM7"}, false, {}, TuningOutcome::kDone, "", "", "COM7 FT12AB34 1>1;"},
        // The first failure ends the run; what was set before it is told.
        TuningCase{"FailedAfterOne",
                   {"COM5", "COM8", "COM7"},
                   false,
                   {kCom8},
                   TuningOutcome::kFailed,
                   "COM8",
                   std::string(kCom5) + "=1;",
                   "COM5 FT5KQ2R7A 16>1 set;COM8 DN0ABCDE -1>-1;",
                   "The key is gone"},
        // None given: the FTDI ports plugged in, not the one gone.
        TuningCase{"AllPresent",
                   {},
                   false,
                   {},
                   TuningOutcome::kDone,
                   "",
                   std::string(kCom5) + "=1;" + kCom8 + "=1;",
                   "COM5 FT5KQ2R7A 16>1 set;COM7 FT12AB34 1>1;COM8 DN0ABCDE -1>1 set;"},
        TuningCase{"OnePortTwoNames",
                   {"COM5", "serial=FT5KQ2R7A", R"(\\.\COM5)"},
                   false,
                   {},
                   TuningOutcome::kDone,
                   "",
                   std::string(kCom5) + "=1;",
                   "COM5 FT5KQ2R7A 16>1 set;"}),
    [](const auto& info) { return std::string(info.param.name); });

// Two adapters once given one COM name: whichever is plugged in runs tuned.
TEST(Tuning, EveryKeyNamingThePortIsSet) {
  FakeRegistry registry;
  registry.keys.push_back({"VID_0403+PID_6001+SPARE001A", "COM5", 16});
  const TuningReport report = TuneLatencyTimers(registry, {"COM5"}, kPresent);
  EXPECT_EQ(registry.writes, std::string(kCom5) + "=1;VID_0403+PID_6001+SPARE001A=1;");
  EXPECT_EQ(Adapters(report), "COM5 FT5KQ2R7A 16>1 set;COM5 FT5KQ2R7A 16>1 set;");
}

struct CheckCase {
  const char* name;
  std::vector<std::string> given;
  // The timer each port reads back with while open; -2 for one that does
  // not open.
  std::map<std::string, int> read_back;
  TuningOutcome outcome;
  std::string port;
  std::string opened;
};

void PrintTo(const CheckCase& c, std::ostream* out) { *out << c.name; }

class LowLatencyCheck : public ::testing::TestWithParam<CheckCase> {};

TEST_P(LowLatencyCheck, ReadsEachFtdiTimerBackWithItsPortOpen) {
  const CheckCase& c = GetParam();
  PortInfo by_id = Port("/dev/ttyUSB0", "FT232R USB UART", "FTA", 16);
  by_id.ById = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_FTA-if00-port0";
  const std::vector<PortInfo> present = {by_id, Port("/dev/ttyUSB1", "CP2102", "0001"),
                                         Port("/dev/ttyUSB2", "FT232R USB UART", "FTB", 16)};
  std::string opened;
  const TuningReport report = CheckLowLatency(c.given, present, [&](const std::string& port) {
    opened += port + ";";
    const int timer = c.read_back.count(port) > 0 ? c.read_back.at(port) : 1;
    LatencyReadBack read;
    read.opened = timer != -2;
    read.timer_ms = timer;
    if (!read.opened) read.error = "The port is in use by another program.";
    return read;
  });
  EXPECT_EQ(report.outcome, c.outcome);
  EXPECT_EQ(report.port, c.port);
  EXPECT_EQ(opened, c.opened);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LowLatencyCheck,
    ::testing::Values(
        CheckCase{"AllTook", {}, {}, TuningOutcome::kDone, "", "/dev/ttyUSB0;/dev/ttyUSB2;"},
        CheckCase{"StayedAt16",
                  {},
                  {{"/dev/ttyUSB0", 16}},
                  TuningOutcome::kNotTaken,
                  "/dev/ttyUSB0",
                  "/dev/ttyUSB0;/dev/ttyUSB2;"},
        CheckCase{"CannotOpen",
                  {"/dev/ttyUSB2"},
                  {{"/dev/ttyUSB2", -2}},
                  TuningOutcome::kFailed,
                  "/dev/ttyUSB2",
                  "/dev/ttyUSB2;"},
        CheckCase{"NotFtdi",
                  {"/dev/ttyUSB0", "/dev/ttyUSB1"},
                  {},
                  TuningOutcome::kNotFtdi,
                  "/dev/ttyUSB1",
                  ""},
        CheckCase{"Missing", {"/dev/ttyUSB7"}, {}, TuningOutcome::kMissing, "/dev/ttyUSB7", ""},
        CheckCase{"ByIdName",
                  {"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_FTA-if00-port0"},
                  {},
                  TuningOutcome::kDone,
                  "",
                  "/dev/ttyUSB0;"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
