// The serial device on POSIX: a tty through termios. "COMn" names
// /dev/ttyS(n-1); any other name is taken as a device path (a pseudo-terminal
// in tests). Reads and writes wait with poll() for the time limits the
// channel set, as the Windows driver does with its COMMTIMEOUTS.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "link/SerialDevice.h"

namespace {

constexpr std::uint8_t kOneStopBit = 0;
constexpr std::uint8_t kTwoStopBits = 2;
constexpr std::uint8_t kOddParity = 1;
constexpr std::uint8_t kEvenParity = 2;
constexpr std::uint8_t kDtrControlEnable = 1;
constexpr std::uint8_t kRtsControlEnable = 1;

struct RateCode {
  std::uint32_t rate;
  speed_t code;
};

constexpr RateCode kRates[] = {
    {300, B300},   {600, B600},     {1200, B1200},   {2400, B2400},   {4800, B4800},
    {9600, B9600}, {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
};

bool SpeedFor(std::uint32_t rate, speed_t& code) {
  for (const RateCode& entry : kRates) {
    if (entry.rate == rate) {
      code = entry.code;
      return true;
    }
  }
  return false;
}

std::uint32_t RateOf(speed_t code) {
  for (const RateCode& entry : kRates) {
    if (entry.code == code) return entry.rate;
  }
  return 0;
}

tcflag_t CharSizeFlag(std::uint8_t byte_size) {
  switch (byte_size) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    default:
      return CS8;
  }
}

std::uint8_t ByteSizeOf(tcflag_t cflag) {
  switch (cflag & CSIZE) {
    case CS5:
      return 5;
    case CS6:
      return 6;
    case CS7:
      return 7;
    default:
      return 8;
  }
}

std::uint8_t ParityOf(tcflag_t cflag) {
  if ((cflag & PARENB) == 0) return 0;
  return (cflag & PARODD) != 0 ? kOddParity : kEvenParity;
}

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

class PosixSerialDevice final : public ISerialDevice {
 public:
  ~PosixSerialDevice() override { Close(); }

  bool Open(const std::string& name) override {
    const std::string path = PosixDevicePath(name);
    if (path.empty()) return Fail(ENOENT);
    // A file given as the port (the firmware file, when the two were
    // swapped) is not opened for writing at all.
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) return Fail(ENOTTY);
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return Fail(errno);
    // Exclusive like a Windows COM port: no second opener, not even us.
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd_, TIOCEXCL) != 0) {
      const int saved = errno;
      Close();
      return Fail(saved);
    }
    // Put back on close, for the next program on the port.
    have_original_ = ::tcgetattr(fd_, &original_) == 0;
    RequestLowLatency();
    return true;
  }

  bool GetState(TDcb& dcb) override {
    if (::tcgetattr(fd_, &settings_) != 0) return Fail(errno);
    dcb.BaudRate = RateOf(::cfgetospeed(&settings_));
    dcb.fBinary = 1;
    dcb.fParity = (settings_.c_cflag & PARENB) != 0;
    dcb.fOutxCtsFlow = (settings_.c_cflag & CRTSCTS) != 0;
    dcb.fOutX = (settings_.c_iflag & IXON) != 0;
    dcb.fInX = (settings_.c_iflag & IXOFF) != 0;
    dcb.XonChar = settings_.c_cc[VSTART];
    dcb.XoffChar = settings_.c_cc[VSTOP];
    dcb.StopBits = (settings_.c_cflag & CSTOPB) != 0 ? kTwoStopBits : kOneStopBit;
    dcb.ByteSize = ByteSizeOf(settings_.c_cflag);
    dcb.Parity = ParityOf(settings_.c_cflag);
    have_settings_ = true;
    return true;
  }

  bool SetState(const TDcb& dcb) override {
    speed_t speed = 0;
    if (!SpeedFor(dcb.BaudRate, speed) || dcb.StopBits == 1 || dcb.Parity > kEvenParity) {
      return Fail(EINVAL);
    }
    if (!have_settings_ && ::tcgetattr(fd_, &settings_) != 0) return Fail(errno);
    termios tio = settings_;
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= CREAD | CLOCAL | CharSizeFlag(dcb.ByteSize);
    if (dcb.Parity == kOddParity) tio.c_cflag |= PARENB | PARODD;
    if (dcb.Parity == kEvenParity) tio.c_cflag |= PARENB;
    if (dcb.StopBits == kTwoStopBits) tio.c_cflag |= CSTOPB;
    if (dcb.fOutxCtsFlow != 0) tio.c_cflag |= CRTSCTS;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (dcb.fOutX != 0) tio.c_iflag |= IXON;
    if (dcb.fInX != 0) tio.c_iflag |= IXOFF;
    tio.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    tio.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0) return Fail(errno);
    if (::tcsetattr(fd_, TCSANOW, &tio) != 0) return Fail(errno);
    return SetModemLines(dcb);
  }

  // Linux sizes its queues itself.
  bool SetQueues(std::uint32_t, std::uint32_t) override { return fd_ >= 0 || Fail(EBADF); }

  bool SetTimeouts(const TCommTimeouts& timeouts) override {
    timeouts_ = timeouts;
    return fd_ >= 0 || Fail(EBADF);
  }

  bool Purge(std::uint32_t flags) override {
    const bool rx = (flags & (kPurgeRxClear | kPurgeRxAbort)) != 0;
    const bool tx = (flags & (kPurgeTxClear | kPurgeTxAbort)) != 0;
    if (!rx && !tx) return true;
    const int which = rx && tx ? TCIOFLUSH : (rx ? TCIFLUSH : TCOFLUSH);
    return ::tcflush(fd_, which) == 0 || Fail(errno);
  }

  bool Read(std::uint8_t* data, std::uint32_t count, std::uint32_t& done) override {
    done = 0;
    const auto deadline =
        Clock::now() +
        std::chrono::milliseconds(timeouts_.ReadConstant + timeouts_.ReadMultiplier * count);
    while (done < count) {
      const int ready = WaitFor(POLLIN, deadline);
      if (ready < 0) return false;
      if (ready == 0) return true;  // time limit: what came so far
      const ssize_t got = ::read(fd_, data + done, count - done);
      if (got > 0) {
        done += static_cast<std::uint32_t>(got);
      } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
        return Fail(got == 0 ? EIO : errno);  // the line hung up
      }
    }
    return true;
  }

  bool Write(const std::uint8_t* data, std::uint32_t count, std::uint32_t& done) override {
    done = 0;
    const auto deadline =
        Clock::now() +
        std::chrono::milliseconds(timeouts_.WriteConstant + timeouts_.WriteMultiplier * count);
    while (done < count) {
      const int ready = WaitFor(POLLOUT, deadline);
      if (ready < 0) return false;
      if (ready == 0) return true;
      const ssize_t put = ::write(fd_, data + done, count - done);
      if (put > 0) {
        done += static_cast<std::uint32_t>(put);
      } else if (put < 0 && errno != EAGAIN && errno != EINTR) {
        return Fail(errno);
      }
    }
    return true;
  }

  void Close() override {
    if (fd_ < 0) return;
    RestoreLatency();
    // At once, not after draining: every command's reply has been awaited
    // before the port closes, so nothing of ours is still on its way.
    if (have_original_) (void)::tcsetattr(fd_, TCSANOW, &original_);
    have_original_ = false;
    // Our exclusive use ends with us. The kernel keeps the mark while anyone
    // else holds the line open (an emulator holding its pty's far side), and
    // it bars every later opener but root: the next update, and our own
    // reopen at the transfer rate.
    (void)::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    fd_ = -1;
    have_settings_ = false;
  }

  // A hung-up line: the read that waits for a reply reports it itself, so
  // this only looks without waiting.
  bool CheckPresent() override {
    pollfd entry{fd_, 0, 0};
    if (::poll(&entry, 1, 0) < 0) return Fail(errno);
    return (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0 || Fail(EIO);
  }

  int LastError() const override { return last_error_; }

 private:
  bool Fail(int error_number) {
    last_error_ = error_number;
    return false;
  }

  // 1 ready, 0 time limit reached, -1 error or hang-up (error recorded).
  int WaitFor(short events, Clock::time_point deadline) {
    for (;;) {
      pollfd entry{fd_, events, 0};
      const int result = ::poll(&entry, 1, RemainingMs(deadline));
      if (result < 0 && errno == EINTR) continue;
      if (result < 0) {
        Fail(errno);
        return -1;
      }
      if (result == 0) return 0;
      if ((entry.revents & (POLLERR | POLLNVAL)) != 0 ||
          ((entry.revents & POLLHUP) != 0 && (entry.revents & events) == 0)) {
        Fail(EIO);
        return -1;
      }
      return 1;
    }
  }

  // DTR and RTS on where the device has modem lines; a pseudo-terminal has
  // none, and that is not an error.
  bool SetModemLines(const TDcb& dcb) {
    int lines = 0;
    if (dcb.fDtrControl == kDtrControlEnable) lines |= TIOCM_DTR;
    if (dcb.fRtsControl == kRtsControlEnable) lines |= TIOCM_RTS;
    if (lines == 0 || ::ioctl(fd_, TIOCMBIS, &lines) == 0) return true;
    return errno == ENOTTY || errno == EINVAL || Fail(errno);
  }

  // USB serial adapters hold received bytes until their latency timer runs
  // out (16 ms on common chips) unless the driver is asked for low latency;
  // every record waits for two one-byte replies. A driver without the request
  // (a pseudo-terminal: ENOTTY or EINVAL) or one that refuses it is left as
  // it is: the line works either way, only slower.
  void RequestLowLatency() {
    serial_struct serial{};
    if (::ioctl(fd_, TIOCGSERIAL, &serial) != 0 || (serial.flags & ASYNC_LOW_LATENCY) != 0) return;
    serial.flags |= ASYNC_LOW_LATENCY;
    restore_latency_ = ::ioctl(fd_, TIOCSSERIAL, &serial) == 0;
  }

  // Puts the flag back as it was found, for the next program on the port.
  void RestoreLatency() {
    if (!restore_latency_) return;
    restore_latency_ = false;
    serial_struct serial{};
    if (::ioctl(fd_, TIOCGSERIAL, &serial) != 0) return;
    serial.flags &= ~ASYNC_LOW_LATENCY;
    (void)::ioctl(fd_, TIOCSSERIAL, &serial);
  }

  int fd_ = -1;
  int last_error_ = 0;
  bool restore_latency_ = false;
  bool have_settings_ = false;
  termios settings_{};
  bool have_original_ = false;
  termios original_{};
  TCommTimeouts timeouts_{};
};

}  // namespace

std::string PosixDevicePath(const std::string& name) {
  if (name.size() > 3 && name.compare(0, 3, "COM") == 0 &&
      name.find_first_not_of("0123456789", 3) == std::string::npos) {
    const long number = std::strtol(name.c_str() + 3, nullptr, 10);
    if (number >= 1) return "/dev/ttyS" + std::to_string(number - 1);
    return "";  // COM0 names no device.
  }
  return name;
}

std::unique_ptr<ISerialDevice> CreateSystemSerialDevice() {
  return std::make_unique<PosixSerialDevice>();
}
