// The small interface between the channel and the operating system's serial
// driver. One implementation per platform (SerialDevice_win32.cpp,
// SerialDevice_posix.cpp), chosen by the build; tests put a scripted pager
// behind it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// The line settings the channel writes, named as in the Win32 DCB. A backend
// keeps whatever else its driver reported and overlays these.
struct TDcb {
  std::uint32_t BaudRate = 0;
  std::uint8_t fBinary = 0;
  std::uint8_t fParity = 0;
  std::uint8_t fOutxCtsFlow = 0;
  std::uint8_t fOutxDsrFlow = 0;
  std::uint8_t fDtrControl = 0;
  std::uint8_t fRtsControl = 0;
  std::uint8_t fOutX = 0;
  std::uint8_t fInX = 0;
  std::uint8_t fAbortOnError = 0;
  std::uint8_t ByteSize = 0;
  std::uint8_t Parity = 0;
  std::uint8_t StopBits = 0;
  std::uint8_t XonChar = 0;
  std::uint8_t XoffChar = 0;
  friend bool operator==(const TDcb&, const TDcb&) = default;
};

// The channel's time limits in milliseconds, in the order of the Win32
// COMMTIMEOUTS: a read returns after at most about 500 ms whether or not a
// byte came, a write gives up after about 500 ms. The driver is handed the
// same record; each backend maps it to its own once.
struct TTimeouts {
  std::uint32_t ReadInterval = 0;
  std::uint32_t ReadMultiplier = 0;
  std::uint32_t ReadConstant = 500;
  std::uint32_t WriteMultiplier = 0;
  std::uint32_t WriteConstant = 500;
  friend bool operator==(const TTimeouts&, const TTimeouts&) = default;
};
using TCommTimeouts = TTimeouts;

// The purge flags, as Win32 numbers them.
constexpr std::uint32_t kPurgeTxAbort = 0x0001;
constexpr std::uint32_t kPurgeRxAbort = 0x0002;
constexpr std::uint32_t kPurgeTxClear = 0x0004;
constexpr std::uint32_t kPurgeRxClear = 0x0008;
constexpr std::uint32_t kPurgeAll = kPurgeTxAbort | kPurgeRxAbort | kPurgeTxClear | kPurgeRxClear;

class ISerialDevice {
 public:
  virtual ~ISerialDevice() = default;
  // Opens `name` for reading and writing, exclusively, without overlapped I/O.
  virtual bool Open(const std::string& name) = 0;
  virtual bool GetState(TDcb& dcb) = 0;
  virtual bool SetState(const TDcb& dcb) = 0;
  virtual bool SetQueues(std::uint32_t in_queue, std::uint32_t out_queue) = 0;
  virtual bool SetTimeouts(const TCommTimeouts& timeouts) = 0;
  virtual bool Purge(std::uint32_t flags) = 0;
  // One synchronous read or write; `done` is the count the driver reported.
  virtual bool Read(std::uint8_t* data, std::uint32_t count, std::uint32_t& done) = 0;
  virtual bool Write(const std::uint8_t* data, std::uint32_t count, std::uint32_t& done) = 0;
  // Asks the driver whether the device is still there: a read that ran out
  // of time says nothing about that, and some drivers (Wine's among them)
  // answer every read of a pulled adapter as if it had timed out. False, with
  // the error, when it is gone; a device that cannot tell counts as there.
  virtual bool CheckPresent() { return true; }
  // May block: some drivers hang in it after the adapter has been pulled
  // out, so the channel calls it on a thread of its own (DeviceCloser.h).
  virtual void Close() = 0;
  // The OS error code of the last failed call, taken at the point of failure.
  virtual int LastError() const = 0;
};

// The platform's device for a name such as "COM3" or a path of its own.
std::unique_ptr<ISerialDevice> CreateSystemSerialDevice();

// Makes the device object for each open of a channel: the platform's driver
// in the programs, a scripted pager in tests.
using SerialDeviceFactory = std::function<std::unique_ptr<ISerialDevice>()>;

// The device a POSIX system opens for `name`: "COM3" is /dev/ttyS2 (COM0
// names none, ""), anything else a path already. Only the POSIX build
// defines it.
std::string PosixDevicePath(const std::string& name);
