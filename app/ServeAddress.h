// Where --serve listens: "[ADDR:]PORT", by default 127.0.0.1:5025, the
// loopback interface only. ADDR is an IPv4 address, a name, or an IPv6
// address in brackets ("[::1]:5025"); 0.0.0.0 serves every interface.
// PORT is 1..65535, or 0 for any free port (the server says which).
//
// Thread safety: pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>

namespace app {

struct TServeAddress {
  std::string host = "127.0.0.1";
  std::uint16_t port = 5025;
};

inline constexpr const char* kDefaultServeAddress = "127.0.0.1:5025";

// False and `error` set when `text` is no [ADDR:]PORT.
bool ParseServeAddress(const std::string& text, TServeAddress& address, std::string& error);

}  // namespace app
