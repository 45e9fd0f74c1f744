#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "shell/Globals.h"
#include "shell/Settings.h"
#include "tests/shell/ShellTestSupport.h"
#include "tests/support/HexText.h"

namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

struct Values {
  int port;  // ComPortIndex, widened so a failure prints a number
  std::int32_t rate;
  std::int32_t resend;
  friend bool operator==(const Values&, const Values&) = default;
};

void PrintTo(const Values& v, std::ostream* out) {
  *out << "{" << v.port << ", " << v.rate << ", " << v.resend << "}";
}

void SetGlobals(const Values& values) {
  ComPortIndex = static_cast<std::int8_t>(values.port);
  FlashBaudRate = values.rate;
  ResendTimes = values.resend;
}

Values Globals() { return {ComPortIndex, FlashBaudRate, ResendTimes}; }

// Every test stands in a directory of its own.
class SettingsTest : public ::testing::Test {
 protected:
  fs::path Ini() const { return dir.path() / kSettingsFileName; }
  void WriteIni(const std::string& content) const { dir.Write(kSettingsFileName, content); }

  TempDir dir;
  InDirectory cwd{dir.path()};
  FreshGlobals globals;
};

// ---- Loading an existing file ------------------------------------------------

struct LoadCase {
  const char* name;
  const char* content;
  std::int32_t rate_before;  // FlashBaudRate before the load
  Values expected;
};

void PrintTo(const LoadCase& c, std::ostream* out) { *out << c.name; }

class LoadCases : public SettingsTest, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(LoadCases, SetTheGlobalsAsTheLinesSay) {
  WriteIni(GetParam().content);
  FlashBaudRate = GetParam().rate_before;
  LoadSettings();
  EXPECT_EQ(Globals(), GetParam().expected);
  EXPECT_EQ(ReadBytes(Ini()), GetParam().content) << "loading never writes an existing file";
}

INSTANTIATE_TEST_SUITE_P(
    Settings, LoadCases,
    ::testing::Values(
        LoadCase{"Defaults", "1\r\nM\r\n3\r\n", 0, {0, 4800, 3}},
        LoadCase{"Com3Low", "3\r\nL\r\n0\r\n", 0, {2, 2400, 0}},
        LoadCase{"Com4High", "4\r\nH\r\n5\r\n", 0, {3, 9600, 5}},
        LoadCase{"PortZeroIsMinusOne", "0\r\nM\r\n3\r\n", 0, {-1, 4800, 3}},
        LoadCase{"Port257WrapsToZero", "257\r\nM\r\n3\r\n", 0, {0, 4800, 3}},
        LoadCase{"Port129WrapsNegative", "129\r\nM\r\n3\r\n", 0, {-128, 4800, 3}},
        LoadCase{"NegativePort", "-2\r\nM\r\n3\r\n", 0, {-3, 4800, 3}},
        LoadCase{"Port12", "12\r\nM\r\n3\r\n", 0, {11, 4800, 3}},
        LoadCase{"Port255", "255\r\nM\r\n3\r\n", 0, {-2, 4800, 3}},
        LoadCase{"UnknownLetterKeepsZeroRate", "1\r\nX\r\n3\r\n", 0, {0, 0, 3}},
        LoadCase{"UnknownLetterKeepsEarlierRate", "1\r\nX\r\n3\r\n", 2400, {0, 2400, 3}},
        LoadCase{"LetterIsCaseSensitive", "1\r\nh\r\n3\r\n", 0, {0, 0, 3}},
        LoadCase{"OnlyTheFirstLetterCounts", "1\r\nMH\r\n3\r\n", 0, {0, 4800, 3}},
        LoadCase{"NoBlanksSkippedBeforeTheLetter", "1\r\n H\r\n3\r\n", 0, {0, 0, 3}},
        LoadCase{"EmptyRateLineKeepsRate", "1\r\n\r\n3\r\n", 2400, {0, 2400, 3}},
        LoadCase{"ResendFour", "1\r\nM\r\n4\r\n", 0, {0, 4800, 4}},
        LoadCase{"TwoLinesRepeatTheSecond", "1\r\n3\r\n", 0, {0, 0, 3}},
        LoadCase{"OneLineRepeatsItself", "2\r\n", 0, {1, 0, 2}},
        LoadCase{"EmptyFileIsThreeEmptyLines", "", 2400, {-1, 2400, 0}},
        LoadCase{"LineFeedsAlone", "2\nH\n5\n", 0, {1, 9600, 5}},
        LoadCase{"LastLineWithoutEnd", "2\r\nH\r\n5", 0, {1, 9600, 5}},
        LoadCase{"LoneCarriageReturnAtTheEnd", "2\r\nH\r\n5\r", 0, {1, 9600, 5}},
        LoadCase{"BlanksAndSignBeforeDigits", "  +3\r\nL\r\n\t5\r\n", 0, {2, 2400, 5}},
        LoadCase{"NoDigitsCountAsZero", "abc\r\nM\r\nxyz\r\n", 0, {-1, 4800, 0}},
        LoadCase{"DigitsEndAtTheFirstOtherCharacter", "3x\r\nM\r\n5 times\r\n", 0, {2, 4800, 5}},
        LoadCase{"LinesAfterTheThirdAreIgnored", "1\r\nM\r\n3\r\n9\r\n", 0, {0, 4800, 3}},
        // Cut to four characters: "1234" gives port index 1233, low 8 bits -47.
        LoadCase{"LongFirstLineIsCutNotCarriedOver", "123456789\r\nH\r\n5\r\n", 0, {-47, 9600, 5}},
        LoadCase{"FourCharactersFillTheBuffer", "1234\r\nH\r\n5\r\n", 0, {-47, 9600, 5}},
        LoadCase{"LongRateLineIsCutNotCarriedOver", "2\r\nHHHHHHHHHHHH\r\n5\r\n", 0, {1, 9600, 5}},
        LoadCase{"LongResendLineIsCut", "2\r\nH\r\n123456789\r\n", 0, {1, 9600, 1234}},
        LoadCase{"MissingLineRepeatsTheCutLine", "1\r\n98765\r\n", 0, {0, 0, 9876}},
        LoadCase{"LongLineWithLineFeedsAlone", "2\nMMMMMMMMMMM\n5\n", 0, {1, 4800, 5}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Loading without a usable file ---------------------------------------

TEST_F(SettingsTest, MissingFileIsCreatedWithTheDefaults) {
  SetGlobals({2, 9600, 5});
  LoadSettings();
  EXPECT_EQ(Globals(), (Values{0, 4800, 3}));
  EXPECT_EQ(ReadBytes(Ini()), "1\r\nM\r\n3\r\n");
  EXPECT_EQ(FileNamesIn(dir.path()), Names{kSettingsFileName}) << "no temporary file is left";
}

TEST_F(SettingsTest, DirectoryInTheFilesPlaceGivesTheDefaultsAndStays) {
  fs::create_directory(Ini());
  SetGlobals({2, 9600, 5});
  LoadSettings();
  EXPECT_EQ(Globals(), (Values{0, 4800, 3}));
  EXPECT_TRUE(fs::is_directory(Ini()));
  EXPECT_EQ(FileNamesIn(dir.path()), Names{kSettingsFileName});
}

TEST_F(SettingsTest, UnreadableFileGivesTheDefaultsAndIsLeftAlone) {
  WriteIni("3\r\nH\r\n5\r\n");
  fs::permissions(Ini(), fs::perms::none);
  if (std::ifstream(Ini()).is_open()) {
    fs::permissions(Ini(), fs::perms::owner_all);
    GTEST_SKIP() << "file permissions do not bind this user";
  }
  SetGlobals({2, 2400, 0});
  LoadSettings();
  fs::permissions(Ini(), fs::perms::owner_all);
  EXPECT_EQ(Globals(), (Values{0, 4800, 3}));
  EXPECT_EQ(ReadBytes(Ini()), "3\r\nH\r\n5\r\n");
}

TEST_F(SettingsTest, RemovedCurrentDirectoryGivesTheDefaultsAndWritesNothing) {
  const fs::path doomed = dir.path() / "doomed";
  fs::create_directory(doomed);
  InDirectory inside(doomed);
  std::error_code error;
  if (!fs::remove(doomed, error)) GTEST_SKIP() << "the current directory cannot be removed here";
  SetGlobals({2, 9600, 5});
  LoadSettings();
  EXPECT_EQ(Globals(), (Values{0, 4800, 3}));
  SaveSettings();
  EXPECT_TRUE(FileNamesIn(dir.path()).empty());
}

// ---- Saving --------------------------------------------------------------

struct SaveCase {
  const char* name;
  Values globals;
  const char* content;
};

void PrintTo(const SaveCase& c, std::ostream* out) { *out << c.name; }

class SaveCases : public SettingsTest, public ::testing::WithParamInterface<SaveCase> {};

TEST_P(SaveCases, WriteTheLinesOverAnExistingFile) {
  WriteIni("old content that is longer than the new one\r\n");
  SetGlobals(GetParam().globals);
  SaveSettings();
  EXPECT_EQ(ReadBytes(Ini()), GetParam().content);
  EXPECT_EQ(FileNamesIn(dir.path()), Names{kSettingsFileName}) << "no temporary file is left";
}

INSTANTIATE_TEST_SUITE_P(
    Settings, SaveCases,
    ::testing::Values(
        SaveCase{"Defaults", {0, 4800, 3}, "1\r\nM\r\n3\r\n"},
        SaveCase{"Com2High5", {1, 9600, 5}, "2\r\nH\r\n5\r\n"},
        SaveCase{"Com4LowNone", {3, 2400, 0}, "4\r\nL\r\n0\r\n"},
        SaveCase{"NoRateLeavesOutTheLine", {0, 0, 3}, "1\r\n3\r\n"},
        SaveCase{"OtherRateLeavesOutTheLine", {0, 1200, 5}, "1\r\n5\r\n"},
        SaveCase{"PortMinusOne", {-1, 4800, 3}, "0\r\nM\r\n3\r\n"},
        SaveCase{"HighestPort", {127, 4800, 3}, "128\r\nM\r\n3\r\n"},
        SaveCase{"Port129", {-128, 4800, 3}, "129\r\nM\r\n3\r\n"},
        SaveCase{"Port255", {-2, 4800, 3}, "255\r\nM\r\n3\r\n"},
        SaveCase{"Port12", {11, 4800, 3}, "12\r\nM\r\n3\r\n"},
        SaveCase{"ResendFour", {0, 4800, 4}, "1\r\nM\r\n4\r\n"},
        SaveCase{"LongResendIsCut", {0, 4800, 123456}, "1\r\nM\r\n1234\r\n"},
        SaveCase{"LongNegativeResendIsCut", {0, 4800, -2147483647 - 1}, "1\r\nM\r\n-214\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// Whatever a run chose from the menus is what the next run starts with, the
// two-line file of an unset rate included.
class RoundTrips : public SettingsTest, public ::testing::WithParamInterface<Values> {};

TEST_P(RoundTrips, SavedChoicesLoadAsTheyWere) {
  WriteIni("");
  SetGlobals(GetParam());
  SaveSettings();
  SetGlobals({0, 0, 0});
  LoadSettings();
  EXPECT_EQ(Globals(), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Settings, RoundTrips,
                         ::testing::Values(Values{0, 4800, 3}, Values{1, 9600, 5},
                                           Values{3, 2400, 0}, Values{-1, 4800, 4},
                                           Values{127, 2400, 3}, Values{-128, 9600, 5},
                                           Values{11, 4800, 3}, Values{-57, 4800, 3},
                                           Values{-2, 4800, 3}, Values{2, 0, 5}));

TEST_F(SettingsTest, SaveWithoutAFileWritesNothing) {
  SetGlobals({1, 9600, 5});
  SaveSettings();
  EXPECT_TRUE(FileNamesIn(dir.path()).empty());
}

TEST_F(SettingsTest, SaveOverADirectoryWritesNothing) {
  fs::create_directory(Ini());
  SetGlobals({1, 9600, 5});
  SaveSettings();
  EXPECT_TRUE(fs::is_directory(Ini()));
  EXPECT_EQ(FileNamesIn(dir.path()), Names{kSettingsFileName});
}

TEST_F(SettingsTest, ReadOnlyFileIsNotReplaced) {
  WriteIni("3\r\nH\r\n5\r\n");
  fs::permissions(Ini(), fs::perms::owner_read);
  if (std::ofstream(Ini(), std::ios::app).is_open()) {
    fs::permissions(Ini(), fs::perms::owner_all);
    GTEST_SKIP() << "file permissions do not bind this user";
  }
  SetGlobals({0, 2400, 0});
  SaveSettings();
  fs::permissions(Ini(), fs::perms::owner_all);
  EXPECT_EQ(ReadBytes(Ini()), "3\r\nH\r\n5\r\n");
  EXPECT_EQ(FileNamesIn(dir.path()), Names{kSettingsFileName});
}

// The file is the one in the current directory at the moment of access.
TEST_F(SettingsTest, EachAccessUsesTheCurrentDirectoryOfThatMoment) {
  WriteIni("2\r\nL\r\n0\r\n");
  LoadSettings();
  const fs::path without_file = dir.path() / "hex";
  const fs::path with_file = dir.path() / "other";
  fs::create_directory(without_file);
  fs::create_directory(with_file);
  std::ofstream(with_file / kSettingsFileName, std::ios::binary) << "1\r\nM\r\n3\r\n";

  SetGlobals({3, 9600, 5});
  {
    InDirectory moved(without_file);
    SaveSettings();
  }
  {
    InDirectory moved(with_file);
    SaveSettings();
  }
  EXPECT_TRUE(FileNamesIn(without_file).empty());
  EXPECT_EQ(ReadBytes(with_file / kSettingsFileName), "4\r\nH\r\n5\r\n");
  EXPECT_EQ(ReadBytes(Ini()), "2\r\nL\r\n0\r\n");
}

}  // namespace
