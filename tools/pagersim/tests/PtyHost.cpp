#include "PtyHost.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "IntelHex.h"

namespace pagersim::testing {
namespace {

speed_t SpeedFor(int rate_bps) {
  switch (rate_bps) {
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 38400:
      return B38400;
    default:
      return B1200;
  }
}

}  // namespace

bool PtyHost::Open(const std::string& path, int rate_bps) {
  Close();
  fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd_ < 0) return false;
  termios tio{};
  if (tcgetattr(fd_, &tio) != 0) return false;
  cfmakeraw(&tio);
  if (tcsetattr(fd_, TCSANOW, &tio) != 0) return false;
  return rate_bps == 0 || SetRate(rate_bps);
}

void PtyHost::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool PtyHost::SetRate(int rate_bps) {
  termios tio{};
  if (tcgetattr(fd_, &tio) != 0) return false;
  cfsetospeed(&tio, SpeedFor(rate_bps));
  cfsetispeed(&tio, SpeedFor(rate_bps));
  return tcsetattr(fd_, TCSANOW, &tio) == 0;
}

bool PtyHost::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd_, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      last_errno_ = errno;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

std::optional<uint8_t> PtyHost::ReadByte(int timeout_ms) {
  pollfd in = {fd_, POLLIN, 0};
  if (poll(&in, 1, timeout_ms) <= 0) return std::nullopt;
  uint8_t byte = 0;
  const ssize_t n = read(fd_, &byte, 1);
  if (n == 1) return byte;
  last_errno_ = n < 0 ? errno : 0;
  return std::nullopt;
}

std::optional<uint8_t> PtyHost::Command(std::string_view bytes, int timeout_ms) {
  if (!Send(bytes)) return std::nullopt;
  return ReadByte(timeout_ms);
}

bool PtyHost::NothingArrives(int wait_ms) {
  pollfd in = {fd_, POLLIN, 0};
  return poll(&in, 1, wait_ms) == 0;
}

std::string SendCommand(uint8_t type, uint16_t offset, const std::vector<uint8_t>& data) {
  HexRecord record;
  record.type = type;
  record.offset = offset;
  record.data = data;
  return "s" + EncodeRecord(record);
}

int CountEvents(const std::vector<LogEvent>& log, EventKind kind, std::string_view prefix) {
  int count = 0;
  for (const auto& event : log) {
    count += event.kind == kind && std::string_view(event.text).starts_with(prefix);
  }
  return count;
}

}  // namespace pagersim::testing
