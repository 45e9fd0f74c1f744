// TarvexBench.exe's main window on Win32. It draws what BenchModel decides
// and forwards its events there: the firmware card, the port list, Start
// and Stop, a tile per bench port, the totals and the status line. The
// bench's threads reach it only by a posted message (WakeForNews).
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "benchwin/BenchModel.h"
#include "common/Window_win32.h"
// After windows.h, which the window base brings and it builds on.
#include <commctrl.h>

class BenchWindow final : public Window, public IBenchView {
 public:
  // Creates the hidden window, its controls and its model.
  BenchWindow();
  ~BenchWindow() override;

  // The settings and the command line, before the window shows; false when
  // the window is not to open (the model has said why).
  bool Open(const std::string& directory, const BenchCommandLine& line);
  void Show(int show_command);
  // Shortcuts and dialog keys; true when `message` was handled.
  bool TranslateKeys(MSG& message) override;

  // IBenchView
  void ShowFirmware(const FirmwareCard& card) override;
  void ShowPorts(const std::vector<PortEntry>& entries) override;
  void ShowRate(int rate) override;
  void ShowResends(int resends) override;
  void ShowLogPath(const std::string& path) override;
  void ShowLocked(bool locked) override;
  void ShowControls(const BenchControls& controls) override;
  void ShowTiles(const std::vector<TileView>& tiles) override;
  void ShowTile(std::size_t index, const TileView& tile) override;
  void ShowTotals(const TotalsView& totals) override;
  void ShowStatus(const std::string& text, bool alarm) override;
  void PlaySound(BenchSound sound) override;
  void SetTimerEnabled(bool enabled) override;
  std::optional<std::string> RunOpenDialog(const std::string& filter) override;
  void ShowMessage(const std::string& text, const std::string& caption,
                   std::uint32_t style) override;
  bool Confirm(const std::string& text, const std::string& caption) override;
  void CloseForm() override;
  ElevatedRun RunFlasherElevated(const std::string& parameters) override;
  void WakeForNews() override;

 protected:
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;
  void ShowHandlerError(const std::string& what) override;

 private:
  struct Fonts;

  int Scale(int pixels_at_96_dpi) const;
  HWND CreateControl(const wchar_t* window_class, const std::string& text, DWORD style, int id,
                     const RECT& bounds, HFONT font, DWORD ex_style = 0);
  void CreateControls();
  void CreatePortList();
  void CreateTile(std::size_t index);
  void DestroyTiles();
  void FitHeightToTiles(std::size_t tiles);
  void SetText(int id, const std::string& text);
  void SetColour(int id, COLORREF colour);
  void EnableCommand(int id, bool enabled);
  void ShowSetupText();
  void OnCommand(int id, int code);
  LRESULT OnNotify(const NMHDR& header);
  void OnPortChanged(const NMLISTVIEW& change);
  // A click on a tile's Tune adapters… link; false for any other notice.
  bool OnTileLink(const NMHDR& header);
  void ShowBySerialButton();
  void ShowPortsNote();
  int SelectedPort() const;
  void OnDropFiles(WPARAM drop_handle);
  LRESULT OnControlColour(HDC dc, HWND control);

  int dpi_;
  std::unique_ptr<Fonts> fonts_;
  HACCEL accelerators_;
  HWND ports_ = nullptr;
  // The text each control was last given, so unchanged ones are not redrawn.
  std::map<int, std::wstring> texts_;
  // Statics drawn in a colour of their own.
  std::map<int, COLORREF> colours_;
  // The port list as last shown, for the caption of Keep by Serial.
  std::vector<PortEntry> shown_ports_;
  std::size_t tiles_ = 0;
  int rate_ = 0;
  int resends_ = 0;
  bool filling_ports_ = false;
  // Where the bench's threads post their news; cleared before the window goes.
  std::atomic<HWND> news_target_{nullptr};
  std::unique_ptr<BenchModel> model_;
};
