// The program's arguments on Windows, in UTF-8, read from the wide command
// line: the narrow one (argv, lpCmdLine) has already turned every character
// that the ANSI code page lacks into "?".
#pragma once

#include <string>
#include <vector>

// The program's own name first, as argv has it.
std::vector<std::string> CommandLineArguments();
