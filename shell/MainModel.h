// The main window's decisions, apart from any GUI toolkit: what each handler
// does to the settings globals, Comm, Flow, the menu checks, the button, the
// timer, the progress bar and the percentage label. The window forwards its
// events here and draws what the model asks of it through IMainView.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/Clock.h"
#include "common/GuiServices.h"
#include "engine/UpdateContext.h"
#include "shell/PortMenu.h"

class TDComm;
class UpdateFlow;

// What the model asks of the window. Menu items are named by their component
// names ("MnCOM1", "Mn2400bps", "MnNone", ...).
class IMainView {
 public:
  virtual ~IMainView() = default;
  virtual void SetMenuChecked(const std::string& item, bool checked) = 0;
  virtual void SetUpdateButtonEnabled(bool enabled) = 0;
  virtual void FocusUpdateButton() = 0;
  virtual std::string FileNameText() = 0;
  virtual void SetFileNameText(const std::string& text) = 0;
  virtual void SetProgressPosition(int percent) = 0;
  virtual void SetPercentCaption(const std::string& caption) = 0;
  virtual void SetTimerEnabled(bool enabled) = 0;
  // Asks the window to close; the window then calls FormCloseQuery and, when
  // that allows it, FormClose.
  virtual void CloseForm() = 0;
  // Runs the file-open dialog with a filter of "caption|pattern|..." pairs;
  // the chosen path, or nothing when the user cancelled.
  virtual std::optional<std::string> RunOpenDialog(const std::string& filter) = 0;
  // A modal box with a single OK button; returns once it is dismissed.
  virtual void ShowMessage(const std::string& text, const std::string& caption,
                           std::uint32_t style) = 0;
};

constexpr char kOpenDialogFilter[] = "Hexdeciaml MCU Files (*.HEX)|*.HEX|All Files (*.*)|*.*";
constexpr char kNoFileText[] = "Please load a .HEX file first.";
constexpr char kNoFileCaption[] = "Opan a file";

class MainModel {
 public:
  // Creates Comm: the port index from ComPortIndex, 1200 bit/s, 8 data bits,
  // no parity, one stop bit. Makes no call on the view. `gui` is the window's
  // event pump and boxes, handed with `clock` to Comm and to each update.
  MainModel(IMainView& view, IGuiServices& gui, ITickSource& clock = SystemTickSource());
  // Destroys Comm if FormClose has not.
  ~MainModel();
  MainModel(const MainModel&) = delete;
  MainModel& operator=(const MainModel&) = delete;

  // The first show loads the settings and shows them; later calls do nothing.
  void FormShow();
  void Open1Click();
  // A file chosen from outside the dialog, on the command line or dropped on
  // the window: taken exactly as File, Open... takes the one chosen there.
  // It starts no update.
  void ChooseFile(const std::string& path);
  // The Update command of the button, the Action menu and Ctrl+U. While an
  // update runs it does nothing, so a second Run never starts.
  void BtUpdateClick();
  void Timer1Timer();
  // "MnCOM1" to "MnCOM4", and the listed port items ("MnCOM12").
  void MnCOMClick(const std::string& item);
  // The Comm Port items below COM 1 to COM 4 for the ports `present` now,
  // the chosen port's checked; the window asks each time the Setup menu opens.
  std::vector<PortMenuItem> ListedPortMenu(const std::vector<PortInfo>& present) const;
  void MnBaudRateClick(const std::string& item);
  void MnResendClick(const std::string& item);
  void Exit1Click();
  // Whether the window may close now. While a handler is inside an update, a
  // modal box or the open dialog the close is remembered and refused; it is
  // asked for again (CloseForm) once that handler has ended.
  bool FormCloseQuery();
  // Closes and destroys Comm, then saves the settings.
  void FormClose();

  bool IsUpdating() const { return flow_ != nullptr; }

 private:
  // Runs `work` as a handler that may open modal loops: a close asked for
  // meanwhile is carried out when the outermost such handler has returned
  // normally.
  template <typename Work>
  void RunDeferringClose(Work work);
  void LeaveModalHandler(bool carry_out_close);
  void RunUpdate(const std::string& file_name);
  void EndUpdate();
  void CheckSettingsItems();
  void ChoosePort(std::int8_t index);

  // The Setup choices as the update reads them: the globals as they stand
  // at the moment it asks, so a choice made during an update takes effect.
  class SetupChoices final : public IUpdateSettings {
   public:
    std::int32_t FlashBaudRate() const override;
    std::int32_t ResendTimes() const override;
  };

  IMainView& view_;
  IGuiServices& gui_;
  ITickSource& clock_;
  SetupChoices choices_;
  std::unique_ptr<TDComm> comm_;
  std::unique_ptr<UpdateFlow> flow_;
  bool shown_ = false;
  bool closed_ = false;
  bool close_pending_ = false;
  int modal_depth_ = 0;
};
