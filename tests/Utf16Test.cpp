// The conversions between the program's UTF-8 and the system's UTF-16: exact
// units for known text, every character of every plane there and back, and
// U+FFFD for what is not well formed on either side.
#include <gtest/gtest.h>

#include <string>

#include "common/Utf16.h"

namespace {

// The test's own encoders, written from the definitions, to hold the
// conversions to.
std::string ReferenceUtf8(char32_t c) {
  if (c < 0x80) return std::string(1, static_cast<char>(c));
  if (c < 0x800) return {static_cast<char>(0xC0 | c >> 6), static_cast<char>(0x80 | (c & 0x3F))};
  if (c < 0x10000) {
    return {static_cast<char>(0xE0 | c >> 12), static_cast<char>(0x80 | (c >> 6 & 0x3F)),
            static_cast<char>(0x80 | (c & 0x3F))};
  }
  return {static_cast<char>(0xF0 | c >> 18), static_cast<char>(0x80 | (c >> 12 & 0x3F)),
          static_cast<char>(0x80 | (c >> 6 & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
}

std::u16string ReferenceUtf16(char32_t c) {
  if (c < 0x10000) return std::u16string(1, static_cast<char16_t>(c));
  return {static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)),
          static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF))};
}

bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

class EveryPlane : public ::testing::TestWithParam<char32_t> {};

TEST_P(EveryPlane, GoesToUtf16AndBackUnchanged) {
  const char32_t first = GetParam() << 16;
  std::string utf8;
  std::u16string utf16;
  for (char32_t c = first; c <= first + 0xFFFF; ++c) {
    if (IsSurrogate(c)) continue;
    utf8 += ReferenceUtf8(c);
    utf16 += ReferenceUtf16(c);
  }
  EXPECT_EQ(Utf16FromUtf8(utf8), utf16);
  EXPECT_EQ(Utf8FromUtf16(utf16), utf8);
}

INSTANTIATE_TEST_SUITE_P(Planes, EveryPlane, ::testing::Range(char32_t{0}, char32_t{17}));

// Which way a case is converted: well-formed text both ways, ill-formed
// UTF-8 to UTF-16 only, a lone surrogate to UTF-8 only.
enum class Way { kBoth, kToUtf16, kToUtf8 };

struct Conversion {
  const char* name;
  Way way;
  std::string utf8;
  std::u16string utf16;
};

void PrintTo(const Conversion& conversion, std::ostream* out) { *out << conversion.name; }

class Conversions : public ::testing::TestWithParam<Conversion> {};

TEST_P(Conversions, GiveExactlyTheseUnitsWithUFFFDForWhatIsNotWellFormed) {
  const Conversion& c = GetParam();
  if (c.way != Way::kToUtf8) {
    EXPECT_EQ(Utf16FromUtf8(c.utf8), c.utf16);
  }
  if (c.way != Way::kToUtf16) {
    EXPECT_EQ(Utf8FromUtf16(c.utf16), c.utf8);
  }
}

constexpr char kFolderUtf8[] = "\xC5\x81\xC3\xB3\x64\xC5\xBA \xE6\x97\xA5\xE6\x9C\xAC \xCE\xA9";

INSTANTIATE_TEST_SUITE_P(
    Texts, Conversions,
    ::testing::Values(
        Conversion{"Empty", Way::kBoth, "", u""},
        Conversion{"Folder", Way::kBoth, kFolderUtf8, u"\u0141\u00F3d\u017A \u65E5\u672C \u03A9"},
        Conversion{"EmbeddedNul", Way::kBoth, std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
        Conversion{"PlaneEdges", Way::kBoth, "\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF",
                   u"\uFFFF\U00010000\U0010FFFF"},
        // UTF-8 that is not: one U+FFFD for each longest part that could have
        // begun a character, the rest kept.
        Conversion{"Latin1", Way::kToUtf16, "L\xF3\x64z", u"L\uFFFDdz"},
        Conversion{"StrayContinuation", Way::kToUtf16, "a\x80\xBF\x62", u"a\uFFFD\uFFFDb"},
        Conversion{"CutAtTheEnd", Way::kToUtf16, "\xE6\x97", u"\uFFFD"},
        Conversion{"CutBeforeAscii", Way::kToUtf16, "\xF0\x9F\x93x", u"\uFFFDx"},
        Conversion{"Overlong", Way::kToUtf16, "\xC0\xAF\xE0\x80\xAF",
                   u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
        Conversion{"EncodedSurrogate", Way::kToUtf16, "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
        Conversion{"AboveUnicode", Way::kToUtf16, "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        Conversion{"NeverALead", Way::kToUtf16, "\xF5\xFF", u"\uFFFD\uFFFD"},
        // A surrogate without its partner, as a Windows file name may hold.
        Conversion{"HighAtTheEnd", Way::kToUtf8, "fw\xEF\xBF\xBD", u"fw\xD83D"},
        Conversion{"HighBeforeText", Way::kToUtf8, "\xEF\xBF\xBD.hex", u"\xD83D.hex"},
        Conversion{"LowAlone", Way::kToUtf8, "a\xEF\xBF\xBD\x62", u"a\xDC9F\x62"},
        Conversion{"Reversed", Way::kToUtf8, "\xEF\xBF\xBD\xEF\xBF\xBD", u"\xDC9F\xD83D"},
        Conversion{"TwoLows", Way::kToUtf8, "\xEF\xBF\xBD\xEF\xBF\xBD", u"\xDC9F\xDCA0"},
        Conversion{"TwoHighsThenLow", Way::kToUtf8, "\xEF\xBF\xBD\xF0\x9F\x93\x9F",
                   u"\xD83D\xD83D\xDCDF"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
