// Helpers for tests that drive the window's thread: pumping the
// application's loop until a condition holds.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "framework/Application.h"
#include "platform/serial_fake.h"

namespace tesmar::test {

using namespace std::chrono_literals;

// Serves timers, hidden windows and sent messages until `done` holds or
// `limit` has passed; returns whether it held.
inline bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 20000ms) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    framework::Application->ProcessMessages();
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// A fake device registered for one COM number for the test's length.
class FakePort {
 public:
  explicit FakePort(int number)
      : number_(number), device_(platform::FakeSerialDevice::Register(number)) {}
  ~FakePort() { platform::FakeSerialDevice::Unregister(number_); }
  FakePort(const FakePort&) = delete;
  FakePort& operator=(const FakePort&) = delete;
  platform::FakeSerialDevice& operator*() { return *device_; }
  platform::FakeSerialDevice* operator->() { return device_.get(); }

 private:
  int number_;
  std::shared_ptr<platform::FakeSerialDevice> device_;
};

inline void PumpFor(std::chrono::milliseconds span) {
  PumpUntil([] { return false; }, span);
}

}  // namespace tesmar::test
