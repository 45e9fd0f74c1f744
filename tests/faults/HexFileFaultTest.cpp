// Firmware files that cannot be used, and one that is very large. A file
// that cannot be used ends the update with one box before any command goes
// on the line, and is left exactly as it was; a large one goes through held
// once in memory, with a progress figure that climbs one percent at a time
// to 100.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "engine/Hexproc.h"
#include "link/Dcommthread.h"
#include "tests/faults/FileState.h"
#include "tests/faults/HeapCounter.h"
#include "tests/fuzz/InstantLine.h"
#include "tests/support/HexText.h"
#include "tests/support/RecordingGui.h"
#include "tests/support/VirtualClock.h"

namespace {

using Texts = std::vector<std::string>;

const char kOpenFail[] = "Unable to open the HEX file.";
const char kFinished[] = "Firmware updated finished.";
const std::string kRecord = HexRecordText(0x0000, 0, Bytes(16));
const std::string kShort = HexRecordText(0x0010, 0, Bytes(3, 0x40));

// An update against a pager that answers at once, on virtual time.
class InstantUpdate : public ::testing::Test {
 protected:
  InstantUpdate() { comm.DeviceFactory = line.Factory(); }

  // The update refused the file: one error box naming the file as the
  // reason, nothing on the line, the port opened once and closed again.
  void ExpectRefusedBeforeAnyCommand(const std::string& reason_part) {
    ASSERT_EQ(gui.boxes.size(), 1u);
    EXPECT_EQ(gui.boxes[0].text.rfind(std::string(kOpenFail) + "\n", 0), 0u) << gui.boxes[0].text;
    EXPECT_NE(gui.boxes[0].text.find(reason_part), std::string::npos) << gui.boxes[0].text;
    EXPECT_EQ(gui.boxes[0].style, 16u);
    EXPECT_EQ(line.commands, 0);
    EXPECT_EQ(line.opens, 1);
    EXPECT_EQ(line.open_devices, 0);
    EXPECT_FALSE(flow.HexFile.IsOpen());
  }

  TempDir dir;
  VirtualClock clock{5000};
  RecordingGui gui;
  InstantLine line;
  TDComm comm{gui, clock};
  FixedUpdateSettings settings{9600, 3};
  UpdateFlow flow{{comm, settings, gui, clock}};
};

// ---- Files that cannot be opened --------------------------------------------

TEST_F(InstantUpdate, MissingFileIsRefused) {
  flow.Run(dir.PathOf("none.hex"));
  ExpectRefusedBeforeAnyCommand("No such file");
  EXPECT_FALSE(StateOf(dir.PathOf("none.hex")).exists) << "nothing is created in its place";
}

TEST_F(InstantUpdate, DirectoryIsRefused) {
  const std::string path = dir.PathOf("fw.hex");
  ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
  AgeFile(path);
  const FileState before = StateOf(path);
  flow.Run(path);
  ExpectRefusedBeforeAnyCommand("directory");
  EXPECT_EQ(StateOf(path), before);
}

TEST_F(InstantUpdate, FileOverSixtyFourMebibytesIsRefusedUnread) {
  const std::string path = dir.Write("fw.hex", "");
  std::filesystem::resize_file(path, (std::uintmax_t{64} << 20) + 1);
  flow.Run(path);
  ExpectRefusedBeforeAnyCommand("larger than 64 MiB");
}

TEST_F(InstantUpdate, EmptyNameIsRefused) {
  flow.Run("");
  ExpectRefusedBeforeAnyCommand("cannot be opened");
}

// Another program holds the file locked, as a flasher running twice would;
// once it lets go the same file goes through.
TEST_F(InstantUpdate, FileLockedByAnotherProcessIsRefusedUntilReleased) {
  const std::string path = dir.Write("fw.hex", HexFileText({kRecord, kEndRecordLine}));
  AgeFile(path);
  const FileState before = StateOf(path);
  int locked[2];
  int release[2];
  ASSERT_EQ(::pipe(locked), 0);
  ASSERT_EQ(::pipe(release), 0);
  const pid_t holder = ::fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    ::close(locked[0]);
    ::close(release[1]);
    const int fd = ::open(path.c_str(), O_RDONLY);
    const char ok = fd >= 0 && ::flock(fd, LOCK_EX) == 0 ? 'y' : 'n';
    (void)!::write(locked[1], &ok, 1);
    char ignored = 0;
    (void)!::read(release[0], &ignored, 1);  // returns when the test closes its end
    ::_exit(0);
  }
  ::close(locked[1]);
  ::close(release[0]);
  char ok = 0;
  ASSERT_EQ(::read(locked[0], &ok, 1), 1);
  ::close(locked[0]);
  ASSERT_EQ(ok, 'y') << "the other process could not lock the file";

  flow.Run(path);
  ExpectRefusedBeforeAnyCommand("in use by another program");
  EXPECT_EQ(StateOf(path), before);

  ::close(release[1]);
  int status = 0;
  ::waitpid(holder, &status, 0);
  gui.boxes.clear();
  flow.Run(path);
  EXPECT_EQ(gui.Texts(), Texts{kFinished});
  EXPECT_EQ(line.commands, 6);  // f, rate, e0, s, p, q
}

// ---- Malformed records ------------------------------------------------------

struct MalformedCase {
  const char* name;
  std::string text;
  int line;  // the line the box names
};

std::ostream& operator<<(std::ostream& out, const MalformedCase& c) { return out << c.name; }

std::string WithChecksum(std::string record_without_checksum) {
  unsigned sum = 0;
  for (std::size_t at = 1; at + 1 < record_without_checksum.size(); at += 2) {
    sum += static_cast<unsigned>(std::stoi(record_without_checksum.substr(at, 2), nullptr, 16));
  }
  static const char kDigits[] = "0123456789ABCDEF";
  const unsigned checksum = (0x100 - (sum & 0xFF)) & 0xFF;
  return record_without_checksum + kDigits[checksum >> 4] + kDigits[checksum & 15];
}

std::vector<MalformedCase> MalformedCases() {
  const std::string good = kRecord + "\r\n";
  const std::string end = std::string(kEndRecordLine) + "\r\n";
  std::string lower_length = kShort;
  lower_length[2] = 'a';  // ":0a..." would decode to 42 data bytes
  std::string zero_byte = kShort;
  zero_byte[4] = '\0';
  return {
      {"NoColon", good + kShort.substr(1) + "\r\n" + end, 2},
      {"OtherStartCharacter", good + ";" + kShort.substr(1) + "\r\n" + end, 2},
      {"LowerCaseLengthDigit", good + lower_length + "\r\n" + end, 2},
      {"LengthDigitNotHex", good + ":G" + kShort.substr(2) + "\r\n" + end, 2},
      {"TwentyDataBytes", HexFileText({HexRecordText(0, 0, Bytes(20)), kEndRecordLine}), 1},
      {"LengthFieldSaysMore", good + WithChecksum(":04001000010203") + "\r\n" + end, 2},
      {"LengthFieldSaysLess", good + WithChecksum(":020010000102030405") + "\r\n" + end, 2},
      {"NonHexInData", good + WithChecksum(":03001000010G03") + "\r\n" + end, 2},
      {"ChecksumWrong", good + kShort.substr(0, kShort.size() - 2) + "00\r\n" + end, 2},
      {"UnknownRecordType", HexFileText({WithChecksum(":0000000601"), kEndRecordLine}), 1},
      {"AddressRecordTooLong", HexFileText({WithChecksum(":03000004000102"), kEndRecordLine}), 1},
      {"StartRecordTooShort", HexFileText({WithChecksum(":02000005000102"), kEndRecordLine}), 1},
      {"EndRecordWithData", good + WithChecksum(":01000001AA") + "\r\n", 2},
      {"EndRecordAtOtherAddress", good + WithChecksum(":00001001") + "\r\n", 2},
      {"EmptyRecordAtZeroReadsAsEnd", WithChecksum(":00000000") + "\r\n" + good + end, 1},
      {"CarriageReturnAlone", kRecord + "\r" + end, 1},
      {"DoubleCarriageReturn", kRecord + "\r\r\n" + end, 1},
      {"EmptyLineBetweenRecords", good + "\r\n" + end, 2},
      {"SpaceAfterChecksum", kRecord + " \r\n" + end, 1},
      {"ZeroByteInRecord", good + zero_byte + "\r\n" + end, 2},
      {"ByteOrderMark", "\xEF\xBB\xBF" + good + end, 1},
      {"NoEndRecord", good + kShort + "\r\n", 3},
      {"RecordAfterEnd", good + end + kShort + "\r\n", 3},
      {"DataRecordLastWithoutLineEnd", good + kShort, 2},
      {"CutInsideARecord", good + kShort.substr(0, 9), 2},
      {"EmptyFile", "", 1},
      {"OnlyLineEnds", "\r\n\r\n", 1},
      {"MegabyteLineWithoutEnd", ":" + std::string(1 << 20, '0'), 1},
      {"MegabyteOfLineEnds", std::string(1 << 20, '\n'), 1},
  };
}

class MalformedFile : public InstantUpdate, public ::testing::WithParamInterface<MalformedCase> {};

TEST_P(MalformedFile, IsRefusedBeforeAnyCommandAndLeftAsItWas) {
  const std::string path = dir.Write("fw.hex", GetParam().text);
  ASSERT_TRUE(AgeFile(path));
  const FileState before = StateOf(path);
  heap::ResetPeak();
  const std::size_t held_before = heap::Live();
  flow.Run(path);
  const std::size_t peak = heap::Peak() - held_before;
  ExpectRefusedBeforeAnyCommand("Line " + std::to_string(GetParam().line) + ": ");
  EXPECT_EQ(StateOf(path), before);
  // The file is held once; the check adds one record at most to it.
  EXPECT_LT(peak, GetParam().text.size() + 16u * 1024u);
}

INSTANTIATE_TEST_SUITE_P(Kinds, MalformedFile, ::testing::ValuesIn(MalformedCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- A ten-megabyte file ----------------------------------------------------

struct LargeFile {
  std::string path;
  std::size_t records = 0;  // records sent: data and address records
  std::uint64_t digest = 0;
};

// Sum of a hash of each record, to compare what was sent with what the file
// holds without keeping either.
std::uint64_t RecordHash(const std::string& record) {
  std::uint64_t hash = 1469598103934665603ull;
  for (const char c : record) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  return hash;
}

// Full records over as many 64 KiB pages as it takes, each page opened by a
// linear address record.
LargeFile WriteLargeFile(const TempDir& dir, std::size_t least_bytes) {
  LargeFile file;
  file.path = dir.PathOf("large.hex");
  std::ofstream out(file.path, std::ios::binary);
  std::size_t written = 0;
  const auto put = [&](const std::string& record) {
    out << record << "\r\n";
    written += record.size() + 2;
    ++file.records;
    file.digest += RecordHash(record);
  };
  for (std::uint16_t page = 0; written < least_bytes; ++page) {
    put(HexRecordText(0, 4,
                      {static_cast<std::uint8_t>(page >> 8), static_cast<std::uint8_t>(page)}));
    for (std::uint32_t offset = 0; offset < 0x10000 && written < least_bytes; offset += 16) {
      put(HexRecordText(static_cast<std::uint16_t>(offset), 0,
                        Bytes(16, static_cast<std::uint8_t>(offset / 16 + page))));
    }
  }
  out << kEndRecordLine << "\r\n";
  return file;
}

struct TransferFigures {
  std::vector<int> progress;  // at every pump, then at the last box
  std::size_t peak_over_start = 0;
  std::size_t records_sent = 0;
  std::uint64_t digest = 0;
};

TransferFigures Transfer(UpdateFlow& flow, InstantLine& line, RecordingGui& gui,
                         const std::string& path) {
  TransferFigures figures;
  bool record_next = false;
  figures.progress.reserve(1 << 20);
  // The figure is read as each record goes, as a window's timer would.
  line.on_write = [&](const std::string& bytes) {
    if (record_next) {
      ++figures.records_sent;
      figures.digest += RecordHash(bytes);
    }
    record_next = bytes == "s";
    if (record_next) figures.progress.push_back(flow.GetProgress());
  };
  gui.on_box = [&](const ShownBox&) { figures.progress.push_back(flow.GetProgress()); };
  heap::ResetPeak();
  const std::size_t held_before = heap::Live();
  flow.Run(path);
  figures.peak_over_start = heap::Peak() - held_before;
  gui.on_box = nullptr;
  line.on_write = nullptr;
  return figures;
}

TEST_F(InstantUpdate, TenMegabyteFileGoesThroughHeldOnceInMemory) {
  TempDir small_dir;
  const LargeFile small = WriteLargeFile(small_dir, 1);
  const TransferFigures small_run = Transfer(flow, line, gui, small.path);
  ASSERT_EQ(gui.Texts(), Texts{kFinished});
  gui.boxes.clear();

  constexpr std::size_t kTenMegabytes = 10u << 20;
  const LargeFile large = WriteLargeFile(dir, kTenMegabytes);
  ASSERT_TRUE(AgeFile(large.path));
  const FileState before = StateOf(large.path);
  ASSERT_GE(before.bytes.size(), kTenMegabytes);
  const TransferFigures large_run = Transfer(flow, line, gui, large.path);

  std::printf(
      "10 MB file: %zu bytes, %zu records; heap peak over the start %zu bytes (%zu for "
      "a one-record file); %zu progress readings\n",
      before.bytes.size(), large.records, large_run.peak_over_start, small_run.peak_over_start,
      large_run.progress.size());
  EXPECT_EQ(gui.Texts(), Texts{kFinished});
  EXPECT_EQ(large_run.records_sent, large.records);
  EXPECT_EQ(large_run.digest, large.digest) << "the records sent are not the file's";
  EXPECT_EQ(StateOf(large.path), before);
  // The file once, and nothing that grows with its records beside it (the
  // figures vector is reserved beforehand and counts for neither run).
  EXPECT_LE(large_run.peak_over_start,
            before.bytes.size() + small_run.peak_over_start + kRecordBufferSize + 4096)
      << "small file " << small_run.peak_over_start << " bytes, large file "
      << large_run.peak_over_start << " bytes";

  // Exact progress: 0 at the start, never back, never more than a percent
  // at a step, every figure on the way shown, and 100 when it is done.
  const std::vector<int>& seen = large_run.progress;
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.front(), 0);
  EXPECT_EQ(seen.back(), 100);
  const auto backwards_or_jump =
      std::adjacent_find(seen.begin(), seen.end(), [](int a, int b) { return b < a || b > a + 1; });
  EXPECT_EQ(backwards_or_jump, seen.end())
      << "progress went from " << *backwards_or_jump << " to " << *(backwards_or_jump + 1);
}

}  // namespace
