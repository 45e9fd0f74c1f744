#include "tests/e2e/PagerProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

namespace {

int HexByte(const std::string& text, std::size_t pos) {
  return std::stoi(text.substr(pos, 2), nullptr, 16);
}

std::string ReadLineFrom(int fd) {
  std::string line;
  char c = 0;
  while (::read(fd, &c, 1) == 1 && c != '\n') line.push_back(c);
  return line;
}

}  // namespace

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

Image ImageOfHex(const std::string& text) {
  Image image;
  std::uint32_t base = 0;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() < 11 || line[0] != ':') continue;
    const int length = HexByte(line, 1);
    const std::uint32_t offset = (HexByte(line, 3) << 8) | HexByte(line, 5);
    const int type = HexByte(line, 7);
    if (type == 0) {
      for (int i = 0; i < length; ++i) {
        image[base + offset + i] = static_cast<std::uint8_t>(HexByte(line, 9 + 2 * i));
      }
    } else if (type == 2 || type == 4) {
      const std::uint32_t value = (HexByte(line, 9) << 8) | HexByte(line, 11);
      base = type == 2 ? value << 4 : value << 16;
    }
  }
  return image;
}

std::string PagerProcess::Start(const std::vector<std::string>& options) {
  std::vector<std::string> args = {
      PAGERSIM_PATH, "--log", dir_ + "/pager.log", "--image-hex", dir_ + "/pager-image-%d.hex",
      "--stdin-stop"};
  args.insert(args.end(), options.begin(), options.end());
  int out[2];
  int in[2];
  if (::pipe(out) != 0 || ::pipe(in) != 0) return "";
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(in[0], STDIN_FILENO);
    ::close(out[0]);
    ::close(in[1]);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(in[0]);
  // The emulator stops when this end of its stdin closes: even if the test
  // dies, no emulator is left behind.
  ::fcntl(in[1], F_SETFD, FD_CLOEXEC);
  stdin_fd_ = in[1];
  const std::string line = ReadLineFrom(out[0]);
  ::close(out[0]);
  return line;
}

bool PagerProcess::Stop() {
  if (pid_ <= 0) return exit_status_ == 0;
  ::kill(pid_, SIGTERM);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
  if (stdin_fd_ >= 0) ::close(stdin_fd_);
  stdin_fd_ = -1;
  exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
  return exit_status_ == 0;
}

void PagerProcess::Kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
  if (stdin_fd_ >= 0) ::close(stdin_fd_);
  stdin_fd_ = -1;
  exit_status_ = 128 + SIGKILL;
}

std::vector<std::string> PagerProcess::LogLines() const {
  std::vector<std::string> lines;
  std::istringstream text(ReadAll(dir_ + "/pager.log"));
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> PagerProcess::Events(const std::string& kind) const {
  std::vector<std::string> texts;
  for (const std::string& line : LogLines()) {
    const std::size_t first = line.find(' ');
    if (first == std::string::npos) continue;
    const std::size_t second = line.find(' ', first + 1);
    if (line.compare(first + 1, second - first - 1, kind) != 0) continue;
    texts.push_back(second == std::string::npos ? "" : line.substr(second + 1));
  }
  return texts;
}

std::vector<std::string> PagerProcess::Commands() const { return Events("RX"); }

Image PagerProcess::ProgrammedImage(int pager) const {
  return ImageOfHex(ReadAll(dir_ + "/pager-image-" + std::to_string(pager) + ".hex"));
}
