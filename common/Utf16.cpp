#include "common/Utf16.h"

#include <cstdint>

namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kFirstSupplementary = 0x10000;
constexpr char16_t kHighSurrogateFirst = 0xD800;
constexpr char16_t kHighSurrogateLast = 0xDBFF;
constexpr char16_t kLowSurrogateFirst = 0xDC00;
constexpr char16_t kLowSurrogateLast = 0xDFFF;
constexpr unsigned kSurrogateBits = 10;
constexpr char32_t kSurrogateMask = 0x3FF;

bool IsHighSurrogate(char32_t unit) {
  return unit >= kHighSurrogateFirst && unit <= kHighSurrogateLast;
}
bool IsLowSurrogate(char32_t unit) {
  return unit >= kLowSurrogateFirst && unit <= kLowSurrogateLast;
}

// The lead bytes of UTF-8, in order: how many continuation bytes follow, and
// the range the first of them must lie in. The narrower ranges after E0, ED,
// F0 and F4 keep out overlong forms, surrogates and values above U+10FFFF.
struct LeadRange {
  std::uint8_t first;
  std::uint8_t last;
  int continuations;
  std::uint8_t second_low;
  std::uint8_t second_high;
};

constexpr LeadRange kLeadRanges[] = {
    {0xC2, 0xDF, 1, 0x80, 0xBF}, {0xE0, 0xE0, 2, 0xA0, 0xBF}, {0xE1, 0xEC, 2, 0x80, 0xBF},
    {0xED, 0xED, 2, 0x80, 0x9F}, {0xEE, 0xEF, 2, 0x80, 0xBF}, {0xF0, 0xF0, 3, 0x90, 0xBF},
    {0xF1, 0xF3, 3, 0x80, 0xBF}, {0xF4, 0xF4, 3, 0x80, 0x8F},
};

const LeadRange* FindLead(std::uint8_t byte) {
  for (const LeadRange& range : kLeadRanges) {
    if (byte >= range.first && byte <= range.last) return &range;
  }
  return nullptr;
}

// The character that starts at `at`, moving `at` past it; an ill-formed
// start gives U+FFFD and moves past the longest part that could have begun
// a character (at least one byte).
char32_t DecodeUtf8(std::string_view text, std::size_t& at) {
  char32_t value = 0;
  return NextUtf8Character(text, at, value) ? value : kReplacement;
}

void AppendUtf16(std::u16string& out, char32_t value) {
  if (value < kFirstSupplementary) {
    out += static_cast<char16_t>(value);
    return;
  }
  const char32_t offset = value - kFirstSupplementary;
  out += static_cast<char16_t>(kHighSurrogateFirst + (offset >> kSurrogateBits));
  out += static_cast<char16_t>(kLowSurrogateFirst + (offset & kSurrogateMask));
}

// The character that starts at `at`, moving `at` past it: a pair of
// surrogates makes one character, a lone surrogate U+FFFD.
char32_t DecodeUtf16(std::u16string_view text, std::size_t& at) {
  const char32_t unit = text[at++];
  if (!IsHighSurrogate(unit) && !IsLowSurrogate(unit)) return unit;
  if (IsLowSurrogate(unit) || at == text.size() || !IsLowSurrogate(text[at])) return kReplacement;
  const char32_t low = text[at++];
  return kFirstSupplementary + ((unit - kHighSurrogateFirst) << kSurrogateBits) +
         (low - kLowSurrogateFirst);
}

void AppendUtf8(std::string& out, char32_t value) {
  if (value < 0x80) {
    out += static_cast<char>(value);
  } else if (value < 0x800) {
    out += static_cast<char>(0xC0 | (value >> 6));
    out += static_cast<char>(0x80 | (value & 0x3F));
  } else if (value < kFirstSupplementary) {
    out += static_cast<char>(0xE0 | (value >> 12));
    out += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (value & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (value >> 18));
    out += static_cast<char>(0x80 | ((value >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (value & 0x3F));
  }
}

}  // namespace

bool NextUtf8Character(std::string_view text, std::size_t& at, char32_t& character) {
  const auto byte = static_cast<std::uint8_t>(text[at++]);
  character = byte;
  if (byte < 0x80) return true;
  const LeadRange* lead = FindLead(byte);
  if (lead == nullptr) return false;
  // The lead byte's own bits: those below its run of leading ones and the 0.
  char32_t value = byte & (0x7Fu >> (lead->continuations + 1));
  for (int i = 0; i < lead->continuations; ++i) {
    if (at == text.size()) return false;
    const auto next = static_cast<std::uint8_t>(text[at]);
    const std::uint8_t low = i == 0 ? lead->second_low : 0x80;
    const std::uint8_t high = i == 0 ? lead->second_high : 0xBF;
    if (next < low || next > high) return false;
    value = (value << 6) | (next & 0x3Fu);
    ++at;
  }
  character = value;
  return true;
}

std::u16string Utf16FromUtf8(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (std::size_t at = 0; at < utf8.size();) AppendUtf16(out, DecodeUtf8(utf8, at));
  return out;
}

std::string Utf8FromUtf16(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size() * 3);
  for (std::size_t at = 0; at < utf16.size();) AppendUtf8(out, DecodeUtf16(utf16, at));
  return out;
}
