// UpdateFlow: one complete firmware update, as a ten-state machine over the
// pager's byte-command protocol, with its messages and its progress figure.
#pragma once

#include <cstdint>
#include <string>

#include "common/ReadOnlyFile.h"
#include "engine/HexImage.h"

struct MsgType {
  std::string Text;
  std::uint32_t Style = 0;
  friend bool operator==(const MsgType& a, const MsgType& b) {
    return a.Text == b.Text && a.Style == b.Style;
  }
};

constexpr int kMessageCount = 12;
extern const MsgType MessageTable[kMessageCount];

extern const MsgType& msgNone;
extern const MsgType& msgOpenHexFail;
extern const MsgType& msgEnterFlashFail;
extern const MsgType& msgEraseFail;
extern const MsgType& msgSendFail;
extern const MsgType& msgFinished;
extern const MsgType& msgBaudFail;
extern const MsgType& msgRewindExceeded;
extern const MsgType& msgProgramRetry;
extern const MsgType& msgUnexpectedReply;
extern const MsgType& msgNoResponse;
extern const MsgType& msgResendExceeded;

// How a command was answered.
enum ReplyClass : int { rpNone = 0, rpAck = 1, rpNak = 2, rpOther = 4 };

enum UpdateState : std::int32_t {
  stOpenFile = 0,
  stFileReady = 1,
  stEnterFlash = 2,
  stChangeBaud = 3,
  stBaudReady = 4,
  stErase = 5,
  stSendPackage = 6,
  stProgram = 7,
  stExitFlash = 8,
  stFinish = 9,
};

// Wire bytes and time limits of the pager protocol.
constexpr std::uint8_t kAck = 0x06;
constexpr std::uint8_t kNak = 0x15;
constexpr std::uint8_t kCmdEnterFlash = 'f';
constexpr std::uint8_t kCmdSend = 's';
constexpr std::uint8_t kCmdProgram = 'p';
constexpr std::uint8_t kCmdExitFlash = 'q';
constexpr char kCmdErase[] = "e0";
constexpr std::uint32_t kReplyLimitMs = 1300;
constexpr std::uint32_t kPollSpacingMs = 96;
constexpr std::uint32_t kPollSleepStepMs = 8;
constexpr std::uint32_t kExitPauseMs = 100;
constexpr std::int32_t kStartBaudRate = 1200;
constexpr int kMaxRewinds = 3;
constexpr int kRecordBufferSize = 52;
// A firmware file is small; anything larger is refused before it is read.
constexpr std::int64_t kMaxHexFileBytes = std::int64_t{64} << 20;
constexpr char kHexFileTooLargeText[] =
    "The file is larger than 64 MiB; no firmware is that large.";
constexpr char kMainCaption[] = "Tarvex Flasher";

class UpdateFlow {
 public:
  UpdateFlow() = default;
  ~UpdateFlow() = default;
  UpdateFlow(const UpdateFlow&) = delete;
  UpdateFlow& operator=(const UpdateFlow&) = delete;

  std::string FileName;
  std::int32_t State = stOpenFile;
  ReadOnlyFile HexFile;
  std::uint32_t FileSize = 0;
  bool EndReached = false;
  MsgType Message = msgNone;
  std::int32_t RewindCount = 0;
  std::int32_t ResendCount = 0;
  // The file's bytes as they were checked; records are sent from here and
  // the progress figure follows the position in it.
  HexImage Image;

  // Runs one update from the HEX file to the pager; returns the final state.
  int Run(const std::string& fileName);
  void ShowMessage(const MsgType& m);

  bool WaitReply(int limit, std::uint8_t& out);
  ReplyClass EnterFlashMode();
  ReplyClass ChangeBaudRate(int rate);
  ReplyClass EraseFlash();
  ReplyClass SendPackage();
  ReplyClass ProgramPackage();
  ReplyClass ExitFlashMode();
  bool OpenHexFile(const std::string& name);
  int GetProgress();

 private:
  void Step(const std::string& fileName);
  void StepEnterFlash();
  void StepChangeBaud();
  void StepErase();
  void StepSendPackage();
  void StepProgram();
  // Sets the next state and message for a reply that is not an ACK: NAK and
  // stray bytes lead to the exit command, silence straight to the end.
  void FailOn(ReplyClass reply, const MsgType& on_nak);
  // Drops whatever is waiting in the input queue, so the reply taken for
  // the command about to be written can only be a byte that came after it.
  void DiscardStaleInput();
  ReplyClass AwaitReply();
  // Reads the whole open file into Image and checks it.
  bool LoadAndCheck();
  bool RewindToRecordStart();
  // A record that cannot be read as it was checked: nothing is sent.
  ReplyClass FailRead();
  // "Unable to open the HEX file." with the reason on its second line.
  MsgType FileFailMessage() const;

  // Each record is read into this buffer; it is never cleared between calls.
  char RecordBuffer[kRecordBufferSize] = {};
  // Where the record last read began, so a rejected one is sent again whole.
  std::int64_t RecordStart = 0;
  // Set when the file could not be read as it was checked; ends the update.
  bool ReadFailed = false;
  // Why the HEX file was refused, shown on the box's second line.
  std::string FileFailReason;
};
