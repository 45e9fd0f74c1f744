#include <gtest/gtest.h>

#include "engine/HexRecord.h"
#include "tests/support/HexText.h"

namespace {

TEST(HexLength, DecodesLikeTheLoader) {
  EXPECT_EQ(DecodeRecordLength('1', '0'), 16);
  EXPECT_EQ(DecodeRecordLength('0', '3'), 3);
  EXPECT_EQ(DecodeRecordLength('1', 'F'), 31);
  // A lower-case letter reads as its code minus 55: far too long a record.
  EXPECT_EQ(DecodeRecordLength('0', 'a'), 42);
}

struct RecordCase {
  const char* name;
  std::string record;
  std::string reason;  // empty: sound
};

class RecordCheck : public ::testing::TestWithParam<RecordCase> {};

TEST_P(RecordCheck, GivesTheReason) {
  std::uint8_t type = 0xFF;
  EXPECT_EQ(CheckHexRecord(GetParam().record, type), GetParam().reason);
}

const std::string kData16 = HexRecordText(0x0100, 0, Bytes(16));

INSTANTIATE_TEST_SUITE_P(
    Records, RecordCheck,
    ::testing::Values(
        RecordCase{"FullData", kData16, ""}, RecordCase{"EndRecord", kEndRecordLine, ""},
        RecordCase{"EndRecordLowerCase", ":00000001ff", ""},
        RecordCase{"LowerCaseData", ":0300300002337a1e", ""},
        RecordCase{"LinearAddress", HexRecordText(0, 4, {0x00, 0x01}), ""},
        RecordCase{"SegmentAddress", HexRecordText(0, 2, {0x10, 0x00}), ""},
        RecordCase{"NineteenBytes", HexRecordText(0x10, 0, Bytes(19)), ""},
        RecordCase{"Empty", "", "empty line."},
        RecordCase{"NoColon", kData16.substr(1), "record does not start with ':'."},
        RecordCase{"TooShort", ":1", "record too short."},
        RecordCase{"LowerCaseLength", ":0a000000" + std::string(22, '0'),
                   "bad record length digits."},
        RecordCase{"TwentyBytes", HexRecordText(0x10, 0, Bytes(20)),
                   "record longer than 19 data bytes."},
        RecordCase{"NonHex", ":0300300002337G1E", "character that is not a hex digit."},
        RecordCase{"Truncated", kData16.substr(0, 40),
                   "record length does not match its length field."},
        RecordCase{"BadChecksum", kData16.substr(0, 41) + "00", "checksum mismatch."},
        RecordCase{"UnknownType", HexRecordText(0, 6, {}), "unknown record type."},
        RecordCase{"EndAtOtherAddress", HexRecordText(0x1234, 1, {}), "malformed end record."},
        RecordCase{"ShortLinearAddress", HexRecordText(0, 4, {0x01}),
                   "address record of the wrong length."},
        RecordCase{"EmptyDataAtZero", HexRecordText(0, 0, {}),
                   "empty record at address 0000 reads as the end record."}),
    [](const auto& info) { return std::string(info.param.name); });

struct FileCase {
  const char* name;
  std::string text;
  std::string error;  // empty: accepted
};

class FileCheck : public ::testing::TestWithParam<FileCase> {};

std::string CheckWhole(const std::string& text, std::size_t chunk) {
  HexFileChecker checker;
  for (std::size_t pos = 0; pos < text.size(); pos += chunk) {
    if (!checker.Feed(std::string_view(text).substr(pos, chunk))) break;
  }
  checker.Finish();
  return checker.ErrorText();
}

TEST_P(FileCheck, SameVerdictWhateverTheChunks) {
  // The file is streamed: a record split across reads must not change it.
  for (std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{4096}}) {
    EXPECT_EQ(CheckWhole(GetParam().text, chunk), GetParam().error) << "chunk " << chunk;
  }
}

const std::string kRec1 = HexRecordText(0x0000, 0, Bytes(16));
const std::string kRec2 = HexRecordText(0x0010, 0, Bytes(3, 0x40));

INSTANTIATE_TEST_SUITE_P(
    Files, FileCheck,
    ::testing::Values(
        FileCase{"Normal", HexFileText({kRec1, kRec2, kEndRecordLine}), ""},
        FileCase{"EndWithoutLineEnd", HexFileText({kRec1}) + kEndRecordLine, ""},
        FileCase{"EmptyLinesAfterEnd", HexFileText({kRec1, kEndRecordLine}) + "\r\n\r\n", ""},
        FileCase{"Empty", "", "Line 1: the file is empty."},
        FileCase{"NoEndRecord", HexFileText({kRec1, kRec2}), "Line 3: the file has no end record."},
        // Unix tools and git checkouts end lines in LF; files pieced
        // together end them in both.
        FileCase{"LfOnly", kRec1 + "\n" + kRec2 + "\n" + kEndRecordLine + "\n", ""},
        FileCase{"MixedLineEnds", kRec1 + "\n" + kRec2 + "\r\n" + kEndRecordLine + "\n\r\n\n", ""},
        FileCase{"LfBadChecksumOnLineTwo",
                 kRec1 + "\n" + kRec2.substr(0, kRec2.size() - 2) + "00\n" + kEndRecordLine,
                 "Line 2: checksum mismatch."},
        FileCase{"CrOnly", kRec1 + "\r" + kEndRecordLine,
                 "Line 1: line does not end in CR LF or LF."},
        FileCase{"CrAfterTheEnd", kRec1 + "\n" + kEndRecordLine + "\r",
                 "Line 2: line does not end in CR LF or LF."},
        FileCase{"DataRecordLastWithoutLineEnd", kRec1 + "\n" + kRec2,
                 "Line 2: line does not end in CR LF or LF."},
        FileCase{"BadChecksumOnLineTwo",
                 HexFileText({kRec1, kRec2.substr(0, kRec2.size() - 2) + "00", kEndRecordLine}),
                 "Line 2: checksum mismatch."},
        FileCase{"DataAfterEnd", HexFileText({kEndRecordLine, kRec1}),
                 "Line 2: data after the end record."},
        FileCase{"EmptyLineInside", HexFileText({kRec1, "", kEndRecordLine}),
                 "Line 2: empty line."},
        FileCase{"EndlessLine", std::string(100000, 'A'),
                 "Line 1: record longer than 19 data bytes."},
        // Overlaps name the first line that wrote the first address both write.
        FileCase{"SameRecordTwice", HexFileText({kRec1, kRec2, kRec1, kEndRecordLine}),
                 "Line 3: overlaps line 1."},
        FileCase{"IntoARunOfRecords",
                 HexFileText({kRec1, HexRecordText(0x10, 0, Bytes(16)),
                              HexRecordText(0x20, 0, Bytes(16)), HexRecordText(0x25, 0, Bytes(3)),
                              kEndRecordLine}),
                 "Line 4: overlaps line 3."},
        FileCase{"BackOverTwoRecords",
                 HexFileText({kRec2, kRec1, HexRecordText(0x0E, 0, Bytes(4)), kEndRecordLine}),
                 "Line 3: overlaps line 2."},
        FileCase{"SameOffsetOnAnotherPage",
                 HexFileText({kRec1, HexRecordText(0, 4, {0x00, 0x01}), kRec1, kEndRecordLine}),
                 ""},
        FileCase{
            "SegmentBaseOntoEarlierData",
            HexFileText({HexRecordText(0x0100, 0, Bytes(16)), HexRecordText(0, 2, {0x00, 0x10}),
                         HexRecordText(0x0008, 0, Bytes(2)), kEndRecordLine}),
            "Line 3: overlaps line 1."},
        // The pager adds in 32 bits: a record may end at the top of the
        // address space but not run past it and on at 0.
        FileCase{"EndsAtTheTopOfTheAddressSpace",
                 HexFileText({HexRecordText(0, 4, {0xFF, 0xFF}),
                              HexRecordText(0xFFF0, 0, Bytes(16)), kEndRecordLine}),
                 ""},
        FileCase{
            "RunsPastTheTopOfTheAddressSpace",
            HexFileText({HexRecordText(0, 4, {0xFF, 0xFF}), HexRecordText(0xFFF8, 0, Bytes(16)),
                         HexRecordText(0, 4, {0x00, 0x00}), HexRecordText(0, 0, Bytes(8)),
                         kEndRecordLine}),
            "Line 2: record runs past address FFFFFFFF."},
        FileCase{"BinaryGarbage",
                 std::string("\x7f"
                             "ELF\x01\x02\r\n",
                             8),
                 "Line 1: record does not start with ':'."}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
