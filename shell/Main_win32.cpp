// The program's entry point: one main window and its message loop.
#include <windows.h>
#undef MessageBox

#include <commctrl.h>

#include <exception>
#include <string>
#include <vector>

#include "common/CommandLine_win32.h"
#include "common/WideText_win32.h"
#include "engine/Hexproc.h"
#include "shell/MainWindow_win32.h"

namespace {

void PrepareProcess() {
  // The manifest declares DPI awareness; this covers a copy run without it.
  SetProcessDPIAware();
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
}

void ShowStartupError(const std::string& what) {
  MessageBoxW(nullptr, Wide(what).c_str(), Wide(kMainCaption).c_str(), MB_OK | MB_ICONERROR);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show_command) {
  PrepareProcess();
  // Handlers catch their own exceptions (see Window); what arrives here
  // escaped the start-up, and ends the program.
  try {
    TFmMain form;
    form.Show(show_command);
    // TarvexUpd.exe path\to\fw.hex starts with that file chosen.
    const std::vector<std::string> arguments = CommandLineArguments();
    if (arguments.size() > 1) form.ChooseFileFromCommandLine(arguments[1]);
    return RunMessageLoop(form);
  } catch (const std::exception& error) {
    ShowStartupError(error.what());
  } catch (...) {
    ShowStartupError("Unknown error.");
  }
  return 1;
}
