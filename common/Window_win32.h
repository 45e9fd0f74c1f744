// A top-level window as a C++ object: the object's address rides in the
// window's GWLP_USERDATA, and every message goes to its HandleMessage. An
// exception that escapes a handler is caught before it leaves the window
// procedure and shown in an error box; the message loop goes on. The window
// is a Unicode window: its texts are UTF-16 on the Windows side, UTF-8 here.
#pragma once

#include <windows.h>
#undef MessageBox

#include <string>

class Window {
 public:
  Window() = default;
  virtual ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  HWND Handle() const { return hwnd_; }

 protected:
  // Registers `class_name` on first use and creates the window with the
  // UTF-8 `caption`; throws std::runtime_error when Windows refuses either.
  void Create(const wchar_t* class_name, const std::string& caption, DWORD style,
              const RECT& bounds, HMENU menu);

  // Destroys the window while the derived object can still take its messages.
  void Destroy();

  virtual LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT DefaultHandling(UINT message, WPARAM wparam, LPARAM lparam);
  // Shows what escaped a handler; the window's own error box.
  virtual void ShowHandlerError(const std::string& what) = 0;

 private:
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT GuardedHandleMessage(UINT message, WPARAM wparam, LPARAM lparam);

  HWND hwnd_ = nullptr;
};
