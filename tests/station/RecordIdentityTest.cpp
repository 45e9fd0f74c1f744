// Each log line's identity: a version 4 UUID from the system's random
// source, different on every line, and the station's name.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <string>

#include "station/RecordIdentity.h"
#include "station/TraceLog.h"
#include "tests/support/HexText.h"

namespace {

using Bytes = std::array<std::uint8_t, 16>;

struct UuidCase {
  const char* name;
  Bytes bytes;
  const char* text;
};

void PrintTo(const UuidCase& c, std::ostream* out) { *out << c.name; }

class UuidText : public ::testing::TestWithParam<UuidCase> {};

TEST_P(UuidText, CarriesVersion4AndTheVariantOverTheGivenBits) {
  EXPECT_EQ(UuidV4Text(GetParam().bytes), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, UuidText,
    ::testing::Values(UuidCase{"AllClear", Bytes{}, "00000000-0000-4000-8000-000000000000"},
                      UuidCase{"AllSet",
                               [] {
                                 Bytes all;
                                 all.fill(0xff);
                                 return all;
                               }(),
                               "ffffffff-ffff-4fff-bfff-ffffffffffff"},
                      UuidCase{"InOrder",
                               Bytes{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99,
                                     0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff},
                               "00112233-4455-4677-8899-aabbccddeeff"}),
    [](const auto& info) { return std::string(info.param.name); });

const std::regex kUuidV4("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");

std::vector<nlohmann::json> LinesOf(const std::string& path) {
  std::ifstream in(path);
  std::vector<nlohmann::json> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
  return lines;
}

PortResult FinishedOn(const std::string& port) {
  PortResult result;
  result.port = port;
  result.code = ExitCode::kFinished;
  return result;
}

// However many lines a bench writes, and however fast, each has an id of
// its own.
TEST(RecordIdentity, EveryLineHasAnIdOfItsOwnAndTheStationGiven) {
  TempDir dir;
  TraceLog log(dir.PathOf("day.jsonl"), "fw.hex", "00", nullptr, "LINE3-B2");
  constexpr int kLines = 300;
  for (int i = 0; i < kLines; ++i) {
    ASSERT_TRUE(i % 2 == 0 ? log.Append(FinishedOn("COM5"))
                           : log.AppendStation(FinishedOn("COM6"), i, "S"));
  }
  std::set<std::string> ids;
  for (const nlohmann::json& line : LinesOf(dir.PathOf("day.jsonl"))) {
    const std::string id = line.at("record_id");
    EXPECT_TRUE(std::regex_match(id, kUuidV4)) << id;
    ids.insert(id);
    EXPECT_EQ(line.at("station"), "LINE3-B2");
  }
  EXPECT_EQ(ids.size(), static_cast<std::size_t>(kLines));
}

TEST(RecordIdentity, NoNameGivenIsTheHostsName) {
  EXPECT_EQ(StationName("LINE3-B2"), "LINE3-B2");
  const std::string host = StationName("");
  EXPECT_FALSE(host.empty());
  TempDir dir;
  TraceLog log(dir.PathOf("day.jsonl"), "fw.hex", "00");
  ASSERT_TRUE(log.Append(FinishedOn("COM5")));
  EXPECT_EQ(LinesOf(dir.PathOf("day.jsonl")).at(0).at("station"), host);
}

}  // namespace
