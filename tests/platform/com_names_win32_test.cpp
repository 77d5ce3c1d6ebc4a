// The COM names on Windows: the ports the system's drivers announce, and
// the configuration folder from the user's environment.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com_names.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

// Every listed port leads back to its number by each of its names and is
// described alike everywhere; a number without a port is explained by the
// list.
TEST(ComNames, TheSystemsPortsAreListedAndLeadBackToTheirNumbers) {
  const std::vector<ComPortEntry> ports = ListComPorts();
  int previous = 0;
  for (const ComPortEntry& port : ports) {
    SCOPED_TRACE(port.number);
    EXPECT_GT(port.number, previous) << "in number order, each once";
    previous = port.number;
    EXPECT_FALSE(port.linked);
    EXPECT_FALSE(port.description.empty());
    if (!port.present) continue;
    const std::string name = "COM" + std::to_string(port.number);
    EXPECT_EQ(port.description, DescribeComDevice(port.number));
    EXPECT_EQ(DescribeComPort(port.number), name + " (" + port.description + ")");
    EXPECT_EQ(DescribeComLookup(port.number), "the system's name " + name + " for " + port.description);
    for (const std::string& device : {name, "\\\\.\\com" + std::to_string(port.number), port.description})
      EXPECT_EQ(ComNumberOf(device), port.number) << device;
    EXPECT_EQ(ComDeviceIdentity(port.number), "");
  }
  // The test run's line (scripts/cross.sh: the simulator) is one of them.
  if (const char* line = std::getenv("TESMAR_LINE_COM")) {
    const int number = std::atoi(line);
    bool listed = false;
    for (const ComPortEntry& port : ports) listed = listed || (port.number == number && port.present);
    EXPECT_TRUE(listed) << "COM" << number;
  }

  // COM233 is no port here (the back end's tests take it so too).
  EXPECT_EQ(ComNumberOf("COM233"), std::nullopt);
  EXPECT_EQ(ComNumberOf("\\Device\\NoSuchSerial"), std::nullopt);
  EXPECT_EQ(DescribeComPort(233), "COM233");
  const std::string lookup = DescribeComLookup(233);
  if (ports.empty()) {
    EXPECT_EQ(lookup, "the system has no serial ports");
  }
  for (const ComPortEntry& port : ports)
    EXPECT_NE(lookup.find("COM" + std::to_string(port.number)), std::string::npos) << lookup;
}

// A port in use is refused with either number (the serial drivers give
// ERROR_ACCESS_DENIED): both say so, other failures have no hint.
TEST(ComNames, APortInUseIsExplainedWhicheverNumberRefusedIt) {
  for (DWORD error : {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION})
    EXPECT_NE(OpenFailureHint(error).find("another program"), std::string_view::npos) << error;
  EXPECT_TRUE(OpenFailureHint(ERROR_FILE_NOT_FOUND).empty());
}

// Sets environment variables for a test's lifetime ("" removes one) and
// puts back what was there.
class Environment {
 public:
  ~Environment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) Put(it->first, it->second);
  }
  void Set(const std::wstring& name, const std::optional<std::wstring>& value) {
    const wchar_t* old = _wgetenv(name.c_str());
    saved_.emplace_back(name, old == nullptr ? std::nullopt : std::optional<std::wstring>(old));
    Put(name, value);
  }

 private:
  static void Put(const std::wstring& name, const std::optional<std::wstring>& value) {
    _wputenv((name + L"=" + value.value_or(L"")).c_str());
  }
  std::vector<std::pair<std::wstring, std::optional<std::wstring>>> saved_;
};

// The folder keeps the user's name whatever its letters (the environment
// is read as the system's wide strings); a relative folder is not taken.
TEST(ComNames, TheConfigurationFolderIsTheUsersApplicationData) {
  Environment environment;
  const std::wstring profile = L"C:\\Users\\Ren\u00e9e \u0418\u0432\u0430\u043d\u043e\u0432\u0430";
  environment.Set(L"USERPROFILE", profile);
  environment.Set(L"APPDATA", profile + L"\\AppData\\Roaming");
  EXPECT_EQ(ConfigFolder(), fs::path(profile + L"\\AppData\\Roaming\\tesmar"));
  environment.Set(L"APPDATA", L"AppData");
  EXPECT_EQ(ConfigFolder(), fs::path(profile) / "AppData" / "Roaming" / "tesmar");
  environment.Set(L"APPDATA", std::nullopt);
  EXPECT_EQ(ConfigFolder(), fs::path(profile) / "AppData" / "Roaming" / "tesmar");
  environment.Set(L"USERPROFILE", std::nullopt);
  EXPECT_TRUE(ConfigFolder().is_absolute()) << ConfigFolder();
  EXPECT_EQ(ConfigFolder().filename(), "tesmar");
}

}  // namespace
}  // namespace platform
