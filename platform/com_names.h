// Names of serial ports: "\\.\COMn" and "COMn" mapped to Linux devices.
//
// On Windows the names are the system's own: DosDevicesFolder,
// AutomaticComDevices and ResolveComDevice do not exist there, and the
// links and numbering below do not apply. The other functions do, with the
// system's answers: ConfigFolder is %APPDATA%\tesmar (else
// %USERPROFILE%\AppData\Roaming\tesmar); DescribeComDevice is the device
// the system's name stands for ("\Device\Serial0"); ListComPorts,
// ComNumberOf and DescribeComLookup read the ports the serial drivers
// announce (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM), none of them linked;
// ComDeviceIdentity is always empty (the system keeps one COM number per
// adapter); a device names its number as "COMn", "\\.\COMn" or by its
// device name; OpenFailureHint names another program for
// ERROR_ACCESS_DENIED too, the serial drivers' answer for a port in use.
//
// COMn is, in this order:
//   1. whatever the symbolic link `comN` (lower case) in the dosdevices
//      folder points to: $XDG_CONFIG_HOME/tesmar/dosdevices, or
//      ~/.config/tesmar/dosdevices when XDG_CONFIG_HOME is unset or not an
//      absolute path. Linking com1 to /dev/serial/by-id/... keeps an
//      adapter's number whichever USB socket it is plugged into.
//   2. otherwise the n-th device of the automatic numbering: /dev/ttyS0,
//      ttyS1, ... up to the first missing number, then ttyUSB0, ... , then
//      ttyACM0, ... the same way. A ttyS node without a UART behind it keeps
//      its number (and fails to open with ERROR_FILE_NOT_FOUND).
//
// Thread safety: every function may be called from any thread; each reads
// the environment and the file system afresh.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_types.h"

namespace platform {

constexpr int kMaxComNumber = 256;

// The port number of "\\.\COMn" or "COMn" (letters in any case, n from 1
// to 256 without leading zeros), or nothing for any other name.
std::optional<int> ParseComName(std::string_view name);

// The program's folder of per-user configuration: $XDG_CONFIG_HOME/tesmar,
// or ~/.config/tesmar when XDG_CONFIG_HOME is unset or not an absolute
// path (it need not exist).
std::filesystem::path ConfigFolder();

// The folder holding the comN links (it need not exist).
std::filesystem::path DosDevicesFolder();

// The automatically numbered devices under `devRoot`, COM1 first.
std::vector<std::filesystem::path> AutomaticComDevices(
    const std::filesystem::path& devRoot = "/dev");

// The device behind COMn, or nothing when no link names it and the
// automatic numbering has fewer than n devices.
std::optional<std::filesystem::path> ResolveComDevice(int number);

// What to show a person about the device behind COMn: the device the name
// finally leads to, followed by the adapter's stable name in parentheses
// when a link in `byIdFolder` leads to the same device, for example
// "/dev/ttyUSB0 (usb-FTDI_FT232R_USB_UART_A1234567-if00-port0)". Empty when
// COMn resolves to nothing. A dangling link is described by the path it
// names.
std::string DescribeComDevice(int number,
                              const std::filesystem::path& byIdFolder = "/dev/serial/by-id");

// The system's own name for the device behind COMn, to tell it apart from
// another device that later takes the same path: "by-id:" and the name of
// the link in `byIdFolder` that leads to it, else "usb:" and the USB
// vendor, product and serial number of the device it hangs off (found
// from `sysClassTty`/<node>/device upwards), else empty: the system names
// no serial port on a board nor a pseudo-terminal.
std::string ComDeviceIdentity(int number, const std::filesystem::path& byIdFolder = "/dev/serial/by-id",
                              const std::filesystem::path& sysClassTty = "/sys/class/tty");

// "COM3 (" + DescribeComDevice(3) + ")", or "COM3" when it resolves to
// nothing: how messages name a port.
std::string DescribeComPort(int number);

// A line to show the user beside the system text of a failed open, or an
// empty view: for ERROR_ACCESS_DENIED (this user may not open the device)
// how to get the rights on Linux, the dialout group; for
// ERROR_SHARING_VIOLATION that another program holds the port.
std::string_view OpenFailureHint(DWORD error);

// How COMn was looked for, for a message about a port that does not exist:
// "the link <folder>/comN to <target>", or "<device>, the n-th device of
// the automatic numbering", or, when nothing names it, that there is no
// link and how many devices the automatic numbering has.
std::string DescribeComLookup(int number);

// The COM number whose name leads to the same device as `device` (a path
// or a link to it, such as a /dev/serial/by-id name): a comN link first,
// then the automatic numbering; nothing when no number leads there.
std::optional<int> ComNumberOf(const std::filesystem::path& device);

struct ComPortEntry {
  int number = 0;
  std::string description;  // as DescribeComDevice
  bool linked = false;      // named by a link in the dosdevices folder
  bool present = true;      // false: a dangling link, or a ttyS node without a UART
                            // (Windows: a port whose name leads nowhere; the
                            // description is then the driver's device name)
};

// Every COM number that resolves to something, in number order.
std::vector<ComPortEntry> ListComPorts(const std::filesystem::path& byIdFolder = "/dev/serial/by-id");

}  // namespace platform
