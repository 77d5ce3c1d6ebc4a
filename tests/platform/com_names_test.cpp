#include "platform/com_names.h"

#include <gtest/gtest.h>

#include <fstream>

#include "dosdevices_test_util.h"
#include "platform/last_error.h"
#include "platform/serial.h"
#include "serial_test_util.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

TEST(ComNames, ParsesDeviceAndShortNames) {
  struct Case {
    const char* name;
    std::optional<int> number;
  } cases[] = {
      {"\\\\.\\COM1", 1},   {"COM1", 1},       {"com12", 12},       {"\\\\.\\cOm256", 256},
      {"COM257", {}},       {"COM0", {}},      {"COM01", {}},       {"COM", {}},
      {"COM1 ", {}},        {"COM-1", {}},     {"LPT1", {}},        {"\\\\?\\COM1", {}},
      {"\\\\.\\", {}},      {"", {}},          {"COM99999999999", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseComName(c.name), c.number) << c.name;
}

// Here CreateFileA opens serial ports alone; on Windows other names are
// the system's.
TEST(ComNames, NamesThatAreNoPortOpenNothing) {
  for (const char* name : {"COM0", "COM257", "COM020", "\\\\.\\COM", "LPT1", "COM2x", ""}) {
    EXPECT_EQ(CreateFileA(name, 0, 0, nullptr, OPEN_EXISTING, 0, 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND) << name;
  }
}

TEST(ComNames, LinksWinOverAutomaticNumbering) {
  testing::TempConfigHome config;
  EXPECT_EQ(DosDevicesFolder(), config.Root() / "tesmar" / "dosdevices");
  config.Link(3, "/dev/null");
  config.Link(4, "/no/such/device");  // a dangling link still names the port
  EXPECT_EQ(ResolveComDevice(3), config.DosDevices() / "com3");
  EXPECT_EQ(ResolveComDevice(4), config.DosDevices() / "com4");
  EXPECT_EQ(ResolveComDevice(0), std::nullopt);
  EXPECT_EQ(ResolveComDevice(257), std::nullopt);

  // A relative XDG_CONFIG_HOME is ignored, as the base directory rules say.
  setenv("XDG_CONFIG_HOME", "relative/dir", 1);
  EXPECT_EQ(DosDevicesFolder().filename(), "dosdevices");
  EXPECT_NE(DosDevicesFolder().string().find(".config/tesmar"), std::string::npos);
}

TEST(ComNames, AutomaticNumberingStopsAtTheFirstGapOfEachKind) {
  testing::TempConfigHome scratch;
  const fs::path dev = scratch.Root() / "dev";
  fs::create_directories(dev);
  for (const char* node : {"ttyS0", "ttyS1", "ttyS3", "ttyUSB0", "ttyUSB1", "ttyACM1", "ttyX0"}) {
    std::ofstream(dev / node).put('\n');
  }
  const std::vector<fs::path> expected = {dev / "ttyS0", dev / "ttyS1", dev / "ttyUSB0",
                                          dev / "ttyUSB1"};
  EXPECT_EQ(AutomaticComDevices(dev), expected);
  EXPECT_TRUE(AutomaticComDevices(scratch.Root() / "missing").empty());
}

TEST(ComNames, DescriptionNamesTheDeviceAndTheAdaptersStableName) {
  testing::TempConfigHome config;
  const fs::path dev = config.Root() / "dev";
  const fs::path byId = dev / "serial" / "by-id";
  fs::create_directories(byId);
  std::ofstream(dev / "ttyUSB0").put('\n');
  std::ofstream(dev / "ttyS0").put('\n');
  fs::create_symlink("../../ttyUSB0", byId / "usb-FTDI_FT232R_USB_UART_A1-if00-port0");
  config.Link(5, (dev / "ttyUSB0").string());
  config.Link(6, (byId / "usb-FTDI_FT232R_USB_UART_A1-if00-port0").string());
  config.Link(7, (dev / "ttyS0").string());
  config.Link(8, "/no/such/device");
  const std::string usb = (dev / "ttyUSB0").string() + " (usb-FTDI_FT232R_USB_UART_A1-if00-port0)";
  EXPECT_EQ(DescribeComDevice(5, byId), usb);
  EXPECT_EQ(DescribeComDevice(6, byId), usb) << "linked by its stable name";
  EXPECT_EQ(DescribeComDevice(7, byId), (dev / "ttyS0").string()) << "no adapter name";
  EXPECT_EQ(DescribeComDevice(8, byId), "/no/such/device");
  EXPECT_EQ(DescribeComDevice(7, config.Root() / "missing"), (dev / "ttyS0").string());
  EXPECT_EQ(DescribeComDevice(0, byId), "");
}

TEST(ComNames, AccessDeniedHintNamesTheDialoutGroup) {
  EXPECT_NE(OpenFailureHint(ERROR_ACCESS_DENIED).find("dialout"), std::string_view::npos);
  EXPECT_TRUE(OpenFailureHint(ERROR_FILE_NOT_FOUND).empty());
}

}  // namespace
}  // namespace platform
