#include "common/Window_win32.h"

#include <exception>
#include <stdexcept>

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
