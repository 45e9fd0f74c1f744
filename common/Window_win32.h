// A top-level window as a C++ object: the object's address rides in the
// window's GWLP_USERDATA, and every message goes to its HandleMessage. An
// exception that escapes a handler is caught before it leaves the window
// procedure and shown in an error box; the message loop goes on. The window
// is a Unicode window: its texts are UTF-16 on the Windows side, UTF-8 here.
#pragma once

#include <windows.h>
#undef MessageBox

#include <optional>
#include <string>

class Window {
 public:
  Window() = default;
  virtual ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  HWND Handle() const { return hwnd_; }
  // Shortcuts and dialog keys; true when `message` was handled and must not
  // be dispatched.
  virtual bool TranslateKeys(MSG&) { return false; }

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

// Runs the file-open dialog owned by `owner` with a filter of
// "caption|pattern|..." pairs and `extra_flags` beside the usual ones; the
// chosen path in UTF-8, or nothing when the user cancelled. The current
// directory stays as it is, where the settings file is.
std::optional<std::string> RunOpenFileDialog(HWND owner, const std::string& filter,
                                             DWORD extra_flags = 0);

// The first file of a WM_DROPFILES drop, in UTF-8, folders passed over;
// empty when there is none. The drop is finished either way.
std::string FirstDroppedFile(WPARAM drop_handle);

// Layouts are drawn for 96 dpi and scaled from it.
constexpr int kDesignDpi = 96;
// The screen's dots per inch; kDesignDpi when Windows does not tell.
int ScreenDpi();

// `path` made absolute, or as given when Windows cannot make it so.
std::string FullPath(const std::string& path);

// The thread's message loop: `window`'s keys first, then the usual
// dispatch. Returns the exit code the loop ended with.
int RunMessageLoop(Window& window);
