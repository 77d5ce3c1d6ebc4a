#include "platform/com_names.h"

#include <gtest/gtest.h>

#include <fstream>

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

TEST(ComNames, AccessDeniedHintNamesTheDialoutGroup) {
  EXPECT_NE(OpenFailureHint(ERROR_ACCESS_DENIED).find("dialout"), std::string_view::npos);
  EXPECT_TRUE(OpenFailureHint(ERROR_FILE_NOT_FOUND).empty());
}

}  // namespace
}  // namespace platform
