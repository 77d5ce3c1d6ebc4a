// The device tests run on the program's main thread: synchronized calls and
// trigger messages come to it, and the tests serve them while they wait.
// COM names resolve in a private folder of this test program.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/thread.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  const auto folder = std::filesystem::temp_directory_path() /
                      ("tesmar-device-tests-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder / "tesmar" / "dosdevices");
  ::setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
  platform::SetMainThreadId(platform::GetCurrentThreadId());
  const int result = RUN_ALL_TESTS();
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return result;
}
