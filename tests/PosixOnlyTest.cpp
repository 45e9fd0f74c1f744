// The POSIX backend on a real serial line: a pseudo-terminal pair, the test
// holding the master side as the pager would.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

#include "link/Dcommthread.h"
#include "link/PortList.h"
#include "link/SerialDevice.h"
#include "tests/support/RecordingGui.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

class PtyChannel : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(::grantpt(master_), 0);
    ASSERT_EQ(::unlockpt(master_), 0);
    comm.DevicePath = ::ptsname(master_);
  }
  void TearDown() override {
    comm.ClosePort();
    if (master_ >= 0) ::close(master_);
  }

  // The line settings as the far end sees them.
  termios LineSettings() const {
    termios tio{};
    EXPECT_EQ(::tcgetattr(master_, &tio), 0);
    return tio;
  }

  std::string ReadMaster(std::size_t count) {
    std::string got;
    const auto give_up = SteadyClock::now() + std::chrono::seconds(5);
    while (got.size() < count && SteadyClock::now() < give_up) {
      char buffer[64];
      const ssize_t n = ::read(master_, buffer, std::min(sizeof buffer, count - got.size()));
      if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
  }

  RecordingGui gui;
  TDComm comm{gui};
  int master_ = -1;
};

TEST_F(PtyChannel, OpensRaw8N1AtTheRateAndWrites) {
  ASSERT_TRUE(comm.OpenPort()) << gui.Texts().at(0);
  const termios tio = LineSettings();
  EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B1200));
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL), 0u);
  EXPECT_EQ(tio.c_oflag & OPOST, 0u);
  const std::uint8_t command[] = {'b', '4', '8', '0', '0', 'B', '8', '\r', '\n'};
  EXPECT_TRUE(comm.WriteBuffer(command, sizeof command));
  EXPECT_EQ(ReadMaster(sizeof command), "b4800B8\r\n");
}

TEST_F(PtyChannel, ReadWaitsAboutHalfASecondThenGivesUp) {
  ASSERT_TRUE(comm.OpenPort());
  std::uint8_t byte = 0;
  const auto start = SteadyClock::now();
  EXPECT_FALSE(comm.ReadByte(&byte));
  const auto waited =
      std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start);
  EXPECT_GE(waited.count(), 450);
  const std::uint8_t ack = 0x06;
  ASSERT_EQ(::write(master_, &ack, 1), 1);
  EXPECT_TRUE(comm.ReadByte(&byte));
  EXPECT_EQ(byte, 0x06);
}

TEST_F(PtyChannel, PurgeDropsWhatWaits) {
  ASSERT_TRUE(comm.OpenPort());
  ASSERT_EQ(::write(master_, "xyz", 3), 3);
  ::usleep(50000);
  EXPECT_TRUE(comm.Purge());
  std::uint8_t byte = 0;
  EXPECT_FALSE(comm.ReadByte(&byte));
}

TEST_F(PtyChannel, ReopenAppliesTheNewRate) {
  ASSERT_TRUE(comm.OpenPort());
  ASSERT_TRUE(comm.ClosePort());
  comm.BaudRate = 9600;
  ASSERT_TRUE(comm.OpenPort());
  const termios tio = LineSettings();
  EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B9600));
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
}

TEST_F(PtyChannel, CloseGivesTheLineBackAsItWasFound) {
  // Held open as an emulator holds it, so the line outlives our close.
  const int held = ::open(comm.DevicePath.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(held, 0);
  termios found = LineSettings();
  ::cfsetospeed(&found, B19200);
  ::cfsetispeed(&found, B19200);
  found.c_lflag |= ICANON | ECHO;
  ASSERT_EQ(::tcsetattr(master_, TCSANOW, &found), 0);
  ASSERT_TRUE(comm.OpenPort());
  const termios during = LineSettings();
  ASSERT_EQ(::cfgetospeed(&during), static_cast<speed_t>(B1200));
  ASSERT_TRUE(comm.ClosePort());
  const termios after = LineSettings();
  EXPECT_EQ(::cfgetospeed(&after), static_cast<speed_t>(B19200));
  EXPECT_EQ(after.c_lflag & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO));
  // Open to other users again, not only to root.
  int exclusive = -1;
  EXPECT_EQ(::ioctl(held, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0);
  ::close(held);
}

TEST_F(PtyChannel, SecondOpenerIsRefused) {
  ASSERT_TRUE(comm.OpenPort());
  TDComm other{gui};
  other.DevicePath = comm.DevicePath;
  EXPECT_FALSE(other.OpenPort());
  EXPECT_EQ(gui.Texts(), std::vector<std::string>{"Can NOT Open \"" + comm.DevicePath +
                                                  "\"\nThe port is in use by another program."});
}

TEST_F(PtyChannel, HangUpFailsReadsInsteadOfWaiting) {
  ASSERT_TRUE(comm.OpenPort());
  ::close(master_);
  master_ = -1;
  std::uint8_t byte = 0;
  EXPECT_FALSE(comm.ReadByte(&byte));
  EXPECT_FALSE(comm.WriteByte(&byte));
}

TEST(PosixNames, ComNumbersCountFromTheFirstSerialDevice) {
  EXPECT_EQ(PosixDevicePath("COM1"), "/dev/ttyS0");
  EXPECT_EQ(PosixDevicePath("COM4"), "/dev/ttyS3");
  EXPECT_EQ(PosixDevicePath("COM255"), "/dev/ttyS254");
  EXPECT_EQ(PosixDevicePath("COM0"), "");
  EXPECT_EQ(PosixDevicePath("/dev/ttyUSB0"), "/dev/ttyUSB0");
  EXPECT_EQ(PosixDevicePath("COMX"), "COMX");
}

// One port under two names is one device: its major and minor numbers
// together, as devices of two drivers share minor numbers.
TEST(PosixNames, ADeviceIsKnownByBothItsNumbers) {
  EXPECT_EQ(PortIdentity("/dev/null"), CharDeviceIdentity(1, 3));
  EXPECT_NE(CharDeviceIdentity(4, 64), CharDeviceIdentity(188, 64));
  EXPECT_NE(CharDeviceIdentity(4, 64), CharDeviceIdentity(4, 65));
}

TEST(PosixNames, ComZeroNamesNoDevice) {
  RecordingGui gui;
  TDComm comm{gui};
  comm.Port = -1;
  EXPECT_FALSE(comm.OpenPort());
  EXPECT_EQ(gui.Texts(),
            std::vector<std::string>{"Can NOT Open \"COM0\"\nThe port does not exist."});
  EXPECT_NE(comm.LastOpenError, 0);
}

}  // namespace
