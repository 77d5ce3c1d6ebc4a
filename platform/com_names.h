// Names of serial ports: "\\.\COMn" and "COMn" mapped to Linux devices.
// On Windows the names are the system's own: there only ParseComName,
// DescribeComDevice (the system's device name, e.g. "\Device\Serial0") and
// OpenFailureHint exist, and the folders and numbering below do not apply.
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

// A line to show the user beside the system text of a failed open, or an
// empty view. For ERROR_ACCESS_DENIED it explains the two causes on Linux:
// another program holds the port, or the user is not in the dialout group.
std::string_view OpenFailureHint(DWORD error);

}  // namespace platform
