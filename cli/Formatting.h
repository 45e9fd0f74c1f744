// Small pieces of formatting the reports share.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

// "-" for a field with nothing to say.
inline std::string OrDash(const std::string& text) { return text.empty() ? "-" : text; }

// One JSON object as one line, without its line end. Bytes that are not
// UTF-8 (a port name, a reason quoting a file name) are replaced rather than
// thrown on.
inline std::string JsonText(const nlohmann::json& object) {
  return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}
