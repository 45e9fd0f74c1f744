// One JSON object as one line of text, for the log and the JSON events.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "common/VisibleText.h"

namespace json_text_detail {

// Every string in `value` with its bytes that are not UTF-8 written as \xNN.
inline void EscapeNonUtf8Strings(nlohmann::json& value) {
  if (value.is_string()) {
    auto& text = value.get_ref<std::string&>();
    if (!IsUtf8(text)) text = EscapeNonUtf8Bytes(text);
    return;
  }
  if (!value.is_structured()) return;
  for (nlohmann::json& item : value) EscapeNonUtf8Strings(item);
}

}  // namespace json_text_detail

// Without its line end. Bytes that are not UTF-8 (a file or port name on
// Linux may hold any) are written as \xNN, so two names that differ only
// there stay apart; PutName keeps such a name's bytes whole besides.
inline std::string JsonText(const nlohmann::json& object) {
  nlohmann::json escaped = object;
  json_text_detail::EscapeNonUtf8Strings(escaped);
  return escaped.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// Sets `key` to a name from outside. A name that is not UTF-8 also gets its
// bytes, as hex, in `key` + "_bytes": the name itself shows them as \xNN,
// which a name could also hold as text.
inline void PutName(nlohmann::json& object, const std::string& key, const std::string& name) {
  object[key] = name;
  if (!IsUtf8(name)) object[key + "_bytes"] = HexBytes(name);
}
