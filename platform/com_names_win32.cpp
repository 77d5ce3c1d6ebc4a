// On Windows COMn is the system's own name: nothing to resolve, only to
// describe and list. The serial drivers announce their ports under
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, one value per port: the device's
// name ("\Device\Serial0") with the COM name ("COM1") as its data.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/com_names.h"
#include "platform/win32.h"

namespace platform {

namespace {

namespace fs = std::filesystem;

struct KeyCloser {
  void operator()(::HKEY key) const { ::RegCloseKey(key); }
};
using Key = std::unique_ptr<std::remove_pointer_t<::HKEY>, KeyCloser>;

struct AnnouncedPort {
  int number;
  std::string device;
};

// The ports of the SERIALCOMM key in number order, one entry per number.
// A value that is no COM name (or too long for one) is passed over.
std::vector<AnnouncedPort> AnnouncedPorts() {
  ::HKEY opened = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &opened) !=
      ERROR_SUCCESS)
    return {};
  const Key key(opened);
  std::vector<AnnouncedPort> ports;
  for (::DWORD index = 0;; ++index) {
    char device[256];
    char data[32];
    ::DWORD deviceSize = sizeof device;
    ::DWORD dataSize = sizeof data;
    ::DWORD type = 0;
    const ::LONG result = ::RegEnumValueA(key.get(), index, device, &deviceSize, nullptr, &type,
                                          reinterpret_cast<::BYTE*>(data), &dataSize);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS || type != REG_SZ) continue;
    // The registry does not promise the string's terminating zero.
    const std::string name(data, ::strnlen(data, dataSize));
    if (const std::optional<int> number = ParseComName(name)) ports.push_back({*number, device});
  }
  std::sort(ports.begin(), ports.end(), [](const auto& a, const auto& b) { return a.number < b.number; });
  ports.erase(std::unique(ports.begin(), ports.end(),
                          [](const auto& a, const auto& b) { return a.number == b.number; }),
              ports.end());
  return ports;
}

bool SameNameNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && ::_strnicmp(a.c_str(), b.c_str(), a.size()) == 0;
}

// An absolute folder from the environment variable `name`, or nothing.
std::optional<fs::path> FolderFromEnvironment(const wchar_t* name) {
  const wchar_t* value = ::_wgetenv(name);
  if (value == nullptr) return std::nullopt;
  fs::path folder(value);
  if (!folder.is_absolute()) return std::nullopt;
  return folder;
}

}  // namespace

fs::path ConfigFolder() {
  if (std::optional<fs::path> appData = FolderFromEnvironment(L"APPDATA")) return *appData / "tesmar";
  if (std::optional<fs::path> profile = FolderFromEnvironment(L"USERPROFILE"))
    return *profile / "AppData" / "Roaming" / "tesmar";
  std::error_code error;
  return fs::temp_directory_path(error) / "tesmar";
}

std::string DescribeComDevice(int number, const fs::path&) {
  // The device the system's name stands for, e.g. "\Device\Serial0".
  const std::string name = "COM" + std::to_string(number);
  char target[1024];
  if (::QueryDosDeviceA(name.c_str(), target, sizeof target) == 0) return {};
  return target;
}

std::string ComDeviceIdentity(int, const fs::path&, const fs::path&) {
  // The system keeps a COM number for each adapter it has met (its
  // arbiter hands another adapter another number), so the number already
  // tells devices apart; the device names of the SERIALCOMM key do not, a
  // replugged adapter may get another.
  return {};
}

std::string_view OpenFailureHint(DWORD error) {
  // The serial drivers refuse a second open of a port with
  // ERROR_ACCESS_DENIED; a user without rights on a port is rare here.
  if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)
    return "The port is in use by another program.";
  return {};
}

std::string DescribeComLookup(int number) {
  const std::string name = "COM" + std::to_string(number);
  if (const std::string device = DescribeComDevice(number); !device.empty())
    return "the system's name " + name + " for " + device;
  const std::vector<AnnouncedPort> ports = AnnouncedPorts();
  if (ports.empty()) return "the system has no serial ports";
  std::string text = "the system's serial ports are";
  for (const AnnouncedPort& port : ports) {
    text += (&port == &ports.front() ? " COM" : ", COM") + std::to_string(port.number);
  }
  return text;
}

std::optional<int> ComNumberOf(const fs::path& device) {
  const std::string text = device.string();
  if (const std::optional<int> number = ParseComName(text)) {
    if (DescribeComDevice(*number).empty()) return std::nullopt;
    return number;
  }
  // The driver's name for the device, or the one the COM name stands for
  // (the two agree but for drivers that name their devices twice).
  for (const AnnouncedPort& port : AnnouncedPorts()) {
    if (SameNameNoCase(port.device, text) || SameNameNoCase(DescribeComDevice(port.number), text))
      return port.number;
  }
  return std::nullopt;
}

std::vector<ComPortEntry> ListComPorts(const fs::path&) {
  std::vector<ComPortEntry> entries;
  for (const AnnouncedPort& port : AnnouncedPorts()) {
    ComPortEntry entry;
    entry.number = port.number;
    entry.description = DescribeComDevice(port.number);
    // A driver that announced a port whose name no longer leads anywhere.
    entry.present = !entry.description.empty();
    if (!entry.present) entry.description = port.device;
    entries.push_back(std::move(entry));
  }
  return entries;
}

}  // namespace platform
