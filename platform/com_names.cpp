#include "platform/com_names.h"

#include <pwd.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
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

void AppendNumbered(const fs::path& devRoot, std::string_view stem,
                    std::vector<fs::path>& devices) {
  for (int i = 0;; ++i) {
    fs::path node = devRoot / (std::string(stem) + std::to_string(i));
    std::error_code error;
    if (!fs::exists(fs::symlink_status(node, error))) return;
    devices.push_back(std::move(node));
  }
}

}  // namespace

fs::path DosDevicesFolder() {
  fs::path base;
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && config[0] == '/') {
    base = config;
  } else {
    base = HomeFolder() / ".config";
  }
  return base / "tesmar" / "dosdevices";
}

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
  for (fs::directory_iterator it(byIdFolder, error), end; !error && it != end; it.increment(error)) {
    std::error_code same;
    if (fs::equivalent(it->path(), target, same) && !same) {
      text += " (" + it->path().filename().string() + ")";
      break;
    }
  }
  return text;
}

std::string_view OpenFailureHint(DWORD error) {
  if (error == ERROR_ACCESS_DENIED) {
    return "The port is in use by another program, or this user may not open serial ports: "
           "on Linux the user must be a member of the 'dialout' group "
           "(sudo usermod -aG dialout $USER, then log in again).";
  }
  return {};
}

}  // namespace platform
