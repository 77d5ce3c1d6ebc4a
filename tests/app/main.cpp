// The front panel's tests run with the application object initialised
// (its loop serves the hidden windows) and the message-string readers in
// place, as in the program; COM names resolve in a private folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "errors/SioStrRes.h"
#include "framework/Application.h"

namespace {

class PortEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("tesmar-app-tests-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder_ / "tesmar" / "dosdevices");
    // Before any thread starts: the COM name resolution reads it afresh.
    ::setenv("XDG_CONFIG_HOME", folder_.c_str(), 1);
    readers_ = std::make_unique<errors::TSioStringReaders>();
    framework::Application->Initialize();
  }
  void TearDown() override {
    framework::Application->Shutdown();
    readers_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

 private:
  std::filesystem::path folder_;
  std::unique_ptr<errors::TSioStringReaders> readers_;
};

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  testing::AddGlobalTestEnvironment(new PortEnvironment);
  return RUN_ALL_TESTS();
}
