// Helpers for the front panel's tests: the simulator linked as COM1 in the
// test program's private dosdevices folder, a scripted device instead of
// it, and pumping the window's loop.
#pragma once

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/Unit1.h"
#include "framework/Application.h"
#include "framework/ExtCtrls.h"
#include "framework/StdCtrls.h"
#include "platform/serial_fake.h"
#include "tests/support/ExceptionRecorder.h"
#include "tools/k4sim/Simulator.h"

namespace tesmar::test {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

inline std::filesystem::path DosDevices() {
  return std::filesystem::path(std::getenv("XDG_CONFIG_HOME")) / "tesmar" / "dosdevices";
}

inline std::unique_ptr<k4sim::Simulator> StartSimulator(k4sim::Options options = {}) {
  options.comNumber = 1;
  options.dosdevices = DosDevices().string();
  return std::make_unique<k4sim::Simulator>(std::move(options));
}

// Serves timers and window messages until `done` holds or `limit` passed.
// `longestStall`, when given, receives the longest time one round of the
// loop took: how long the window stood still at worst.
inline bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 3000ms,
                      Clock::duration* longestStall = nullptr) {
  const auto deadline = Clock::now() + limit;
  while (!done()) {
    const auto start = Clock::now();
    if (start >= deadline) return false;
    framework::Application->ProcessMessages();
    std::this_thread::sleep_for(1ms);
    if (longestStall != nullptr) *longestStall = std::max(*longestStall, Clock::now() - start);
  }
  return true;
}

inline void PumpFor(std::chrono::milliseconds span) { PumpUntil([] { return false; }, span); }

// A scripted device as COM1 for the test's length.
class FakeCom1 {
 public:
  FakeCom1() : device_(platform::FakeSerialDevice::Register(1)) {}
  ~FakeCom1() { platform::FakeSerialDevice::Unregister(1); }
  platform::FakeSerialDevice* operator->() { return device_.get(); }

 private:
  std::shared_ptr<platform::FakeSerialDevice> device_;
};

using ::test::ExceptionRecorder;

// Records when the display step ran, then runs it.
class DisplayWatch {
 public:
  explicit DisplayWatch(app::TForm1& form) {
    form.Ti_LCD->SetOnTimer([this, &form](framework::TObject* sender) {
      shownBefore.push_back(form.FlagSkipLCD == 0);
      form.Ti_LCDTimer(sender);
      times.push_back(Clock::now());
      texts.push_back(form.DataStr);
    });
  }
  std::size_t Count() const { return times.size(); }
  std::vector<Clock::time_point> times;
  std::vector<std::string> texts;
  std::vector<bool> shownBefore;  // whether that step showed its reading
};

}  // namespace tesmar::test
