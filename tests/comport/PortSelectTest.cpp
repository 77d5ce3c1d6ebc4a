#include <gtest/gtest.h>

#include "comport/SioPort.h"
#include "comport/SioPortSelect.h"
#include "errors/SioExcept.h"
#include "platform/serial_fake.h"

namespace {

using comport::TSioComPort;
using platform::FakeSerialDevice;

int SelectsCom43() { return 43; }
int SelectsNothing() { return 0; }

// Removes the selector whatever the test's end.
struct SelectorScope {
  explicit SelectorScope(comport::TPortSelector selector) { comport::SetPortSelector(selector); }
  ~SelectorScope() { comport::SetPortSelector(nullptr); }
};

// An open without a port number asks the installed selector; the number it
// gives is opened and kept, and no answer (or no selector) raises.
TEST(PortSelector, AnOpenWithoutANumberTakesTheSelectorsChoice) {
  auto device = FakeSerialDevice::Register(43);
  {
    SelectorScope scope(&SelectsCom43);
    TSioComPort port;
    port.SetOpen(true);
    EXPECT_TRUE(device->IsOpen());
    EXPECT_EQ(port.ComNumber(), 43);
    port.SetOpen(false);
  }
  for (comport::TPortSelector selector : {&SelectsNothing, static_cast<comport::TPortSelector>(nullptr)}) {
    SelectorScope scope(selector);
    TSioComPort port;
    EXPECT_THROW(port.SetOpen(true), errors::ENoPortSelected);
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.ComNumber(), 0);
  }
  FakeSerialDevice::Unregister(43);
}

}  // namespace
