// TDComm: one COM port as a byte channel with fixed line settings. The
// settings are plain fields; OpenPort applies them to the device in one go.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

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

using SerialDeviceFactory = std::function<std::unique_ptr<ISerialDevice>()>;

class TDComm {
 public:
  TDComm();
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

  // "COM" and the port number of Port (common/PortIndex.h), or DevicePath
  // when one is set.
  std::string DeviceName() const;
  // The "Can NOT Open" box's text for the last failed open: the port's name
  // and, on a second line, why.
  std::string OpenFailureText() const;

  bool OpenPort();
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
  bool ConfigureDevice(ISerialDevice& device);
  bool FailOpen();
};
