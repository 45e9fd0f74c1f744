// TDComm: one COM port as a byte channel with fixed line settings. The
// settings are plain fields; OpenPort applies them to the device in one go.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/Clock.h"
#include "common/GuiServices.h"
#include "link/SerialDevice.h"

struct THwFlowCtrl {
  std::uint8_t CtsFlow = 0;
  std::uint8_t DsrFlow = 0;
  std::uint8_t DtrControl = 1;  // DTR on
  std::uint8_t RtsControl = 1;  // RTS on
};

// With XonXoff off the two characters are not handed to the driver: it keeps
// its own (some drivers refuse equal ones even when they are unused).
struct TSwFlowCtrl {
  std::uint8_t XonXoff = 0;
  std::uint8_t XonChar = 0;
  std::uint8_t XoffChar = 0;
};

struct TFlowCtrl {
  THwFlowCtrl Hw;
  TSwFlowCtrl Sw;
};

// Driver queue sizes in bytes.
struct TBuffer {
  std::uint32_t InQueue = 1200;
  std::uint32_t OutQueue = 1200;
};

// The open after a close of the same port tries again this long, this often,
// while the driver still refuses it for the close (OpenRefusalMayClear).
constexpr std::uint32_t kReopenRetryLimitMs = 2000;
constexpr std::uint32_t kReopenRetrySpacingMs = 50;
// How long a close of the device is waited for before the channel goes on
// without it.
constexpr std::uint32_t kCloseLimitMs = 2000;
// A read that comes back empty within this came back at once, from a driver
// that ignores the time limit; it is made again, a step later, until the
// limit is up. One that kept the limit takes about the limit.
constexpr std::uint32_t kReadBackAtOnceMs = 50;
constexpr std::uint32_t kEarlyReadStepMs = 1;

// The lines the boxes add about a lost port or a close given up on.
constexpr char kPortLostText[] = "The port was lost: ";
constexpr char kCloseAbandonedText[] =
    "The port did not close within 2 s; the program no longer waits for it.";

class TDComm {
 public:
  // `gui` shows the "Can NOT Open" box; `clock` times the reads that the
  // driver returns early and the retried reopen. Both must outlive the channel.
  explicit TDComm(IGuiServices& gui, ITickSource& clock = SystemTickSource());
  ~TDComm();
  TDComm(const TDComm&) = delete;
  TDComm& operator=(const TDComm&) = delete;

  // The device held between a successful open and the next close.
  std::unique_ptr<ISerialDevice> Handle;
  TDcb Dcb;
  TCommTimeouts CommTimeouts;
  std::int8_t Port = 0;
  std::int32_t BaudRate = 1200;
  std::uint8_t Parity = 0;
  std::uint8_t ByteSizeCode = 3;  // data bits minus 5
  std::uint8_t StopBits = 0;
  TFlowCtrl FlowCtrl;
  TTimeouts Timeouts;
  TBuffer Buffer;
  bool Opened = false;

  // When set, the device opened instead of the COM port named by `Port`
  // (a pseudo-terminal in tests, any tty path on POSIX).
  std::string DevicePath;
  // Makes the device object for each open; the platform's driver by default.
  SerialDeviceFactory DeviceFactory;
  // OS error code read at the failing call of the last open; 0 when no call
  // failed. The "Can NOT Open" box says why from it.
  int LastOpenError = 0;
  // Set when a read, write or purge failed other than by running out of
  // time, or the driver said the device is gone: the adapter has been pulled
  // out. The device is closed at once, so a replugged adapter gets its port
  // name back; LostError is the system's code at the failing call. The next
  // open clears both.
  bool Lost = false;
  int LostError = 0;
  // Set when the last close of the device had not returned after
  // kCloseLimitMs; that close goes on without the channel.
  bool CloseAbandoned = false;

  // "COM" and the port number of Port (common/PortIndex.h), or DevicePath
  // when one is set.
  std::string DeviceName() const;
  // The "Can NOT Open" box's text for the last failed open: the port's name
  // and, on a second line, why.
  std::string OpenFailureText() const;

  // The lines a box adds for a lost port: the system's words for why, and
  // a close given up on.
  std::string LostText() const;

  bool OpenPort();
  // OpenPort for the open right after a close of the same port: a refusal
  // that the driver's unfinished close may explain is tried again every
  // kReopenRetrySpacingMs for up to kReopenRetryLimitMs before the box.
  bool ReopenPort();
  bool ClosePort();
  bool IsOpened() const { return Opened; }
  bool ReadByte(std::uint8_t* out);
  bool WriteByte(const std::uint8_t* b);
  bool WriteBuffer(const std::uint8_t* data, int count);
  // Aborts pending reads and writes and clears both driver queues.
  bool Purge();
  // Clears the input queue only: what the far end sent before now.
  bool PurgeInput();

 private:
  void FillDcb();
  void FillFlowCharacters();
  // Opens and configures the device without a box; false with
  // LastOpenError set.
  bool TryOpen();
  bool ConfigureDevice(ISerialDevice& device);
  bool ApplyLineState(ISerialDevice& device);
  bool RunsAsAsked(const TDcb& running) const;
  bool FailOpen();
  // One read of the device that waits out its time limit even where the
  // driver returns at once; false with nothing read.
  bool ReadWithinLimit(std::uint8_t* out);
  // A write's failure: a timeout leaves the line as it is, anything else
  // loses it.
  bool WriteFailed();
  // Marks the channel lost and closes the device; returns false.
  bool LoseLine();
  void CloseDevice();

  IGuiServices& gui_;
  ITickSource& clock_;
  // True when the last open failed in applying the settings, not in the open
  // call itself: the box then gives the system's own words.
  bool settings_refused_ = false;
};
