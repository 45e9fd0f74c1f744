// One JSON object as one line of text, for the log and the JSON events.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

// Without its line end. Bytes that are not UTF-8 (a port name, a reason
// quoting a file name) are replaced rather than thrown on.
inline std::string JsonText(const nlohmann::json& object) {
  return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}
