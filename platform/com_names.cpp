#include "platform/com_names.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <system_error>

namespace platform {

namespace fs = std::filesystem;

namespace {

fs::path HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') return home;
  // getpwuid_r keeps this thread-safe; a missing entry leaves the root.
  struct passwd entry {};
  struct passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr) {
    return found->pw_dir;
  }
  return "/";
}

// Whether two names lead to the same file. std::filesystem::equivalent
// refuses to compare two device nodes, which is what serial ports are.
bool SameFile(const fs::path& a, const fs::path& b) {
  struct stat first {};
  struct stat second {};
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

void AppendNumbered(const fs::path& devRoot, std::string_view stem, std::vector<fs::path>& devices) {
  for (int i = 0;; ++i) {
    fs::path node = devRoot / (std::string(stem) + std::to_string(i));
    std::error_code error;
    if (!fs::exists(fs::symlink_status(node, error))) return;
    devices.push_back(std::move(node));
  }
}

// The name of the link in `byIdFolder` that leads to `target`, or empty.
std::string StableName(const fs::path& target, const fs::path& byIdFolder) {
  std::error_code error;
  for (fs::directory_iterator it(byIdFolder, error), end; !error && it != end; it.increment(error)) {
    if (SameFile(it->path(), target)) return it->path().filename().string();
  }
  return {};
}

std::string FirstLineOf(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

// The USB device a tty node hangs off is the nearest folder above it with
// a vendor id (a few levels up: port, interface, device); the hub above a
// device without a serial number must not stand in for it.
std::string UsbSerial(const fs::path& target, const fs::path& sysClassTty) {
  std::error_code error;
  fs::path node = fs::canonical(sysClassTty / target.filename() / "device", error);
  for (int level = 0; !error && level < 4 && node.has_relative_path(); ++level) {
    if (fs::exists(node / "idVendor", error)) {
      if (!fs::exists(node / "serial", error)) return {};
      return FirstLineOf(node / "idVendor") + ":" + FirstLineOf(node / "idProduct") + ":" +
             FirstLineOf(node / "serial");
    }
    node = node.parent_path();
  }
  return {};
}

}  // namespace

fs::path ConfigFolder() {
  fs::path base;
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && config[0] == '/') {
    base = config;
  } else {
    base = HomeFolder() / ".config";
  }
  return base / "tesmar";
}

fs::path DosDevicesFolder() { return ConfigFolder() / "dosdevices"; }

std::vector<fs::path> AutomaticComDevices(const fs::path& devRoot) {
  std::vector<fs::path> devices;
  for (std::string_view stem : {"ttyS", "ttyUSB", "ttyACM"}) AppendNumbered(devRoot, stem, devices);
  return devices;
}

std::optional<fs::path> ResolveComDevice(int number) {
  if (number < 1 || number > kMaxComNumber) return std::nullopt;
  fs::path link = DosDevicesFolder() / ("com" + std::to_string(number));
  std::error_code error;
  // A dangling link still names the port: opening it reports the device as
  // missing instead of silently falling back to another one.
  if (fs::exists(fs::symlink_status(link, error))) return link;
  std::vector<fs::path> devices = AutomaticComDevices();
  if (static_cast<std::size_t>(number) > devices.size()) return std::nullopt;
  return devices[static_cast<std::size_t>(number - 1)];
}

std::string DescribeComDevice(int number, const fs::path& byIdFolder) {
  std::optional<fs::path> device = ResolveComDevice(number);
  if (!device) return {};
  std::error_code error;
  if (!fs::exists(*device, error)) {
    // A dangling link: the name it holds tells the user what is missing.
    const fs::path named = fs::read_symlink(*device, error);
    return error ? device->string() : named.string();
  }
  const fs::path target = fs::canonical(*device, error);
  if (error) return device->string();
  std::string text = target.string();
  if (const std::string name = StableName(target, byIdFolder); !name.empty()) text += " (" + name + ")";
  return text;
}

std::string ComDeviceIdentity(int number, const fs::path& byIdFolder, const fs::path& sysClassTty) {
  std::optional<fs::path> device = ResolveComDevice(number);
  if (!device) return {};
  std::error_code error;
  const fs::path target = fs::canonical(*device, error);
  if (error) return {};
  if (std::string name = StableName(target, byIdFolder); !name.empty()) return "by-id:" + name;
  if (std::string serial = UsbSerial(target, sysClassTty); !serial.empty()) return "usb:" + serial;
  return {};
}

std::string_view OpenFailureHint(DWORD error) {
  if (error == ERROR_ACCESS_DENIED) {
    return "This user may not open serial ports: on Linux the user must be a member of the "
           "'dialout' group (sudo usermod -aG dialout $USER, then log in again).";
  }
  if (error == ERROR_SHARING_VIOLATION) return "Another program holds the port.";
  return {};
}

std::string DescribeComLookup(int number) {
  const std::string name = "com" + std::to_string(number);
  const fs::path link = DosDevicesFolder() / name;
  std::error_code error;
  if (fs::is_symlink(fs::symlink_status(link, error))) {
    const fs::path target = fs::read_symlink(link, error);
    return "the link " + link.string() + " to " + (error ? std::string("?") : target.string());
  }
  if (fs::exists(fs::symlink_status(link, error))) return link.string();
  const std::vector<fs::path> devices = AutomaticComDevices();
  if (number >= 1 && static_cast<std::size_t>(number) <= devices.size())
    return devices[static_cast<std::size_t>(number - 1)].string() + ", device " + std::to_string(number) +
           " of the automatic numbering";
  return "no link " + name + " in " + DosDevicesFolder().string() +
         ", and the automatic numbering (ttyS, ttyUSB, ttyACM) has " + std::to_string(devices.size()) +
         " device" + (devices.size() == 1 ? "" : "s");
}

std::optional<int> ComNumberOf(const fs::path& device) {
  std::error_code error;
  if (!fs::exists(device, error)) return std::nullopt;
  // Links may leave gaps in the numbering: every number is tried, the
  // lowest wins.
  for (int number = 1; number <= kMaxComNumber; ++number) {
    const std::optional<fs::path> candidate = ResolveComDevice(number);
    if (candidate && SameFile(*candidate, device)) return number;
  }
  return std::nullopt;
}

namespace {

// A ttyS node the kernel made for a UART that is not there: the serial
// core reports its port type as 0 (unknown).
bool UartMissing(const fs::path& device) {
  const std::string stem = device.filename().string();
  if (stem.rfind("ttyS", 0) != 0) return false;
  std::ifstream type("/sys/class/tty/" + stem + "/type");
  int value = -1;
  return type >> value && value == 0;
}

}  // namespace

std::vector<ComPortEntry> ListComPorts(const fs::path& byIdFolder) {
  std::vector<ComPortEntry> ports;
  for (int number = 1; number <= kMaxComNumber; ++number) {
    const std::optional<fs::path> device = ResolveComDevice(number);
    if (!device) continue;
    ComPortEntry entry;
    entry.number = number;
    entry.description = DescribeComDevice(number, byIdFolder);
    std::error_code error;
    entry.linked = device->parent_path() == DosDevicesFolder();
    entry.present = fs::exists(*device, error) && !UartMissing(fs::canonical(*device, error));
    ports.push_back(std::move(entry));
  }
  return ports;
}

}  // namespace platform
