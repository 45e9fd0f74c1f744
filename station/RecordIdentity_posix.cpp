#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "station/RecordIdentity.h"

namespace record_identity_detail {

std::string SystemRandom(std::array<std::uint8_t, 16>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got = ::getrandom(bytes.data() + done, bytes.size() - done, 0);
    if (got > 0) {
      done += static_cast<std::size_t>(got);
      continue;
    }
    const int error = got < 0 ? errno : EIO;
    if (error == EINTR) continue;
    return std::string("the system gave no random bytes for its record id (") +
           std::strerror(error) + ")";
  }
  return "";
}

std::string HostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

}  // namespace record_identity_detail
