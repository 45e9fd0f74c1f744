// tarvex-flash from its command line to its exit code.
#pragma once

int RunFlashCommand(int argc, const char* const* argv);
