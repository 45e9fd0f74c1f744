// tarvex-flash: the firmware update of the Tarvex Flasher window, from the
// command line, on one or many pagers at once.
#include "cli/FlashCommand.h"
#include "cli/Platform.h"

int main(int argc, char** argv) {
  EnsureStandardStreams();
  return RunFlashCommand(argc, argv);
}
