// TFmMain: the main window on Win32. It draws and forwards events; what each
// event does is decided by MainModel. It is also the GUI services of the
// engine: the event pump it calls during an update, and its modal boxes.
#pragma once

#include "common/GuiServices.h"
#include "common/Window_win32.h"
#include "shell/MainModel.h"

class TFmMain final : public Window, public IMainView, public IGuiServices {
 public:
  // Creates the hidden window with its controls, and Comm with the model.
  TFmMain();
  ~TFmMain() override;

  // Runs FormShow, then shows the window.
  void Show(int show_command);
  // Shortcuts and dialog keys (Tab between controls, Enter on the button);
  // true when `message` was handled and must not be dispatched.
  bool TranslateKeys(MSG& message) override;
  // A file named on the command line, chosen as File, Open... would choose it.
  void ChooseFileFromCommandLine(const std::string& path);

  // IMainView
  void SetMenuChecked(const std::string& item, bool checked) override;
  void SetUpdateButtonEnabled(bool enabled) override;
  void FocusUpdateButton() override;
  std::string FileNameText() override;
  void SetFileNameText(const std::string& text) override;
  void SetProgressPosition(int percent) override;
  void SetPercentCaption(const std::string& caption) override;
  void SetTimerEnabled(bool enabled) override;
  void CloseForm() override;
  std::optional<std::string> RunOpenDialog(const std::string& filter) override;
  void ShowMessage(const std::string& text, const std::string& caption,
                   std::uint32_t style) override;

  // IGuiServices
  void ProcessMessages() override;
  void MessageBox(const std::string& text, const std::string& caption,
                  std::uint32_t style) override;

 protected:
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;
  void ShowHandlerError(const std::string& what) override;

 private:
  int Scale(int pixels_at_96_dpi) const;
  RECT CentredWindowBounds(DWORD style) const;
  void CreateControls();
  void FitWidthToText(HWND label);
  HWND CreateControl(DWORD ex_style, const wchar_t* window_class, const std::string& text,
                     DWORD style, int id, int left, int top, int width, int height);
  void OnCommand(int id, int code);
  void RebuildCommPortMenu();
  void OnDropFiles(WPARAM drop_handle);
  void OnActivate(bool active);
  LRESULT OnControlColor(HDC dc, HWND control);

  int dpi_;
  HFONT font_;
  HACCEL accelerators_;
  HWND label_ = nullptr;
  HWND file_name_ = nullptr;
  HWND update_button_ = nullptr;
  HWND progress_ = nullptr;
  HWND percent_ = nullptr;
  // The control that had the focus when the window was last deactivated.
  HWND saved_focus_ = nullptr;
  MainModel model_;
};
