// The environment the port component and the front panel are tested in:
// the application object initialised (its loop serves the hidden windows),
// the message-string readers in place as in the program, and COM names
// resolved in a private folder of the test program's own.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "errors/SioStrRes.h"
#include "framework/Application.h"

namespace test {

class ProgramEnvironment : public testing::Environment {
 public:
  explicit ProgramEnvironment(std::string name) : name_(std::move(name)) {}

  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("tesmar-" + name_ + "-tests-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder_ / "tesmar" / "dosdevices");
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
  std::string name_;
  std::filesystem::path folder_;
  std::unique_ptr<errors::TSioStringReaders> readers_;
};

// The main of a test program that runs in this environment.
inline int RunInProgramEnvironment(int argc, char** argv, const std::string& name) {
  testing::InitGoogleTest(&argc, argv);
  testing::AddGlobalTestEnvironment(new ProgramEnvironment(name));  // gtest takes ownership
  return RUN_ALL_TESTS();
}

}  // namespace test
