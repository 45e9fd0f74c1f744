// tarvex-flash: the firmware update of the Tarvex Flasher window, from the
// command line, on one or many pagers at once.
#include "cli/FlashCommand.h"

int main(int argc, char** argv) { return RunFlashCommand(argc, argv); }
