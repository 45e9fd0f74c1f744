#include <gtest/gtest.h>

#include "link/Dcommthread.h"
#include "link/PortError.h"
#include "tests/support/RecordingGui.h"
#include "tests/support/ScriptedPager.h"
#include "tests/support/VirtualClock.h"

namespace {

class ChannelTest : public ::testing::Test {
 protected:
  ChannelTest() { comm.DeviceFactory = pager.Factory(); }

  VirtualClock clock;
  RecordingGui gui;
  ScriptedPager pager{clock};
  TDComm comm{gui, clock};
};

TEST_F(ChannelTest, StartsWithTheFixedLineSettings) {
  EXPECT_EQ(comm.Port, 0);
  EXPECT_EQ(comm.BaudRate, 1200);
  EXPECT_EQ(comm.ByteSizeCode, 3);
  EXPECT_EQ(comm.Parity, 0);
  EXPECT_EQ(comm.StopBits, 0);
  EXPECT_EQ(comm.FlowCtrl.Hw.DtrControl, 1);
  EXPECT_EQ(comm.FlowCtrl.Hw.RtsControl, 1);
  EXPECT_EQ(comm.Timeouts.ReadConstant, 500u);
  EXPECT_EQ(comm.Timeouts.WriteConstant, 500u);
  EXPECT_EQ(comm.Buffer.InQueue, 1200u);
  EXPECT_FALSE(comm.IsOpened());
}

class DeviceNames : public ChannelTest,
                    public ::testing::WithParamInterface<std::pair<int, const char*>> {};

TEST_P(DeviceNames, NamesThePortCountedFromOne) {
  comm.Port = static_cast<std::int8_t>(GetParam().first);
  ASSERT_TRUE(comm.OpenPort());
  EXPECT_EQ(pager.opened_names.back(), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Ports, DeviceNames,
                         ::testing::Values(std::pair{-1, "COM0"}, std::pair{0, "COM1"},
                                           std::pair{3, "COM4"}, std::pair{11, "COM12"},
                                           std::pair{127, "COM128"}, std::pair{-128, "COM129"},
                                           std::pair{-2, "COM255"}));

TEST_F(ChannelTest, OpenAppliesEverySettingInOrder) {
  ASSERT_TRUE(comm.OpenPort());
  EXPECT_EQ(pager.calls, (std::vector<std::string>{"open COM1", "getstate", "setstate", "setqueues",
                                                   "settimeouts"}));
  const TDcb& dcb = pager.applied_dcbs.at(0);
  EXPECT_EQ(dcb.BaudRate, 1200u);
  EXPECT_EQ(dcb.fBinary, 1);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, 0);
  EXPECT_EQ(dcb.StopBits, 0);
  EXPECT_EQ(dcb.fDtrControl, 1);
  EXPECT_EQ(dcb.fRtsControl, 1);
  EXPECT_EQ(dcb.fOutxCtsFlow + dcb.fOutxDsrFlow + dcb.fOutX + dcb.fInX, 0);
  const TCommTimeouts& t = pager.applied_timeouts.at(0);
  EXPECT_EQ(std::vector<std::uint32_t>({t.ReadInterval, t.ReadMultiplier, t.ReadConstant,
                                        t.WriteMultiplier, t.WriteConstant}),
            std::vector<std::uint32_t>({0, 0, 500, 0, 500}));
  EXPECT_EQ(pager.queue_sizes.at(0), std::make_pair(1200u, 1200u));
  EXPECT_TRUE(comm.IsOpened());
  EXPECT_TRUE(gui.boxes.empty());
}

TEST_F(ChannelTest, ReopenAtNewRateChangesOnlyTheRate) {
  ASSERT_TRUE(comm.OpenPort());
  ASSERT_TRUE(comm.ClosePort());
  comm.BaudRate = 9600;
  ASSERT_TRUE(comm.OpenPort());
  TDcb first = pager.applied_dcbs.at(0);
  const TDcb& second = pager.applied_dcbs.at(1);
  EXPECT_EQ(second.BaudRate, 9600u);
  first.BaudRate = 9600;
  EXPECT_TRUE(first == second);
}

struct DriverState {
  const char* name;
  std::uint8_t xon, xoff;            // the driver's own characters
  std::uint8_t sent_xon, sent_xoff;  // what the channel hands back
};

class DriverFlowCharacters : public ChannelTest,
                             public ::testing::WithParamInterface<DriverState> {};

// The driver refuses equal XON and XOFF characters and has an abort on error
// left set by another program: the open still succeeds, with the flag cleared.
TEST_P(DriverFlowCharacters, AreNeverHandedBackEqualAndAbortOnErrorIsCleared) {
  pager.refuse_equal_flow_chars = true;
  pager.driver_dcb.XonChar = GetParam().xon;
  pager.driver_dcb.XoffChar = GetParam().xoff;
  pager.driver_dcb.fAbortOnError = 1;
  ASSERT_TRUE(comm.OpenPort()) << gui.Texts().at(0);
  const TDcb& dcb = pager.applied_dcbs.at(0);
  EXPECT_EQ(dcb.XonChar, GetParam().sent_xon);
  EXPECT_EQ(dcb.XoffChar, GetParam().sent_xoff);
  EXPECT_EQ(dcb.fOutX + dcb.fInX + dcb.fAbortOnError, 0);
}

INSTANTIATE_TEST_SUITE_P(Drivers, DriverFlowCharacters,
                         ::testing::Values(DriverState{"OwnPairKept", 0x11, 0x13, 0x11, 0x13},
                                           DriverState{"OddPairKept", 0x05, 0x07, 0x05, 0x07},
                                           DriverState{"EqualBecomeDc1Dc3", 0, 0, 0x11, 0x13}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ChannelTest, FailedOpenShowsTheBoxAndCanBeRetried) {
  comm.Port = -1;
  pager.fail_open_number = 1;
  EXPECT_FALSE(comm.OpenPort());
  ASSERT_EQ(gui.boxes.size(), 1u);
  EXPECT_EQ(gui.boxes[0].text, "Can NOT Open \"COM0\"\nThe port does not exist.");
  EXPECT_EQ(gui.boxes[0].caption, "Error");
  EXPECT_EQ(gui.boxes[0].style, 16u);
  EXPECT_FALSE(comm.IsOpened());
  comm.Port = 1;
  EXPECT_TRUE(comm.OpenPort());
  EXPECT_EQ(pager.opened_names.back(), "COM2");
}

class ConfigureFailure : public ChannelTest, public ::testing::WithParamInterface<const char*> {};

// A device that opened but took no settings gives the system's own words.
TEST_P(ConfigureFailure, ClosesTheDeviceAndStopsThere) {
  pager.fail_open_number = 1;
  pager.fail_call = GetParam();
  comm.Port = 2;
  EXPECT_FALSE(comm.OpenPort());
  EXPECT_EQ(pager.calls.back(), "close");
  EXPECT_EQ(pager.open_devices, 0);
  EXPECT_FALSE(comm.IsOpened());
  EXPECT_EQ(gui.Texts(), std::vector<std::string>{"Can NOT Open \"COM3\"\n" +
                                                  SystemErrorReason(kMissingPortError)});
}

INSTANTIATE_TEST_SUITE_P(Calls, ConfigureFailure,
                         ::testing::Values("setstate", "setqueues", "settimeouts"));

// Some drivers refuse a state even for the line they already run: the line
// read back decides whether the open goes on.
TEST_F(ChannelTest, ARefusedStateIsJudgedByTheLineReadBack) {
  pager.refused_state_error = kRefusedStateError;
  pager.driver_dcb = {.BaudRate = 1200, .ByteSize = 8};
  EXPECT_TRUE(comm.OpenPort());
  EXPECT_TRUE(comm.ClosePort());
  comm.BaudRate = 9600;
  EXPECT_FALSE(comm.OpenPort());
  EXPECT_EQ(pager.open_devices, 0);
  EXPECT_EQ(gui.Texts(), std::vector<std::string>{"Can NOT Open \"COM1\"\n" +
                                                  SystemErrorReason(kRefusedStateError)});
}

// The first open is not tried again: a port held by another program is told
// at once. The open after a close is, while the driver may still be
// finishing that close, every 50 ms for up to 2 s.
TEST_F(ChannelTest, OnlyTheReopenTriesARefusedOpenAgain) {
  pager.refuse_open_from = 1;
  pager.refused_opens = 1000;
  pager.refusal_error = kBusyAfterCloseError;
  EXPECT_FALSE(comm.OpenPort());
  EXPECT_EQ(pager.opens, 1);
  EXPECT_FALSE(comm.ReopenPort());
  ASSERT_EQ(pager.open_times.size(), 42u);
  for (std::size_t i = 2; i < pager.open_times.size(); ++i) {
    EXPECT_EQ(pager.open_times[i] - pager.open_times[i - 1], 50u);
  }
  // A refusal that no wait clears is not waited on, nor settings the driver
  // refused, whatever their code says.
  pager.refusal_error = kMissingPortError;
  EXPECT_FALSE(comm.ReopenPort());
  EXPECT_EQ(pager.opens, 43);
  pager.refused_opens = 0;
  pager.refused_state_error = kBusyAfterCloseError;
  EXPECT_FALSE(comm.ReopenPort());
  EXPECT_EQ(pager.opens, 44);
}

// A failure that is not a timeout loses the line, and the device is closed
// at once.
TEST_F(ChannelTest, AFailureOtherThanATimeoutLosesTheLine) {
  const std::uint8_t byte = 'p';
  ASSERT_TRUE(comm.OpenPort());
  pager.hung_up = true;
  pager.hang_up_error = kTimedOutError;
  EXPECT_FALSE(comm.WriteByte(&byte));
  EXPECT_FALSE(comm.Lost);
  pager.hang_up_error = kPulledOutError;
  EXPECT_FALSE(comm.PurgeInput());
  EXPECT_TRUE(comm.Lost);
  EXPECT_EQ(pager.open_devices, 0);
  EXPECT_EQ(comm.LostText(), kPortLostText + SystemErrorReason(kPulledOutError));
  pager.hung_up = false;
  ASSERT_TRUE(comm.OpenPort());
  EXPECT_FALSE(comm.Lost);  // a slow reply on the new open is no lost port
  pager.hung_up = true;
  EXPECT_FALSE(comm.WriteByte(&byte));
  EXPECT_TRUE(comm.Lost);
}

// A close that never returns is given up on after 2 s.
TEST_F(ChannelTest, CloseThatHangsIsGivenUpAfterTwoSeconds) {
  pager.hang_closes = true;
  ASSERT_TRUE(comm.OpenPort());
  EXPECT_TRUE(comm.ClosePort());
  EXPECT_TRUE(comm.CloseAbandoned);
  EXPECT_GE(clock.Now(), kCloseLimitMs);
  EXPECT_LT(clock.Now(), kCloseLimitMs + 100);
}

// On virtual time the limit passes at once; a close whose thread merely
// ran late has still returned, and is no hung close.
TEST_F(ChannelTest, CloseWhoseThreadRunsLateIsNotGivenUp) {
  pager.close_late_real_ms = 300;
  ASSERT_TRUE(comm.OpenPort());
  EXPECT_TRUE(comm.ClosePort());
  EXPECT_FALSE(comm.CloseAbandoned);
  EXPECT_EQ(pager.open_devices, 0);
}

// A station bench opens and closes its ports thousands of times a day;
// every close is seen to return, none of its threads lost.
TEST_F(ChannelTest, EveryOneOfManyClosesIsSeenToReturn) {
  constexpr int kCloses = 2000;
  for (int i = 0; i < kCloses; ++i) {
    ASSERT_TRUE(comm.OpenPort());
    ASSERT_TRUE(comm.ClosePort());
    ASSERT_FALSE(comm.CloseAbandoned) << "close " << i;
  }
  EXPECT_EQ(pager.closes, kCloses);
  EXPECT_EQ(pager.open_devices, 0);
}

TEST_F(ChannelTest, OpenWhileOpenKeepsTheHeldPort) {
  ASSERT_TRUE(comm.OpenPort());
  EXPECT_FALSE(comm.OpenPort());
  EXPECT_EQ(gui.Texts(), std::vector<std::string>{"Can NOT Open \"COM1\""});
  EXPECT_TRUE(comm.IsOpened());
  EXPECT_EQ(pager.opens, 1);
  const std::uint8_t byte = 'f';
  EXPECT_TRUE(comm.WriteByte(&byte));
}

TEST_F(ChannelTest, ClosedChannelRefusesEverythingAtOnce) {
  EXPECT_FALSE(comm.ClosePort());
  std::uint8_t byte = 0;
  EXPECT_FALSE(comm.ReadByte(&byte));
  EXPECT_FALSE(comm.WriteByte(&byte));
  EXPECT_FALSE(comm.WriteBuffer(&byte, 1));
  EXPECT_FALSE(comm.Purge());
  EXPECT_EQ(clock.Now(), 0u);
  EXPECT_TRUE(pager.calls.empty());
}

TEST_F(ChannelTest, JudgesReadsAndWritesByTheCountReported) {
  ASSERT_TRUE(comm.OpenPort());
  std::uint8_t byte = 0;
  EXPECT_FALSE(comm.ReadByte(&byte));  // silent line: the driver reports 0 bytes
  EXPECT_EQ(clock.Now(), 500u);
  pager.Inject(0x06, clock.Now());
  EXPECT_TRUE(comm.ReadByte(&byte));
  EXPECT_EQ(byte, 0x06);
  const std::uint8_t text[] = {'e', '0'};
  EXPECT_TRUE(comm.WriteBuffer(text, 2));
  pager.short_writes = true;
  EXPECT_FALSE(comm.WriteBuffer(text, 2));
  pager.hung_up = true;
  EXPECT_FALSE(comm.WriteByte(text));
}

TEST_F(ChannelTest, PurgeUsesAllFourFlagsAndDropsWaitingBytes) {
  ASSERT_TRUE(comm.OpenPort());
  pager.Inject(0x41, 0);
  EXPECT_TRUE(comm.Purge());
  EXPECT_EQ(pager.calls.back(), "purge 15");
  std::uint8_t byte = 0;
  EXPECT_FALSE(comm.ReadByte(&byte));
}

}  // namespace
