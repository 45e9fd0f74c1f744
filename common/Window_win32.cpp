#include "common/Window_win32.h"

#include <commdlg.h>
#include <shellapi.h>

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <vector>

#include "common/ProgramIcon.h"
#include "common/WideText_win32.h"

namespace {

// The exe's icon at a size the system draws it (the title bar takes the
// small one, the taskbar and Alt+Tab the large one); null when the exe has
// none.
HICON ProgramIcon(HINSTANCE instance, int width_metric, int height_metric) {
  return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_TARVEX), IMAGE_ICON,
                                       GetSystemMetrics(width_metric),
                                       GetSystemMetrics(height_metric), LR_DEFAULTCOLOR));
}

void RegisterOnce(const wchar_t* class_name, HINSTANCE instance, WNDPROC procedure) {
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (GetClassInfoExW(instance, class_name, &existing)) return;

  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = procedure;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursor(nullptr, IDC_ARROW);
  window_class.hIcon = ProgramIcon(instance, SM_CXICON, SM_CYICON);
  if (window_class.hIcon == nullptr) window_class.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
  window_class.hIconSm = ProgramIcon(instance, SM_CXSMICON, SM_CYSMICON);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  window_class.lpszClassName = class_name;
  if (RegisterClassExW(&window_class) == 0) {
    throw std::runtime_error("Cannot register the window class.");
  }
}

}  // namespace

// The derived part is gone by now: the window's last messages go to the
// default procedure, not to this half-destroyed object.
Window::~Window() {
  if (hwnd_ == nullptr) return;
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
  DestroyWindow(hwnd_);
}

void Window::Create(const wchar_t* class_name, const std::string& caption, DWORD style,
                    const RECT& bounds, HMENU menu) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  RegisterOnce(class_name, instance, &Window::Procedure);
  const HWND created = CreateWindowExW(0, class_name, Wide(caption).c_str(), style, bounds.left,
                                       bounds.top, bounds.right - bounds.left,
                                       bounds.bottom - bounds.top, nullptr, menu, instance, this);
  if (created == nullptr) throw std::runtime_error("Cannot create the main window.");
}

void Window::Destroy() {
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
}

LRESULT Window::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  return DefaultHandling(message, wparam, lparam);
}

LRESULT Window::DefaultHandling(UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcW(hwnd_, message, wparam, lparam);
}

LRESULT Window::GuardedHandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  try {
    return HandleMessage(message, wparam, lparam);
  } catch (const std::exception& error) {
    ShowHandlerError(error.what());
  } catch (...) {
    ShowHandlerError("Unknown error.");
  }
  return 0;
}

LRESULT CALLBACK Window::Procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    auto* self = static_cast<Window*>(create->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  // Messages before WM_NCCREATE (WM_GETMINMAXINFO) have no object yet.
  if (self == nullptr) return DefWindowProcW(hwnd, message, wparam, lparam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    const LRESULT result = self->GuardedHandleMessage(message, wparam, lparam);
    self->hwnd_ = nullptr;
    return result;
  }
  return self->GuardedHandleMessage(message, wparam, lparam);
}

namespace {

// Room for the dialog's path, in UTF-16 units.
constexpr DWORD kOpenPathCapacity = 4096;

// "caption|pattern|..." as the dialog wants it: each part ended by a zero,
// and one more zero after the last.
std::wstring DialogFilter(const std::string& filter) {
  std::wstring result = Wide(filter);
  std::replace(result.begin(), result.end(), L'|', L'\0');
  result.push_back(L'\0');
  result.push_back(L'\0');
  return result;
}

// The name of file `index` of a drop, whole: asked for its length first.
std::wstring DroppedFileName(HDROP drop, UINT index) {
  std::wstring name(DragQueryFileW(drop, index, nullptr, 0) + 1, L'\0');
  name.resize(DragQueryFileW(drop, index, name.data(), static_cast<UINT>(name.size())));
  return name;
}

bool IsFileNotFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return !path.empty() && attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

std::optional<std::string> RunOpenFileDialog(HWND owner, const std::string& filter,
                                             DWORD extra_flags) {
  const std::wstring dialog_filter = DialogFilter(filter);
  std::vector<wchar_t> path(kOpenPathCapacity, L'\0');
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = dialog_filter.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = path.data();
  dialog.nMaxFile = kOpenPathCapacity;
  dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_NOCHANGEDIR | extra_flags;
  if (!GetOpenFileNameW(&dialog)) return std::nullopt;
  return Utf8(path.data());
}

std::string FirstDroppedFile(WPARAM drop_handle) {
  const auto drop = reinterpret_cast<HDROP>(drop_handle);
  std::wstring chosen;
  const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT index = 0; index < count && chosen.empty(); ++index) {
    std::wstring path = DroppedFileName(drop, index);
    if (IsFileNotFolder(path)) chosen = std::move(path);
  }
  DragFinish(drop);
  return chosen.empty() ? std::string() : Utf8(chosen);
}

int ScreenDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : kDesignDpi;
}

std::string FullPath(const std::string& path) {
  const std::wstring wide = Wide(path);
  const DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  std::wstring full(size, L'\0');
  const DWORD length = size != 0 ? GetFullPathNameW(wide.c_str(), size, full.data(), nullptr) : 0;
  if (length == 0 || length >= size) return path;
  full.resize(length);
  return Utf8(full);
}

int RunMessageLoop(Window& window) {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (window.TranslateKeys(message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}
