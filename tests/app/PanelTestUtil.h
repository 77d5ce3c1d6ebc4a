// Helpers for the front panel's tests: the simulator linked as COM1 in the
// test program's private dosdevices folder, a scripted device instead of
// it, and pumping the window's loop.
#pragma once

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
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
inline bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 20000ms,
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
  const std::shared_ptr<platform::FakeSerialDevice>& Device() const { return device_; }
  // Waits, without serving the window, until the port's output thread has
  // written `count` characters (false after a generous limit): a write
  // reaches the device a moment after WriteBlock returned.
  bool AwaitWritten(std::size_t count) {
    const auto deadline = Clock::now() + 5s;
    while (device_->Written().size() < count) {
      if (Clock::now() >= deadline) return false;
      std::this_thread::sleep_for(1ms);
    }
    return true;
  }

 private:
  std::shared_ptr<platform::FakeSerialDevice> device_;
};

using ::test::ExceptionRecorder;

// An instrument scripted on a fake device, on its own thread: it answers
// every character the panel writes with the same character, `answerDelay`
// after it saw it, and streams a measurement line ("\n+1.23456 V U1")
// every `lineInterval` (never, when zero), until it is silenced. For each
// answer it records how many characters the panel had written by the time
// the answer left: a panel that paces its sending has written exactly the
// character being answered.
class ScriptedPeer {
 public:
  // Whether the panel's written text, up to and including the character
  // about to be answered, silences the peer (it is then not answered).
  using SilenceRule = std::function<bool(const std::string& written)>;

  ScriptedPeer(std::shared_ptr<platform::FakeSerialDevice> device, Clock::duration answerDelay,
               Clock::duration lineInterval)
      : device_(std::move(device)), answerDelay_(answerDelay), lineInterval_(lineInterval),
        thread_([this] { Run(); }) {}
  ~ScriptedPeer() {
    stop_ = true;
    thread_.join();
  }

  void SetSilent(bool silent) {
    std::lock_guard lock(mutex_);
    silent_ = silent;
    rule_ = nullptr;
  }
  void SilenceWhen(SilenceRule rule) {
    std::lock_guard lock(mutex_);
    rule_ = std::move(rule);
  }
  // (index of the character answered, characters written when answered)
  std::vector<std::pair<std::size_t, std::size_t>> Answers() const {
    std::lock_guard lock(mutex_);
    return answers_;
  }

 private:
  bool SilentFor(const std::string& written) {
    std::lock_guard lock(mutex_);
    if (!silent_ && rule_ && rule_(written)) silent_ = true;
    return silent_;
  }
  void Run() {
    std::size_t seen = 0;
    auto nextLine = Clock::now() + lineInterval_;
    while (!stop_) {
      const std::string written = device_->Written();
      for (; seen < written.size() && !stop_; ++seen) {
        if (SilentFor(written.substr(0, seen + 1))) continue;
        std::this_thread::sleep_for(answerDelay_);
        const std::size_t now = device_->Written().size();
        {
          std::lock_guard lock(mutex_);
          answers_.emplace_back(seen, now);
        }
        device_->InjectReceived(std::string(1, written[seen]));
      }
      if (lineInterval_ > Clock::duration::zero() && Clock::now() >= nextLine) {
        nextLine += lineInterval_;
        if (!SilentFor(written)) device_->InjectReceived("\n+1.23456 V U1");
      }
      std::this_thread::sleep_for(1ms);
    }
  }

  std::shared_ptr<platform::FakeSerialDevice> device_;
  const Clock::duration answerDelay_;
  const Clock::duration lineInterval_;
  mutable std::mutex mutex_;  // guards silent_, rule_, answers_
  bool silent_ = false;
  SilenceRule rule_;
  std::vector<std::pair<std::size_t, std::size_t>> answers_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

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
