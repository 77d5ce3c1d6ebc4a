#include "app/Ports.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/com_names.h"

namespace app {

bool ResolvePort(const CommandLine& line, int& comNumber, std::string& error) {
  comNumber = line.port;
  if (line.portDevice.empty()) return true;
  if (const std::optional<int> number = platform::ComNumberOf(line.portDevice)) {
    comNumber = *number;
    return true;
  }
  std::error_code missing;
  if (!std::filesystem::exists(line.portDevice, missing)) {
    error = "--port " + line.portDevice + ": no such device (see --list-ports)";
    return false;
  }
  error = "--port " + line.portDevice +
          ": no COM number leads to this device (see --list-ports); give it one with a link: "
          "ln -s " +
          line.portDevice + " " + (platform::DosDevicesFolder() / "comN").string();
  return false;
}

std::string PortListText() {
  const auto ports = platform::ListComPorts();
  if (ports.empty())
    return "no serial ports: no links in " + platform::DosDevicesFolder().string() +
           " and no /dev/ttyS*, /dev/ttyUSB* or /dev/ttyACM* devices\n";
  std::string text;
  for (const platform::ComPortEntry& port : ports) {
    char name[16];
    std::snprintf(name, sizeof name, "COM%-4d", port.number);
    text += name + port.description;
    if (port.linked) text += "  [link]";
    if (!port.present) text += "  [no device]";
    text += '\n';
  }
  return text;
}

}  // namespace app
