#include "common/TextWidth.h"

#include <algorithm>
#include <iterator>

#include "common/Utf16.h"

namespace {

constexpr char kEllipsis[] = "\u2026";
constexpr char kBlank = ' ';
// Where the parts of a name meet: what lies between two of them is a word.
constexpr std::string_view kNameSeparators = "/\\_-.: ";
constexpr std::string_view kById = "/serial/by-id/";
// A hanging indent that would leave less than this room is dropped.
constexpr std::size_t kLeastRoomBesideIndent = 10;

struct Range {
  char32_t first;
  char32_t last;
};

// The East Asian wide and full-width blocks, and the emoji a terminal draws
// two columns wide.
constexpr Range kWide[] = {
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},
    {0x2614, 0x2615},   {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},
    {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},   {0xA960, 0xA97F},   {0xAC00, 0xD7A3},
    {0xF900, 0xFAFF},   {0xFE10, 0xFE19},   {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},
    {0xFFE0, 0xFFE6},   {0x1F300, 0x1F64F}, {0x1F680, 0x1F6FF}, {0x1F900, 0x1F9FF},
    {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
};

// Combining marks and the characters that take no room of their own.
constexpr Range kZeroWidth[] = {
    {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x0610, 0x061A}, {0x064B, 0x065F},
    {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x200B, 0x200F}, {0x2060, 0x2064}, {0x20D0, 0x20FF},
    {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F}, {0xFEFF, 0xFEFF},
};

template <std::size_t N>
bool InRanges(char32_t character, const Range (&ranges)[N]) {
  return std::any_of(std::begin(ranges), std::end(ranges), [character](const Range& range) {
    return character >= range.first && character <= range.last;
  });
}

// A character, or a byte that is not part of one: where it lies in the text
// and the columns it takes.
struct Piece {
  std::size_t from = 0;
  std::size_t to = 0;
  std::size_t columns = 0;
};

std::vector<Piece> Pieces(std::string_view text) {
  std::vector<Piece> pieces;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t from = at;
    char32_t character = 0;
    if (NextUtf8Character(text, at, character)) {
      pieces.push_back({from, at, CharacterColumns(character)});
      continue;
    }
    for (std::size_t i = from; i < at; ++i) pieces.push_back({i, i + 1, 1});
  }
  return pieces;
}

// The bytes of `text`'s start that take at most `columns` columns.
std::size_t HeadBytes(std::string_view text, std::size_t columns) {
  std::size_t used = 0;
  std::size_t end = 0;
  for (const Piece& piece : Pieces(text)) {
    if (used + piece.columns > columns) break;
    used += piece.columns;
    end = piece.to;
  }
  return end;
}

// Where the end of `text` that takes at most `columns` columns begins.
std::size_t TailStart(std::string_view text, std::size_t columns) {
  const std::vector<Piece> pieces = Pieces(text);
  std::size_t used = 0;
  std::size_t start = text.size();
  for (auto piece = pieces.rbegin(); piece != pieces.rend(); ++piece) {
    if (used + piece->columns > columns) break;
    used += piece->columns;
    start = piece->from;
  }
  return start;
}

std::string_view TrimmedRight(std::string_view text) {
  while (!text.empty() && text.back() == kBlank) text.remove_suffix(1);
  return text;
}

std::string_view TrimmedLeft(std::string_view text) {
  while (!text.empty() && text.front() == kBlank) text.remove_prefix(1);
  return text;
}

// The bytes of `text`'s first line within `room` columns: up to its last
// blank that fits (a word may end at the very edge), past its leading
// blanks; where there is none, as much of the word as fits (one character
// at least, so every line makes headway).
std::size_t LineBreak(std::string_view text, std::size_t room) {
  const std::size_t words = text.find_first_not_of(kBlank);
  std::size_t used = 0;
  std::size_t fitted = 0;
  std::size_t last_blank = 0;
  for (const Piece& piece : Pieces(text)) {
    if (used + piece.columns > room) break;
    used += piece.columns;
    fitted = piece.to;
    if (text[piece.from] == kBlank && piece.from > words) last_blank = piece.from;
  }
  if (fitted < text.size() && text[fitted] == kBlank && fitted > words) return fitted;
  if (last_blank > 0) return last_blank;
  return std::max<std::size_t>(fitted, Pieces(text).front().to);
}

bool IsSeparator(char c) { return kNameSeparators.find(c) != std::string_view::npos; }

// The part of a /dev/serial/by-id/ name that is its adapter's serial number:
// "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0" has it after the last "_"
// before "-if". Empty when the name has none.
std::pair<std::size_t, std::size_t> ByIdSerial(std::string_view name) {
  const std::size_t by_id = name.find(kById);
  if (by_id == std::string_view::npos) return {0, 0};
  const std::size_t base = name.rfind('/') + 1;
  const std::size_t interface = name.rfind("-if");
  const std::size_t end =
      interface == std::string_view::npos || interface < base ? name.size() : interface;
  const std::size_t underscore = name.substr(0, end).rfind('_');
  if (underscore == std::string_view::npos || underscore < base) return {0, 0};
  return {underscore + 1, end};
}

// The bytes at the start and at the end that all `names` share, each ending
// where a part of a name does, so no word is split.
std::pair<std::size_t, std::size_t> SharedEnds(const std::vector<std::string_view>& names) {
  std::size_t shortest = names.front().size();
  for (std::string_view name : names) shortest = std::min(shortest, name.size());
  std::size_t head = 0;
  while (head < shortest && std::all_of(names.begin(), names.end(), [&](std::string_view name) {
           return name[head] == names.front()[head];
         })) {
    ++head;
  }
  while (head > 0 && !IsSeparator(names.front()[head - 1])) --head;
  std::size_t tail = 0;
  const auto same_from_end = [&](std::string_view name) {
    return name[name.size() - 1 - tail] == names.front()[names.front().size() - 1 - tail];
  };
  while (head + tail < shortest && std::all_of(names.begin(), names.end(), same_from_end)) ++tail;
  const std::string_view first = names.front();
  while (tail > 0 && !IsSeparator(first[first.size() - tail])) --tail;
  return {head, tail};
}

// The end of `text` within `columns`, from the start of a word: a part of a
// word cut off reads as a word of its own.
std::string WordTail(const std::string& text, std::size_t columns) {
  std::size_t start = TailStart(text, columns);
  if (start > 0 && start < text.size() && !IsSeparator(text[start - 1])) {
    const std::size_t word = text.find_first_of(kNameSeparators, start);
    start = word == std::string::npos ? text.size() : word + 1;
  }
  return text.substr(start);
}

// `name` in `width` columns around its part [from, to), kept whole: the end
// after it as far as it fits, then the words before it.
std::string ShortenAround(const std::string& name, std::size_t from, std::size_t to,
                          std::size_t width) {
  const std::string key = name.substr(from, to - from);
  const std::size_t key_width = DisplayWidth(key);
  if (key_width == 0) return ShortenInTheMiddle(name, width);
  if (key_width >= width) return ShortenInTheMiddle(key, width);
  const std::string before = name.substr(0, from);
  const std::string after = name.substr(to);
  const std::size_t room = width - key_width;
  if (before.empty()) return key + CutToWidth(after, room);
  const std::size_t after_width = DisplayWidth(after);
  if (after_width + 1 <= room) {
    return kEllipsis + WordTail(before, room - 1 - after_width) + key + after;
  }
  return kEllipsis + key + (room >= 2 ? CutToWidth(after, room - 1) : "");
}

}  // namespace

std::size_t CharacterColumns(char32_t character) {
  if (character < 0x20 || (character >= 0x7F && character < 0xA0)) return 0;
  if (InRanges(character, kZeroWidth)) return 0;
  return InRanges(character, kWide) ? 2 : 1;
}

std::size_t DisplayWidth(std::string_view text) {
  std::size_t columns = 0;
  for (const Piece& piece : Pieces(text)) columns += piece.columns;
  return columns;
}

std::string ShortenInTheMiddle(const std::string& text, std::size_t width) {
  if (DisplayWidth(text) <= width) return text;
  if (width == 0) return "";
  const std::size_t keep = width - 1;
  const std::size_t head = (keep + 1) / 2;
  const std::size_t head_end = HeadBytes(text, head);
  const std::size_t tail_start = std::max(head_end, TailStart(text, keep - head));
  return text.substr(0, head_end) + kEllipsis + text.substr(tail_start);
}

std::string CutToWidth(const std::string& line, std::size_t width) {
  if (width == 0 || DisplayWidth(line) <= width) return line;
  return line.substr(0, HeadBytes(line, width - 1)) + kEllipsis;
}

std::vector<std::string> WrapLine(std::string_view line, std::size_t width, std::size_t indent) {
  if (width == 0 || DisplayWidth(line) <= width) return {std::string(line)};
  if (indent + kLeastRoomBesideIndent > width) indent = 0;
  std::vector<std::string> lines;
  std::string_view rest = line;
  for (std::string prefix; !rest.empty(); prefix.assign(indent, kBlank)) {
    const std::size_t room = width - DisplayWidth(prefix);
    if (DisplayWidth(rest) <= room) {
      lines.push_back(prefix + std::string(rest));
      break;
    }
    const std::size_t end = LineBreak(rest, room);
    lines.push_back(prefix + std::string(TrimmedRight(rest.substr(0, end))));
    rest = TrimmedLeft(rest.substr(end));
  }
  return lines;
}

std::string WrapText(std::string_view text, std::size_t width, std::size_t hang) {
  std::string wrapped;
  for (std::size_t from = 0;;) {
    const std::size_t end = text.find('\n', from);
    const std::string_view line = text.substr(from, end - from);
    const std::size_t own_indent = std::min(line.find_first_not_of(kBlank), line.size());
    const std::vector<std::string> lines = WrapLine(line, width, own_indent + hang);
    for (std::size_t i = 0; i < lines.size(); ++i) wrapped += (i > 0 ? "\n" : "") + lines[i];
    if (end == std::string_view::npos) return wrapped;
    wrapped += '\n';
    from = end + 1;
  }
}

std::vector<std::string> ShortenApart(const std::vector<std::string>& names, std::size_t width) {
  std::vector<std::string_view> long_names;
  for (const std::string& name : names) {
    if (DisplayWidth(name) > width) long_names.push_back(name);
  }
  // What the long names share says nothing of which is which; a lone long
  // name has nothing to be told from.
  const auto [head, tail] =
      long_names.size() >= 2 ? SharedEnds(long_names) : std::pair<std::size_t, std::size_t>{};
  std::vector<std::string> shown;
  for (const std::string& name : names) {
    if (DisplayWidth(name) <= width) {
      shown.push_back(name);
      continue;
    }
    auto [from, to] = ByIdSerial(name);
    if (from == to && long_names.size() >= 2) {
      from = head;
      to = name.size() - tail;
    }
    shown.push_back(from < to ? ShortenAround(name, from, to, width)
                              : ShortenInTheMiddle(name, width));
  }
  return shown;
}
