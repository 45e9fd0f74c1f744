#include "common/VisibleText.h"

#include <cstdint>

#include "common/Utf16.h"

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr char32_t kFirstPrintable = 0x20;
constexpr char32_t kDelete = 0x7F;
constexpr char32_t kFirstC1 = 0x80;
constexpr char32_t kLastC1 = 0x9F;

std::string ByteEscape(std::uint8_t byte) {
  return {'\\', 'x', kHexDigits[byte >> 4], kHexDigits[byte & 0xF]};
}

std::string UnitEscape(char32_t character) {
  std::string text = "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) text += kHexDigits[(character >> shift) & 0xF];
  return text;
}

// Line and paragraph separators end a line in some viewers; the embedding,
// override and isolate marks turn the rest of a line around.
bool IsLayoutMark(char32_t character) {
  return character == 0x2028 || character == 0x2029 ||
         (character >= 0x202A && character <= 0x202E) ||
         (character >= 0x2066 && character <= 0x2069);
}

// The escape a terminal control is shown as; empty for a character that
// shows as itself.
std::string EscapeOf(char32_t character) {
  switch (character) {
    case '\n':
      return "\\n";
    case '\r':
      return "\\r";
    case '\t':
      return "\\t";
    default:
      break;
  }
  if (character < kFirstPrintable || character == kDelete) {
    return ByteEscape(static_cast<std::uint8_t>(character));
  }
  if ((character >= kFirstC1 && character <= kLastC1) || IsLayoutMark(character)) {
    return UnitEscape(character);
  }
  return "";
}

// Calls `well_formed(bytes, character)` for each character and
// `ill_formed(byte)` for each byte that is not part of one.
template <typename WellFormed, typename IllFormed>
void ForEachCharacter(std::string_view text, WellFormed well_formed, IllFormed ill_formed) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t from = at;
    char32_t character = 0;
    if (NextUtf8Character(text, at, character)) {
      well_formed(text.substr(from, at - from), character);
      continue;
    }
    for (std::size_t i = from; i < at; ++i) ill_formed(static_cast<std::uint8_t>(text[i]));
  }
}

}  // namespace

std::string VisibleText(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  ForEachCharacter(
      text,
      [&](std::string_view bytes, char32_t character) {
        const std::string escape = EscapeOf(character);
        shown += escape.empty() ? bytes : escape;
      },
      [&](std::uint8_t byte) { shown += ByteEscape(byte); });
  return shown;
}

std::string VisibleLines(std::string_view text) {
  std::string shown;
  for (std::size_t from = 0;;) {
    const std::size_t end = text.find('\n', from);
    shown += VisibleText(text.substr(from, end - from));
    if (end == std::string_view::npos) return shown;
    shown += '\n';
    from = end + 1;
  }
}

bool IsUtf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    char32_t character = 0;
    if (!NextUtf8Character(text, at, character)) return false;
  }
  return true;
}

std::string EscapeNonUtf8Bytes(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  ForEachCharacter(
      text, [&](std::string_view bytes, char32_t) { escaped += bytes; },
      [&](std::uint8_t byte) { escaped += ByteEscape(byte); });
  return escaped;
}

std::string HexBytes(std::string_view text) {
  std::string hex;
  hex.reserve(text.size() * 2);
  for (const char c : text) {
    const auto byte = static_cast<std::uint8_t>(c);
    hex += kHexDigits[byte >> 4];
    hex += kHexDigits[byte & 0xF];
  }
  return hex;
}
