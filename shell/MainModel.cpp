#include "shell/MainModel.h"

#include <span>

#include "common/PortIndex.h"
#include "engine/Hexproc.h"
#include "link/Dcommthread.h"
#include "shell/Globals.h"
#include "shell/Settings.h"

namespace {

// One radio item of a Setup submenu and the value it stands for.
struct Choice {
  const char* item;
  std::int32_t value;
};

constexpr Choice kPortChoices[] = {{"MnCOM1", 0}, {"MnCOM2", 1}, {"MnCOM3", 2}, {"MnCOM4", 3}};
constexpr Choice kRateChoices[] = {{"Mn2400bps", 2400}, {"Mn4800bps", 4800}, {"Mn9600bps", 9600}};
constexpr Choice kResendChoices[] = {{"MnNone", 0}, {"Mn3times", 3}, {"Mn5times", 5}};

const Choice* FindByItem(std::span<const Choice> group, const std::string& item) {
  for (const Choice& choice : group) {
    if (item == choice.item) return &choice;
  }
  return nullptr;
}

// Checks the item that stands for `value` and clears the rest of its group;
// a value no item stands for leaves the whole group clear.
void CheckByValue(IMainView& view, std::span<const Choice> group, std::int32_t value) {
  for (const Choice& choice : group) view.SetMenuChecked(choice.item, choice.value == value);
}

void CheckItem(IMainView& view, std::span<const Choice> group, const Choice& checked) {
  for (const Choice& choice : group) view.SetMenuChecked(choice.item, &choice == &checked);
}

constexpr std::uint8_t kNoParity = 0;
constexpr std::uint8_t kEightDataBits = 3;  // data bits minus 5
constexpr std::uint8_t kOneStopBit = 0;

}  // namespace

std::int32_t MainModel::SetupChoices::FlashBaudRate() const { return ::FlashBaudRate; }
std::int32_t MainModel::SetupChoices::ResendTimes() const { return ::ResendTimes; }

MainModel::MainModel(IMainView& view, IGuiServices& gui, ITickSource& clock)
    : view_(view), gui_(gui), clock_(clock), comm_(std::make_unique<TDComm>(gui, clock)) {
  comm_->Port = ComPortIndex;
  comm_->BaudRate = kStartBaudRate;
  comm_->Parity = kNoParity;
  comm_->ByteSizeCode = kEightDataBits;
  comm_->StopBits = kOneStopBit;
  Comm = comm_.get();
}

MainModel::~MainModel() {
  if (Comm == comm_.get()) Comm = nullptr;
}

template <typename Work>
void MainModel::RunDeferringClose(Work work) {
  ++modal_depth_;
  try {
    work();
  } catch (...) {
    LeaveModalHandler(false);
    throw;
  }
  LeaveModalHandler(true);
}

// After a failed handler the close asked for meanwhile is dropped: the error
// box comes next, and the user may close again once it has been read.
void MainModel::LeaveModalHandler(bool carry_out_close) {
  --modal_depth_;
  if (modal_depth_ > 0 || !close_pending_) return;
  close_pending_ = false;
  if (carry_out_close) view_.CloseForm();
}

void MainModel::FormShow() {
  if (shown_) return;
  shown_ = true;
  LoadSettings();
  CheckSettingsItems();
  view_.SetProgressPosition(0);
  Comm->Port = ComPortIndex;
  Comm->BaudRate = FlashBaudRate;
}

void MainModel::CheckSettingsItems() {
  CheckByValue(view_, kPortChoices, ComPortIndex);
  CheckByValue(view_, kRateChoices, FlashBaudRate);
  CheckByValue(view_, kResendChoices, ResendTimes);
}

void MainModel::Open1Click() {
  RunDeferringClose([this] {
    const auto path = view_.RunOpenDialog(kOpenDialogFilter);
    if (path) ChooseFile(*path);
  });
}

void MainModel::ChooseFile(const std::string& path) {
  view_.SetFileNameText(path);
  // During an update the button is disabled and cannot take the focus; the
  // running update keeps the file it holds.
  if (!IsUpdating()) view_.FocusUpdateButton();
}

void MainModel::BtUpdateClick() {
  // A closed window has no channel left to update over.
  if (IsUpdating() || closed_) return;
  RunDeferringClose([this] {
    const std::string file_name = view_.FileNameText();
    if (file_name.empty()) {
      view_.ShowMessage(kNoFileText, kNoFileCaption, kStyleWarning);
      return;
    }
    RunUpdate(file_name);
  });
}

void MainModel::RunUpdate(const std::string& file_name) {
  // The window hands the update its channel, its Setup choices, its event
  // pump and boxes, and its clock.
  flow_ = std::make_unique<UpdateFlow>(UpdateContext{*Comm, choices_, gui_, clock_});
  Flow = flow_.get();
  view_.SetUpdateButtonEnabled(false);
  view_.SetTimerEnabled(true);
  // An exception out of the update still returns the window to idle, so the
  // next Update command works once the error box has been dismissed. The
  // update closes the port on its every normal end; here it had no chance to.
  try {
    flow_->Run(file_name);
  } catch (...) {
    if (Comm != nullptr && Comm->IsOpened()) Comm->ClosePort();
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void MainModel::EndUpdate() {
  view_.SetUpdateButtonEnabled(true);
  view_.SetTimerEnabled(false);
  view_.SetProgressPosition(0);
  view_.SetPercentCaption("0%");
  Flow = nullptr;
  flow_.reset();
}

void MainModel::Timer1Timer() {
  // A tick already queued when the timer was stopped finds no update.
  if (Flow == nullptr) return;
  const int percent = Flow->GetProgress();
  view_.SetProgressPosition(percent);
  view_.SetPercentCaption(std::to_string(percent) + "%");
}

void MainModel::MnCOMClick(const std::string& item) {
  if (const Choice* choice = FindByItem(kPortChoices, item)) {
    CheckItem(view_, kPortChoices, *choice);
    return ChoosePort(static_cast<std::int8_t>(choice->value));
  }
  const int number = PortNumberOfItem(item);
  if (number < kFirstListedComNumber) return;
  // None of COM 1 to COM 4; the listed items get their checks when the menu
  // is next built.
  CheckByValue(view_, kPortChoices, -1);
  view_.SetMenuChecked(item, true);
  ChoosePort(PortIndexOfNumber(number));
}

std::vector<PortMenuItem> MainModel::ListedPortMenu(const std::vector<PortInfo>& present) const {
  return ListedPortItems(present, PortNumberOfIndex(ComPortIndex));
}

void MainModel::ChoosePort(std::int8_t index) {
  ComPortIndex = index;
  if (Comm == nullptr) return;
  // During an update this ends it as a silent pager would: the next exchange
  // meets a closed channel.
  if (Comm->IsOpened()) Comm->ClosePort();
  Comm->Port = ComPortIndex;
}

void MainModel::MnBaudRateClick(const std::string& item) {
  const Choice* choice = FindByItem(kRateChoices, item);
  if (choice == nullptr) return;
  CheckItem(view_, kRateChoices, *choice);
  // The update sets the channel's rates itself; it reads this at its rate change.
  FlashBaudRate = choice->value;
}

void MainModel::MnResendClick(const std::string& item) {
  const Choice* choice = FindByItem(kResendChoices, item);
  if (choice == nullptr) return;
  CheckItem(view_, kResendChoices, *choice);
  ResendTimes = choice->value;
}

void MainModel::Exit1Click() { view_.CloseForm(); }

bool MainModel::FormCloseQuery() {
  if (closed_ || modal_depth_ == 0) return true;
  // Comm must outlive the running update, and the window the open box.
  close_pending_ = true;
  return false;
}

void MainModel::FormClose() {
  if (closed_) return;
  closed_ = true;
  if (comm_->IsOpened()) comm_->ClosePort();
  if (Comm == comm_.get()) Comm = nullptr;
  comm_.reset();
  SaveSettings();
}
