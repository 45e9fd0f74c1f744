// UpdateFlow: one complete firmware update, as a ten-state machine over the
// pager's byte-command protocol, with its messages and its progress figure.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "common/ReadOnlyFile.h"
#include "engine/HexImage.h"
#include "engine/Turnaround.h"
#include "engine/UpdateContext.h"
#include "engine/UpdateObserver.h"

struct MsgType {
  std::string Text;
  std::uint32_t Style = 0;
  friend bool operator==(const MsgType& a, const MsgType& b) {
    return a.Text == b.Text && a.Style == b.Style;
  }
};

// A message of the table and what it says about the update: how it ended,
// or kNone when the update goes on after it.
struct MessageRow {
  MsgType Message;
  UpdateOutcome Outcome = UpdateOutcome::kNone;
};

constexpr int kMessageCount = 12;
extern const MessageRow MessageTable[kMessageCount];

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

// The outcome the table gives a message, judged by its first line (a second
// line may say why); kNone for a text the table does not hold.
UpdateOutcome OutcomeOfMessage(const MsgType& message);

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
constexpr int kRateCommandLength = 7;
constexpr std::uint32_t kReplyLimitMs = 1300;
// A quick stop (UpdateFlow::SetQuickStop) waits for a reply no longer than
// its line time, the port's turnaround bound and this: a pager that has
// gone is not waited for, one that answers is.
constexpr std::uint32_t kStopReplyMarginMs = 20;
constexpr std::uint32_t kPollSpacingMs = 96;
constexpr std::uint32_t kPollSleepStepMs = 8;
constexpr std::uint32_t kExitPauseMs = 100;
// The window's events are pumped with a record when this long has passed
// since the last pump: often enough that it never looks hung.
constexpr std::uint32_t kRecordPumpSpacingMs = 50;
// After the reopen at the new rate: some adapters (FTDI) leave a stray byte
// behind a rate change a few milliseconds later. It is waited for here and
// dropped with the rest of the input before the erase command goes out.
constexpr std::uint32_t kRateChangeSettleMs = 20;
// The loader listens at the start rate in idle, and at the transfer rate it
// was told from the rate command's ACK until it takes the exit command.
constexpr std::int32_t kStartBaudRate = 1200;
// The rates a rate command can tell, slowest first.
constexpr std::array<std::int32_t, 3> kTransferRates = {2400, 4800, 9600};
constexpr int kMaxRewinds = 3;
constexpr int kRecordBufferSize = 52;
constexpr char kMainCaption[] = "Tarvex Flasher";

// The rate command the loader knows for `rate` ("b4800B8"), or null for a
// rate it does not know. They are fixed strings, not computed.
const char* RateCommand(int rate);
// The rate a rate command tells the pager to use; 0 for any other command.
int RateToldBy(std::string_view command);

class UpdateFlow {
 public:
  explicit UpdateFlow(const UpdateContext& context);
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
  // The same from an image checked beforehand: no file is opened, and
  // `fileName` only names it. Several updates may share one image.
  int Run(std::shared_ptr<const CheckedFirmware> firmware, const std::string& fileName);
  // Who is told what happens; null (the default) tells no one.
  void SetObserver(IUpdateObserver* observer) { observer_ = observer; }
  // Asks the update to stop at its next step, from any thread. A pager that
  // may be in flash mode is told to leave it as at every end (the pause,
  // then "q"); a reply already awaited is waited out first (SetQuickStop
  // says when not). `signal`, when
  // set, asks the same whenever it reads true.
  void RequestStop() { stop_requested_.store(true); }
  void SetStopSignal(const std::atomic<bool>* signal) { stop_signal_ = signal; }
  // Where each reply's turnaround is added; null (the default) for none.
  void SetTurnaround(PortTurnaround* turnaround) { turnaround_ = turnaround; }
  // The port was closed just before the update: its first open is retried
  // while the driver still refuses it for that close, as every reopen is.
  void SetOpenFollowsClose(bool follows) { open_follows_close_ = follows; }
  // Once a stop is asked for, a reply is waited for only as long as the
  // port's turnaround allows (SetTurnaround), but for an erase's and a rate
  // command's: for a bench that must end within two seconds of a stop and
  // goes on asking the pager to leave flash mode itself.
  void SetQuickStop(bool quick) { quick_stop_ = quick; }
  // How the update ended (kNone while it runs).
  UpdateOutcome Outcome() const { return outcome_; }
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
  int RunSteps(const std::string& fileName);
  void Step(const std::string& fileName);
  bool TakeGivenImage(const std::string& fileName);
  bool StopWanted() const;
  // Leaves the path at a step boundary once a stop is asked for.
  void HonourStop();
  void EnterState(std::int32_t state);
  // Tells the observer of a message about to be shown, and keeps the first
  // outcome one says.
  void TellMessage(const UpdateMessage& message);
  void TellMessage(const MsgType& message);
  void TellPortNotOpened();
  // The closing of the port did not return in time: said in a box of its own
  // where nothing said it before.
  void TellCloseAbandoned();
  // "No response from the pager, flash now terminated.", with why on further
  // lines when the port was lost.
  MsgType NoResponseMessage() const;
  void TellCommand(std::string_view bytes);
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
  // Notes the moment the command's first byte goes out.
  void StartCommand();
  ReplyClass AwaitReply(std::string_view command);
  // How long a reply to `command` is waited for once a stop is asked for.
  int StopReplyLimitMs(std::string_view command) const;
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

  // Pumps the window's events once kRecordPumpSpacingMs has passed since
  // the last pump, while a record just written is on the line: its reply
  // cannot come for the tens of milliseconds the record takes there, so
  // the pump (and the repaint it brings) costs the update no time.
  void PumpWhileTheRecordGoes();

  TDComm& comm_;
  const IUpdateSettings& settings_;
  IGuiServices& gui_;
  ITickSource& clock_;
  IUpdateObserver* observer_ = nullptr;
  PortTurnaround* turnaround_ = nullptr;
  bool open_follows_close_ = false;
  bool quick_stop_ = false;
  // The last reply was not waited out, for a stop.
  bool reply_cut_short_ = false;
  std::uint32_t last_record_pump_ = 0;
  bool pumped_for_records_ = false;
  std::shared_ptr<const CheckedFirmware> given_image_;
  std::atomic<bool> stop_requested_{false};
  const std::atomic<bool>* stop_signal_ = nullptr;
  bool stop_honoured_ = false;
  UpdateOutcome outcome_ = UpdateOutcome::kNone;
  std::uint32_t command_start_ = 0;
  // Records sent since the last erase, each once.
  int records_sent_ = 0;
  // The "s" command with its record, as told to the observer.
  std::string command_text_;
};
