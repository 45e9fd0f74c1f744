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

struct Conversion {
  const char* name;
  std::string utf8;
  std::u16string utf16;
};

void PrintTo(const Conversion& conversion, std::ostream* out) { *out << conversion.name; }

// Well-formed text: the same both ways.
class WellFormed : public ::testing::TestWithParam<Conversion> {};

TEST_P(WellFormed, ConvertsExactlyBothWays) {
  EXPECT_EQ(Utf16FromUtf8(GetParam().utf8), GetParam().utf16);
  EXPECT_EQ(Utf8FromUtf16(GetParam().utf16), GetParam().utf8);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, WellFormed,
    ::testing::Values(Conversion{"Empty", "", u""},
                      Conversion{"Folder",
                                 "\xC5\x81\xC3\xB3\x64\xC5\xBA \xE6\x97\xA5\xE6\x9C\xAC \xCE\xA9",
                                 u"\u0141\u00F3d\u017A \u65E5\u672C \u03A9"},
                      Conversion{"EmbeddedNul", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
                      Conversion{"PlaneEdges", "\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF",
                                 u"\uFFFF\U00010000\U0010FFFF"},
                      Conversion{"Emoji", "fw \xF0\x9F\x93\x9F.hex", u"fw \U0001F4DF.hex"}),
    [](const auto& info) { return std::string(info.param.name); });

// UTF-8 that is not well formed: U+FFFD for each longest part that could
// have begun a character, the rest kept.
class IllFormedUtf8 : public ::testing::TestWithParam<Conversion> {};

TEST_P(IllFormedUtf8, BecomesReplacementCharacters) {
  EXPECT_EQ(Utf16FromUtf8(GetParam().utf8), GetParam().utf16);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, IllFormedUtf8,
    ::testing::Values(Conversion{"Latin1",
                                 "L\xF3"
                                 "dz",
                                 u"L\uFFFDdz"},
                      Conversion{"StrayContinuation",
                                 "a\x80\xBF"
                                 "b",
                                 u"a\uFFFD\uFFFDb"},
                      Conversion{"CutAtTheEnd", "\xE6\x97", u"\uFFFD"},
                      Conversion{"CutBeforeAscii", "\xF0\x9F\x93x", u"\uFFFDx"},
                      Conversion{"Overlong", "\xC0\xAF\xE0\x80\xAF",
                                 u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
                      Conversion{"EncodedSurrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
                      Conversion{"AboveUnicode", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
                      Conversion{"NeverALead", "\xF5\xFF", u"\uFFFD\uFFFD"}),
    [](const auto& info) { return std::string(info.param.name); });

// A surrogate without its partner, as a Windows file name may hold one.
class UnpairedSurrogate : public ::testing::TestWithParam<Conversion> {};

TEST_P(UnpairedSurrogate, BecomesReplacementCharacterAndTheRestIsKept) {
  EXPECT_EQ(Utf8FromUtf16(GetParam().utf16), GetParam().utf8);
}

INSTANTIATE_TEST_SUITE_P(
    Units, UnpairedSurrogate,
    ::testing::Values(Conversion{"HighAtTheEnd", "fw\xEF\xBF\xBD", u"fw\xD83D"},
                      Conversion{"HighBeforeText", "\xEF\xBF\xBD.hex", u"\xD83D.hex"},
                      Conversion{"LowAlone",
                                 "a\xEF\xBF\xBD"
                                 "b",
                                 u"a\xDC9F"
                                 "b"},
                      Conversion{"Reversed", "\xEF\xBF\xBD\xEF\xBF\xBD", u"\xDC9F\xD83D"},
                      Conversion{"TwoHighsThenLow", "\xEF\xBF\xBD\xF0\x9F\x93\x9F",
                                 u"\xD83D\xD83D\xDCDF"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
