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

// What tells one device from another that later takes its path: the
// stable by-id name, else the USB serial number of the device the node
// hangs off (never the hub's above one without a serial), else nothing.
TEST(ComNames, IdentityIsTheStableNameOrTheUsbSerialNumber) {
  testing::TempConfigHome config;
  const fs::path dev = config.Root() / "dev";
  const fs::path byId = dev / "serial" / "by-id";
  const fs::path sys = config.Root() / "sys";
  const fs::path tty = sys / "class" / "tty";
  fs::create_directories(byId);
  fs::create_directories(tty);
  for (const char* node : {"ttyUSB0", "ttyUSB1", "ttyACM0", "ttyUSB2", "ttyS0", "pts7"})
    std::ofstream(dev / node).put('\n');
  fs::create_symlink("../../ttyUSB0", byId / "usb-FTDI_FT232R_USB_UART_A1-if00-port0");
  // The sysfs tree: device folders with their attributes, and each tty's
  // "device" link into it.
  const auto usbDevice = [&](const fs::path& folder, const char* serial) {
    fs::create_directories(folder);
    std::ofstream(folder / "idVendor") << "0403\n";
    std::ofstream(folder / "idProduct") << "6001\n";
    if (serial != nullptr) std::ofstream(folder / "serial") << serial << "\n";
  };
  const fs::path bus = sys / "devices" / "pci0000:00" / "usb1";
  usbDevice(bus, "0000:00:14.0");  // the root hub has a serial of its own
  usbDevice(bus / "1-1", "B2");
  usbDevice(bus / "1-2", nullptr);
  const auto ttyOf = [&](const char* name, const fs::path& device) {
    fs::create_directories(device);
    fs::create_directories(tty / name);
    fs::create_symlink(device, tty / name / "device");
  };
  ttyOf("ttyUSB1", bus / "1-1" / "1-1:1.0" / "ttyUSB1");
  ttyOf("ttyACM0", bus / "1-1" / "1-1:1.2");
  ttyOf("ttyUSB2", bus / "1-2" / "1-2:1.0" / "ttyUSB2");
  ttyOf("ttyS0", sys / "devices" / "platform" / "serial8250");
  struct Case {
    const char* node;
    std::string identity;
  } cases[] = {
      {"ttyUSB0", "by-id:usb-FTDI_FT232R_USB_UART_A1-if00-port0"},
      {"ttyUSB1", "usb:0403:6001:B2"},
      {"ttyACM0", "usb:0403:6001:B2"},
      {"ttyUSB2", ""},
      {"ttyS0", ""},
      {"pts7", ""},
  };
  int number = 10;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.node);
    config.Link(number, (dev / c.node).string());
    EXPECT_EQ(ComDeviceIdentity(number, byId, tty), c.identity);
    ++number;
  }
  config.Link(number, "/no/such/device");
  EXPECT_EQ(ComDeviceIdentity(number, byId, tty), "");
  EXPECT_EQ(ComDeviceIdentity(0, byId, tty), "");
}

TEST(ComNames, ADeviceLeadsBackToItsNumberAndAMissingOneIsExplained) {
  testing::TempConfigHome config;
  const fs::path dev = config.Root() / "dev";
  const fs::path byId = dev / "serial" / "by-id";
  fs::create_directories(byId);
  std::ofstream(dev / "ttyUSB7").put('\n');
  fs::create_symlink("../../ttyUSB7", byId / "usb-FTDI_A1-if00-port0");
  config.Link(9, (byId / "usb-FTDI_A1-if00-port0").string());
  config.Link(12, (dev / "ttyUSB7").string());
  config.Link(14, "/no/such/device");
  // The device, a link to it and the by-id name all lead to the lowest
  // number that names it.
  for (const fs::path& name :
       {dev / "ttyUSB7", byId / "usb-FTDI_A1-if00-port0", config.DosDevices() / "com12"})
    EXPECT_EQ(ComNumberOf(name), 9) << name;
  EXPECT_EQ(ComNumberOf(config.Root()), std::nullopt);
  EXPECT_EQ(ComNumberOf("/no/such/device"), std::nullopt);

  EXPECT_EQ(DescribeComLookup(14),
            "the link " + (config.DosDevices() / "com14").string() + " to /no/such/device");
  EXPECT_NE(DescribeComLookup(200).find("no link com200 in " + config.DosDevices().string()),
            std::string::npos);
  EXPECT_EQ(DescribeComPort(14), "COM14 (/no/such/device)");
  EXPECT_EQ(DescribeComPort(200), "COM200");

  const auto ports = ListComPorts(byId);
  std::vector<int> linked;
  for (const ComPortEntry& port : ports) {
    if (!port.linked) continue;
    linked.push_back(port.number);
    EXPECT_EQ(port.present, port.number != 14) << port.number;
  }
  EXPECT_EQ(linked, (std::vector<int>{9, 12, 14}));
}

TEST(ComNames, EachOpenFailureHasItsOwnHint) {
  EXPECT_NE(OpenFailureHint(ERROR_ACCESS_DENIED).find("dialout"), std::string_view::npos);
  EXPECT_EQ(OpenFailureHint(ERROR_SHARING_VIOLATION).find("dialout"), std::string_view::npos);
  EXPECT_NE(OpenFailureHint(ERROR_SHARING_VIOLATION).find("Another program"), std::string_view::npos);
  EXPECT_TRUE(OpenFailureHint(ERROR_FILE_NOT_FOUND).empty());
}

}  // namespace
}  // namespace platform
