// The bench timeline on plain milliseconds: when each pager comes and goes.
#include <gtest/gtest.h>

#include "SessionSchedule.h"

namespace pagersim {
namespace {

using Kind = SessionChange::Kind;

std::vector<std::string> Texts(const std::vector<SessionChange>& changes) {
  std::vector<std::string> texts;
  for (const SessionChange& change : changes) {
    texts.push_back((change.kind == Kind::kAttach ? "attach " : "leave ") +
                    std::to_string(change.session) + " @" + std::to_string(change.at_ms));
  }
  return texts;
}

TEST(SessionScheduleTest, OnePagerFromTheStartStaysByDefault) {
  SessionSchedule schedule{PagerOptions{}};
  EXPECT_FALSE(schedule.Active());
  EXPECT_EQ(Texts(schedule.Advance(0)), std::vector<std::string>{"attach 1 @0"});
  schedule.OnQuit(10);
  EXPECT_TRUE(schedule.Advance(1000000).empty());
  EXPECT_TRUE(schedule.Attached());
  EXPECT_EQ(schedule.NextChangeMs(), std::nullopt);
  EXPECT_FALSE(schedule.Over());
}

TEST(SessionScheduleTest, PagersComeAfterTheirWaitAndLeaveAfterLingering) {
  PagerOptions options;
  options.sessions = 2;
  options.attach_after_ms = 100;
  options.linger_ms = 300;
  options.gap_ms = 50;
  SessionSchedule schedule(options);
  EXPECT_TRUE(schedule.Active());
  EXPECT_TRUE(schedule.Advance(99).empty());
  EXPECT_FALSE(schedule.Attached());
  EXPECT_EQ(schedule.NextChangeMs(), 100);
  EXPECT_EQ(Texts(schedule.Advance(100)), std::vector<std::string>{"attach 1 @100"});
  // Without a "q" the pager stays; each executed "q" starts its linger again.
  EXPECT_TRUE(schedule.Advance(5000).empty());
  schedule.OnQuit(5000);
  schedule.OnQuit(5200);
  EXPECT_EQ(schedule.NextChangeMs(), 5500);
  EXPECT_TRUE(schedule.Advance(5499).empty());
  // Late to look: both changes come out, each at its own moment.
  EXPECT_EQ(Texts(schedule.Advance(6000)),
            (std::vector<std::string>{"leave 1 @5500", "attach 2 @5650"}));
  EXPECT_EQ(schedule.Session(), 2);
  schedule.OnQuit(6000);
  EXPECT_EQ(Texts(schedule.Advance(6300)), std::vector<std::string>{"leave 2 @6300"});
  // After the last pager the line stays empty for the gap, and then the
  // bench is over.
  schedule.OnQuit(6320);
  EXPECT_TRUE(schedule.Advance(6349).empty());
  EXPECT_FALSE(schedule.Attached());
  EXPECT_FALSE(schedule.Over());
  EXPECT_EQ(schedule.NextChangeMs(), 6350);
  EXPECT_TRUE(schedule.Advance(6350).empty());
  EXPECT_TRUE(schedule.Over());
  EXPECT_EQ(schedule.NextChangeMs(), std::nullopt);
}

}  // namespace
}  // namespace pagersim
