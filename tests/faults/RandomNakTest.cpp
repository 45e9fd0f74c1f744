// Packages and program commands rejected at random, with fixed seeds, against
// each resend count the Setup menu offers. The pager draws one number from
// std::mt19937 for every "s" and "p" and rejects the command when the number
// over 2^32 is below the rate; the expected run is worked out from the same
// draws by walking the update's state table here.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/faults/FaultRun.h"

namespace {

using Texts = std::vector<std::string>;
using Boxes = std::vector<Box>;

constexpr int kRestartsAllowed = 3;
constexpr double kDrawRange = 4294967296.0;
constexpr double kHangBoundSeconds = 60.0;

// Two pages through an address record, full records and a short last one: a
// resend of the short one or of the address record must not step back a
// full record's length.
std::vector<std::string> Records() {
  return {HexRecordText(0, 4, {0x00, 0x02}),
          HexRecordText(0x0000, 0, Bytes(16, 0x00)),
          HexRecordText(0x0010, 0, Bytes(16, 0x10)),
          HexRecordText(0x0020, 0, Bytes(5, 0x20)),
          HexRecordText(0, 4, {0x00, 0x03}),
          HexRecordText(0x8000, 0, Bytes(16, 0x80)),
          kEndRecordLine};
}

struct Expected {
  Boxes boxes;
  Texts commands;
};

// The update's state table from the erase on, with the pager's rejections.
Expected Walk(const std::vector<std::string>& records, int resend_times, double rate,
              std::uint32_t seed) {
  std::mt19937 draws(seed);
  const auto rejected = [&] { return static_cast<double>(draws()) / kDrawRange < rate; };
  Expected out;
  out.commands = {"f", "b4800B8", "e0"};
  std::size_t next = 0;
  int resends = 0;
  int restarts = 0;
  for (;;) {
    if (records[next] == kEndRecordLine) {
      out.boxes.push_back(kFinished);
      break;
    }
    out.commands.push_back("s " + records[next]);
    if (rejected()) {
      if (resends < resend_times) {
        out.boxes.push_back(kSendFail);
        ++resends;
        continue;
      }
      out.boxes.push_back(kResendExceeded);
      break;
    }
    resends = 0;
    out.commands.push_back("p");
    if (rejected()) {
      if (restarts < kRestartsAllowed) {
        out.boxes.push_back(kProgramRetry);
        ++restarts;
        out.commands.push_back("e0");
        next = 0;
        continue;
      }
      out.boxes.push_back(kRewindExceeded);
      break;
    }
    ++next;
  }
  out.commands.push_back("q");
  return out;
}

struct RandomCase {
  int resend_times;
  double rate;
  std::uint32_t seed;
};

std::string Name(const RandomCase& c) {
  std::ostringstream name;
  name << "Resend" << c.resend_times << "Rate" << static_cast<int>(c.rate * 100 + 0.5) << "Seed"
       << c.seed;
  return name.str();
}

std::ostream& operator<<(std::ostream& out, const RandomCase& c) { return out << Name(c); }

// Seeds picked so that each resend count sees a run that finishes, one that
// runs out of resends and, where resends allow it, one that runs out of
// restarts; the number after each is the boxes before the last.
std::vector<RandomCase> Cases() {
  return {
      {0, 0.05, 4},   // finishes at once
      {0, 0.1, 1},    // first package rejected: no resend allowed
      {0, 0.05, 3},   // two restarts, then a package rejected
      {0, 0.4, 8},    // three restarts, then a package rejected
      {3, 0.1, 3},    // finishes after 6 resends and restarts
      {3, 0.2, 2},    // restarts run out after 8 boxes
      {3, 0.3, 9},    // resends run out after 9 boxes
      {3, 0.5, 12},   // restarts run out after 18 boxes
      {5, 0.15, 12},  // finishes after 6
      {5, 0.3, 10},   // finishes after 16
      {5, 0.4, 9},    // resends run out after 13
      {5, 0.5, 6},    // restarts run out after 13
  };
}

class RandomNak : public ::testing::TestWithParam<RandomCase> {};

TEST_P(RandomNak, FollowsTheTableThroughEveryRejection) {
  const RandomCase& c = GetParam();
  RunPlan plan;
  plan.records = Records();
  plan.resend_times = c.resend_times;
  plan.pager_options = {"--random-nak", std::to_string(c.rate), "--seed", std::to_string(c.seed)};
  const Expected expected = Walk(plan.records, c.resend_times, c.rate, c.seed);

  const RunResult run = RunAgainstPager(plan);
  ASSERT_TRUE(run.pager_started) << "the pager emulator did not start";
  EXPECT_EQ(run.boxes, expected.boxes);
  EXPECT_EQ(run.host_commands, expected.commands);
  EXPECT_EQ(run.pager_commands, expected.commands);
  if (run.Showed(kFinished)) {
    EXPECT_EQ(run.image, run.file_image) << "finished, but the pager holds another image";
  }
  EXPECT_TRUE(run.port_closed);
  EXPECT_TRUE(run.hex_file_closed);
  EXPECT_TRUE(run.descriptors_given_back);
  EXPECT_TRUE(run.pager_exited_cleanly);
  EXPECT_LT(run.seconds, kHangBoundSeconds);
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomNak, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return Name(info.param); });

// The runs above end in each of the three ways an update with rejections can
// end, and each resend count both finishes and runs out of resends.
TEST(RandomNakSeeds, ReachEveryEnding) {
  std::set<std::string> endings;
  std::set<int> finishing_resend_counts;
  std::set<int> resend_exceeding_counts;
  for (const RandomCase& c : Cases()) {
    const Box last = Walk(Records(), c.resend_times, c.rate, c.seed).boxes.back();
    endings.insert(last.text);
    if (last == kFinished) finishing_resend_counts.insert(c.resend_times);
    if (last == kResendExceeded) resend_exceeding_counts.insert(c.resend_times);
  }
  EXPECT_EQ(endings,
            (std::set<std::string>{kFinished.text, kResendExceeded.text, kRewindExceeded.text}));
  EXPECT_EQ(finishing_resend_counts, (std::set<int>{0, 3, 5}));
  EXPECT_EQ(resend_exceeding_counts, (std::set<int>{0, 3, 5}));
}

}  // namespace
