// TarvexBench.exe's entry point: the command line read, one bench window
// and its message loop.
#include <windows.h>
#undef MessageBox

#include <commctrl.h>

#include <exception>
#include <string>
#include <vector>

#include "benchwin/BenchWindow_win32.h"
#include "common/CommandLine_win32.h"
#include "common/FileOps.h"
#include "common/WideText_win32.h"

namespace {

constexpr int kBadCommandLine = 2;

void PrepareProcess() {
  // The manifest declares DPI awareness; this covers a copy run without it.
  SetProcessDPIAware();
  INITCOMMONCONTROLSEX controls{sizeof controls,
                                ICC_PROGRESS_CLASS | ICC_LISTVIEW_CLASSES | ICC_LINK_CLASS};
  InitCommonControlsEx(&controls);
}

void ShowBox(const std::string& text, UINT style) {
  MessageBoxW(nullptr, Wide(text).c_str(), Wide(kBenchCaption).c_str(), MB_OK | style);
}

int Run(BenchCommandLine line, int show_command) {
  // Made absolute now: the log, the firmware and the job stay the same files
  // whatever the dialogs do to the current directory.
  if (line.firmware) line.firmware = FullPath(*line.firmware);
  if (line.log_path) line.log_path = FullPath(*line.log_path);
  if (line.job) line.job = FullPath(*line.job);
  if (line.job_key) line.job_key = FullPath(*line.job_key);
  BenchWindow window;
  if (!window.Open(fileops::CurrentDirectory().value_or("."), line)) return kBadCommandLine;
  window.Show(show_command);
  return RunMessageLoop(window);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show_command) {
  PrepareProcess();
  std::vector<std::string> arguments = CommandLineArguments();
  if (!arguments.empty()) arguments.erase(arguments.begin());
  const ParsedBenchCommandLine parsed = ParseBenchCommandLine(arguments);
  if (!parsed.fault.empty()) {
    ShowBox(parsed.fault + "\n\n" + BenchUsageText(), MB_ICONERROR);
    return kBadCommandLine;
  }
  if (parsed.line.usage) {
    ShowBox(BenchUsageText(), MB_ICONINFORMATION);
    return 0;
  }
  // Handlers catch their own exceptions (see Window); what arrives here
  // escaped the start-up, and ends the program.
  try {
    return Run(parsed.line, show_command);
  } catch (const std::exception& error) {
    ShowBox(error.what(), MB_ICONERROR);
  } catch (...) {
    ShowBox("Unknown error.", MB_ICONERROR);
  }
  return 1;
}
