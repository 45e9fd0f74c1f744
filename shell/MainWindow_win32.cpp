#include "shell/MainWindow_win32.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <algorithm>
#include <vector>

#include "common/PortIndex.h"
#include "common/WideText_win32.h"
#include "engine/Hexproc.h"
#include "link/PortList.h"
#include "resource.h"

// No header above may bring back the macro that would rename our MessageBox.
#undef MessageBox

namespace {

constexpr wchar_t kWindowClass[] = L"TFmMain";
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr int kClientWidth = 345;
constexpr int kClientHeight = 108;
constexpr int kFontPoints = 8;
constexpr int kPointsPerInch = 72;
constexpr wchar_t kFontFace[] = L"MS Sans Serif";
constexpr UINT_PTR kTimer1 = 1;
constexpr UINT kTimer1IntervalMs = 200;
// Positions in the menu bar and in the Setup menu, as TarvexUpd.rc has them.
constexpr int kSetupMenuPosition = 2;
constexpr int kCommPortMenuPosition = 0;
constexpr int kFixedPortItems = 4;

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

// A device description may hold an ampersand, which a menu would take for
// an access key.
std::wstring MenuCaption(const std::string& text) {
  std::wstring caption;
  for (const wchar_t c : Wide(text)) {
    if (c == L'&') caption += L'&';
    caption += c;
  }
  return caption;
}

bool AppendPortItem(HMENU menu, const PortMenuItem& item) {
  std::wstring caption = MenuCaption(item.Caption);
  MENUITEMINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STATE | MIIM_STRING;
  info.fType = MFT_STRING | MFT_RADIOCHECK;
  info.fState = item.Checked ? MFS_CHECKED : MFS_UNCHECKED;
  info.wID = static_cast<UINT>(IDM_PORT_BASE + item.Number);
  info.dwTypeData = caption.data();
  const int count = GetMenuItemCount(menu);
  return count >= 0 && InsertMenuItemW(menu, static_cast<UINT>(count), TRUE, &info) != FALSE;
}

// The COM number of a listed Comm Port item's command, or 0.
int ListedPortOfCommand(int id) {
  const int number = id - IDM_PORT_BASE;
  return number >= kFirstListedComNumber && number <= kHighestComNumber ? number : 0;
}

HFONT CreateWindowFont(int dpi) {
  const int height = -MulDiv(kFontPoints, dpi, kPointsPerInch);
  return CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_SWISS, kFontFace);
}

}  // namespace

TFmMain::TFmMain()
    : dpi_(ScreenDpi()),
      font_(CreateWindowFont(dpi_)),
      accelerators_(
          LoadAcceleratorsW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_ACCELERATORS))),
      model_(*this, *this) {
  HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINMENU));
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
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int left = work.left + (work.right - work.left - width) / 2;
  const int top = work.top + (work.bottom - work.top - height) / 2;
  return RECT{left, top, left + width, top + height};
}

HWND TFmMain::CreateControl(DWORD ex_style, const wchar_t* window_class, const std::string& text,
                            DWORD style, int id, int left, int top, int width, int height) {
  HWND control = CreateWindowExW(
      ex_style, window_class, Wide(text).c_str(), WS_CHILD | WS_VISIBLE | style, Scale(left),
      Scale(top), Scale(width), Scale(height), Handle(),
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  return control;
}

// The file-name label grows to its text, as the font on this machine may be
// wider than the one it was laid out for; LbPercent keeps its size.
void TFmMain::FitWidthToText(HWND label) {
  wchar_t text[64] = {};
  const int length = GetWindowTextW(label, text, static_cast<int>(std::size(text)));
  HDC dc = GetDC(label);
  HGDIOBJ previous = SelectObject(dc, font_);
  SIZE extent{};
  GetTextExtentPoint32W(dc, text, length, &extent);
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
  label_ = CreateControl(0, L"STATIC", "File name:", SS_LEFTNOWORDWRAP, IDC_FILENAME_LABEL, 8, 8,
                         48, 13);
  FitWidthToText(label_);
  file_name_ =
      CreateControl(WS_EX_CLIENTEDGE, L"EDIT", "", WS_TABSTOP | ES_AUTOHSCROLL | ES_READONLY,
                    IDC_FILENAME, 8, 24, 331, 21);
  update_button_ = CreateControl(0, L"BUTTON", "UpDate", WS_TABSTOP | BS_PUSHBUTTON, IDC_UPDATE,
                                 264, 52, 75, 25);
  progress_ = CreateControl(0, PROGRESS_CLASSW, "", 0, IDC_PROGRESS, 8, 88, 299, 16);
  SendMessageW(progress_, PBM_SETRANGE32, 0, 100);
  percent_ = CreateControl(0, L"STATIC", "0%", SS_LEFTNOWORDWRAP, IDC_PERCENT, 312, 90, 26, 13);
}

void TFmMain::Show(int show_command) {
  model_.FormShow();
  ShowWindow(Handle(), show_command);
  UpdateWindow(Handle());
  SetFocus(file_name_);
}

bool TFmMain::TranslateKeys(MSG& message) {
  if (Handle() == nullptr) return false;
  return TranslateAcceleratorW(Handle(), accelerators_, &message) != 0 ||
         IsDialogMessageW(Handle(), &message) != 0;
}

void TFmMain::SetMenuChecked(const std::string& item, bool checked) {
  const MenuChoice* choice = FindChoiceByItem(item);
  const int id = choice != nullptr ? choice->id : IDM_PORT_BASE + PortNumberOfItem(item);
  if (choice == nullptr && ListedPortOfCommand(id) == 0) return;
  // A listed item that is not in the menu now is left to the next rebuild.
  CheckMenuItem(GetMenu(Handle()), static_cast<UINT>(id),
                MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

// Below COM 1 to COM 4: a separator and the listed ports, read afresh, so an
// adapter plugged in since the last look is there.
void TFmMain::RebuildCommPortMenu() {
  HMENU setup = GetSubMenu(GetMenu(Handle()), kSetupMenuPosition);
  HMENU ports = setup != nullptr ? GetSubMenu(setup, kCommPortMenuPosition) : nullptr;
  if (ports == nullptr) return;
  while (GetMenuItemCount(ports) > kFixedPortItems) {
    if (!DeleteMenu(ports, kFixedPortItems, MF_BYPOSITION)) return;
  }
  const std::vector<PortMenuItem> items = model_.ListedPortMenu(ListSerialPorts());
  if (items.empty()) return;
  if (!AppendMenuW(ports, MF_SEPARATOR, 0, nullptr)) return;
  for (const PortMenuItem& item : items) {
    if (!AppendPortItem(ports, item)) return;
  }
}

// The first file dropped is taken; folders are passed over.
void TFmMain::OnDropFiles(WPARAM drop_handle) {
  const std::string chosen = FirstDroppedFile(drop_handle);
  if (!chosen.empty()) model_.ChooseFile(chosen);
}

// Made absolute now: the dialog gives full paths, and the current directory
// is the settings file's, not necessarily the file's.
void TFmMain::ChooseFileFromCommandLine(const std::string& path) {
  model_.ChooseFile(FullPath(path));
}

void TFmMain::SetUpdateButtonEnabled(bool enabled) {
  // A disabled control keeps no focus; hand it to the file-name box so the
  // keyboard still moves between the controls.
  if (!enabled && GetFocus() == update_button_) SetFocus(file_name_);
  EnableWindow(update_button_, enabled ? TRUE : FALSE);
}

void TFmMain::FocusUpdateButton() { SetFocus(update_button_); }

std::string TFmMain::FileNameText() {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(file_name_)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      GetWindowTextW(file_name_, text.data(), static_cast<int>(text.size()))));
  return Utf8(text);
}

// A long path shows its end, the file's name; the box still holds it whole,
// and Home scrolls back to its start.
void TFmMain::SetFileNameText(const std::string& text) {
  const std::wstring wide = Wide(text);
  SetWindowTextW(file_name_, wide.c_str());
  const auto end = static_cast<WPARAM>(wide.size());
  SendMessageW(file_name_, EM_SETSEL, end, static_cast<LPARAM>(end));
  SendMessageW(file_name_, EM_SCROLLCARET, 0, 0);
}

void TFmMain::SetProgressPosition(int percent) {
  SendMessageW(progress_, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
}

void TFmMain::SetPercentCaption(const std::string& caption) {
  SetWindowTextW(percent_, Wide(caption).c_str());
}

void TFmMain::SetTimerEnabled(bool enabled) {
  if (enabled) {
    SetTimer(Handle(), kTimer1, kTimer1IntervalMs, nullptr);
  } else {
    KillTimer(Handle(), kTimer1);
  }
}

// Posted, so the close runs from the message loop after the current handler.
void TFmMain::CloseForm() { PostMessageW(Handle(), WM_CLOSE, 0, 0); }

std::optional<std::string> TFmMain::RunOpenDialog(const std::string& filter) {
  return RunOpenFileDialog(Handle(), filter);
}

void TFmMain::ShowMessage(const std::string& text, const std::string& caption,
                          std::uint32_t style) {
  MessageBox(text, caption, style);
}

void TFmMain::ProcessMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // Leave it for the main loop, which ends the program.
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    if (TranslateKeys(message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

void TFmMain::MessageBox(const std::string& text, const std::string& caption, std::uint32_t style) {
  MessageBoxW(Handle(), Wide(text).c_str(), Wide(caption).c_str(), style | MB_OK);
}

void TFmMain::ShowHandlerError(const std::string& what) {
  MessageBoxW(Handle(), Wide(what).c_str(), Wide(kMainCaption).c_str(), MB_OK | MB_ICONERROR);
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
  if (const MenuChoice* choice = FindChoiceById(id)) return (model_.*choice->handler)(choice->item);
  if (const int number = ListedPortOfCommand(id)) model_.MnCOMClick(PortItemName(number));
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
      DragAcceptFiles(Handle(), TRUE);
      return 0;
    case WM_INITMENUPOPUP:
      if (HIWORD(lparam) == 0 &&
          reinterpret_cast<HMENU>(wparam) == GetSubMenu(GetMenu(Handle()), kSetupMenuPosition)) {
        RebuildCommPortMenu();
      }
      return 0;
    case WM_DROPFILES:
      OnDropFiles(wparam);
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
