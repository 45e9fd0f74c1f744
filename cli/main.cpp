// tarvex-flash: the firmware update of the Tarvex Flasher window, from the
// command line, on one or many pagers at once.
#include <string>
#include <vector>

#include "cli/FlashCommand.h"
#include "cli/Platform.h"

int main(int argc, char** argv) {
  EnsureStandardStreams();
  const std::vector<std::string> arguments = ProgramArguments(argc, argv);
  std::vector<const char*> pointers;
  for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
  return RunFlashCommand(static_cast<int>(pointers.size()), pointers.data());
}
