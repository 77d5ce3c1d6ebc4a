// On Windows COMn is the system's own name: nothing to resolve, only to
// describe.
#include <string>

#include "platform/com_names.h"
#include "platform/win32.h"

namespace platform {

std::string DescribeComDevice(int number, const std::filesystem::path&) {
  // The device the system's name stands for, e.g. "\Device\Serial0".
  const std::string name = "COM" + std::to_string(number);
  char target[1024];
  if (::QueryDosDeviceA(name.c_str(), target, sizeof target) == 0) return {};
  return target;
}

std::string_view OpenFailureHint(DWORD error) {
  if (error == ERROR_ACCESS_DENIED) return "The port is in use by another program.";
  return {};
}

}  // namespace platform
