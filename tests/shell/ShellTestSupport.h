// Scaffolding for the shell's tests: a current directory of the test's own,
// the settings globals put back afterwards, and a window that records what
// the model asks of it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/GuiServices.h"
#include "shell/Globals.h"
#include "shell/MainModel.h"

// Makes `directory` the current one until the end of the scope.
class InDirectory {
 public:
  explicit InDirectory(const std::filesystem::path& directory)
      : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(directory);
  }
  ~InDirectory() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
  }
  InDirectory(const InDirectory&) = delete;
  InDirectory& operator=(const InDirectory&) = delete;

 private:
  std::filesystem::path previous_;
};

// Zeroes the settings globals (their value at program start) and puts the
// old values back afterwards.
class FreshGlobals {
 public:
  FreshGlobals() {
    ComPortIndex = 0;
    FlashBaudRate = 0;
    ResendTimes = 0;
  }
  ~FreshGlobals() {
    ComPortIndex = port_;
    FlashBaudRate = rate_;
    ResendTimes = resend_;
    Comm = comm_;
    Flow = flow_;
  }
  FreshGlobals(const FreshGlobals&) = delete;
  FreshGlobals& operator=(const FreshGlobals&) = delete;

 private:
  std::int8_t port_ = ComPortIndex;
  std::int32_t rate_ = FlashBaudRate;
  std::int32_t resend_ = ResendTimes;
  TDComm* comm_ = Comm;
  UpdateFlow* flow_ = Flow;
};

inline std::string ReadBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::vector<std::string> FileNamesIn(const std::filesystem::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

// The window as the model sees it. Boxes go to the installed GUI services,
// as the real window's do, so one recorder sees the engine's and the
// window's boxes in the order they came.
class FakeMainView final : public IMainView {
 public:
  void SetMenuChecked(const std::string& item, bool checked) override { checks[item] = checked; }
  void SetUpdateButtonEnabled(bool enabled) override {
    button_enabled = enabled;
    button_changes.push_back(enabled);
  }
  void FocusUpdateButton() override { ++focus_requests; }
  std::string FileNameText() override { return file_name; }
  void SetFileNameText(const std::string& text) override { file_name = text; }
  void SetProgressPosition(int percent) override { positions.push_back(percent); }
  void SetPercentCaption(const std::string& caption) override { captions.push_back(caption); }
  void SetTimerEnabled(bool enabled) override {
    timer_enabled = enabled;
    timer_changes.push_back(enabled);
  }
  // As the window does on WM_CLOSE: ask, then close.
  void CloseForm() override {
    ++close_requests;
    if (model != nullptr && model->FormCloseQuery()) {
      model->FormClose();
      closed = true;
    }
  }
  std::optional<std::string> RunOpenDialog(const std::string& filter) override {
    dialog_filters.push_back(filter);
    if (on_open_dialog) on_open_dialog();
    return dialog_answer;
  }
  // The window's own boxes go where the engine's go.
  void ShowMessage(const std::string& text, const std::string& caption,
                   std::uint32_t style) override {
    if (gui != nullptr) gui->MessageBox(text, caption, style);
  }

  bool IsChecked(const std::string& item) const {
    const auto found = checks.find(item);
    return found != checks.end() && found->second;
  }

  MainModel* model = nullptr;
  IGuiServices* gui = nullptr;
  std::map<std::string, bool> checks;
  bool button_enabled = true;
  std::vector<bool> button_changes;
  int focus_requests = 0;
  std::string file_name;
  std::vector<int> positions;
  std::vector<std::string> captions;
  bool timer_enabled = false;
  std::vector<bool> timer_changes;
  int close_requests = 0;
  bool closed = false;
  std::vector<std::string> dialog_filters;
  std::optional<std::string> dialog_answer;
  std::function<void()> on_open_dialog;
};
