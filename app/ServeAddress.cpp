#include "app/ServeAddress.h"

#include <charconv>

namespace app {

bool ParseServeAddress(const std::string& text, TServeAddress& address, std::string& error) {
  error = "--serve takes [ADDR:]PORT, a port from 0 to 65535 (e.g. --serve=5025, --serve=0.0.0.0:5025)";
  TServeAddress parsed;
  std::string port = text;
  if (const auto colon = text.rfind(':'); colon != std::string::npos) {
    std::string host = text.substr(0, colon);
    port = text.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    // An IPv6 address needs its brackets, or its last group reads as the port.
    if (host.empty() || host.find_first_of("[]") != std::string::npos ||
        (host.find(':') != std::string::npos && text.front() != '['))
      return false;
    parsed.host = host;
  }
  unsigned value = 0;
  const auto [end, failure] = std::from_chars(port.data(), port.data() + port.size(), value);
  if (port.empty() || failure != std::errc() || end != port.data() + port.size() || value > 65535)
    return false;
  parsed.port = static_cast<std::uint16_t>(value);
  address = parsed;
  error.clear();
  return true;
}

}  // namespace app
