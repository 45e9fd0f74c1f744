#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "FlashImage.h"
#include "IntelHex.h"
#include "PagerSystem.h"

namespace pagersim {
namespace {

// Rebuilds an image from Intel HEX text, honouring 04 records.
std::map<uint32_t, uint8_t> ParseHexImage(const std::string& text) {
  std::map<uint32_t, uint8_t> bytes;
  std::istringstream in(text);
  std::string line;
  uint32_t base = 0;
  while (std::getline(in, line)) {
    EXPECT_TRUE(!line.empty() && line.back() == '\r') << "line not ended by CR LF";
    line.pop_back();
    HexRecord record;
    std::string err;
    EXPECT_TRUE(DecodeRecord(line, &record, &err)) << err;
    EXPECT_LE(record.data.size(), kHexOutputRecordBytes);
    if (record.type == kRecordExtendedLinear)
      base = (record.data[0] << 24) | (record.data[1] << 16);
    if (record.type != kRecordData) continue;
    for (size_t i = 0; i < record.data.size(); ++i)
      bytes[base + record.offset + i] = record.data[i];
  }
  return bytes;
}

TEST(FlashImageTest, ProgrammingOnlyClearsBits) {
  FlashImage image;
  EXPECT_EQ(image.Program(0x10, {0xF0, 0x0F}), 0u);
  EXPECT_EQ(image.Program(0x11, {0x3C, 0xAA}), 1u);
  EXPECT_EQ(image.At(0x10), 0xF0);
  EXPECT_EQ(image.At(0x11), 0x0C);
  EXPECT_EQ(image.At(0x12), 0xAA);
  EXPECT_EQ(image.At(0x13), std::nullopt);
  image.Erase();
  EXPECT_TRUE(image.empty());
}

TEST(FlashImageTest, FlattenSpansLowestToHighestWithErasedGaps) {
  FlashImage image;
  EXPECT_TRUE(image.Flatten().empty());
  image.Program(0x1002, {0x01});
  image.Program(0x1005, {0x02, 0x03});
  EXPECT_EQ(image.LowestAddress(), 0x1002u);
  EXPECT_EQ(image.Flatten(), (std::vector<uint8_t>{0x01, 0xFF, 0xFF, 0x02, 0x03}));
}

TEST(FlashImageTest, HexOutputSplitsAtLinesAndAddsLinearAddressRecords) {
  FlashImage image;
  image.Program(0xFFF8, std::vector<uint8_t>(16, 0x00));  // crosses into 0x10000
  EXPECT_EQ(image.ToIntelHex(),
            ":08FFF800000000000000000001\r\n"
            ":020000040001F9\r\n"
            ":080000000000000000000000F8\r\n"
            ":00000001FF\r\n");
}

TEST(FlashImageTest, HexOutputStartsWithLinearAddressWhenImageIsHigh) {
  FlashImage image;
  image.Program(0x08000000, {0xAB});
  EXPECT_EQ(image.ToIntelHex(), ":020000040800F2\r\n:01000000AB54\r\n:00000001FF\r\n");
}

TEST(FlashImageTest, HexOutputRoundTripsASparseImage) {
  FlashImage image;
  for (uint32_t i = 0; i < 100; ++i) image.Program(0x1FFC0 + i * 3, {static_cast<uint8_t>(i)});
  image.Program(0xFFFFFFF0, std::vector<uint8_t>(16, 0x5A));  // last line of the space
  EXPECT_EQ(ParseHexImage(image.ToIntelHex()), image.bytes());
}

TEST(FlashImageTest, WriteFileAtomicallyReplacesContent) {
  char dir_template[] = "/tmp/pagersim_image_XXXXXX";
  ASSERT_NE(mkdtemp(dir_template), nullptr);
  const std::string path = std::string(dir_template) + "/out.bin";
  std::string err;
  ASSERT_TRUE(WriteFileAtomically(path, "first version", &err)) << err;
  ASSERT_TRUE(WriteFileAtomically(path, std::string("a\0b", 3), &err)) << err;
  std::ifstream in(path, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), std::string("a\0b", 3));
  EXPECT_FALSE(WriteFileAtomically(std::string(dir_template) + "/no/such/dir", "x", &err));
  EXPECT_FALSE(err.empty());
  std::remove(path.c_str());
  rmdir(dir_template);
}

}  // namespace
}  // namespace pagersim
