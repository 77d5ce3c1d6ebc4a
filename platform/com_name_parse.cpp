// The COM names' syntax and how messages name a port, the same on every
// system.
#include <cctype>
#include <charconv>
#include <string>

#include "platform/com_names.h"

namespace platform {

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

}  // namespace

std::optional<int> ParseComName(std::string_view name) {
  if (StartsWithNoCase(name, "\\\\.\\")) name.remove_prefix(4);
  if (!StartsWithNoCase(name, "COM")) return std::nullopt;
  name.remove_prefix(3);
  if (name.empty() || name.front() == '0') return std::nullopt;
  int number = 0;
  auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), number);
  if (error != std::errc{} || end != name.data() + name.size()) return std::nullopt;
  if (number < 1 || number > kMaxComNumber) return std::nullopt;
  return number;
}

std::string DescribeComPort(int number) {
  const std::string device = DescribeComDevice(number);
  return "COM" + std::to_string(number) + (device.empty() ? "" : " (" + device + ")");
}

}  // namespace platform
