// The serial ports as the command line names and lists them.
//
// --port takes a COM number or a device; a device is turned into the COM
// number whose name leads to the same device (a comN link in the
// dosdevices folder, or the automatic numbering; platform/com_names.h), as
// the port component opens ports by number only.
//
// Thread safety: any thread; each call reads the file system afresh.
#pragma once

#include <string>

#include "app/CommandLine.h"

namespace app {

// The COM number to open (0: the layout's COM1); false and `error` set
// when the device named has no COM number leading to it.
bool ResolvePort(const CommandLine& line, int& comNumber, std::string& error);

// The text of --list-ports: one line per COM number that resolves, with its
// device, the adapter's by-id name and how it is numbered.
std::string PortListText();

}  // namespace app
