// The serial ports present on this machine, with what the system says of
// each: enough for a technician to tell one USB adapter from another. One
// backend file per platform (SetupAPI and the SERIALCOMM registry key on
// Windows, sysfs on Linux), chosen by the build; the parsing of what they
// return is pure and lives in PortList.cpp.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct PortInfo {
  // What the user types and the channel opens: "COM7" on Windows,
  // "/dev/ttyUSB0" on Linux.
  std::string Name;
  // 7 for COM7; 0 where the name carries no COM number (Linux paths).
  int Number = 0;
  // The system's words for the device: the friendly name on Windows
  // ("USB Serial Port (COM7)" shown as "USB Serial Port"), the product on Linux.
  std::string Description;
  std::string Manufacturer;
  // The kernel driver (Linux) or the service (Windows), when known.
  std::string Driver;
  // USB vendor and product as four hex digits each ("0403:6001"); empty when
  // the port is not on USB.
  std::string VidPid;
  // The adapter's serial number, when it reports one.
  std::string Serial;
  // The stable /dev/serial/by-id name (Linux), when one exists.
  std::string ById;
  // The USB adapter's latency timer in ms, where the system shows one (FTDI
  // adapters); -1 where it does not.
  int LatencyTimerMs = -1;
};

// USB identity as a device instance ID carries it.
struct UsbIdentity {
  std::string Vid;     // four upper-case hex digits, "0403"
  std::string Pid;     // "6001"
  std::string Serial;  // empty when the ID carries none (or only an instance
                       // number that Windows made up, such as "6&2A3B4C&0&1")
};

// Reads VID, PID and serial number out of a Windows device instance ID:
//   USB\VID_0403&PID_6001\A600ARJH
//   FTDIBUS\VID_0403+PID_6001+A600ARJHA\0000
// Returns false when the ID names no USB vendor and product.
bool ParseInstanceId(std::string_view instance_id, UsbIdentity& out);

// The COM number of a name such as "COM12", "com012", "COM12:", "\\.\COM12",
// "//./COM12" or "\??\COM12"; 0 for anything else.
int ComNumberOf(std::string_view name);

// The DOS name a port is known by, whatever spelling of it was given: "COM7"
// for every spelling of COM7 (com07, COM7:, \\.\COM7, //./COM7, \??\COM7),
// else the name upper-cased without the device namespace and a colon after
// it ("\\.\pager:" is PAGER). Empty for a path, which names no DOS device.
std::string DosNameOf(std::string_view port);

// The description a friendly name gives once the port's own name is taken
// off its end: "USB Serial Port (COM7)" for COM7 gives "USB Serial Port".
std::string DescriptionFromFriendlyName(std::string_view friendly_name, std::string_view port_name);

// Adds `found` to `ports`, or, when a port of the same name is there already,
// fills in only the fields that one lacks: two sources describing one port
// give one entry.
void MergePort(std::vector<PortInfo>& ports, const PortInfo& found);

// COM ports by number first, then the others by name, digits compared as
// numbers (ttyUSB2 before ttyUSB10).
void SortPorts(std::vector<PortInfo>& ports);

// The serial number of the adapter behind `port`, matched by name, by its
// /dev/serial/by-id name, or by COM number; empty when not known.
std::string AdapterSerialOf(const std::string& port, const std::vector<PortInfo>& ports);

// A port given as "serial=FT12AB34": the one whose USB adapter reports that
// serial number, whatever name the system gave it this time.
constexpr std::string_view kSerialPrefix = "serial=";
bool NamesAdapterSerial(const std::string& given);
// The serial number such a name gives; empty for any other name.
std::string SerialNamedBy(const std::string& given);
// The serial number the adapter for `given` is known by: that of the port
// `resolved` names among `present`, or, before it is plugged in (nothing
// resolved), the one `given` names.
std::string AdapterSerialFor(const std::string& given, const std::string& resolved,
                             const std::vector<PortInfo>& present);

struct PortMatch {
  std::string name;   // the port to open; empty on an error
  std::string error;  // why none could be chosen, with the ports present
  // More than one adapter has the serial number: no later plugging in can
  // make that one port.
  bool ambiguous = false;
  // The adapter is there, as a port given under another name.
  bool taken = false;
};

// The port `given` names among `ports`: a plain name as it is, a serial= form
// the one port whose adapter has that serial number (in any case, as
// Windows upper-cases what Linux shows as the adapter reports it).
PortMatch ResolvePort(const std::string& given, const std::vector<PortInfo>& ports);

// What names the device behind a port, so one port given under two names
// (a link and its target, COM5 and \\.\COM5) is seen as one: on POSIX the
// device number of a character device, else the path with links resolved;
// on Windows the device the DOS name leads to (QueryDosDeviceW), whatever
// spelling of it was given (COM7, com07, COM7:, \\.\COM7, \\?\COM7), else its
// COM number. A name that leads nowhere is its own identity.
std::string PortIdentity(const std::string& port);

// What PortIdentity gives on Windows, with `dos_target` for the system's
// table of DOS names (QueryDosDeviceW: "\\Device\\Serial6" for COM7,
// "\\??\\COM7" for a name defined as another name, "" for none): every
// spelling of a COM port, and every name that leads to its device, gives
// the same. Pure, so the rule is tested on every platform.
std::string DosPortIdentity(const std::string& port,
                            const std::function<std::string(const std::string&)>& dos_target);

// What one try of a lookup that writes into a buffer of a given size gave:
// the text, or that the buffer was too small for it, or a failure that a
// larger buffer would not mend.
struct BufferedLookup {
  enum class Status { kDone, kTooSmall, kFailed };
  Status status = Status::kFailed;
  std::string text;
};

// Asks `lookup` with a buffer of a few hundred characters, and again with a
// larger one each time it says that was too small, up to the most a system
// name can need; "" when it fails or never fits. QueryDosDeviceW reports
// only that its buffer was too small, not the size it needs.
std::string LookUpGrowing(const std::function<BufferedLookup(std::size_t chars)>& lookup);

// PortIdentity, or in a test a stand-in for the system's own tables.
using PortIdentityFunction = std::function<std::string(const std::string&)>;

// The identity of a port as given for a bench or a gang: a serial= form
// that one adapter present has, that of the port it is found under; one
// not present (or not one), its serial number in any case; any other name,
// `identity`'s (PortIdentity, or the system's table in a test).
std::string GivenPortIdentity(const std::string& given, const std::vector<PortInfo>& present,
                              const PortIdentityFunction& identity);

// Two places in a list of ports given that name one port.
struct SamePort {
  std::size_t first = 0;
  std::size_t second = 0;
};

// The first port of `given` that names the same port as an earlier one,
// and that one: COM5 and //./COM5, COM5 and serial= of COM5's adapter, a
// link and its target. Nothing when each names a port of its own. Asked
// before anything opens, so one pager never gets two updates at once.
std::optional<SamePort> PortGivenTwice(const std::vector<std::string>& given,
                                       const std::vector<PortInfo>& present,
                                       const PortIdentityFunction& identity = PortIdentity);

// The port a serial= form names among `present`, as ResolvePort finds it,
// refused when it is one of `others` (the other ports of the bench, as
// given): an adapter that turns up late as a port the bench already has is
// not opened a second time.
PortMatch ResolvePortNotTaken(const std::string& given, const std::vector<PortInfo>& present,
                              const std::vector<std::string>& others,
                              const PortIdentityFunction& identity = PortIdentity);

// The identity of the character device numbered `major`:`minor`. POSIX only.
std::string CharDeviceIdentity(unsigned major, unsigned minor);

// The ports present, in number order (COM ports), then by name.
std::vector<PortInfo> ListSerialPorts();

// The latency timer of the USB adapter behind `port` (a name as the user
// gives it) in ms, as the system shows it now: sysfs on Linux
// (/sys/bus/usb-serial/devices/ttyUSBn/latency_timer), the FTDI driver's
// device parameters in the registry on Windows. -1 where it shows none.
int AdapterLatencyTimerMs(const std::string& port);

// The Linux backend with its roots given, so a test can point it at a
// fixture tree: `sys_root` stands for /sys, `dev_root` for /dev. Only the
// POSIX build defines it.
std::vector<PortInfo> ListSysfsPorts(const std::string& sys_root, const std::string& dev_root);
// The latency timer sysfs shows for the tty `tty_name` below `sys_root`; -1
// when none. POSIX only.
int SysfsLatencyTimerMs(const std::string& sys_root, const std::string& tty_name);
