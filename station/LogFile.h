// The traceability log's file, as the system writes it. One implementation
// file per platform, chosen by the build.
#pragma once

#include <string>
#include <string_view>

// Appends `line` to the file `path` names (UTF-8 on Windows, bytes on
// POSIX), creating it when it is missing, in one write while no other
// appender of ours writes to it. A write that goes short is cut back off the
// file, so no fragment is left for the next line to be glued to. True only
// when the whole line is in the file; an empty line only tries the file.
bool AppendWhole(const std::string& path, std::string_view line);
