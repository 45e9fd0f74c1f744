#include "shell/MainWindow_win32.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <vector>

#include "engine/Hexproc.h"
#include "resource.h"

// No header above may bring back the macro that would rename our MessageBox.
#undef MessageBox

namespace {

constexpr char kWindowClass[] = "TFmMain";
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr int kDesignDpi = 96;
constexpr int kClientWidth = 345;
constexpr int kClientHeight = 108;
constexpr int kFontPoints = 8;
constexpr int kPointsPerInch = 72;
constexpr char kFontFace[] = "MS Sans Serif";
constexpr UINT_PTR kTimer1 = 1;
constexpr UINT kTimer1IntervalMs = 200;
constexpr DWORD kOpenPathCapacity = 4096;

// The Setup items: command identifier, component name, and the model's
// handler of their group.
struct MenuChoice {
  int id;
  const char* item;
  void (MainModel::*handler)(const std::string&);
};

constexpr MenuChoice kMenuChoices[] = {
    {IDM_COM1, "MnCOM1", &MainModel::MnCOMClick},
    {IDM_COM2, "MnCOM2", &MainModel::MnCOMClick},
    {IDM_COM3, "MnCOM3", &MainModel::MnCOMClick},
    {IDM_COM4, "MnCOM4", &MainModel::MnCOMClick},
    {IDM_2400BPS, "Mn2400bps", &MainModel::MnBaudRateClick},
    {IDM_4800BPS, "Mn4800bps", &MainModel::MnBaudRateClick},
    {IDM_9600BPS, "Mn9600bps", &MainModel::MnBaudRateClick},
    {IDM_RESEND_NONE, "MnNone", &MainModel::MnResendClick},
    {IDM_RESEND_3, "Mn3times", &MainModel::MnResendClick},
    {IDM_RESEND_5, "Mn5times", &MainModel::MnResendClick},
};

const MenuChoice* FindChoiceById(int id) {
  for (const MenuChoice& choice : kMenuChoices) {
    if (choice.id == id) return &choice;
  }
  return nullptr;
}

const MenuChoice* FindChoiceByItem(const std::string& item) {
  for (const MenuChoice& choice : kMenuChoices) {
    if (item == choice.item) return &choice;
  }
  return nullptr;
}

int ScreenDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : kDesignDpi;
}

HFONT CreateWindowFont(int dpi) {
  const int height = -MulDiv(kFontPoints, dpi, kPointsPerInch);
  return CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_SWISS, kFontFace);
}

// "caption|pattern|..." as the dialog wants it: each part ended by a zero,
// and one more zero after the last.
std::string DialogFilter(const std::string& filter) {
  std::string result = filter;
  std::replace(result.begin(), result.end(), '|', '\0');
  result.push_back('\0');
  result.push_back('\0');
  return result;
}

}  // namespace

TFmMain::TFmMain()
    : dpi_(ScreenDpi()),
      font_(CreateWindowFont(dpi_)),
      accelerators_(
          LoadAcceleratorsA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_ACCELERATORS))),
      model_(*this) {
  HMENU menu = LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINMENU));
  Create(kWindowClass, kMainCaption, kWindowStyle, CentredWindowBounds(kWindowStyle), menu);
}

TFmMain::~TFmMain() {
  Destroy();
  if (font_ != nullptr) DeleteObject(font_);
}

int TFmMain::Scale(int pixels_at_96_dpi) const {
  return MulDiv(pixels_at_96_dpi, dpi_, kDesignDpi);
}

RECT TFmMain::CentredWindowBounds(DWORD style) const {
  RECT frame{0, 0, Scale(kClientWidth), Scale(kClientHeight)};
  AdjustWindowRectEx(&frame, style, TRUE, 0);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  RECT work{};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  const int left = work.left + (work.right - work.left - width) / 2;
  const int top = work.top + (work.bottom - work.top - height) / 2;
  return RECT{left, top, left + width, top + height};
}

HWND TFmMain::CreateControl(DWORD ex_style, const char* window_class, const char* text, DWORD style,
                            int id, int left, int top, int width, int height) {
  HWND control = CreateWindowExA(ex_style, window_class, text, WS_CHILD | WS_VISIBLE | style,
                                 Scale(left), Scale(top), Scale(width), Scale(height), Handle(),
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 GetModuleHandleA(nullptr), nullptr);
  SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  return control;
}

// The file-name label grows to its text, as the font on this machine may be
// wider than the one it was laid out for; LbPercent keeps its size.
void TFmMain::FitWidthToText(HWND label) {
  char text[64] = {};
  const int length = GetWindowTextA(label, text, sizeof text);
  HDC dc = GetDC(label);
  HGDIOBJ previous = SelectObject(dc, font_);
  SIZE extent{};
  GetTextExtentPoint32A(dc, text, length, &extent);
  SelectObject(dc, previous);
  ReleaseDC(label, dc);
  RECT bounds{};
  GetClientRect(label, &bounds);
  if (extent.cx <= bounds.right) return;
  SetWindowPos(label, nullptr, 0, 0, extent.cx, bounds.bottom,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Created in tab order: the edit box, the button, the progress bar.
void TFmMain::CreateControls() {
  label_ =
      CreateControl(0, "STATIC", "File name:", SS_LEFTNOWORDWRAP, IDC_FILENAME_LABEL, 8, 8, 48, 13);
  FitWidthToText(label_);
  file_name_ =
      CreateControl(WS_EX_CLIENTEDGE, "EDIT", "", WS_TABSTOP | ES_AUTOHSCROLL | ES_READONLY,
                    IDC_FILENAME, 8, 24, 331, 21);
  update_button_ =
      CreateControl(0, "BUTTON", "UpDate", WS_TABSTOP | BS_PUSHBUTTON, IDC_UPDATE, 264, 52, 75, 25);
  progress_ = CreateControl(0, PROGRESS_CLASSA, "", 0, IDC_PROGRESS, 8, 88, 299, 16);
  SendMessageA(progress_, PBM_SETRANGE32, 0, 100);
  percent_ = CreateControl(0, "STATIC", "0%", SS_LEFTNOWORDWRAP, IDC_PERCENT, 312, 90, 26, 13);
}

void TFmMain::Show(int show_command) {
  model_.FormShow();
  ShowWindow(Handle(), show_command);
  UpdateWindow(Handle());
  SetFocus(file_name_);
}

bool TFmMain::TranslateKeys(MSG& message) {
  if (Handle() == nullptr) return false;
  return TranslateAcceleratorA(Handle(), accelerators_, &message) != 0 ||
         IsDialogMessageA(Handle(), &message) != 0;
}

void TFmMain::SetMenuChecked(const std::string& item, bool checked) {
  const MenuChoice* choice = FindChoiceByItem(item);
  if (choice == nullptr) return;
  CheckMenuItem(GetMenu(Handle()), choice->id,
                MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

void TFmMain::SetUpdateButtonEnabled(bool enabled) {
  // A disabled control keeps no focus; hand it to the file-name box so the
  // keyboard still moves between the controls.
  if (!enabled && GetFocus() == update_button_) SetFocus(file_name_);
  EnableWindow(update_button_, enabled ? TRUE : FALSE);
}

void TFmMain::FocusUpdateButton() { SetFocus(update_button_); }

std::string TFmMain::FileNameText() {
  std::string text(static_cast<std::size_t>(GetWindowTextLengthA(file_name_)) + 1, '\0');
  text.resize(static_cast<std::size_t>(
      GetWindowTextA(file_name_, text.data(), static_cast<int>(text.size()))));
  return text;
}

void TFmMain::SetFileNameText(const std::string& text) { SetWindowTextA(file_name_, text.c_str()); }

void TFmMain::SetProgressPosition(int percent) {
  SendMessageA(progress_, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
}

void TFmMain::SetPercentCaption(const std::string& caption) {
  SetWindowTextA(percent_, caption.c_str());
}

void TFmMain::SetTimerEnabled(bool enabled) {
  if (enabled) {
    SetTimer(Handle(), kTimer1, kTimer1IntervalMs, nullptr);
  } else {
    KillTimer(Handle(), kTimer1);
  }
}

// Posted, so the close runs from the message loop after the current handler.
void TFmMain::CloseForm() { PostMessageA(Handle(), WM_CLOSE, 0, 0); }

std::optional<std::string> TFmMain::RunOpenDialog(const std::string& filter) {
  const std::string dialog_filter = DialogFilter(filter);
  std::vector<char> path(kOpenPathCapacity, '\0');
  OPENFILENAMEA dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = Handle();
  dialog.lpstrFilter = dialog_filter.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = path.data();
  dialog.nMaxFile = kOpenPathCapacity;
  // The current directory stays where the settings file was loaded from.
  dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_NOCHANGEDIR;
  if (!GetOpenFileNameA(&dialog)) return std::nullopt;
  return std::string(path.data());
}

void TFmMain::ShowMessage(const std::string& text, const std::string& caption,
                          std::uint32_t style) {
  MessageBox(text, caption, style);
}

void TFmMain::ProcessMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // Leave it for the main loop, which ends the program.
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    if (TranslateKeys(message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

void TFmMain::MessageBox(const std::string& text, const std::string& caption, std::uint32_t style) {
  MessageBoxA(Handle(), text.c_str(), caption.c_str(), style | MB_OK);
}

void TFmMain::ShowHandlerError(const std::string& what) {
  MessageBoxA(Handle(), what.c_str(), kMainCaption, MB_OK | MB_ICONERROR);
}

void TFmMain::OnCommand(int id, int code) {
  switch (id) {
    case IDM_OPEN:
      return model_.Open1Click();
    case IDM_EXIT:
      return model_.Exit1Click();
    case IDM_UPDATE:
      return model_.BtUpdateClick();
    case IDC_UPDATE:
      if (code == BN_CLICKED) model_.BtUpdateClick();
      return;
    default:
      break;
  }
  if (const MenuChoice* choice = FindChoiceById(id)) (model_.*choice->handler)(choice->item);
}

// Windows does not give a top-level window's focus back on activation; do
// it here, so the keyboard goes on where it was.
void TFmMain::OnActivate(bool active) {
  if (!active) {
    saved_focus_ = GetFocus();
    return;
  }
  const bool ours =
      saved_focus_ != nullptr && IsChild(Handle(), saved_focus_) && IsWindowEnabled(saved_focus_);
  SetFocus(ours ? saved_focus_ : file_name_);
}

// The read-only file-name box keeps the white of an edit box.
LRESULT TFmMain::OnControlColor(HDC dc, HWND control) {
  if (control != file_name_)
    return DefaultHandling(WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                           reinterpret_cast<LPARAM>(control));
  SetBkColor(dc, GetSysColor(COLOR_WINDOW));
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
}

LRESULT TFmMain::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      CreateControls();
      return 0;
    case WM_COMMAND:
      OnCommand(LOWORD(wparam), HIWORD(wparam));
      return 0;
    case WM_TIMER:
      if (wparam == kTimer1) model_.Timer1Timer();
      return 0;
    case WM_ACTIVATE:
      // A minimised window is activated without showing; its focus waits.
      if (HIWORD(wparam) == 0) OnActivate(LOWORD(wparam) != WA_INACTIVE);
      return 0;
    case WM_CTLCOLORSTATIC:
      return OnControlColor(reinterpret_cast<HDC>(wparam), reinterpret_cast<HWND>(lparam));
    case WM_CLOSE:
      if (model_.FormCloseQuery()) {
        model_.FormClose();
        Destroy();
      }
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefaultHandling(message, wparam, lparam);
  }
}
