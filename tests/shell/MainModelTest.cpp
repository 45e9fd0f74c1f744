#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/Hexproc.h"
#include "link/Dcommthread.h"
#include "shell/Globals.h"
#include "shell/MainModel.h"
#include "shell/Settings.h"
#include "tests/shell/ShellTestSupport.h"
#include "tests/support/HexText.h"
#include "tests/support/RecordingGui.h"
#include "tests/support/ScriptedPager.h"
#include "tests/support/VirtualClock.h"

namespace {

namespace fs = std::filesystem;
using Texts = std::vector<std::string>;

const Texts kPortItems = {"MnCOM1", "MnCOM2", "MnCOM3", "MnCOM4"};
const Texts kRateItems = {"Mn2400bps", "Mn4800bps", "Mn9600bps"};
const Texts kResendItems = {"MnNone", "Mn3times", "Mn5times"};

const std::string kRecA = HexRecordText(0x0000, 0, Bytes(16));
const std::string kRecB = HexRecordText(0x0010, 0, Bytes(16, 0x40));
const std::string kRecC = HexRecordText(0x0020, 0, Bytes(16, 0x80));

constexpr char kFinished[] = "Firmware updated finished.";
constexpr char kNoResponse[] = "No response from the pager, flash now terminated.";

// The checked items among `items`, in their order.
Texts CheckedAmong(const FakeMainView& view, const Texts& items) {
  Texts checked;
  for (const std::string& item : items) {
    if (view.IsChecked(item)) checked.push_back(item);
  }
  return checked;
}

// A window in its own directory, with a scripted pager on its channel and a
// clock that moves only when the engine waits. The timer ticks at every event
// pump while it is enabled, as it would in a real window.
class ModelTest : public ::testing::Test {
 protected:
  ModelTest() {
    Comm->DeviceFactory = pager.Factory();
    view.model = &model;
    view.gui = &gui;
    gui.on_pump = [this] {
      if (view.timer_enabled) model.Timer1Timer();
      if (during_update) during_update();
    };
  }

  std::string HexFile() { return dir.Write("fw.hex", HexFileText({kRecA, kRecB, kEndRecordLine})); }

  // Shows the window with the given settings file, and chooses a HEX file.
  void ShowReady(const std::string& settings = "1\r\nM\r\n3\r\n") {
    dir.Write(kSettingsFileName, settings);
    model.FormShow();
    view.file_name = HexFile();
  }

  // Runs `action` at the `n`th event pump of the update (counted from 1).
  void AtPump(int n, std::function<void()> action) {
    during_update = [this, n, action] {
      if (gui.pumps == n) action();
    };
  }

  TempDir dir;
  InDirectory cwd{dir.path()};
  FreshGlobals globals;
  VirtualClock clock{1000};
  RecordingGui gui;
  ScriptedPager pager{clock};
  FakeMainView view;
  MainModel model{view, gui, clock};
  std::function<void()> during_update;
};

// ---- Construction ----------------------------------------------------------

class Construction : public ::testing::TestWithParam<int> {
 protected:
  FreshGlobals globals;
  FakeMainView view;
  RecordingGui gui;
};

TEST_P(Construction, CreatesTheChannelIdleAtTheSettingsPort) {
  ComPortIndex = static_cast<std::int8_t>(GetParam());
  {
    MainModel model(view, gui);
    ASSERT_NE(Comm, nullptr);
    EXPECT_EQ(Comm->Port, GetParam());
    EXPECT_EQ(Comm->BaudRate, 1200);
    EXPECT_EQ(Comm->Parity, 0);
    EXPECT_EQ(Comm->ByteSizeCode, 3);
    EXPECT_EQ(Comm->StopBits, 0);
    EXPECT_FALSE(Comm->IsOpened());
    EXPECT_EQ(Flow, nullptr);
  }
  EXPECT_EQ(Comm, nullptr) << "a model destroyed without FormClose still frees the channel";
  EXPECT_TRUE(view.checks.empty()) << "no item is checked before the window is shown";
}

INSTANTIATE_TEST_SUITE_P(Ports, Construction, ::testing::Values(0, 3, -1));

// ---- First show ---------------------------------------------------------------

struct ShowCase {
  const char* name;
  const char* settings;  // nullptr: no settings file
  Texts checked;
  int port;
  int rate;
};

void PrintTo(const ShowCase& c, std::ostream* out) { *out << c.name; }

class FirstShow : public ModelTest, public ::testing::WithParamInterface<ShowCase> {};

TEST_P(FirstShow, LoadsTheSettingsChecksTheirItemsAndSetsTheChannel) {
  if (GetParam().settings != nullptr) dir.Write(kSettingsFileName, GetParam().settings);
  model.FormShow();
  Texts checked = CheckedAmong(view, kPortItems);
  for (const Texts* group : {&kRateItems, &kResendItems}) {
    const Texts more = CheckedAmong(view, *group);
    checked.insert(checked.end(), more.begin(), more.end());
  }
  EXPECT_EQ(checked, GetParam().checked);
  EXPECT_EQ(Comm->Port, GetParam().port);
  EXPECT_EQ(Comm->BaudRate, GetParam().rate);
  EXPECT_EQ(view.positions, std::vector<int>{0});
  EXPECT_FALSE(Comm->IsOpened());
}

INSTANTIATE_TEST_SUITE_P(
    Settings, FirstShow,
    ::testing::Values(
        ShowCase{"NoFile", nullptr, {"MnCOM1", "Mn4800bps", "Mn3times"}, 0, 4800},
        ShowCase{"Com3High5", "3\r\nH\r\n5\r\n", {"MnCOM3", "Mn9600bps", "Mn5times"}, 2, 9600},
        ShowCase{"Com2LowNone", "2\r\nL\r\n0\r\n", {"MnCOM2", "Mn2400bps", "MnNone"}, 1, 2400},
        ShowCase{
            "ResendFourChecksNoResendItem", "4\r\nM\r\n4\r\n", {"MnCOM4", "Mn4800bps"}, 3, 4800},
        ShowCase{"UnmatchedValuesCheckNothing", "9\r\nX\r\n3\r\n", {"Mn3times"}, 8, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ModelTest, FirstShowWithoutAFileWritesTheDefaults) {
  model.FormShow();
  EXPECT_EQ(ReadBytes(dir.path() / kSettingsFileName), "1\r\nM\r\n3\r\n");
}

TEST_F(ModelTest, OnlyTheFirstShowLoadsTheSettings) {
  dir.Write(kSettingsFileName, "2\r\nL\r\n0\r\n");
  model.FormShow();
  model.MnCOMClick("MnCOM4");
  dir.Write(kSettingsFileName, "3\r\nH\r\n5\r\n");
  model.FormShow();
  EXPECT_EQ(ComPortIndex, 3);
  EXPECT_EQ(FlashBaudRate, 2400);
  EXPECT_EQ(ResendTimes, 0);
}

// ---- Setup menu ------------------------------------------------------------

struct MenuChoiceCase {
  const char* item;
  void (MainModel::*click)(const std::string&);
  const Texts* group;
  int value;
};

void PrintTo(const MenuChoiceCase& c, std::ostream* out) { *out << c.item; }

int CurrentValueOf(const Texts* group) {
  if (group == &kPortItems) return ComPortIndex;
  if (group == &kRateItems) return FlashBaudRate;
  return ResendTimes;
}

class MenuChoices : public ModelTest, public ::testing::WithParamInterface<MenuChoiceCase> {};

TEST_P(MenuChoices, CheckOnlyTheClickedItemOfItsGroupAndSetTheGlobal) {
  const MenuChoiceCase& choice = GetParam();
  const Texts& group = *choice.group;
  // Another item of the group was checked before.
  const std::string other = group.front() == choice.item ? group.back() : group.front();
  (model.*choice.click)(other);
  (model.*choice.click)(choice.item);
  EXPECT_EQ(CheckedAmong(view, group), Texts{choice.item});
  EXPECT_EQ(CurrentValueOf(choice.group), choice.value);
  for (const Texts* group_of_others : {&kPortItems, &kRateItems, &kResendItems}) {
    if (group_of_others == choice.group) continue;
    EXPECT_TRUE(CheckedAmong(view, *group_of_others).empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Setup, MenuChoices,
    ::testing::Values(MenuChoiceCase{"MnCOM1", &MainModel::MnCOMClick, &kPortItems, 0},
                      MenuChoiceCase{"MnCOM2", &MainModel::MnCOMClick, &kPortItems, 1},
                      MenuChoiceCase{"MnCOM3", &MainModel::MnCOMClick, &kPortItems, 2},
                      MenuChoiceCase{"MnCOM4", &MainModel::MnCOMClick, &kPortItems, 3},
                      MenuChoiceCase{"Mn2400bps", &MainModel::MnBaudRateClick, &kRateItems, 2400},
                      MenuChoiceCase{"Mn4800bps", &MainModel::MnBaudRateClick, &kRateItems, 4800},
                      MenuChoiceCase{"Mn9600bps", &MainModel::MnBaudRateClick, &kRateItems, 9600},
                      MenuChoiceCase{"MnNone", &MainModel::MnResendClick, &kResendItems, 0},
                      MenuChoiceCase{"Mn3times", &MainModel::MnResendClick, &kResendItems, 3},
                      MenuChoiceCase{"Mn5times", &MainModel::MnResendClick, &kResendItems, 5}),
    [](const auto& info) { return std::string(info.param.item); });

TEST_F(ModelTest, PortChoiceWhileIdleSetsTheChannelPortAndOpensNothing) {
  model.MnCOMClick("MnCOM2");
  EXPECT_EQ(Comm->Port, 1);
  EXPECT_EQ(pager.opens, 0);
  EXPECT_EQ(Comm->DeviceName(), "COM2");
}

TEST_F(ModelTest, PortChoiceClosesAnOpenChannel) {
  ASSERT_TRUE(Comm->OpenPort());
  model.MnCOMClick("MnCOM3");
  EXPECT_FALSE(Comm->IsOpened());
  EXPECT_EQ(pager.closes, 1);
  EXPECT_EQ(Comm->Port, 2);
}

TEST_F(ModelTest, RateChoiceLeavesTheChannelAlone) {
  ASSERT_TRUE(Comm->OpenPort());
  model.MnBaudRateClick("Mn9600bps");
  EXPECT_TRUE(Comm->IsOpened());
  EXPECT_EQ(Comm->BaudRate, 1200);
  EXPECT_EQ(FlashBaudRate, 9600);
}

TEST_F(ModelTest, UnknownItemNamesChangeNothing) {
  model.MnCOMClick("MnCOM0");
  model.MnCOMClick("MnCOM256");
  model.MnBaudRateClick("Mn1200bps");
  model.MnResendClick("Mn4times");
  model.MnCOMClick("Mn2400bps");  // an item of another group
  EXPECT_TRUE(view.checks.empty());
  EXPECT_EQ(ComPortIndex, 0);
  EXPECT_EQ(FlashBaudRate, 0);
  EXPECT_EQ(ResendTimes, 0);
}

class ListedPortChoice : public ModelTest, public ::testing::WithParamInterface<int> {};

TEST_P(ListedPortChoice, WorksAsTheFixedItemsDo) {
  const int number = GetParam();
  const std::string item = "MnCOM" + std::to_string(number);
  ShowReady();
  model.MnCOMClick("MnCOM2");
  ASSERT_TRUE(Comm->OpenPort());
  model.MnCOMClick(item);
  EXPECT_TRUE(CheckedAmong(view, kPortItems).empty());
  EXPECT_TRUE(view.IsChecked(item));
  EXPECT_FALSE(Comm->IsOpened());
  EXPECT_EQ(Comm->DeviceName(), "COM" + std::to_string(number));
  // The next menu shows the choice, present or not.
  const auto items = model.ListedPortMenu({});
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].Caption, "COM" + std::to_string(number) + " (not present)");
  EXPECT_TRUE(items[0].Checked);
  // At close the settings file keeps the number.
  model.FormClose();
  EXPECT_EQ(ReadBytes(dir.path() / kSettingsFileName), std::to_string(number) + "\r\nM\r\n3\r\n");
}

INSTANTIATE_TEST_SUITE_P(Ports, ListedPortChoice, ::testing::Values(5, 12, 128, 129, 200, 255));

// A settings file naming COM12: its item checked at start, present or gone;
// "0" checks nothing.
TEST_F(ModelTest, SettingsPortAboveFourIsCheckedInTheListPresentOrNot) {
  dir.Write(kSettingsFileName, "12\r\nM\r\n3\r\n");
  model.FormShow();
  EXPECT_TRUE(CheckedAmong(view, kPortItems).empty());
  PortInfo com12;
  com12.Name = "COM12";
  com12.Number = 12;
  auto captions_checked = [&](const std::vector<PortInfo>& present) {
    std::string shown;
    for (const PortMenuItem& item : model.ListedPortMenu(present)) {
      shown += item.Caption + (item.Checked ? "*" : "") + ";";
    }
    return shown;
  };
  EXPECT_EQ(captions_checked({com12}), "COM12*;");
  EXPECT_EQ(captions_checked({}), "COM12 (not present)*;");
  ComPortIndex = -1;
  EXPECT_EQ(captions_checked({com12}), "COM12;");
}

// ---- File, Open... -------------------------------------------------------------

TEST_F(ModelTest, OpenShowsTheHexFilterAndTakesTheChosenFile) {
  view.dialog_answer = "C:\\fw\\pager.hex";
  model.Open1Click();
  EXPECT_EQ(view.dialog_filters, Texts{"Hexdeciaml MCU Files (*.HEX)|*.HEX|All Files (*.*)|*.*"});
  EXPECT_EQ(view.file_name, "C:\\fw\\pager.hex");
  EXPECT_EQ(view.focus_requests, 1);
}

TEST_F(ModelTest, FileFromOutsideIsTakenAsOpenTakesItAndStartsNothing) {
  model.FormShow();
  model.ChooseFile("C:\\fw\\pager.hex");
  EXPECT_EQ(view.file_name, "C:\\fw\\pager.hex");
  EXPECT_EQ(view.focus_requests, 1);
  EXPECT_TRUE(view.dialog_filters.empty());
  EXPECT_EQ(pager.opens, 0);
  EXPECT_TRUE(gui.boxes.empty());
}

TEST_F(ModelTest, CancelledOpenKeepsTheFileName) {
  view.file_name = "old.hex";
  model.Open1Click();
  EXPECT_EQ(view.file_name, "old.hex");
  EXPECT_EQ(view.focus_requests, 0);
}

// ---- Update command ------------------------------------------------------------

TEST_F(ModelTest, UpdateWithoutAFileWarnsAndDoesNothingElse) {
  model.FormShow();
  model.BtUpdateClick();
  ASSERT_EQ(gui.boxes.size(), 1u);
  EXPECT_EQ(gui.boxes[0].text, "Please load a .HEX file first.");
  EXPECT_EQ(gui.boxes[0].caption, "Opan a file");
  EXPECT_EQ(gui.boxes[0].style, 48u);
  EXPECT_EQ(pager.opens, 0);
  EXPECT_TRUE(view.button_changes.empty());
  EXPECT_TRUE(view.timer_changes.empty());
}

TEST_F(ModelTest, UpdateRunsWithTheButtonDisabledAndTheTimerOnThenReturnsToIdle) {
  ShowReady();
  std::vector<bool> button_during, timer_during;
  std::vector<const UpdateFlow*> flow_during;
  during_update = [&] {
    button_during.push_back(view.button_enabled);
    timer_during.push_back(view.timer_enabled);
    flow_during.push_back(Flow);
  };
  model.BtUpdateClick();

  EXPECT_EQ(pager.CommandTexts(),
            (Texts{"f", "b4800B8", "e0", "s" + kRecA, "p", "s" + kRecB, "p", "q"}));
  EXPECT_EQ(gui.Texts(), Texts{kFinished});
  ASSERT_FALSE(flow_during.empty());
  EXPECT_NE(flow_during.front(), nullptr);
  EXPECT_TRUE(std::all_of(button_during.begin(), button_during.end(), [](bool b) { return !b; }));
  EXPECT_TRUE(std::all_of(timer_during.begin(), timer_during.end(), [](bool t) { return t; }));
  EXPECT_EQ(view.button_changes, (std::vector<bool>{false, true}));
  EXPECT_EQ(view.timer_changes, (std::vector<bool>{true, false}));
  EXPECT_EQ(view.positions.back(), 0);
  EXPECT_EQ(view.captions.back(), "0%");
  EXPECT_EQ(Flow, nullptr);
  EXPECT_FALSE(model.IsUpdating());
  EXPECT_FALSE(Comm->IsOpened());
}

TEST_F(ModelTest, TimerShowsTheProgressAsBarAndPercentage) {
  ShowReady();
  // Replies take their time, so events are pumped between the records.
  pager.respond = [](const SentCommand&, int) { return PagerReply::Ack(30); };
  model.BtUpdateClick();
  // Drop the first show's 0 and the return to idle at the end.
  ASSERT_GE(view.positions.size(), 3u);
  const std::vector<int> ticks(view.positions.begin() + 1, view.positions.end() - 1);
  const Texts tick_captions(view.captions.begin(), view.captions.end() - 1);
  ASSERT_EQ(ticks.size(), tick_captions.size());
  for (std::size_t i = 0; i < ticks.size(); ++i) {
    EXPECT_EQ(tick_captions[i], std::to_string(ticks[i]) + "%");
  }
  EXPECT_TRUE(std::is_sorted(ticks.begin(), ticks.end()));
  EXPECT_GT(ticks.back(), 0);
  EXPECT_LE(ticks.back(), 100);
}

TEST_F(ModelTest, TimerTickOutsideAnUpdateShowsNothing) {
  model.Timer1Timer();
  EXPECT_TRUE(view.positions.empty());
  EXPECT_TRUE(view.captions.empty());
}

TEST_F(ModelTest, UpdateUsesTheRateChosenFromTheMenu) {
  ShowReady();
  model.MnBaudRateClick("Mn9600bps");
  model.BtUpdateClick();
  ASSERT_GE(pager.commands.size(), 3u);
  EXPECT_EQ(pager.commands[0].rate, 1200u);
  EXPECT_EQ(pager.commands[1].bytes, "b96006A");
  EXPECT_EQ(pager.commands[2].rate, 9600u);
}

// ---- Commands that arrive during an update ------------------------------------

TEST_F(ModelTest, UpdateDuringAnUpdateStartsNoSecondRun) {
  ShowReady();
  AtPump(1, [&] { model.BtUpdateClick(); });
  model.BtUpdateClick();
  EXPECT_EQ(pager.CommandTexts(),
            (Texts{"f", "b4800B8", "e0", "s" + kRecA, "p", "s" + kRecB, "p", "q"}));
  EXPECT_EQ(gui.Texts(), Texts{kFinished});
  EXPECT_EQ(pager.opens, 2) << "the first open and the reopen at 4800 only";
}

TEST_F(ModelTest, UpdateAfterAnUpdateRunsAgain) {
  ShowReady();
  model.BtUpdateClick();
  model.BtUpdateClick();
  EXPECT_EQ(gui.Texts(), (Texts{kFinished, kFinished}));
  EXPECT_EQ(pager.commands.size(), 16u);
}

TEST_F(ModelTest, CloseDuringAnUpdateWaitsForItsEndThenSaves) {
  ShowReady();
  model.MnCOMClick("MnCOM2");
  model.MnResendClick("Mn5times");
  bool closed_early = false;
  AtPump(1, [&] { model.Exit1Click(); });
  gui.on_box = [&](const ShownBox&) { closed_early = closed_early || view.closed; };
  model.BtUpdateClick();

  EXPECT_FALSE(closed_early);
  EXPECT_EQ(pager.CommandTexts().back(), "q") << "the update went on to its end";
  EXPECT_EQ(gui.Texts(), Texts{kFinished});
  EXPECT_TRUE(view.closed);
  EXPECT_EQ(Comm, nullptr);
  EXPECT_EQ(pager.open_devices, 0);
  EXPECT_EQ(ReadBytes(dir.path() / kSettingsFileName), "2\r\nM\r\n5\r\n");
}

TEST_F(ModelTest, CloseBoxDuringAnUpdateIsRefusedUntilItsEnd) {
  ShowReady();
  bool allowed = true;
  AtPump(1, [&] { allowed = model.FormCloseQuery(); });
  model.BtUpdateClick();
  EXPECT_FALSE(allowed);
  EXPECT_TRUE(view.closed) << "the refused close is carried out after the update";
}

TEST_F(ModelTest, CloseWhileTheLastBoxIsOpenWaitsUntilItIsDismissed) {
  ShowReady();
  bool closed_at_box = true;
  gui.on_box = [&](const ShownBox&) {
    model.Exit1Click();
    closed_at_box = view.closed;
  };
  model.BtUpdateClick();
  EXPECT_FALSE(closed_at_box);
  EXPECT_EQ(pager.CommandTexts().back(), "q") << "the exit command still went out";
  EXPECT_TRUE(view.closed);
  EXPECT_EQ(Comm, nullptr);
}

TEST_F(ModelTest, CloseWhileTheNoFileWarningIsOpenWaitsForIt) {
  model.FormShow();
  bool closed_at_box = true;
  gui.on_box = [&](const ShownBox&) {
    model.Exit1Click();
    closed_at_box = view.closed;
  };
  model.BtUpdateClick();
  EXPECT_FALSE(closed_at_box);
  EXPECT_TRUE(view.closed);
}

TEST_F(ModelTest, CloseWhileTheOpenDialogRunsWaitsForIt) {
  view.dialog_answer = "pager.hex";
  bool closed_in_dialog = true;
  view.on_open_dialog = [&] {
    model.Exit1Click();
    closed_in_dialog = view.closed;
  };
  model.Open1Click();
  EXPECT_FALSE(closed_in_dialog);
  EXPECT_EQ(view.file_name, "pager.hex");
  EXPECT_TRUE(view.closed);
}

// File, Open..., and a file from outside (command line, dropped), alike.
class FileDuringAnUpdate : public ModelTest, public ::testing::WithParamInterface<bool> {};

TEST_P(FileDuringAnUpdate, TakesTheNameButNotTheFocus) {
  const bool from_outside = GetParam();
  ShowReady();
  const std::string running = view.file_name;
  view.dialog_answer = dir.Write("next.hex", HexFileText({kRecC, kEndRecordLine}));
  AtPump(1, [&] { from_outside ? model.ChooseFile(*view.dialog_answer) : model.Open1Click(); });
  model.BtUpdateClick();
  EXPECT_EQ(view.file_name, *view.dialog_answer);
  EXPECT_EQ(view.focus_requests, 0);
  EXPECT_EQ(pager.CommandTexts()[5], "s" + kRecB) << "the running update keeps its file";

  model.BtUpdateClick();
  EXPECT_EQ(pager.CommandTexts()[11], "s" + kRecC) << "the next update takes the new file";
}

INSTANTIATE_TEST_SUITE_P(Ways, FileDuringAnUpdate, ::testing::Values(false, true),
                         [](const auto& info) {
                           return info.param ? "FromOutside" : "OpenDialog";
                         });

TEST_F(ModelTest, PortChoiceDuringAnUpdateEndsItAsASilentPager) {
  ShowReady();
  AtPump(1, [&] { model.MnCOMClick("MnCOM2"); });
  model.BtUpdateClick();
  EXPECT_EQ(gui.Texts(), Texts{kNoResponse});
  // The close came while the first record was on its way: nothing after it.
  EXPECT_EQ(pager.CommandTexts().back().front(), 's') << "nothing reached the line after the close";
  EXPECT_EQ(std::count(pager.wire.begin(), pager.wire.end(), 's'), 1);
  EXPECT_EQ(pager.open_devices, 0);
  EXPECT_EQ(view.captions.back(), "0%");

  model.BtUpdateClick();
  EXPECT_EQ(pager.opened_names.back(), "COM2") << "the next update opens the chosen port";
}

TEST_F(ModelTest, RateChoiceDuringAnUpdateAppliesToTheNextOne) {
  ShowReady();
  AtPump(1, [&] { model.MnBaudRateClick("Mn2400bps"); });
  model.BtUpdateClick();
  model.BtUpdateClick();
  EXPECT_EQ(pager.commands[1].bytes, "b4800B8");
  EXPECT_EQ(pager.commands[9].bytes, "b2400DC");
}

// ---- An update that fails with an exception -------------------------------------

class FailingUpdate : public ModelTest {
 protected:
  FailingUpdate() {
    pager.respond = [this](const SentCommand& command, int) {
      if (fail && command.bytes == "p") throw std::runtime_error("line broke");
      return PagerReply::Ack();
    };
  }
  bool fail = true;
};

TEST_F(FailingUpdate, ReturnsToIdleAndPassesTheException) {
  ShowReady();
  EXPECT_THROW(model.BtUpdateClick(), std::runtime_error);
  EXPECT_FALSE(model.IsUpdating());
  EXPECT_EQ(Flow, nullptr);
  EXPECT_TRUE(view.button_enabled);
  EXPECT_FALSE(view.timer_enabled);
  EXPECT_EQ(view.captions.back(), "0%");
  EXPECT_FALSE(Comm->IsOpened()) << "the port is not left held";

  fail = false;
  model.BtUpdateClick();
  EXPECT_EQ(gui.Texts(), Texts{kFinished});
}

TEST_F(FailingUpdate, DropsACloseAskedForMeanwhile) {
  ShowReady();
  AtPump(1, [&] { model.Exit1Click(); });
  EXPECT_THROW(model.BtUpdateClick(), std::runtime_error);
  EXPECT_FALSE(view.closed) << "the error box comes first";
  model.Exit1Click();
  EXPECT_TRUE(view.closed);
}

// ---- Closing -------------------------------------------------------------------------

TEST_F(ModelTest, CloseWhileIdleClosesTheChannelAndSavesTheChoices) {
  model.FormShow();
  model.MnCOMClick("MnCOM3");
  model.MnBaudRateClick("Mn2400bps");
  model.MnResendClick("MnNone");
  ASSERT_TRUE(Comm->OpenPort());
  EXPECT_TRUE(model.FormCloseQuery());
  model.Exit1Click();
  EXPECT_TRUE(view.closed);
  EXPECT_EQ(Comm, nullptr);
  EXPECT_EQ(pager.open_devices, 0);
  EXPECT_EQ(ReadBytes(dir.path() / kSettingsFileName), "3\r\nL\r\n0\r\n");
}

TEST_F(ModelTest, CloseSavesNothingWhenTheFileIsGone) {
  model.FormShow();
  fs::remove(dir.path() / kSettingsFileName);
  model.MnCOMClick("MnCOM2");
  model.FormClose();
  EXPECT_EQ(Comm, nullptr);
  EXPECT_TRUE(FileNamesIn(dir.path()).empty());
}

}  // namespace
