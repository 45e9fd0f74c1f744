#include <windows.h>
// After windows.h, which it builds on.
#include <shellapi.h>

#include "common/CommandLine_win32.h"
#include "common/WideText_win32.h"

std::vector<std::string> CommandLineArguments() {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (arguments == nullptr) return {};
  std::vector<std::string> result;
  for (int i = 0; i < count; ++i) result.push_back(Utf8(arguments[i]));
  LocalFree(arguments);
  return result;
}
