#include "shell/Settings.h"

#include <array>
#include <cctype>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/FileOps.h"
#include "common/PortIndex.h"
#include "shell/Globals.h"

namespace {

constexpr int kSettingsLines = 3;
constexpr std::int32_t kDefaultBaudRate = 4800;
constexpr std::int32_t kDefaultResendTimes = 3;
constexpr char kDefaultContent[] = "1\r\nM\r\n3\r\n";
constexpr char kLineEnd[] = "\r\n";

struct RateLetter {
  char letter;
  std::int32_t rate;
};
constexpr RateLetter kRateLetters[] = {{'L', 2400}, {'M', 4800}, {'H', 9600}};

// The line buffer: its text stays as it was when the file has no more lines,
// which is what makes a missing line repeat the one before it.
using LineBuffer = std::string;

// Reads one line into `buffer`, keeping its first kSettingsLineText characters
// and dropping the rest of the line with its end (LF or CR LF; a lone CR
// before the end of the file counts as a line end too). Returns false, with
// `buffer` untouched, when the file has no more lines.
bool ReadLine(fileops::RegularFile& in, LineBuffer& buffer) {
  std::string text;
  bool pending_cr = false;
  bool any = false;
  for (int c = in.Get(); c >= 0; c = in.Get()) {
    any = true;
    if (c == '\n') break;
    if (pending_cr && text.size() < kSettingsLineText) text += '\r';
    pending_cr = c == '\r';
    if (!pending_cr && text.size() < kSettingsLineText) text += static_cast<char>(c);
  }
  if (!any) return false;
  buffer = text;
  return true;
}

// The decimal number at the start of `text`: blanks skipped, an optional
// sign, then digits; no digits give 0. The text is at most four characters,
// so the value always fits.
int LeadingNumber(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  int value = 0;
  while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) {
    value = value * 10 + (text[at++] - '0');
  }
  return negative ? -value : value;
}

std::optional<std::int32_t> RateFromLetter(std::string_view text) {
  if (text.empty()) return std::nullopt;
  for (const RateLetter& entry : kRateLetters) {
    if (entry.letter == text.front()) return entry.rate;
  }
  return std::nullopt;
}

std::string_view LetterForRate(std::int32_t rate) {
  for (const RateLetter& entry : kRateLetters) {
    if (entry.rate == rate) return std::string_view(&entry.letter, 1);
  }
  return {};
}

// A line as the save's line buffer carries it: the text cut to what fits,
// then the line end. An empty text gives no line at all.
std::string BufferedLine(std::string_view text) {
  if (text.empty()) return {};
  return std::string(text.substr(0, kSettingsLineText)) + kLineEnd;
}

void SetDefaults() {
  ComPortIndex = 0;
  FlashBaudRate = kDefaultBaudRate;
  ResendTimes = kDefaultResendTimes;
}

void ApplyLines(const std::array<LineBuffer, kSettingsLines>& lines) {
  ComPortIndex = PortIndexOfNumber(LeadingNumber(lines[0]));
  if (const auto rate = RateFromLetter(lines[1])) FlashBaudRate = *rate;
  ResendTimes = LeadingNumber(lines[2]);
}

void ReadSettingsFile(fileops::RegularFile& in) {
  std::array<LineBuffer, kSettingsLines> lines;
  LineBuffer buffer;
  for (LineBuffer& line : lines) {
    ReadLine(in, buffer);
    line = buffer;
  }
  ApplyLines(lines);
}

// The file's content for the current globals, with CR LF line ends.
std::string FormatSettings() {
  return BufferedLine(std::to_string(PortNumberOfIndex(ComPortIndex))) +
         BufferedLine(LetterForRate(FlashBaudRate)) + BufferedLine(std::to_string(ResendTimes));
}

}  // namespace

void LoadSettings() {
  const auto directory = fileops::CurrentDirectory();
  if (!directory) return SetDefaults();
  const std::string path = fileops::JoinPath(*directory, kSettingsFileName);
  // Opened first and judged by what was opened: a pipe swapped in after a
  // check of the name would otherwise hold the start.
  fileops::RegularFile file;
  if (file.Open(path)) return ReadSettingsFile(file);
  // Something else stands in its place (a directory, a pipe, a dangling
  // link, a file that cannot be read): leave it alone and go on with the
  // defaults.
  if (fileops::Exists(path)) return SetDefaults();
  // A failed write is not reported: the defaults hold for this run.
  (void)fileops::ReplaceFileContents(*directory, kSettingsFileName, kDefaultContent);
  SetDefaults();
}

void SaveSettings() {
  const std::string content = FormatSettings();
  const auto directory = fileops::CurrentDirectory();
  if (!directory || !fileops::IsRegularFile(fileops::JoinPath(*directory, kSettingsFileName))) {
    return;
  }
  (void)fileops::ReplaceFileContents(*directory, kSettingsFileName, content);
}
