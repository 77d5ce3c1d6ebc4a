// Helpers of the device tests: a dispatcher whose state the tests may look
// at, a fake port registered for the test's COM number, and waiting on the
// main thread while serving the messages sent to it.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "device/SioWin32.h"
#include "platform/messages.h"
#include "platform/serial_fake.h"

namespace device_test {

// Names a case of a table-driven test after its `what` text, so that every
// run of the program lists the same test names.
struct CaseName {
  template <class Param>
  std::string operator()(const testing::TestParamInfo<Param>& info) const {
    std::string name;
    for (const char* c = info.param.what; *c != 0; ++c)
      name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    return name;
  }
};

using namespace std::chrono_literals;
using platform::BYTE;
using platform::DWORD;

// Serves the main thread's messages until done() holds; false after limit.
// The limit only keeps a broken build from hanging the suite.
inline bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 20s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    while (platform::PumpOneMessage()) {
    }
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// TSioWin32Dispatcher with its state open to the tests.
class Probe : public device::TSioWin32Dispatcher {
 public:
  Probe() : TSioWin32Dispatcher(nullptr) {}
  // The workers call virtual operations until they have ended.
  ~Probe() override { CloseForDestruction(); }

  using TSioBaseDispatcher::AllocateBuffers;
  using TSioBaseDispatcher::CommEvent;
  using TSioBaseDispatcher::CurrentBaud;
  using TSioBaseDispatcher::DeviceHandle;
  using TSioBaseDispatcher::DtrAutomatic;
  using TSioBaseDispatcher::DtrLevel;
  using TSioBaseDispatcher::OutFull;
  using TSioBaseDispatcher::OutHead;
  using TSioBaseDispatcher::OutputFlush;
  using TSioBaseDispatcher::OutTail;
  using TSioBaseDispatcher::OutRing;
  using TSioBaseDispatcher::ThreadAck;
  using TSioBaseDispatcher::ThreadsStarted;
  using TSioBaseDispatcher::ActiveThreads;
  using TSioBaseDispatcher::Dispatching;
  using TSioBaseDispatcher::OutputLock;
  using TSioBaseDispatcher::StopRequested;

  bool HasThreadEvents() const { return ThreadAck.load() != platform::INVALID_HANDLE_VALUE; }
  int PriorityOf(const OwnedThread& thread) const {
    return thread ? static_cast<int>(thread->Priority()) : -1;
  }
  int ComPriority() const { return PriorityOf(ComThreadObject); }
  int DispPriority() const { return PriorityOf(DispThreadObject); }
  int OutPriority() const { return PriorityOf(OutThreadObject); }
  bool AnyThreadObject() const { return ComThreadObject || DispThreadObject || OutThreadObject; }
};

// A fake port for COM<Number> with a dispatcher that has not opened it.
class FakePortTest : public testing::Test {
 protected:
  static constexpr int Number = 47;
  void SetUp() override { fake = platform::FakeSerialDevice::Register(Number); }
  void TearDown() override {
    dispatcher.reset();
    platform::FakeSerialDevice::Unregister(Number);
  }
  // 9600 baud, 8 data bits, no parity, one stop bit (what the fake starts
  // with), DTR and RTS raised.
  errors::ResultCode Open(DWORD inSize = 4096, DWORD outSize = 4096, DWORD options = 0x03) {
    return dispatcher->OpenPort(Number, 9600, 0, 8, 1, inSize, outSize, options);
  }

  std::shared_ptr<platform::FakeSerialDevice> fake;
  std::unique_ptr<Probe> dispatcher = std::make_unique<Probe>();
};

}  // namespace device_test
