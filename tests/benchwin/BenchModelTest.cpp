// The bench window's decisions against a recording view and a run that only
// records: settings and command line, locked settings, what Start checks and
// hands the core, the core's news drawn, the count, Stop and closing.
#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <iterator>
#include <ostream>

#include "benchwin/BenchModel.h"
#include "common/Sha256.h"
#include "station/PortLimit.h"
#include "tests/support/ComPorts.h"
#include "tests/support/HexText.h"
#include "tests/support/SignedJob.h"
#include "tests/support/VirtualClock.h"

namespace {

using Texts = std::vector<std::string>;

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class FakeBenchView final : public IBenchView {
 public:
  void ShowFirmware(const FirmwareCard& shown) override { card = shown; }
  void ShowPorts(const std::vector<PortEntry>& shown) override {
    ports = shown;
    ++port_shows;
  }
  void ShowRate(int shown) override { rate = shown; }
  void ShowResends(int shown) override { resends = shown; }
  void ShowLogPath(const std::string& path) override { log = path; }
  void ShowLocked(bool shown) override { locked = shown; }
  void ShowControls(const BenchControls& shown) override { controls = shown; }
  void ShowTiles(const std::vector<TileView>& shown) override { tiles = shown; }
  void ShowTile(std::size_t index, const TileView& tile) override { tiles.at(index) = tile; }
  void ShowTotals(const TotalsView& shown) override { totals = shown; }
  void ShowStatus(const std::string& text, bool alarm_shown) override {
    status = text;
    alarm = alarm_shown;
  }
  void PlaySound(BenchSound sound) override { sounds.push_back(sound); }
  void SetTimerEnabled(bool enabled) override { timer = enabled; }
  std::optional<std::string> RunOpenDialog(const std::string&) override { return dialog_answer; }
  void ShowMessage(const std::string& text, const std::string&, std::uint32_t) override {
    boxes.push_back(text);
  }
  bool Confirm(const std::string& text, const std::string&) override {
    confirms.push_back(text);
    if (during_confirm) during_confirm();
    return confirm_answer;
  }
  void CloseForm() override { ++close_requests; }
  ElevatedRun RunFlasherElevated(const std::string& parameters) override {
    elevated.push_back(parameters);
    if (during_elevated) during_elevated();
    return elevated_run;
  }
  void WakeForNews() override { ++wakes; }

  FirmwareCard card;
  std::vector<PortEntry> ports;
  int port_shows = 0;
  int rate = 0;
  int resends = -1;
  std::string log;
  bool locked = false;
  BenchControls controls;
  std::vector<TileView> tiles;
  TotalsView totals;
  std::string status;
  bool alarm = false;
  std::vector<BenchSound> sounds;
  bool timer = false;
  std::optional<std::string> dialog_answer;
  Texts boxes;
  Texts confirms;
  bool confirm_answer = true;
  std::function<void()> during_confirm;
  int close_requests = 0;
  Texts elevated;
  ElevatedRun elevated_run;
  std::function<void()> during_elevated;
  int wakes = 0;
};

struct RecordedRun {
  BenchPlan plan;
  int stops = 0;
  std::vector<std::size_t> resumed = {};
};

class FakeRun final : public IBenchRun {
 public:
  explicit FakeRun(RecordedRun& record) : record_(record) {}
  void Stop() override { ++record_.stops; }
  void Resume(std::size_t index) override { record_.resumed.push_back(index); }

 private:
  RecordedRun& record_;
};

PortInfo Port(int number, const std::string& serial) {
  PortInfo port = ComPort(number, serial);
  port.Description = "USB Serial Port";
  return port;
}

const BenchControls kIdleFree{true, true, true, true, false};
const BenchControls kIdleLocked{false, false, false, true, false};
const BenchControls kRunning{false, false, false, false, true};
const BenchControls kStopping{false, false, false, false, false};

// A window in a folder of its own, COM5 and COM6 present (COM6's adapter
// with a serial number), a sound firmware file there.
class BenchModelTest : public ::testing::Test {
 public:
  std::string Folder() const { return dir.path().string(); }
  std::string Firmware() {
    return dir.Write("fw.hex", HexFileText({HexRecordText(0, 0, Bytes(16)), kEndRecordLine}));
  }
  void Settings(const std::string& text) { dir.Write(kBenchSettingsFileName, text); }

  bool Open(const Texts& arguments = {}) {
    const ParsedBenchCommandLine parsed = ParseBenchCommandLine(arguments);
    EXPECT_EQ(parsed.fault, "");
    if (!model.Open(Folder(), parsed.line)) return false;
    model.Shown();
    return true;
  }

  // The core's news, as the window's thread takes them.
  void Row(std::size_t index, PortState state, int percent = 0, int number = 1) {
    StationRow row;
    row.port = view.tiles.at(index).port;
    row.state = state;
    row.percent = percent;
    row.number = number;
    model.Inbox().OnRow(index, row);
    model.TakeNews();
  }
  void End(std::size_t index, ExitCode code, int number) {
    StationEvent event;
    event.kind =
        code == ExitCode::kFinished ? StationEventKind::kFinished : StationEventKind::kFailed;
    event.index = index;
    event.number = number;
    event.result.code = code;
    event.result.message = "why";
    model.Inbox().OnEvent(event);
    model.TakeNews();
  }
  void RunEnds() {
    model.Inbox().Ended();
    model.TakeNews();
  }

  TempDir dir;
  VirtualClock clock{5000};
  FakeBenchView view;
  std::vector<PortInfo> present = {Port(5, ""), Port(6, "FT6")};
  // A deque: each run keeps its record where it is.
  std::deque<RecordedRun> runs;
  BenchModel model{view,
                   [this] { return present; },
                   [this](const BenchPlan& plan, BenchInbox&) -> std::unique_ptr<IBenchRun> {
                     runs.push_back({plan});
                     return std::make_unique<FakeRun>(runs.back());
                   },
                   clock,
                   dir.PathOf("state"),
                   [](const std::string& port) {
                     // Windows' names, with no DOS names defined beyond the COM ports.
                     return DosPortIdentity(port, [](const std::string&) { return ""; });
                   }};
};

// ---- Settings and command line ----------------------------------------------------

TEST_F(BenchModelTest, TheSettingsFileIsShownAndTheCommandLineTakesPrecedence) {
  Settings("Firmware=gone.hex\r\nPorts=COM5\r\nRate=9600\r\nResends=5\r\nLog=old.jsonl\r\n");
  ASSERT_TRUE(Open({"/log", "day.jsonl", Firmware(), "serial=FT6", "COM9"}));
  EXPECT_TRUE(view.card.loaded);
  EXPECT_EQ(view.card.path, dir.PathOf("fw.hex"));
  EXPECT_EQ(ChosenPorts(view.ports), (Texts{"serial=FT6", "COM9"}));
  EXPECT_EQ(view.rate, 9600);
  EXPECT_EQ(view.resends, 5);
  EXPECT_EQ(view.log, "day.jsonl");
  EXPECT_EQ(view.controls, kIdleFree);
  EXPECT_EQ(view.boxes, Texts{});
  model.ChooseRate(2400);
  model.ChooseResends(4);  // not offered
  model.Close();
  EXPECT_EQ(ReadBytes(dir.PathOf(kBenchSettingsFileName)),
            "[Bench]\r\nFirmware=" + dir.PathOf("fw.hex") +
                "\r\nPorts=serial=FT6,COM9\r\nRate=2400\r\nResends=5\r\nLog=day.jsonl\r\n"
                "StationName=\r\nLocked=0\r\n");
}

TEST_F(BenchModelTest, WithoutASettingsFileTheLogGoesBesideIt) {
  ASSERT_TRUE(Open());
  EXPECT_EQ(view.log, dir.PathOf(kDefaultBenchLogName));
  EXPECT_EQ(view.rate, 4800);
  EXPECT_EQ(view.resends, 3);
  EXPECT_EQ(ChosenPorts(view.ports), Texts{});
}

// A supervisor who locks the settings while the window is open is not
// undone at exit; a change of someone else's to one setting stays beside the
// window's own to another.
TEST_F(BenchModelTest, TheSettingsAreReadAgainBeforeTheyAreWritten) {
  Settings("Ports=COM5\r\nRate=9600\r\n");
  ASSERT_TRUE(Open());
  model.ChooseResends(5);
  Settings("Ports=COM5\r\nRate=2400\r\nLog=line3.jsonl\r\n");
  model.Close();
  EXPECT_EQ(LoadBenchSettings(Folder()).rate, 2400);
  EXPECT_EQ(LoadBenchSettings(Folder()).log, "line3.jsonl");
  EXPECT_EQ(LoadBenchSettings(Folder()).resends, 5);
  const std::string locked = "Ports=COM6\r\nRate=9600\r\nLocked=1\r\n";
  Settings(locked);
  model.Close();
  EXPECT_EQ(ReadBytes(dir.PathOf(kBenchSettingsFileName)), locked);
}

TEST_F(BenchModelTest, AFileTheSettingsNameIsInTheirFolderAndStaysSoNamed) {
  Firmware();
  Settings("Firmware=fw.hex\r\nPorts=COM5\r\n");
  ASSERT_TRUE(Open());
  EXPECT_TRUE(view.card.loaded);
  EXPECT_EQ(view.card.path, dir.PathOf("fw.hex"));
  model.ChooseRate(9600);  // something to write
  model.Close();
  EXPECT_EQ(ReadBytes(dir.PathOf(kBenchSettingsFileName)).substr(0, 26),
            "[Bench]\r\nFirmware=fw.hex\r\n");
}

// ---- Locked settings ------------------------------------------------------------------

struct LockedCase {
  const char* name;
  Texts arguments;
  bool opens;
};

void PrintTo(const LockedCase& c, std::ostream* out) { *out << c.name; }

class LockedSettings : public BenchModelTest, public ::testing::WithParamInterface<LockedCase> {};

TEST_P(LockedSettings, LeaveStartAndStopOnly) {
  const std::string settings = "Firmware=" + Firmware() +
                               "\r\nPorts=COM5\r\nRate=9600\r\nLocked=1\r\n; by the supervisor\r\n";
  Settings(settings);
  ASSERT_EQ(Open(GetParam().arguments), GetParam().opens);
  if (!GetParam().opens) {
    ASSERT_EQ(view.boxes.size(), 1u);
    EXPECT_EQ(view.boxes[0].rfind("The settings are locked (Locked=1 in TARVEXBENCH.INI)", 0), 0u);
    return;
  }
  EXPECT_TRUE(view.locked);
  if (!runs.empty()) {
    EXPECT_EQ(view.controls, kRunning) << "/run starts a locked bench too";
    model.StopClick();
    RunEnds();
  }
  EXPECT_EQ(view.controls, kIdleLocked);
  view.dialog_answer = Firmware();
  model.OpenClick();
  model.ChooseFirmware(dir.Write("other.hex", HexFileText({kEndRecordLine})));
  model.TickPort(0, false);
  model.RefreshPorts();
  model.ToggleKeepBySerial(1);
  model.ChooseRate(2400);
  EXPECT_EQ(view.card.path, dir.PathOf("fw.hex"));
  EXPECT_EQ(ChosenPorts(view.ports), Texts{"COM5"});
  EXPECT_EQ(view.rate, 9600);
  EXPECT_EQ(view.boxes.size(), 1u) << "a dropped file is refused with a box";
  const std::size_t before = runs.size();
  model.StartClick();
  ASSERT_EQ(runs.size(), before + 1);
  EXPECT_EQ(runs.back().plan.ports.at(0).job.port, "COM5");
  model.StopClick();
  RunEnds();
  model.Close();
  EXPECT_EQ(ReadBytes(dir.PathOf(kBenchSettingsFileName)), settings) << "left as written";
}

INSTANTIATE_TEST_SUITE_P(
    Lines, LockedSettings,
    ::testing::Values(LockedCase{"Plain", {}, true},
                      LockedCase{"RunAndCount", {"/run", "/count", "3"}, true},
                      LockedCase{"Firmware", {"x.hex"}, false},
                      LockedCase{"Ports", {"COM6"}, false},
                      LockedCase{"Log", {"/log", "l.jsonl"}, false},
                      LockedCase{"Job", {"/job", "j.json", "/jobkey", "k.pem"}, false}),
    [](const auto& info) { return std::string(info.param.name); });

// COM6 and the serial number of its adapter are one port: on the command
// line the window is refused; in settings the port is told and taken once,
// locked or not.
TEST_F(BenchModelTest, OnePortUnderTwoNamesIsRefusedOrTakenOnce) {
  EXPECT_FALSE(Open({Firmware(), "COM6", "serial=ft6"}));
  ASSERT_EQ(view.boxes.size(), 1u);
  EXPECT_EQ(view.boxes[0].rfind("The port COM6 is given twice (also as serial=ft6).\n\n", 0), 0u)
      << view.boxes[0];
  view.boxes.clear();
  Settings("Firmware=" + Firmware() +
           "\r\nPorts=COM5,com05,\\\\.\\COM5,serial=FT6,COM6\r\nLocked=1\r\n");
  ASSERT_TRUE(Open({"/run"}));
  ASSERT_EQ(view.boxes.size(), 1u);
  EXPECT_EQ(view.boxes[0],
            "TARVEXBENCH.INI: The port COM5 is given twice (also as com05). The bench takes it "
            "once.\nThe settings are locked: ask whoever locked them to mend the Ports= line.");
  ASSERT_EQ(runs.size(), 1u);
  ASSERT_EQ(runs[0].plan.ports.size(), 2u);
  EXPECT_EQ(runs[0].plan.ports[0].job.port, "COM5");
  EXPECT_EQ(runs[0].plan.ports[1].given, "serial=FT6");
}

// ---- Start ------------------------------------------------------------------------------

struct FaultCase {
  const char* name;
  std::function<void(BenchModelTest&)> arrange;
  const char* box;  // its start
};

void PrintTo(const FaultCase& c, std::ostream* out) { *out << c.name; }

class StartRefused : public BenchModelTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(StartRefused, SaysWhyAndStartsNothing) {
  GetParam().arrange(*this);
  model.StartClick();
  ASSERT_FALSE(view.boxes.empty());
  EXPECT_EQ(view.boxes.back().rfind(GetParam().box, 0), 0u) << view.boxes.back();
  EXPECT_TRUE(runs.empty());
  EXPECT_EQ(view.controls, kIdleFree);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, StartRefused,
    ::testing::Values(FaultCase{"NoFirmware", [](BenchModelTest& t) { t.Open({"COM5"}); },
                                "Choose the firmware first"},
                      FaultCase{
                          "RefusedFirmware",
                          [](BenchModelTest& t) {
                            t.Open({t.dir.Write("bad.hex", ":0400000000010203F7\r\n"), "COM5"});
                            // Read whole: its check failed, not its opening.
                            EXPECT_EQ(t.view.boxes.at(0).rfind(
                                          "The HEX file has an error.\nLine 1: checksum "
                                          "mismatch.\n\n" +
                                              t.dir.PathOf("bad.hex") + "\n\nThe file is damaged",
                                          0),
                                      0u)
                                << t.view.boxes.at(0);
                          },
                          "Choose the firmware first"},
                      FaultCase{"NoPortTicked",
                                [](BenchModelTest& t) {
                                  t.Open({t.Firmware(), "COM5"});
                                  t.model.TickPort(0, false);
                                },
                                "Tick at least one port"},
                      FaultCase{"LogCannotBeWritten",
                                [](BenchModelTest& t) {
                                  t.Open({"/log", t.dir.PathOf("no/l"), t.Firmware(), "COM5"});
                                },
                                "cannot append to the log "},
                      // Kept by its serial number while away, then plugged in as
                      // the other port ticked.
                      FaultCase{"OnePortTickedTwice",
                                [](BenchModelTest& t) {
                                  t.Open({t.Firmware(), "COM5", "serial=LATE1"});
                                  t.present[0].Serial = "LATE1";
                                },
                                "COM5 and serial=LATE1 are one port: untick one of them."},
                      FaultCase{"TwoAdaptersOneSerial",
                                [](BenchModelTest& t) {
                                  t.present.push_back(Port(7, "FT6"));
                                  t.Open({t.Firmware(), "serial=FT6"});
                                },
                                "2 ports have an adapter with the serial number FT6: COM6, COM7."}),
    [](const auto& info) { return std::string(info.param.name); });

// The status says what is missing before it says ready.
TEST_F(BenchModelTest, ReadyOnlyWithAFirmwareAndAPort) {
  ASSERT_TRUE(Open({"COM5"}));
  EXPECT_EQ(view.status.rfind("Choose the firmware first", 0), 0u) << view.status;
  model.ChooseFirmware(dir.Write("bad.hex", ":0400000000010203F7\r\n"));
  EXPECT_EQ(view.status.rfind("The firmware was refused", 0), 0u) << view.status;
  model.ChooseFirmware(Firmware());
  EXPECT_EQ(view.status.rfind("Ready", 0), 0u) << view.status;
  model.TickPort(0, false);
  EXPECT_EQ(view.status, "Tick at least one port for the bench.");
  model.TickPort(1, true);
  EXPECT_EQ(view.status.rfind("Ready", 0), 0u) << view.status;
}

// A bench of more ports than it takes would start a thread for each.
TEST_F(BenchModelTest, ABenchTakesAtMostSixtyFourPorts) {
  std::string ports;
  for (int number = 1; number <= 1000; ++number)
    ports.append(",COM").append(std::to_string(number + 10));
  Settings("Ports=" + ports.substr(1) + "\r\n");
  ASSERT_TRUE(Open({}));
  ASSERT_EQ(view.boxes.size(), 1u);
  EXPECT_EQ(view.boxes[0],
            "TARVEXBENCH.INI names 1000 ports, and a bench takes at most 64: the "
            "first 64 are ticked.");
  EXPECT_EQ(ChosenPorts(view.ports).size(), kMaxPorts);
  EXPECT_EQ(ChosenPorts(view.ports).back(), "COM74");
  model.ChooseFirmware(Firmware());
  model.TickPort(0, true);
  model.StartClick();
  EXPECT_TRUE(runs.empty());
  EXPECT_EQ(view.boxes.back(), "A bench takes at most 64 ports; 65 are ticked: untick some.");
  model.TickPort(0, false);
  model.StartClick();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].plan.ports.size(), kMaxPorts);
}

TEST_F(BenchModelTest, ARefusedFileWithRunGivesOneBoxAndStartsNothing) {
  Open({"/run", dir.Write("bad.hex", ":0400000000010203F7\r\n"), "COM5"});
  EXPECT_EQ(view.boxes.size(), 1u);
  EXPECT_TRUE(runs.empty());
}

TEST_F(BenchModelTest, StartHandsTheCoreEachTickedPortWithTheChosenUpdate) {
  Settings("Rate=9600\r\nResends=0\r\nStationName=LINE3-B2\r\n");
  ASSERT_TRUE(Open({"/count", "4", Firmware(), "COM5", "serial=FT6", "serial=LATER"}));
  model.StartOrStop();  // F5
  ASSERT_EQ(runs.size(), 1u);
  const BenchPlan& plan = runs[0].plan;
  EXPECT_EQ(plan.count, 4);
  EXPECT_EQ(plan.log_path, dir.PathOf(kDefaultBenchLogName));
  EXPECT_EQ(plan.file_name, dir.PathOf("fw.hex"));
  EXPECT_EQ(plan.sha256, view.card.sha256);
  EXPECT_EQ(plan.station, "LINE3-B2");
  ASSERT_EQ(plan.ports.size(), 3u);
  const Texts given = {plan.ports[0].given, plan.ports[1].given, plan.ports[2].given};
  EXPECT_EQ(given, (Texts{"COM5", "serial=FT6", "serial=LATER"}));
  const Texts opened = {plan.ports[0].job.port, plan.ports[1].job.port, plan.ports[2].job.port};
  EXPECT_EQ(opened, (Texts{"COM5", "COM6", ""})) << "an adapter not there yet is waited for";
  EXPECT_EQ(plan.ports[2].job.adapter_serial, "LATER");
  for (std::size_t i = 0; i < plan.ports.size(); ++i) {
    EXPECT_EQ(plan.ports[i].job.index, i);
    EXPECT_EQ(plan.ports[i].job.baud, 9600);
    EXPECT_EQ(plan.ports[i].job.resend, 0);
    EXPECT_NE(plan.ports[i].job.firmware, nullptr);
  }
  ASSERT_EQ(view.tiles.size(), 3u);
  EXPECT_EQ(view.tiles[1].adapter, "USB Serial Port");
  EXPECT_EQ(view.tiles[1].serial, "serial FT6");
  EXPECT_EQ(view.tiles[2].state, "adapter missing");
  EXPECT_EQ(view.controls, kRunning);
  EXPECT_TRUE(view.timer);
}

// ---- The core's news ------------------------------------------------------------------

TEST_F(BenchModelTest, NewsDrawTilesTotalsAndSoundsUntilTheCountIsReached) {
  ASSERT_TRUE(Open({"/run", "/count", "2", Firmware(), "COM5", "COM6"}));
  ASSERT_EQ(runs.size(), 1u);
  Row(0, PortState::kFlashing, 42, 1);
  EXPECT_EQ(view.tiles[0].state, "flashing 42%");
  End(0, ExitCode::kFinished, 1);
  End(1, ExitCode::kRewindsExceeded, 2);
  clock.Advance(60000);
  model.TimerTick();
  EXPECT_EQ(view.totals, (TotalsView{"1", "1", "50.0 %", "60"}));
  End(0, ExitCode::kFinished, 3);
  EXPECT_EQ(view.sounds, (std::vector<BenchSound>{BenchSound::kFinished, BenchSound::kFailed,
                                                  BenchSound::kFinished}));
  EXPECT_EQ(view.tiles[1].mood, TileMood::kBad);
  RunEnds();
  EXPECT_EQ(view.status, "2 pagers finished: the count of 2 is reached.");
  EXPECT_EQ(view.controls, kIdleFree);
  EXPECT_FALSE(view.timer);
  clock.Advance(3600000);
  model.TimerTick();
  EXPECT_EQ(view.totals.per_hour, "120") << "the totals stay as the run left them";
  EXPECT_EQ(view.close_requests, 0) << "the window stays open";
}

TEST_F(BenchModelTest, ALogThatFailsIsAnAlarmThatOutlastsTheRun) {
  ASSERT_TRUE(Open({"/run", Firmware(), "COM5"}));
  model.Inbox().OnNote("cannot append to the log L.");
  model.TakeNews();
  EXPECT_EQ(view.status, "cannot append to the log L. The bench takes no new pagers.");
  EXPECT_TRUE(view.alarm);
  RunEnds();
  EXPECT_TRUE(view.alarm);
  EXPECT_EQ(view.wakes, 2) << "woken when news come to an empty inbox";
}

// ---- Stop and close ---------------------------------------------------------------------

TEST_F(BenchModelTest, StopTellsTheCoreAndWaitsForItsEnd) {
  ASSERT_TRUE(Open({"/run", Firmware(), "COM5"}));
  model.StartOrStop();  // F5 again
  EXPECT_EQ(runs[0].stops, 1);
  EXPECT_EQ(view.controls, kStopping);
  model.StartOrStop();
  model.StartClick();
  EXPECT_EQ(runs.size(), 1u) << "no second run while the first stops";
  RunEnds();
  EXPECT_EQ(view.status, "Stopped: every pager in flash mode was told to leave it.");
  EXPECT_EQ(view.controls, kIdleFree);
}

// A run hands on the pager left on its port; the next Start gives it to the
// same port, whose tile starts as "remove pager #N", and nothing to another.
TEST_F(BenchModelTest, APagerLeftOnTheCableIsHandedToTheNextRunOnItsPort) {
  ASSERT_TRUE(Open({"/run", Firmware(), "COM5", "COM6"}));
  PortMemory on_cable;
  on_cable.pager_on_cable = true;
  on_cable.number = 7;
  model.Inbox().Ended({on_cable, PortMemory{}});
  model.TakeNews();
  model.StartClick();
  ASSERT_EQ(runs.size(), 2u);
  ASSERT_EQ(runs[1].plan.ports.size(), 2u);
  EXPECT_TRUE(runs[1].plan.ports[0].memory.pager_on_cable);
  EXPECT_EQ(runs[1].plan.ports[0].memory.number, 7);
  EXPECT_FALSE(runs[1].plan.ports[1].memory.pager_on_cable);
  EXPECT_EQ(view.tiles.at(0).state, "remove pager #7");
  EXPECT_EQ(view.tiles.at(1).state, "connect a pager");
}

TEST_F(BenchModelTest, TheEndOfTheSessionStopsTheBenchAndSavesTheSettings) {
  ASSERT_TRUE(Open({"/run", Firmware(), "COM6"}));
  model.EndSession();
  EXPECT_EQ(runs.at(0).stops, 1);
  EXPECT_EQ(LoadBenchSettings(Folder()).ports, Texts{"COM6"});
}

struct CloseCase {
  const char* name;
  bool run;
  bool flashing;
  bool answer;
  bool ends_during_box;
  std::size_t asks;
  bool closes_at_once;
  int stops;
};

void PrintTo(const CloseCase& c, std::ostream* out) { *out << c.name; }

class Closing : public BenchModelTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(Closing, StopsTheBenchFirstAndAsksDuringATransfer) {
  const CloseCase& c = GetParam();
  ASSERT_TRUE(Open({Firmware(), "COM5"}));
  if (c.run) model.StartClick();
  if (c.flashing) Row(0, PortState::kFlashing, 10);
  view.confirm_answer = c.answer;
  if (c.ends_during_box) view.during_confirm = [this] { RunEnds(); };
  EXPECT_EQ(model.CloseQuery(), c.closes_at_once);
  EXPECT_EQ(view.confirms.size(), c.asks);
  EXPECT_EQ(c.run ? runs.at(0).stops : 0, c.stops);
  if (c.closes_at_once || c.stops == 0) {
    EXPECT_EQ(view.close_requests, 0);
    return;
  }
  EXPECT_FALSE(model.CloseQuery()) << "asked again while stopping: no second box";
  EXPECT_EQ(view.confirms.size(), c.asks);
  RunEnds();
  EXPECT_EQ(view.close_requests, 1) << "closes once every port loop has ended";
  EXPECT_TRUE(model.CloseQuery());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Closing,
    ::testing::Values(CloseCase{"Idle", false, false, true, false, 0, true, 0},
                      CloseCase{"WaitingForPagers", true, false, true, false, 0, false, 1},
                      CloseCase{"TransferYes", true, true, true, false, 1, false, 1},
                      CloseCase{"TransferNo", true, true, false, false, 1, false, 0},
                      CloseCase{"EndedDuringTheBox", true, true, true, true, 1, true, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Tuning adapters ------------------------------------------------------------------

PortInfo Adapter(int number, const std::string& serial, int timer_ms) {
  PortInfo port = Port(number, serial);
  port.LatencyTimerMs = timer_ms;
  return port;
}

struct TuneCase {
  const char* name;
  std::vector<PortInfo> present;
  bool confirmed;
  ElevatedRun run;
  // What tarvex-flash was run with; empty when it was not run.
  Texts elevated;
  // The box after the question (the only box when nothing was asked).
  std::string box;
  std::string status;
  bool alarm;
  // Whether Windows writes the timers when the run ends 0.
  bool written = true;
};

void PrintTo(const TuneCase& c, std::ostream* out) { *out << c.name; }

class TuneAdapters : public BenchModelTest, public ::testing::WithParamInterface<TuneCase> {};

// COM5 and COM8 FTDI adapters at 16 ms, COM6 a CP210x, COM7 FTDI at 1 ms:
// only the two slow FTDI adapters are asked about and set, and only once
// the user has said yes and Windows has run the change.
TEST_P(TuneAdapters, SetsTheSlowFtdiAdaptersOnlyWhenAskedAndSaysWhatNext) {
  const TuneCase& c = GetParam();
  present = c.present;
  ASSERT_TRUE(Open());
  const std::string status_before = view.status;
  view.confirm_answer = c.confirmed;
  view.elevated_run = c.run;
  // What Windows does when the run ends 0: every slow timer reads 1 after,
  // unless the row says the write did not reach it.
  view.during_elevated = [&] {
    for (PortInfo& port : present) {
      if (c.written && c.run.result == ElevatedRun::Result::kRan && c.run.exit_code == 0 &&
          port.LatencyTimerMs > 1) {
        port.LatencyTimerMs = 1;
      }
    }
  };
  model.TuneAdaptersClick();
  EXPECT_EQ(view.elevated, c.elevated);
  ASSERT_EQ(view.boxes.empty(), c.box.empty());
  if (!c.box.empty()) {
    EXPECT_NE(view.boxes.back().find(c.box), std::string::npos) << view.boxes.back();
  }
  EXPECT_EQ(view.status, c.status.empty() ? status_before : c.status);
  EXPECT_EQ(view.alarm, c.alarm);
}

const std::vector<PortInfo> kBench = {Adapter(5, "FT5K", 16), Port(6, "0001"), Adapter(7, "FT7", 1),
                                      Adapter(8, "", 16)};
// Named once each: GCC's -O3 takes the strings of such records, braced in
// the rows, for uninitialized.
const ElevatedRun kRanWell{ElevatedRun::Result::kRan, 0, ""};
const ElevatedRun kDeclined{ElevatedRun::Result::kDeclined, 0, ""};
const ElevatedRun kNotFound{ElevatedRun::Result::kNotStarted, 0, "The system cannot find the file"};
const ElevatedRun kRanRefused{ElevatedRun::Result::kRan, 1, ""};

INSTANTIATE_TEST_SUITE_P(
    Rows, TuneAdapters,
    ::testing::Values(
        TuneCase{"Set",
                 kBench,
                 true,
                 kRanWell,
                 {"--tune-adapters -p COM5 -p COM8"},
                 "COM5, adapter FT5K: latency timer 16 ms, now 1 ms.\n"
                 "COM8: latency timer 16 ms, now 1 ms.\n\nNow unplug each adapter and plug it "
                 "back in",
                 "Latency timers set to 1 ms: unplug each adapter and plug it back in.",
                 false},
        TuneCase{"UserSaidNo", kBench, false, kRanWell, {}, "", "", false},
        TuneCase{"ConsentNotGiven",
                 kBench,
                 true,
                 kDeclined,
                 {"--tune-adapters -p COM5 -p COM8"},
                 "Nothing was changed: Windows' consent was not given.",
                 "",
                 false},
        TuneCase{"NotBesideTheBench",
                 kBench,
                 true,
                 kNotFound,
                 {"--tune-adapters -p COM5 -p COM8"},
                 "could not be started (The system cannot find the file). It must be in the "
                 "folder of TarvexBench.exe.",
                 "The latency timers were not set.",
                 true},
        TuneCase{"Refused",
                 kBench,
                 true,
                 kRanRefused,
                 {"--tune-adapters -p COM5 -p COM8"},
                 "Windows refused",
                 "The latency timers were not set.",
                 true},
        // A run that says it is done while a timer still reads 16 ms is not believed.
        TuneCase{"StillSlowAfter",
                 kBench,
                 true,
                 kRanWell,
                 {"--tune-adapters -p COM5 -p COM8"},
                 "COM5, adapter FT5K: latency timer not set (it reads 16 ms).",
                 "Not every latency timer was set.",
                 true,
                 false},
        TuneCase{"AllAtOneMs",
                 {Adapter(7, "FT7", 1), Port(6, "0001")},
                 true,
                 kRanWell,
                 {},
                 "Every FTDI adapter plugged in is set to a latency timer of 1 ms.",
                 "",
                 false},
        TuneCase{"NoFtdi",
                 {Port(6, "0001")},
                 true,
                 kRanWell,
                 {},
                 "No FTDI adapter is plugged in.",
                 "",
                 false}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- A job ----------------------------------------------------------------------------

// The job of tests/support/SignedJob.h (line3, three pagers, no expiry), its
// key and its firmware in the window's folder.
class BenchJobTest : public BenchModelTest {
 protected:
  void JobFiles(bool is_signed = true) {
    dir.Write("job.json", signed_job::kOpenJob);
    if (is_signed) {
      dir.Write("job.json.sig", signed_job::BytesOfHex(signed_job::kOpenJobSignatureHex));
    }
    dir.Write("eng-pub.pem", signed_job::kEngineeringKey);
    dir.Write("fw.hex", signed_job::kFirmware);
  }
  Texts UnderJob(const Texts& more) {
    Texts line = {"/job", dir.PathOf("job.json"), "/jobkey", dir.PathOf("eng-pub.pem")};
    line.insert(line.end(), more.begin(), more.end());
    return line;
  }
  // What the core does for a pager that ends: its place taken, then kept
  // or given back, then the news.
  void Pager(ExitCode code, int number) {
    IPagerPlaces& places = *runs.back().plan.places.at(0);
    ASSERT_TRUE(places.Reserve());
    places.Release(code == ExitCode::kFinished);
    End(0, code, number);
  }
};

TEST_F(BenchJobTest, TheJobSetsTheFirmwareTheRateAndTheResendsAndTheCardCountsDown) {
  JobFiles();
  Settings("Rate=2400\r\nResends=0\r\n");
  ASSERT_TRUE(Open(UnderJob({dir.PathOf("fw.hex"), "COM5"})));
  EXPECT_EQ(view.boxes, Texts{});
  EXPECT_EQ(LinesOf(view.card).job, "job line3: 3 of 3 left, no expiry");
  EXPECT_EQ(view.rate, 9600);
  EXPECT_EQ(view.resends, 3);
  EXPECT_FALSE(view.controls.setup);
  model.ChooseRate(4800);
  EXPECT_EQ(view.rate, 9600);
  model.ChooseFirmware(
      dir.Write("other.hex", HexFileText({HexRecordText(0, 0, Bytes(16, 1)), kEndRecordLine})));
  ASSERT_EQ(view.boxes.size(), 1u);
  EXPECT_TRUE(view.boxes[0].starts_with("other.hex is not the job's firmware")) << view.boxes[0];
  EXPECT_EQ(view.card.sha256, Sha256Hex(signed_job::kFirmware)) << "the job's firmware stays";
  model.StartClick();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].plan.ports.at(0).job.baud, 9600);
  EXPECT_EQ(runs[0].plan.log_job.name, "line3");
  Pager(ExitCode::kFinished, 1);
  Pager(ExitCode::kRewindsExceeded, 2);
  EXPECT_EQ(LinesOf(view.card).job, "job line3: 2 of 3 left, no expiry");
}

TEST_F(BenchJobTest, AReachedQuotaEndsTheRunAndRefusesTheNext) {
  JobFiles();
  ASSERT_TRUE(Open(UnderJob({"/run", dir.PathOf("fw.hex"), "COM5"})));
  ASSERT_EQ(runs.size(), 1u);
  for (int number = 1; number <= 3; ++number) Pager(ExitCode::kFinished, number);
  RunEnds();
  EXPECT_TRUE(view.status.starts_with("quota reached: 3 of 3")) << view.status;
  model.StartClick();
  EXPECT_EQ(runs.size(), 1u);
  ASSERT_EQ(view.boxes.size(), 1u);
  EXPECT_TRUE(view.boxes[0].starts_with("The job is refused.\nThe job's quota is used up"))
      << view.boxes[0];
}

TEST_F(BenchJobTest, AnUnsignedJobIsABoxSayingWhyAndStartsNothing) {
  JobFiles(false);
  ASSERT_TRUE(Open(UnderJob({"/run", dir.PathOf("fw.hex"), "COM5"})));
  ASSERT_EQ(view.boxes.size(), 1u);
  EXPECT_TRUE(view.boxes[0].starts_with("The job is refused.\nThe job is not signed"))
      << view.boxes[0];
  EXPECT_EQ(LinesOf(view.card).job, "job refused");
  EXPECT_TRUE(runs.empty());
}

// A port set aside is resumed from its tile.
TEST_F(BenchModelTest, APortSetAsideSaysWhyAndIsResumedFromItsTile) {
  ASSERT_TRUE(Open({"/run", Firmware(), "COM5", "COM6"}));
  StationRow row;
  row.port = "COM6";
  row.state = PortState::kSetAside;
  row.failed_in_row = 3;
  model.Inbox().OnRow(1, row);
  StationEvent aside;
  aside.kind = StationEventKind::kSetAside;
  aside.index = 1;
  model.Inbox().OnEvent(aside);
  model.TakeNews();
  EXPECT_EQ(view.tiles[1].state, "set aside");
  EXPECT_EQ(view.tiles[1].detail, "set aside: 3 failed in a row, check the cable");
  EXPECT_TRUE(view.tiles[1].resumable);
  EXPECT_FALSE(view.tiles[0].resumable);
  EXPECT_EQ(view.sounds, std::vector<BenchSound>{BenchSound::kSetAside});
  model.ResumePort(1);
  EXPECT_EQ(runs[0].resumed, std::vector<std::size_t>{1});
}

}  // namespace
