#include <gtest/gtest.h>

#include "IntelHex.h"

namespace pagersim {
namespace {

// A record from the Intel HEX format description: 11 bytes "address gap" at 0x0010.
constexpr const char* kKnownRecord = ":0B0010006164647265737320676170A7";

TEST(IntelHexTest, DecodesKnownRecord) {
  HexRecord record;
  std::string err;
  ASSERT_TRUE(DecodeRecord(kKnownRecord, &record, &err)) << err;
  EXPECT_EQ(record.type, kRecordData);
  EXPECT_EQ(record.offset, 0x0010);
  EXPECT_EQ(std::string(record.data.begin(), record.data.end()), "address gap");
}

TEST(IntelHexTest, EncodesWithUpperCaseDigitsAndChecksum) {
  HexRecord record;
  record.offset = 0x0010;
  const std::string text = "address gap";
  record.data.assign(text.begin(), text.end());
  EXPECT_EQ(EncodeRecord(record), kKnownRecord);
  HexRecord segment;
  segment.type = kRecordExtendedSegment;
  segment.data = {0x12, 0x00};
  EXPECT_EQ(EncodeRecord(segment), ":020000021200EA");
  EXPECT_EQ(EncodeRecord(HexRecord{kRecordEndOfFile, 0, {}}), ":00000001FF");
}

TEST(IntelHexTest, AcceptsLowerCaseDigits) {
  HexRecord record;
  std::string err;
  ASSERT_TRUE(DecodeRecord(":0400ab00deadbeef19", &record, &err)) << err;
  EXPECT_EQ(record.offset, 0x00AB);
  EXPECT_EQ(record.data, (std::vector<uint8_t>{0xDE, 0xAD, 0xBE, 0xEF}));
}

TEST(IntelHexTest, RejectsBadChecksumNamingBothValues) {
  HexRecord record;
  std::string err;
  EXPECT_FALSE(DecodeRecord(":0B0010006164647265737320676170A8", &record, &err));
  EXPECT_NE(err.find("A8"), std::string::npos) << err;
  EXPECT_NE(err.find("A7"), std::string::npos) << err;
}

TEST(IntelHexTest, RejectsMalformedText) {
  HexRecord record;
  std::string err;
  EXPECT_FALSE(DecodeRecord("0B0010006164647265737320676170A7", &record, &err));  // no ':'
  EXPECT_FALSE(DecodeRecord(":0B00100061646472G5737320676170A7", &record, &err));
  EXPECT_NE(err.find("position"), std::string::npos);
  EXPECT_FALSE(DecodeRecord(":0C0010006164647265737320676170A7", &record, &err));  // length
  EXPECT_NE(err.find("length"), std::string::npos);
  EXPECT_FALSE(DecodeRecord(":00", &record, &err));
}

TEST(IntelHexTest, LengthDigitRuleIsUpperCaseOnly) {
  EXPECT_TRUE(IsUpperHexDigit('A'));
  EXPECT_TRUE(IsUpperHexDigit('9'));
  EXPECT_FALSE(IsUpperHexDigit('a'));
  EXPECT_FALSE(IsUpperHexDigit('G'));
  EXPECT_EQ(HexDigitValue('f'), 15);
  EXPECT_EQ(HexDigitValue('g'), -1);
}

}  // namespace
}  // namespace pagersim
