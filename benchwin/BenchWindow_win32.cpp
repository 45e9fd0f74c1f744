#include "benchwin/BenchLayout_win32.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include "common/WideText_win32.h"

// No header above may bring back the macro that would rename our MessageBox.
#undef MessageBox

using namespace bench_layout;

namespace {

constexpr wchar_t kWindowClass[] = L"TBenchMain";
constexpr UINT kNewsMessage = WM_APP + 1;
constexpr UINT_PTR kTotalsTimer = 1;
constexpr UINT kTotalsTimerMs = 1000;

}  // namespace

BenchWindow::BenchWindow()
    : dpi_(ScreenDpi()),
      fonts_(std::make_unique<Fonts>(dpi_)),
      accelerators_(LoadAcceleratorsW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_BENCHKEYS))),
      model_(MakeBenchModel(*this)) {
  HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_BENCHMENU));
  RECT frame{0, 0, Scale(kClientWidth), Scale(ClientHeight(0))};
  AdjustWindowRectEx(&frame, kWindowStyle, TRUE, 0);
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int width = frame.right - frame.left;
  const int left = work.left + std::max(0, static_cast<int>(work.right - work.left - width) / 2);
  Create(kWindowClass, kBenchCaption, kWindowStyle,
         Bounds(left, work.top + Scale(kMargin), width, frame.bottom - frame.top), menu);
  news_target_.store(Handle());
}

// The model goes first: a run still under way is stopped and waited for
// while the window can still take its last news.
BenchWindow::~BenchWindow() {
  model_.reset();
  news_target_.store(nullptr);
  Destroy();
}

int BenchWindow::Scale(int pixels_at_96_dpi) const {
  return MulDiv(pixels_at_96_dpi, dpi_, kDesignDpi);
}

HWND BenchWindow::CreateControl(const wchar_t* window_class, const std::string& text, DWORD style,
                                int id, const RECT& bounds, HFONT font, DWORD ex_style) {
  HWND control = CreateWindowExW(
      ex_style, window_class, Wide(text).c_str(), WS_CHILD | WS_VISIBLE | style, Scale(bounds.left),
      Scale(bounds.top), Scale(bounds.right - bounds.left), Scale(bounds.bottom - bounds.top),
      Handle(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr),
      nullptr);
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  texts_[id] = Wide(text);
  return control;
}

// Created in tab order: the firmware's details, the ports, Start and Stop.
void BenchWindow::CreateControls() {
  const HFONT normal = fonts_->normal;
  CreateControl(L"BUTTON", "Firmware", BS_GROUPBOX, IDC_FW_GROUP, Bounds(8, 4, 752, 86), normal);
  CreateControl(L"STATIC", "", kLabel, IDC_FW_NAME, Bounds(20, 22, 620, 18), fonts_->bold);
  CreateControl(L"STATIC", "", kLabel, IDC_FW_FIGURES, Bounds(20, 42, 620, 16), normal);
  CreateControl(L"STATIC", "", kLabel, IDC_FW_SHA, Bounds(20, 62, 620, 16), normal);
  CreateControl(L"BUTTON", "&Details...", WS_TABSTOP | BS_PUSHBUTTON, IDC_FW_DETAILS,
                Bounds(660, 26, 88, 26), normal);
  CreateControl(L"BUTTON", "Ports for the bench", BS_GROUPBOX, IDC_PORTS_GROUP,
                Bounds(8, 94, 752, 140), normal);
  CreatePortList();
  CreateControl(L"STATIC", "", kLabel | SS_ENDELLIPSIS, IDC_PORTS_NOTE, Bounds(20, 212, 600, 16),
                fonts_->bold);
  CreateControl(L"BUTTON", "Keep by &Serial", WS_TABSTOP | BS_PUSHBUTTON, IDC_BY_SERIAL,
                Bounds(632, 112, 116, 26), normal);
  CreateControl(L"BUTTON", "&Refresh", WS_TABSTOP | BS_PUSHBUTTON, IDC_REFRESH,
                Bounds(632, 144, 116, 26), normal);
  CreateControl(L"STATIC", "", kWrapped, IDC_SETUP_TEXT, Bounds(632, 178, 116, 48), normal);
  CreateControl(L"STATIC", "", kLabel | SS_PATHELLIPSIS, IDC_LOG, Bounds(8, 248, 560, 16), normal);
  CreateControl(L"BUTTON", "Start (F5)", WS_TABSTOP | BS_PUSHBUTTON, IDC_START,
                Bounds(584, 240, 84, 30), fonts_->bold);
  CreateControl(L"BUTTON", "Stop (F5)", WS_TABSTOP | BS_PUSHBUTTON, IDC_STOP,
                Bounds(676, 240, 84, 30), fonts_->bold);
  const int ids[] = {IDC_FINISHED, IDC_FAILED, IDC_YIELD, IDC_PER_HOUR};
  for (int i = 0; i < 4; ++i) {
    CreateControl(L"STATIC", "", kLabel, ids[i], Bounds(8 + i * 188, 0, 184, kTotalsHeight),
                  fonts_->big);
  }
  CreateControl(L"STATIC", "", kLabel, IDC_STATUS, Bounds(8, 0, 752, kStatusHeight), normal);
  FitHeightToTiles(0);
}

bool BenchWindow::Open(const std::string& directory, const BenchCommandLine& line) {
  return model_->Open(directory, line);
}

void BenchWindow::Show(int show_command) {
  ShowWindow(Handle(), show_command);
  UpdateWindow(Handle());
  SetFocus(GetDlgItem(Handle(), IDC_START));
  model_->Shown();
}

bool BenchWindow::TranslateKeys(MSG& message) {
  if (Handle() == nullptr) return false;
  return TranslateAcceleratorW(Handle(), accelerators_, &message) != 0 ||
         IsDialogMessageW(Handle(), &message) != 0;
}

// Only a text that changed is set, so a tile redrawn at every percent does
// not flicker.
void BenchWindow::SetText(int id, const std::string& text) {
  std::wstring wide = Wide(text);
  auto& shown = texts_[id];
  if (shown == wide) return;
  shown = std::move(wide);
  SetWindowTextW(GetDlgItem(Handle(), id), shown.c_str());
}

// CLR_INVALID: the system's colour.
void BenchWindow::SetColour(int id, COLORREF colour) {
  const auto found = colours_.find(id);
  const COLORREF before = found == colours_.end() ? CLR_INVALID : found->second;
  if (before == colour) return;
  if (colour == CLR_INVALID) {
    colours_.erase(id);
  } else {
    colours_[id] = colour;
  }
  InvalidateRect(GetDlgItem(Handle(), id), nullptr, TRUE);
}

void BenchWindow::ShowFirmware(const FirmwareCard& card) {
  const FirmwareLines lines = LinesOf(card);
  // Under a job its frame says so.
  SetText(IDC_FW_GROUP, lines.job.empty() ? "Firmware" : "Firmware of " + lines.job);
  SetText(IDC_FW_NAME, lines.name);
  SetText(IDC_FW_FIGURES, lines.figures);
  SetColour(IDC_FW_FIGURES, lines.refused ? kBad : CLR_INVALID);
  SetText(IDC_FW_SHA, lines.sha);
  EnableWindow(GetDlgItem(Handle(), IDC_FW_DETAILS), card.path.empty() ? FALSE : TRUE);
  EnableCommand(IDM_DETAILS, !card.path.empty());
}

void BenchWindow::ShowLogPath(const std::string& path) { SetText(IDC_LOG, "Log: " + path); }

void BenchWindow::ShowLocked(bool locked) {
  const std::string caption = std::string(kBenchCaption) + (locked ? " (settings locked)" : "");
  SetWindowTextW(Handle(), Wide(caption).c_str());
}

// Windows' own sounds, as the user has set them: information for a pager
// done, the critical stop for one that failed, the exclamation for a port
// set aside.
void BenchWindow::PlaySound(BenchSound sound) {
  switch (sound) {
    case BenchSound::kFinished:
      MessageBeep(MB_ICONASTERISK);
      return;
    case BenchSound::kFailed:
      MessageBeep(MB_ICONHAND);
      return;
    case BenchSound::kSetAside:
      break;
  }
  MessageBeep(MB_ICONEXCLAMATION);
}

void BenchWindow::SetTimerEnabled(bool enabled) {
  if (enabled) {
    SetTimer(Handle(), kTotalsTimer, kTotalsTimerMs, nullptr);
  } else {
    KillTimer(Handle(), kTotalsTimer);
  }
}

std::optional<std::string> BenchWindow::RunOpenDialog(const std::string& filter) {
  return RunOpenFileDialog(Handle(), filter, OFN_FILEMUSTEXIST);
}

void BenchWindow::ShowMessage(const std::string& text, const std::string& caption,
                              std::uint32_t style) {
  MessageBoxW(Handle(), Wide(text).c_str(), Wide(caption).c_str(), style | MB_OK);
}

// No is the default: Enter pressed by habit keeps the bench running.
bool BenchWindow::Confirm(const std::string& text, const std::string& caption) {
  return MessageBoxW(Handle(), Wide(text).c_str(), Wide(caption).c_str(),
                     MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
}

// Posted, so the close runs from the message loop after the current handler.
void BenchWindow::CloseForm() { PostMessageW(Handle(), WM_CLOSE, 0, 0); }

void BenchWindow::WakeForNews() {
  if (const HWND target = news_target_.load()) PostMessageW(target, kNewsMessage, 0, 0);
}

void BenchWindow::ShowHandlerError(const std::string& what) {
  MessageBoxW(Handle(), Wide(what).c_str(), Wide(kBenchCaption).c_str(), MB_OK | MB_ICONERROR);
}

// The first file dropped is taken; folders are passed over.
void BenchWindow::OnDropFiles(WPARAM drop_handle) {
  const std::string chosen = FirstDroppedFile(drop_handle);
  if (!chosen.empty()) model_->ChooseFirmware(chosen);
}

LRESULT BenchWindow::OnControlColour(HDC dc, HWND control) {
  const auto found = colours_.find(GetDlgCtrlID(control));
  if (found == colours_.end()) {
    return DefaultHandling(WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                           reinterpret_cast<LPARAM>(control));
  }
  SetTextColor(dc, found->second);
  SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
}

LRESULT BenchWindow::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      CreateControls();
      return 0;
    case kNewsMessage:
      model_->TakeNews();
      return 0;
    case WM_TIMER:
      if (wparam == kTotalsTimer) model_->TimerTick();
      return 0;
    case WM_COMMAND:
      OnCommand(LOWORD(wparam), HIWORD(wparam));
      return 0;
    case WM_NOTIFY:
      return OnNotify(*reinterpret_cast<const NMHDR*>(lparam));
    case WM_DROPFILES:
      OnDropFiles(wparam);
      return 0;
    case WM_CTLCOLORSTATIC:
      return OnControlColour(reinterpret_cast<HDC>(wparam), reinterpret_cast<HWND>(lparam));
    case WM_CLOSE:
      if (model_->CloseQuery()) {
        model_->Close();
        Destroy();
      }
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      if (wparam != FALSE) model_->EndSession();
      return 0;
    case WM_DESTROY:
      news_target_.store(nullptr);
      PostQuitMessage(0);
      return 0;
    default:
      return DefaultHandling(message, wparam, lparam);
  }
}
