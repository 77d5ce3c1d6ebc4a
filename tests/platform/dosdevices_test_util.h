// A private dosdevices folder for the tests of the Linux COM names.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace platform::testing {

// A private dosdevices folder: XDG_CONFIG_HOME points at a fresh temporary
// folder for the test's lifetime.
class TempConfigHome {
 public:
  TempConfigHome() {
    char pattern[] = "/tmp/tesmar-serial-XXXXXX";
    root_ = mkdtemp(pattern);
    std::filesystem::create_directories(DosDevices());
    if (const char* old = std::getenv("XDG_CONFIG_HOME")) old_ = old;
    setenv("XDG_CONFIG_HOME", root_.c_str(), 1);
  }
  ~TempConfigHome() {
    if (old_) {
      setenv("XDG_CONFIG_HOME", old_->c_str(), 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  std::filesystem::path DosDevices() const { return root_ / "tesmar" / "dosdevices"; }
  void Link(int number, const std::filesystem::path& target) const {
    std::filesystem::create_symlink(target, DosDevices() / ("com" + std::to_string(number)));
  }
  const std::filesystem::path& Root() const { return root_; }

 private:
  std::filesystem::path root_;
  std::optional<std::string> old_;
};

}  // namespace platform::testing
