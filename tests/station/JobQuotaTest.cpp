// A job's quota kept on the disk: shared by every port (thread) and every
// bench (another instance over the same file), never passed, and a pager in
// flight when the program died still counted.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "station/JobQuota.h"
#include "tests/support/HexText.h"

namespace {

constexpr char kJobSha[] = "5d41402abc4b2a76b9719d911017c592ae2f1bd7e04fbc47a1e3b8b4b1f0a9c1";

class Quota : public ::testing::Test {
 protected:
  std::unique_ptr<JobQuota> Opened(int quota) {
    auto opened = std::make_unique<JobQuota>(dir.path().string(), kJobSha, quota);
    EXPECT_TRUE(opened->Open()) << opened->Fault();
    return opened;
  }
  int Taken() {
    std::string error;
    return TakenPlaces(QuotaPath(dir.path().string(), kJobSha), error);
  }

  TempDir dir;
};

// Eight ports race for places; every third pager fails and gives its place
// back. Exactly the quota finishes, never one more.
TEST_F(Quota, PortsRacingNeverFinishMoreThanTheQuota) {
  const auto quota = Opened(20);
  std::atomic<int> finished{0};
  std::atomic<int> pagers{0};
  std::vector<std::thread> ports;
  for (int port = 0; port < 8; ++port) {
    ports.emplace_back([&] {
      while (!quota->UsedUp()) {
        if (!quota->Reserve()) continue;
        const bool fails = ++pagers % 3 == 0;
        if (!fails) ++finished;
        quota->Release(!fails);
      }
    });
  }
  for (std::thread& port : ports) port.join();
  EXPECT_EQ(finished.load(), 20);
  EXPECT_EQ(quota->Left(), 0);
  EXPECT_EQ(Taken(), 20);
}

// The program dies (kill -9, a power cut) after a place was taken for a
// pager and before it ended: that pager may have been flashed, so the next
// bench counts it.
TEST_F(Quota, APagerInFlightAtACrashStaysCounted) {
  {
    const auto before = Opened(2);
    ASSERT_TRUE(before->Reserve());
    before->Release(true);
    ASSERT_TRUE(before->Reserve());
    // Gone without a Release.
  }
  const auto after = Opened(2);
  EXPECT_EQ(after->Left(), 0);
  EXPECT_FALSE(after->Reserve());
  EXPECT_TRUE(after->UsedUp());
}

// A failed pager's place is free again for another bench on the machine,
// and one bench's places count in the other's.
TEST_F(Quota, TwoBenchesShareOneCount) {
  const auto first = Opened(3);
  const auto second = Opened(3);
  ASSERT_TRUE(first->Reserve());
  ASSERT_TRUE(first->Reserve());
  ASSERT_TRUE(second->Reserve());
  EXPECT_FALSE(second->Reserve());
  // The second still waits: the first's pagers may fail.
  EXPECT_FALSE(second->UsedUp());
  first->Release(false);
  EXPECT_TRUE(second->Reserve());
  first->Release(true);
  second->Release(true);
  second->Release(true);
  EXPECT_EQ(Taken(), 3);
  EXPECT_TRUE(second->UsedUp());
}

// A take cut short by a power cut counts as taken (it may have been
// flashed), and the next line is not glued to it.
TEST_F(Quota, ALineCutShortCountsAndIsEndedBeforeTheNext) {
  dir.Write(std::string(kJobSha) + ".quota", "take 2026-12-07T10:00:00Z\nta");
  const auto quota = Opened(5);
  EXPECT_EQ(quota->Left(), 3);
  ASSERT_TRUE(quota->Reserve());
  quota->Release(false);
  EXPECT_EQ(Taken(), 2);
}

TEST_F(Quota, ACountThatCannotBeKeptTakesNoPager) {
  const std::string file = dir.Write("not-a-folder", "");
  JobQuota quota(file, kJobSha, 3);
  EXPECT_FALSE(quota.Open());
  EXPECT_TRUE(quota.Fault().starts_with("Cannot keep the job's count in " + file)) << quota.Fault();
  EXPECT_FALSE(quota.Reserve());
  EXPECT_TRUE(quota.UsedUp());
}

}  // namespace
